"""Shows the byte vocabulary of a new tokenizer and a decode."""
import tessaron

tokenizer = tessaron.BasicTokenizer()
tokenizer.build_vocab()
print(tokenizer.decode(list("hello, tessaron\n".encode())))
