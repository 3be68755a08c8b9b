"""Re-entrant calls made by Python code that runs during an argument conversion."""

import pytest

from tessaron import BasicTokenizer


class CallsBack:
    """A sequence whose iteration runs `action` once, then yields `ids`."""

    def __init__(self, action, ids):
        self.action, self.ids = action, ids

    def __len__(self):
        return len(self.ids)

    def __getitem__(self, i):
        if i == 0:
            self.action()
        return self.ids[i]


def test_exclusive_call_inside_shared_is_refused_and_object_recovers():
    tok = BasicTokenizer()
    tok.build_vocab()
    with pytest.raises(RuntimeError) as info:
        tok.decode(CallsBack(tok.build_vocab, [104]))
    assert str(info.value) == "Already borrowed"
    assert info.value.__cause__ is None
    assert tok.decode([104, 105]) == "hi"
    tok.build_vocab()


def test_shared_call_inside_shared_succeeds():
    tok = BasicTokenizer()
    tok.build_vocab()
    seen = []
    assert tok.decode(CallsBack(lambda: seen.append(tok.decode([105])), [104])) == "h"
    assert seen == ["i"]


def test_other_objects_are_independent():
    tok, other = BasicTokenizer(), BasicTokenizer()
    tok.build_vocab()
    assert tok.decode(CallsBack(other.build_vocab, [104])) == "h"


def test_failing_len_is_ignored_and_failing_iteration_propagates():
    class BadLen(CallsBack):
        def __len__(self):
            raise ValueError("no length")

    tok = BasicTokenizer()
    tok.build_vocab()
    assert tok.decode(BadLen(lambda: None, [104, 105])) == "hi"

    def boom():
        raise KeyError("from iteration")

    with pytest.raises(KeyError):
        tok.decode(CallsBack(boom, [104]))

    def type_error():
        raise TypeError("inner")

    with pytest.raises(TypeError) as info:
        tok.decode(CallsBack(type_error, [104]))
    assert str(info.value) == "argument 'ids': inner"
    assert str(info.value.__cause__) == "inner"
    assert tok.decode([104]) == "h"
