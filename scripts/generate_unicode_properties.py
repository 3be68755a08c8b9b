"""Writes src/tokenizer/pretok/unicode_property_table.cpp: what the pattern engine knows of
every code point, as a two-stage table, and which code points match which ignoring case.

Per code point one byte: the general category (its index in CATEGORIES) in the low five bits,
then whether `\\s`, `\\w` and `\\d` match it. The case table lists, for each code point, the
others that it matches ignoring case, as pairs; the relation is `regex`'s own, which is not
always symmetric or transitive (the dotted and dotless i). Everything comes from the `regex`
package pinned in scripts/unicode_tables.py (Unicode 18.0), the engine whose results the
pattern engine must equal; the scanners' tables come from the same package
(scripts/generate_char_classes.py), so both change together.
Run: python scripts/generate_unicode_properties.py
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

OUT = PRETOK / "unicode_property_table.cpp"

# In the order of `GeneralCategory` in unicode_properties.hpp.
CATEGORIES = (
    "Lu Ll Lt Lm Lo Mn Mc Me Nd Nl No Pc Pd Ps Pe Pi Pf Po Sm Sc Sk So Zs Zl Zp Cc Cf Cs Co Cn"
).split()
FLAGS = [(r"\s", 0x20), (r"\w", 0x40), (r"\d", 0x80)]


def properties(text):
    values = bytearray([CATEGORIES.index("Cn")]) * 0x110000
    for index, name in enumerate(CATEGORIES):
        for match in regex.finditer(rf"\p{{{name}}}", text):
            values[ord(match.group())] = index
    for expression, bit in FLAGS:
        for match in regex.finditer(expression, text):
            values[ord(match.group())] |= bit
    return values


def case_pairs(text):
    """(c, x) for each code point x other than c that c matches ignoring case."""
    cased = regex.findall(
        r"[\p{Cased}\p{Changes_When_Casemapped}\p{Changes_When_Casefolded}]", text
    )
    candidates = "".join(cased)
    pairs = []
    for c in cased:
        others = set(regex.findall("(?i)" + regex.escape(c), candidates)) - {c}
        pairs += [(ord(c), ord(x)) for x in others]
    return sorted(pairs)


def main():
    require_pinned_regex()
    text = every_code_point()
    stage1, stage2 = two_stages(properties(text))
    pairs = case_pairs(text)
    flat = [value for pair in pairs for value in pair]
    OUT.write_text(
        generated_by("generate_unicode_properties.py")
        + '#include "tokenizer/pretok/unicode_properties.hpp"\n\n'
        "namespace tessaron::pretok {\n\n"
        "// clang-format off\n"
        f"static_assert(kPropertyBlock == {BLOCK});\n\n"
        f"const std::uint16_t kPropertyBlocks[{len(stage1)}] = {{\n"
        f"{c_array(stage1, 3)}\n}};\n\n"
        f"const std::uint8_t kPropertiesInBlocks[{len(stage2)}] = {{\n"
        f"{c_array(stage2, 3)}\n}};\n\n"
        f"const std::size_t kCasePairCount = {len(pairs)};\n"
        f"const char32_t kCasePairs[{len(flat)}] = {{\n"
        f"{c_array(flat, 6)}\n}};\n\n"
        "}  // namespace tessaron::pretok\n"
    )


if __name__ == "__main__":
    main()
