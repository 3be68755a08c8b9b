from collections.abc import Sequence
from typing import SupportsIndex, final

__all__ = ["BasicTokenizer"]

@final
class BasicTokenizer:
    """A byte-level BPE tokenizer: 256 single-byte tokens plus learned merge rules."""

    def __new__(cls, num_threads: SupportsIndex = 1) -> BasicTokenizer: ...
    def build_vocab(self) -> None:
        """Rebuild the id -> bytes table from the merge rules and special tokens."""
    def save_model(self, file_path: str) -> None:
        """Write the model file (format marker, pattern, special tokens, merge rules)."""
    def save_vocab(self, vocab_file_path: str) -> None:
        """Write the human-readable listing, one line per token."""
    def train(self, text: str, vocab_size: SupportsIndex) -> None:
        """Learn vocab_size - 256 merge rules from the UTF-8 bytes of text."""
    def encode(self, text: str) -> list[int]:
        """The token ids of text's UTF-8 bytes."""
    def decode(self, ids: Sequence[SupportsIndex]) -> str:
        """Display text of the tokens, control characters escaped as \\uXXXX."""
    def load(self, model_file_path: str) -> None:
        """Replace the model by the one in a model file."""
    def save(self, model_file_path: str, vocab_file_path: str | None) -> None:
        """Write the model file and, unless vocab_file_path is None, the listing."""
