"""Writes src/tokenizer/pretok/char_class_table.cpp: the character classes of the split
patterns for every code point, as a two-stage table.

The classes come from the `regex` package pinned in scripts/unicode_tables.py (Unicode 18.0),
the engine whose `findall` the splitters must equal; a newer `regex` would move code points
assigned later, so the pin and the table change together.
Run: python scripts/generate_char_classes.py
"""

import regex
from unicode_tables import (
    BLOCK,
    PRETOK,
    c_array,
    every_code_point,
    generated_by,
    require_pinned_regex,
    two_stages,
)

OUT = PRETOK / "char_class_table.cpp"

# In the order of `CharClass` in char_class.hpp; the first class that holds wins.
CLASSES = [
    ("kNewline", r"[\r\n]"),
    ("kSpace", r"\s"),
    ("kUpper", r"[\p{Lu}\p{Lt}]"),
    ("kLower", r"\p{Ll}"),
    ("kLetterOther", r"[\p{Lm}\p{Lo}]"),
    ("kMark", r"\p{M}"),
    ("kNumber", r"\p{N}"),
]
OTHER = len(CLASSES)  # kOther: none of the above


def class_of_every_code_point():
    classes = bytearray([OTHER]) * 0x110000
    text = every_code_point()
    for index in reversed(range(len(CLASSES))):
        for match in regex.finditer(CLASSES[index][1], text):
            classes[ord(match.group())] = index
    return classes


def main():
    require_pinned_regex()
    stage1, stage2 = two_stages(class_of_every_code_point())
    OUT.write_text(
        generated_by("generate_char_classes.py") + '#include "tokenizer/pretok/char_class.hpp"\n\n'
        "namespace tessaron::pretok {\n\n"
        "// clang-format off\n"
        f"static_assert(kClassBlock == {BLOCK});\n\n"
        f"const std::uint16_t kClassBlocks[{len(stage1)}] = {{\n"
        f"{c_array(stage1, 3)}\n}};\n\n"
        f"const std::uint8_t kClassesInBlocks[{len(stage2)}] = {{\n"
        f"{c_array(stage2, 1)}\n}};\n"
        "// clang-format on\n\n"
        "}  // namespace tessaron::pretok\n"
    )
    blocks = len(stage2) // BLOCK
    print(f"{OUT.name}: {blocks} distinct blocks, {len(stage1) * 2 + len(stage2)} bytes")


if __name__ == "__main__":
    main()
