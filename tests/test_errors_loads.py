"""The scanner's and decoder's error messages as Python sees them.

Each case is checked through loads and loads_all: the exception class, the
whole message with its 1-based position, and the `file`, `line` and
`column` attributes.
"""
import logging
import subprocess
import sys

import pytest

import ostrevane as o
from ostrevane.exceptions import (
    OstrevaneComplexKeyError,
    OstrevaneDuplicateKeyError,
    OstrevaneParseError,
)

ROADS = [pytest.param(o.loads, id="loads"), pytest.param(o.loads_all, id="loads_all")]

P, D, C = OstrevaneParseError, OstrevaneDuplicateKeyError, OstrevaneComplexKeyError
DUP = o.OPT_DUPLICATE_KEYS_ERROR
COMPLEX = o.OPT_REJECT_COMPLEX_KEYS

CASES = [
    # text, option, class, message, line, column
    ("a\x07b", 0, P, "disallowed control character U+0007", 1, 2),
    ("ab\x7f", 0, P, "disallowed control character U+007F", 1, 3),
    ("@x", 0, P, "'@' is a reserved indicator and cannot start a plain scalar", 1, 1),
    (",a", 0, P, "a plain scalar cannot start with ','", 1, 1),
    ("[a]#b", 0, P, "a comment must be preceded by whitespace", 1, 4),
    ("a\nb: c", 0, P, "an implicit mapping key cannot span multiple lines", 1, 1),
    ("\tkey: value", 0, P, "a tab cannot be used for indentation", 1, 2),
    ("-\n  k: v\n - x", 0, P, "a sequence entry is indented past its sequence", 3, 2),
    ("key: - a", 0, P, "a block sequence cannot start on the same line as its mapping key", 1, 6),
    # At the key, where the mapping would start (was the ':', column 6 or 8).
    ("--- a: b", 0, P, "a block collection cannot start on the same line as ---", 1, 5),
    ("--- 'a': b", 0, P, "a block collection cannot start on the same line as ---", 1, 5),
    ('--- "a" : b', 0, P, "a block collection cannot start on the same line as ---", 1, 5),
    ("--- a: b", o.OPT_ROUND_TRIP, P, "a block collection cannot start on the same line as ---", 1, 5),
    ("--- - a", 0, P, "a block collection cannot start on the same line as ---", 1, 5),
    ("... x", 0, P, "unexpected content after document-end marker (...)", 1, 1),
    ("[" * 1001, 0, P, "maximum nesting depth (1000) exceeded", 1, 1001),
    ("]", 0, P, "unexpected ']' with no open flow collection", 1, 1),
    ("[a}", 0, P, "mismatched flow collection: '}' cannot close a '['", 1, 3),
    ("[a] b", 0, P, "unexpected content after flow collection", 1, 4),
    ("[a,, b]", 0, P, "empty flow entry (stray ',')", 1, 4),
    ("[a [b]]", 0, P, "missing ',' between flow collection entries", 1, 4),
    ("key: [a,\nb]", 0, P, "flow content must be indented more than its block context", 2, 1),
    ("a: [1", 0, P, "unclosed flow collection at end of input", 1, 6),
    ("& a", 0, P, "expected anchor name", 1, 1),
    ("a:\n&x", 0, P, "a node property must be indented past its mapping key", 2, 1),
    ("!<> a", 0, P, "a verbatim tag must not be empty", 1, 1),
    ("a: 1\n%YAML 1.2\n---", 0, P,
     "a directive must start the stream or follow a document-end marker (...)", 2, 1),
    ('a: "abc', 0, P, "unterminated double-quoted scalar", 1, 4),
    ('"a\\q"', 0, P, "unknown escape character: '\\q'", 1, 4),
    ('"\\x4"', 0, P, "invalid hex digit in unicode escape: '\"'", 1, 5),
    ('"\\uD800"', 0, P, "invalid unicode code point: U+D800", 1, 1),
    ('"a\n---\nb"', 0, P, "a document marker cannot appear inside a quoted scalar", 1, 1),
    ("|0", 0, P, "unexpected content after block scalar indicator", 1, 2),
    ("key: |\n\n   \n  x", 0, P,
     "a leading empty line in a block scalar is indented more than the content", 1, 6),
    ("%YAML 1.2 extra\n---\n", 0, P, "invalid %YAML directive", 1, 1),
    ("%YAML 1.2\n%YAML 1.2\n---\n", 0, P, "duplicate %YAML directive", 2, 1),
    ("%YAML 1.2\n%TAG ! tag:a:\n", 0, P, "directive must be followed by a document start (---)",
     1, 1),
    ("!e!x 1", 0, P, "undefined tag handle: !e!", 1, 1),
    ("x: *nope", 0, P, "unknown alias: *nope", 1, 4),
    ("- &a 1\n- &x *a\n", 0, P, "an alias node cannot have an anchor or tag", 2, 6),
    ("&a &b 1", 0, P, "a node cannot have two anchors", 1, 4),
    ("a: 1\nb\n", 0, P, "expected ':' after mapping key", 2, 1),
    ("a: 1\n- b\n", 0, P, "a block collection cannot be a mapping key", 2, 1),
    ("a: 1\n|\n  x\n", 0, P, "a block scalar cannot be a mapping key", 2, 1),
    ("- a\nb: c\n", 0, P, "trailing content after document", 2, 1),
    ("a: 1\nb: 2\na: 3\n", DUP, D, "duplicate mapping key: a", 3, 1),
    ("{a: 1, a: 2}", DUP, D, "duplicate mapping key: a", 1, 8),
    ("true: a\n1: b\n", DUP, D, "duplicate mapping key: Int(1)", 2, 1),
    ("99999999999999999999: a\n+99999999999999999999: b\n", DUP, D,
     'duplicate mapping key: BigInt("+99999999999999999999")', 2, 1),
    ("? [a, b]\n: 1\n", COMPLEX, C, "complex mapping key (a sequence used as a key)", 1, 1),
    ("{[a]: 1}", COMPLEX, C, "complex mapping key (a sequence used as a key)", 1, 2),
    # Block nesting past the limit, stopped by the scanner at the position
    # where the decoder meets it.
    ("- " * 1001 + "a", 0, P, "maximum nesting depth (1000) exceeded", 1, 2001),
    ("".join(" " * i + "k:\n" for i in range(1001)), 0, P,
     "maximum nesting depth (1000) exceeded", 1000, 1000),
    ("".join(" " * (4 * i) + "- k:\n" for i in range(600)), 0, P,
     "maximum nesting depth (1000) exceeded", 500, 1999),
    # Quoted keys are cut after 200 characters.
    ("k" * 300 + ": 1\n" + "k" * 300 + ": 2\n", DUP, D,
     "duplicate mapping key: " + "k" * 200 + "...", 2, 1),
    ("é" * 201 + ": 1\n" + "é" * 201 + ": 2\n", DUP, D,
     "duplicate mapping key: " + "é" * 200 + "...", 2, 1),
    ("é" * 200 + ": 1\n" + "é" * 200 + ": 2\n", DUP, D,
     "duplicate mapping key: " + "é" * 200, 2, 1),
]


@pytest.mark.parametrize("text,option,cls,message,line,column", CASES)
@pytest.mark.parametrize("load", ROADS)
def test_error_message_and_position(load, text, option, cls, message, line, column):
    with pytest.raises(cls) as info:
        load(text, option=option)
    assert type(info.value) is cls
    assert str(info.value) == f"{message} at line {line}, column {column}"
    assert info.value.args == (str(info.value),)
    assert (info.value.file, info.value.line, info.value.column) == (None, line, column)


@pytest.mark.parametrize("text", ["a: 1\n--- [", "--- x\n--- {a: 1, a: 2}\n--- ]"])
@pytest.mark.parametrize("load", ROADS)
def test_a_later_document_fails_the_whole_call(load, text):
    with pytest.raises(OstrevaneParseError):
        load(text, option=DUP)


# ---------------------------------------------------------------------------
# Hostile input stays cheap: deep block nesting fails while scanning, and a
# key expanded from aliases is quoted in bounded text.

def test_deep_block_nesting_fails_in_bounded_memory(tmp_path):
    # 19 MB of nested block sequences: rejected after the first thousand
    # levels, so the process grows by a small multiple of the text at most.
    script = tmp_path / "deep.py"
    script.write_text(
        "import resource, ostrevane\n"
        "text = '- ' * 10**7 + 'a'\n"
        "before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss\n"
        "try:\n"
        "    ostrevane.loads(text)\n"
        "except ostrevane.exceptions.OstrevaneParseError as e:\n"
        "    print(str(e))\n"
        "print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)\n")
    out = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                         check=True).stdout.splitlines()
    assert out[0] == "maximum nesting depth (1000) exceeded at line 1, column 2001"
    assert int(out[1]) < 4 * 20_000  # KiB: 4 times the text


def alias_tower(levels, width=8):
    """A short text whose last anchor expands to width**levels strings."""
    lines = ["- &l0 [" + ", ".join(["ab"] * width) + "]"]
    for k in range(1, levels):
        lines.append(f"- &l{k} [" + ", ".join([f"*l{k - 1}"] * width) + "]")
    return lines, f"*l{levels - 1}"


def expected_debug_text(levels, width=8):
    text = 'String("ab")'
    for _ in range(levels):
        text = "Sequence([" + ", ".join([text] * width) + "])"
    return text


def test_alias_expanded_duplicate_key_error_stays_short():
    lines, alias = alias_tower(6)
    text = "\n".join(lines) + f"\n- {{? {alias} : 1, ? {alias} : 2}}\n"
    assert len(text) < 300
    with pytest.raises(D) as info:
        o.loads(text, option=DUP)
    shown = expected_debug_text(6)[:200] + "..."
    assert str(info.value) == f"duplicate mapping key: {shown} at line 7, column 15"


def test_alias_expanded_duplicate_key_warning_stays_short(caplog):
    caplog.set_level(logging.WARNING, logger="ostrevane")
    lines, alias = alias_tower(6)
    text = "\n".join(lines) + f"\n- {{? {alias} : 1, ? {alias} : 2, ? {alias} : 3}}\n"
    o.loads(text, option=o.OPT_DUPLICATE_KEYS_WARN)
    shown = expected_debug_text(6)[:200] + "..."
    assert [r.getMessage() for r in caplog.records] == [
        f"duplicate mapping key '{shown}' at line 7, column {column}; keeping the last value"
        for column in (15, 26)]
