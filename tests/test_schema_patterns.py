"""Schema `pattern`: which patterns compile and what they match, through loads.

Patterns are read in Unicode mode: \\d, \\w and \\s match beyond ASCII, long
property names and \\u escapes are understood, named groups are accepted.
Look-around, back-references, lone surrogates and counted repetition above
1000 are invalid patterns; \\b is an ASCII word boundary."""
import pytest

import ostrevane as o
from ostrevane import loads
from ostrevane.exceptions import OstrevaneSchemaError

INVALID = "invalid"

PATTERNS = [
    # unanchored search
    ("b", "abc", True),
    ("^b", "abc", False),
    ("c$", "abc", True),
    # Unicode \d, \w, \s and their negations
    ("^\\d+$", "\u0663\u0664", True),            # Arabic-Indic digits
    ("^\\d+$", "\uff11\uff12", True),            # fullwidth digits
    ("^\\D$", "\u0663", False),
    ("^\\D$", "x", True),
    ("^\\w+$", "h\u00e9llo", True),
    ("^\\w+$", "\u65e5\u672c\u8a9e", True),
    ("^\\w+$", "na\u0303o", True),               # combining mark
    ("^\\w+$", "snake_case", True),
    ("\\W", "abc", False),
    ("\\W", "a b", True),
    ("^\\W$", "\u00e9", False),
    ("^\\s$", "\u3000", True),                   # ideographic space
    ("^\\s$", "\u00a0", True),
    ("^\\S$", "\u3000", False),
    ("^\\S$", "x", True),
    # the same inside classes
    ("^[\\d_]+$", "\u0663_1", True),
    ("^[\\w-]+$", "\u00e9t\u00e9-x", True),
    ("^[^\\d]+$", "a\u0663", False),
    ("^[\\S]+$", "a\u00a0", False),
    ("^[^\\S]+$", " \u3000", True),
    ("^[^\\s]+$", "ab", True),
    ("^[\\Wa]+$", "a!", True),
    ("^[\\Wa]+$", "b", False),
    ("^[\\W]$", "!", True),
    ("[^\\W]", "x", INVALID),
    # named groups
    ("^(?<year>\\d{4})-(?P<month>\\d\\d)$", "2024-01", True),
    # \u escapes
    ("^\\u00e9$", "\u00e9", True),
    ("^\\u{1F600}$", "\U0001F600", True),
    ("^\\U0001F600$", "\U0001F600", True),
    ("^\\uD83D\\uDE00$", "\U0001F600", True),
    ("^[\\u0041-\\u005A]+$", "ABC", True),
    ("\\uD800", "x", INVALID),
    ("\\uDE00", "x", INVALID),
    ("\\u{110000}", "x", INVALID),
    ("\\u12", "x", INVALID),
    # long property names
    ("^\\p{Letter}+$", "\u00e9a", True),
    ("^\\p{Lu}$", "\u00c9", True),
    ("^\\p{Uppercase_Letter}$", "a", False),
    ("^\\p{Script=Greek}+$", "\u03bb\u03b1", True),
    ("^\\p{sc=greek}$", "a", False),
    ("^\\p{Greek}$", "\u03bb", True),
    ("^\\p{General_Category=Decimal_Number}$", "\u0663", True),
    ("^\\P{L}$", "a", False),
    ("^\\pL$", "a", True),
    ("\\p{No_Such_Property}", "a", INVALID),
    ("\\p{Letter", "a", INVALID),
    # what the engine lacks stays invalid
    ("(?=a)", "a", INVALID),
    ("(?!a)", "a", INVALID),
    ("(?<=a)b", "ab", INVALID),
    ("(?<!a)b", "ab", INVALID),
    ("(a)\\1", "aa", INVALID),
    ("a{1001}", "a", INVALID),
    ("^a{1000}$", "a" * 1000, True),
    ("(", "x", INVALID),
    ("[", "x", INVALID),
    ("\\", "x", INVALID),
    # ASCII word boundaries
    ("\\bfoo\\b", "a foo b", True),
    ("\\b\u00e9", "\u00e9", False),
    # flags
    ("(?i)\u00c9", "\u00e9", True),
    ("^a.c$", "a\u00e9c", True),
]


def quoted(text):
    return "'" + text.replace("'", "''") + "'\n"


@pytest.mark.parametrize("option", [0, o.OPT_ROUND_TRIP])
@pytest.mark.parametrize("pattern,text,expected", PATTERNS)
def test_pattern(option, pattern, text, expected):
    schema = {"pattern": pattern}
    if expected is True:
        result = loads(quoted(text), schema=schema, option=option)
        if option == 0:
            assert result == text
        return
    with pytest.raises(OstrevaneSchemaError) as info:
        loads(quoted(text), schema=schema, option=option)
    if expected is INVALID:
        message = f"schema has an invalid regex pattern /{pattern}/"
    else:
        message = f"string does not match pattern /{pattern}/"
    assert str(info.value) == f"schema validation failed: {message} at $ (line 1, column 1)"


def test_invalid_pattern_is_reported_only_on_strings():
    loads("5\n", schema={"pattern": "(?=x)"})
    loads("[x]\n", schema={"pattern": "("})


def test_each_use_of_an_invalid_pattern_counts():
    # The pattern is compiled once per validation, its failure recorded at
    # each use: inside `not`, the branch fails, so `not` passes.
    schema = {"allOf": [{"not": {"pattern": "("}}, {"pattern": "("}]}
    with pytest.raises(OstrevaneSchemaError) as info:
        loads("x\n", schema=schema)
    assert str(info.value) == (
        "schema validation failed: schema has an invalid regex pattern /(/ at $ (line 1, column 1)")
