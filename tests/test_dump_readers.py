"""What the writers produce reads back equal in every YAML reader in use:
ostrevane itself, PyYAML (its Python and its C loader) and ruamel.yaml, on
every road that writes a string (dumps, dumps with a represent callback, an
assignment into a round-trip document, in a YAML 1.2 and a %YAML 1.1
document)."""
import pytest
from hypothesis import given, settings, strategies as st

import ostrevane as o

yaml = pytest.importorskip("yaml")
ruamel_yaml = pytest.importorskip("ruamel.yaml")

NEL, LS, PS = "\x85", "\u2028", "\u2029"
ESCAPES = {NEL: "\\N", LS: "\\L", PS: "\\P"}


def pyyaml_load(text):
    return yaml.safe_load(text)


def pyyaml_c_load(text):
    return yaml.load(text, Loader=yaml.CSafeLoader)


def ruamel_safe_load(text):
    return ruamel_yaml.YAML(typ="safe", pure=True).load(text)


def ruamel_rt_load(text):
    return ruamel_yaml.YAML().load(text)


READERS = [pyyaml_load, pyyaml_c_load, ruamel_safe_load, ruamel_rt_load]

# dumps under every mode and quoting or layout option.
DUMPS_OPTIONS = {
    "default": 0,
    "yaml_1_1": o.OPT_YAML_1_1,
    "pyyaml_compat": o.OPT_PYYAML_COMPAT,
    "single_quotes": o.OPT_SINGLE_QUOTES,
    "single_quotes_1_1": o.OPT_SINGLE_QUOTES | o.OPT_YAML_1_1,
    "flow": o.OPT_FLOW_STYLE,
    "flow_compat": o.OPT_FLOW_STYLE | o.OPT_PYYAML_COMPAT,
    "indentless_sorted": o.OPT_INDENTLESS_SEQUENCES | o.OPT_SORT_KEYS,
}


def dumps_road(option, width=None):
    def write(data):
        return o.dumps(data, option=option, width=width)
    return write


def represent_road(option):
    def write(data):
        return o.dumps(data, option=option, represent=lambda obj: None)
    return write


def round_trip_road(head):
    """Each key and value of a dict assigned into a document holding
    `head`; the text is the document's."""
    def write(data):
        doc = o.loads(head + "seed: 1\n", option=o.OPT_ROUND_TRIP)
        del doc["seed"]
        for key, value in data.items():
            doc[key] = value
        return doc.to_yaml()
    return write


ROADS = {f"dumps-{name}": dumps_road(option) for name, option in DUMPS_OPTIONS.items()}
ROADS["dumps-width"] = dumps_road(0, width=12)
ROADS["dumps-width-1_1"] = dumps_road(o.OPT_YAML_1_1 | o.OPT_SINGLE_QUOTES, width=12)
ROADS["represent-default"] = represent_road(0)
ROADS["represent-compat"] = represent_road(o.OPT_PYYAML_COMPAT | o.OPT_SINGLE_QUOTES)
ROADS["round-trip-1.2"] = round_trip_road("")
ROADS["round-trip-1.1"] = round_trip_road("%YAML 1.1\n---\n")
ROADS["round-trip-flow"] = round_trip_road("")  # a flow mapping below

# Where in the data and the text the character stands.
BREAK_TEXTS = [
    "yes" + LS,
    PS,
    "-" + NEL,
    "a" + NEL + "b",
    LS + "x",
    "one" + PS + "two three four five",
    "line one\nline two" + NEL + "\n",
    "it's" + LS,
    NEL + LS + PS,
    "1" + PS,
    "~" + NEL,
]


def read_option(road):
    """The option ostrevane reads a road's text with."""
    if "compat" in road:
        return o.OPT_PYYAML_COMPAT
    return o.OPT_YAML_1_1 if "1_1" in road or "1.1" in road else 0


def reads_of(text, option):
    """The data as every reader gives it back."""
    if isinstance(text, bytes):
        text = text.decode()
    results = {"ostrevane": o.loads(text, option=option)}
    for read in READERS:
        results[read.__name__] = read(text)
    return results


def assert_escaped(text, value):
    """Every Unicode line break of `value` stands escaped, never raw."""
    decoded = text.decode()
    for char, escape in ESCAPES.items():
        assert char not in decoded
        if char in value:
            assert escape in decoded


@pytest.mark.parametrize("road", ROADS)
@pytest.mark.parametrize("value", BREAK_TEXTS, ids=ascii)
def test_unicode_line_breaks_are_escaped_in_double_quotes(road, value):
    # They used to be written raw, in plain, single-quoted or block scalars:
    # YAML 1.1 readers break lines at them ({"k": "yes\u2028"} read back as
    # {"k": True}, "\u2029" as None, "-\x85" as "- ").
    if road == "round-trip-flow":
        doc = o.loads("{seed: 1}\n", option=o.OPT_ROUND_TRIP)
        doc["k"] = value
        doc[value] = [value]
        text = doc.to_yaml()
        expected = {"seed": 1, "k": value, value: [value]}
    else:
        data = {"k": value, value: [value], "inner": {"m": value}}
        text = ROADS[road](data)
        expected = data
    assert_escaped(text, value)
    option = read_option(road)
    for reader, read in reads_of(text, option).items():
        assert read == expected, (reader, text)


@pytest.mark.parametrize("value", BREAK_TEXTS, ids=ascii)
def test_unicode_line_breaks_at_the_root(value):
    for option in DUMPS_OPTIONS.values():
        text = o.dumps(value, option=option)
        assert_escaped(text, value)
        assert set(map(repr, reads_of(text, 0).values())) == {repr(value)}, text


@pytest.mark.parametrize("style", ["plain", "single", "literal", "folded"])
def test_represent_refuses_a_style_that_cannot_hold_them(style):
    def represent(obj):
        if obj == "a" + LS:
            return o.OstrevaneScalar(obj, style=style)
        return None
    with pytest.raises(ValueError) as info:
        o.dumps({"k": "a" + LS}, represent=represent)
    assert str(info.value) == (
        f"a {style} scalar cannot represent this value without changing it on reload "
        "(it contains U+0085, U+2028 or U+2029, which YAML 1.1 readers take for a line "
        "break); use \"double\" or the default style")


@pytest.mark.parametrize("road, expected", [
    ("dumps-yaml_1_1", b'k: "="\n"=":\n  - "="\n'),
    ("dumps-pyyaml_compat", b'k: "="\n"=":\n  - "="\n'),
    ("dumps-single_quotes_1_1", b"k: '='\n'=':\n  - '='\n"),
    ("dumps-flow_compat", b'{k: "=", "=": ["="]}\n'),
    ("represent-compat", b"k: '='\n'=':\n  - '='\n"),
    ("round-trip-1.1", b'%YAML 1.1\n---\nk: "="\n"=":\n- "="\n'),
    # YAML 1.2 has no value key: there "=" stays plain.
    ("dumps-default", b"k: =\n=:\n  - =\n"),
    ("round-trip-1.2", b"k: =\n=:\n- =\n"),
])
def test_the_value_key_is_quoted_for_yaml_1_1(road, expected):
    # `k: =` was written under the YAML 1.1 modes, and YAML 1.1 readers
    # refuse it (the value key, tag:yaml.org,2002:value).
    data = {"k": "=", "=": ["="]}
    text = ROADS[road](data)
    assert text == expected
    if b"%YAML 1.1" in text or "1_1" in road or "compat" in road:
        for reader, read in reads_of(text, read_option(road)).items():
            assert read == data, reader
    else:
        assert o.loads(text) == data


# Texts that YAML 1.1 readers tag as an int by the int pattern while our own
# reader holds no number there: base-60 past 64 bits (from twelve parts) and
# the forms with no digit, which the conversion then fails on.
PATTERN_INTS = ["1:2:1:1:1:1:1:1:1:1:1:1", "1" + ":59" * 30, "0b_", "0x_", "+0b_", "+0x_",
                "-0x_", "0b__", "0x___"]
# The same as keys too long for the simple form, written as "? key".
LONG_PATTERN_INTS = ["1" + ":1" * 600, "0b" + "_" * 1100]
# YAML 1.2 output writes base-60 texts plain by design (no YAML 1.2 reader
# takes them for numbers), so those go through the YAML 1.1 roads only.
PATTERN_INT_CASES = [
    (road, value)
    for value in PATTERN_INTS + LONG_PATTERN_INTS
    for road in ROADS
    if road != "round-trip-flow" and (read_option(road) or ":" not in value)
]


@pytest.mark.parametrize("road, value", PATTERN_INT_CASES,
                         ids=[f"{road}-{value[:12]}" for road, value in PATTERN_INT_CASES])
def test_texts_the_yaml_1_1_int_pattern_matches_are_quoted(road, value):
    # They were written plain: PyYAML read "1:2:1:1:1:1:1:1:1:1:1:1" as the
    # int 37499277624406779661 and raised ValueError on "0b_" and "+0x_",
    # as keys and as long "? " keys too.
    data = {"k": value, value: [value], "inner": {"m": value}}
    text = ROADS[road](data)
    assert f" {value}\n".encode() not in text and f"{value}:".encode() not in text
    for reader, read in reads_of(text, read_option(road)).items():
        assert read == data, (reader, text)


@pytest.mark.parametrize("option, expected", [
    (o.OPT_PYYAML_COMPAT, b'- "1:2:1:1:1:1:1:1:1:1:1:1"\n- "1:2:1:1:1:1:1:1:1:1:1"\n- 1:2:1:a\n'),
    (o.OPT_YAML_1_1, b'- "1:2:1:1:1:1:1:1:1:1:1:1"\n- "1:2:1:1:1:1:1:1:1:1:1"\n- 1:2:1:a\n'),
    (0, b"- 1:2:1:1:1:1:1:1:1:1:1:1\n- 1:2:1:1:1:1:1:1:1:1:1\n- 1:2:1:a\n"),
], ids=["pyyaml_compat", "yaml_1_1", "yaml_1_2"])
def test_base_60_of_any_size_is_quoted_for_yaml_1_1(option, expected):
    assert o.dumps(["1:2:1:1:1:1:1:1:1:1:1:1", "1:2:1:1:1:1:1:1:1:1:1", "1:2:1:a"],
                   option=option) == expected


def test_int_patterns_without_a_digit_are_quoted_in_yaml_1_2_output_too():
    # YAML 1.2 output quotes what YAML 1.1 readers take for a number, save
    # base 60; texts the int pattern misses stay plain.
    text = o.dumps(["0b_", "+0x_", "0b", "0_b", "0x_g"])
    assert text == b'- "0b_"\n- "+0x_"\n- 0b\n- 0_b\n- 0x_g\n'
    assert pyyaml_load(text) == o.loads(text) == ["0b_", "+0x_", "0b", "0_b", "0x_g"]


def yaml_1_1_patterns():
    """Texts drawn from PyYAML's own implicit resolvers for numbers and
    timestamps (the patterns it tags a plain scalar by)."""
    patterns = {regexp.pattern: regexp
                for resolvers in yaml.resolver.Resolver.yaml_implicit_resolvers.values()
                for tag, regexp in resolvers
                if tag.rsplit(":", 1)[-1] in ("int", "float", "timestamp")}
    return st.one_of([st.from_regex(regexp, fullmatch=True) for regexp in patterns.values()])


NUMBER_LIKE = st.one_of(st.text(alphabet="019_:.eE+-bxo56", min_size=1, max_size=16),
                        yaml_1_1_patterns())


@settings(max_examples=300, deadline=None)
@given(st.lists(NUMBER_LIKE, min_size=1, max_size=12))
def test_pyyaml_reads_yaml_1_1_output_as_written(texts):
    data = {"values": texts, "keys": dict.fromkeys(texts, 0)}
    for option in (o.OPT_YAML_1_1, o.OPT_PYYAML_COMPAT):
        for text in (o.dumps(data, option=option),
                     o.dumps(data, option=option, represent=lambda obj: None)):
            assert pyyaml_load(text) == data, text
            assert o.loads(text, option=option) == data, text
