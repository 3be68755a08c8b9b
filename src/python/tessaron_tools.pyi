from collections.abc import Callable, Collection, Iterable
from os import PathLike
from typing import Literal, SupportsIndex, final

__all__ = ["Tokenizer"]

_Text = str | bytes | bytearray | memoryview
_Path = str | PathLike[str]
_Special = Literal["all"] | Collection[str]

@final
class Tokenizer:
    """A byte-level BPE tokenizer that cannot change once made."""

    def __new__(cls) -> Tokenizer: ...
    @classmethod
    def train(
        cls,
        text: _Text,
        vocab_size: SupportsIndex,
        *,
        threads: SupportsIndex = 1,
        special_tokens: Iterable[str] = (),
        progress: Callable[[int, int], object] | None = None,
        pattern: str | None = None,
    ) -> Tokenizer:
        """Learn rules from text: a str's UTF-8 bytes, or the bytes of a bytes-like object."""
    @classmethod
    def train_files(
        cls,
        paths: Iterable[_Path],
        vocab_size: SupportsIndex,
        *,
        threads: SupportsIndex = 1,
        special_tokens: Iterable[str] = (),
        progress: Callable[[int, int], object] | None = None,
        pattern: str | None = None,
    ) -> Tokenizer:
        """Learn rules from the bytes of the files, concatenated in order."""
    @classmethod
    def load(cls, path: _Path) -> Tokenizer:
        """The tokenizer stored in a model file."""
    @classmethod
    def from_bytes(cls, data: bytes | bytearray | memoryview) -> Tokenizer:
        """The tokenizer stored in the bytes of a model file."""
    @classmethod
    def from_tiktoken(
        cls,
        ranks: _Path | dict[bytes, SupportsIndex],
        pattern: str,
        *,
        special_tokens: dict[str, SupportsIndex] | None = None,
    ) -> Tokenizer:
        """The tokenizer of a tiktoken rank table, with tiktoken's ids."""
    @classmethod
    def from_huggingface(cls, path: _Path) -> Tokenizer:
        """The tokenizer of a byte-level BPE tokenizer.json, with its ids."""
    @classmethod
    def from_huggingface_json(cls, text: _Text) -> Tokenizer:
        """from_huggingface() of the text of a tokenizer.json."""
    @property
    def vocab_size(self) -> int:
        """Number of token ids: the 256 bytes, the rules and the special tokens."""
    def __len__(self) -> int: ...
    @property
    def merges(self) -> list[tuple[int, int]]:
        """The rules' pairs in learning order."""
    @property
    def special_tokens(self) -> dict[str, int]:
        """Special token text -> id, in order."""
    def token_bytes(self, id: SupportsIndex) -> bytes:
        """The bytes of one token."""
    def encode(self, text: _Text, *, allowed_special: _Special = ()) -> list[int]:
        """The token ids of text, with the allowed special tokens recognised."""
    def encode_batch(
        self,
        texts: Iterable[_Text],
        *,
        threads: SupportsIndex | None = None,
        allowed_special: _Special = (),
    ) -> list[list[int]]:
        """encode() of every text, on several threads without the interpreter lock."""
    def encode_batch_lines(
        self,
        texts: Iterable[_Text],
        *,
        threads: SupportsIndex | None = None,
        allowed_special: _Special = (),
    ) -> bytes:
        """encode_batch() as text: a line of decimal ids, space-separated, per text."""
    def encode_lines(
        self,
        data: _Text,
        *,
        threads: SupportsIndex | None = None,
        allowed_special: _Special = (),
    ) -> bytes:
        """encode_batch_lines() of the lines of data, split at line feeds."""
    def decode_bytes(self, ids: Iterable[SupportsIndex]) -> bytes:
        """The exact bytes of the tokens, joined."""
    def decode(self, ids: Iterable[SupportsIndex], errors: str = "replace") -> str:
        """The joined bytes of the tokens decoded as UTF-8 with the given error handler."""
    def decode_batch(
        self, batch: Iterable[Iterable[SupportsIndex]], errors: str = "replace"
    ) -> list[str]:
        """decode() of every id sequence, as a list of str in the same order."""
    def to_bytes(self) -> bytes:
        """The model file's bytes."""
    def save(self, path: _Path) -> None:
        """Write the model file, replacing any old file whole."""
    def to_tiktoken(self, path: _Path) -> None:
        """Write the rank file of the tokens, ranked by their ids."""
    def to_huggingface(self, path: _Path) -> None:
        """Write a tokenizer.json that Hugging Face tokenizers encodes alike."""
    def to_huggingface_json(self) -> str:
        """The text to_huggingface() writes."""
    def __reduce__(self) -> tuple[Callable[..., Tokenizer], tuple[bytes | str]]: ...
