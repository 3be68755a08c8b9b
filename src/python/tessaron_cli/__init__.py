"""Command line for the tessaron byte-level BPE tokenizer."""
