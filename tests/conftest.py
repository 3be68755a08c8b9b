"""Fixtures the test files share: a tokenizer's files read back, a model file loaded, the
splitting core's driver."""

import pytest

from tessaron import BasicTokenizer


@pytest.fixture
def saved(tmp_path):
    """saved(tok, name="out.model"): the bytes of the model file tok writes."""

    def saved(tok, name="out.model"):
        path = tmp_path / name
        tok.save_model(str(path))
        return path.read_bytes()

    return saved


@pytest.fixture
def listing(tmp_path):
    """listing(tok, name="out.vocab"): the bytes of the vocabulary listing tok writes."""

    def listing(tok, name="out.vocab"):
        path = tmp_path / name
        tok.save_vocab(str(path))
        return path.read_bytes()

    return listing


@pytest.fixture
def loaded(tmp_path):
    """loaded(data, name="in.model"): a new tokenizer that loaded a model file of these bytes."""

    def loaded(data, name="in.model"):
        path = tmp_path / name
        path.write_bytes(data)
        tok = BasicTokenizer()
        tok.load(str(path))
        return tok

    return loaded


@pytest.fixture(scope="session")
def driver():
    """The splitting core's test driver (tests/drivers/pretok_driver.cpp), built on first use."""
    import pretok_driver

    return pretok_driver.build()
