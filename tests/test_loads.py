"""loads and loads_all: the plain roads, their options, errors and warnings."""

import json
import logging

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import ostrevane as o
from ostrevane import loads, loads_all
from ostrevane.exceptions import (
    OstrevaneComplexKeyError,
    OstrevaneDuplicateKeyError,
    OstrevaneParseError,
)

ROADS = [
    pytest.param(lambda text, **kw: loads(text, **kw), id="loads"),
    pytest.param(lambda text, **kw: loads_all(text, **kw)[0], id="loads_all"),
]


def test_empty_text():
    assert loads("") is None
    assert loads(b"") is None
    assert loads("# only a comment\n") is None
    assert loads_all("") == []


def test_loads_returns_the_first_document():
    assert loads("--- 1\n--- 2\n") == 1
    assert loads_all("--- 1\n--- 2\n--- [3]\n") == [1, 2, [3]]


def test_error_in_a_later_document_fails_loads():
    with pytest.raises(OstrevaneParseError):
        loads("--- 1\n--- [\n")


@pytest.mark.parametrize("data", [
    "a: [1, é]",
    "a: [1, é]".encode(),
    bytearray("a: [1, é]".encode()),
    memoryview("a: [1, é]".encode()),
    "a: [1, é]".encode("utf-16"),
])
def test_input_forms(data):
    assert loads(data) == {"a": [1, "é"]}


# ---------------------------------------------------------------------------
# Resolution rules: the %YAML directive, else the options.

@pytest.mark.parametrize("text,option,expected", [
    ("yes", 0, "yes"),
    ("yes", o.OPT_YAML_1_1, True),
    ("yes", o.OPT_UPGRADE_1_1, True),
    ("yes", o.OPT_PYYAML_COMPAT, True),
    ("%YAML 1.1\n--- yes", 0, True),
    ("%YAML 1.2\n--- yes", o.OPT_YAML_1_1, "yes"),
    ("%YAML 1.2\n--- yes", o.OPT_PYYAML_COMPAT, True),
    ("010", 0, "010"),
    ("010", o.OPT_YAML_1_1, 8),
    ("yes", 1 << 40, "yes"),
])
@pytest.mark.parametrize("load", ROADS)
def test_resolution_rules(load, text, option, expected):
    assert load(text, option=option) == expected


# A document of more than 65,536 tokens is scanned in batches; where a
# token could still change (a one-line flow collection that turns out to be
# a key) no batch ends, whatever its length. One-line JSON is cut as if
# broken into lines, a "]:" inside it or an inner pair notwithstanding.
@pytest.mark.parametrize("make,expected", [
    (lambda n: "[" + ", ".join(f'{{"k": [{i}], "t": "{i}:{i}"}}' for i in range(n)) + "]",
     lambda n: [{"k": [i], "t": f"{i}:{i}"} for i in range(n)]),
    (lambda n: "[" + ", ".join(f'{{"at": "[::{i}]:80", "t}}": [[{i}]]}}' for i in range(n)) + "]",
     lambda n: [{"at": f"[::{i}]:80", "t}": [[i]]} for i in range(n)]),
    (lambda n: "[" + ", ".join(f"[a{i}]: {i}" for i in range(n)) + "]: v",
     lambda n: {tuple((((f"a{i}",), i),) for i in range(n)): "v"}),
    (lambda n: "[" + ",".join(str(i) for i in range(n)) + "]",
     lambda n: list(range(n))),
    (lambda n: "[" + ",".join(str(i) for i in range(n)) + "]: v",
     lambda n: {tuple(range(n)): "v"}),
    (lambda n: "k: [" + ",".join(str(i) for i in range(n)) + "]  # x",
     lambda n: {"k": list(range(n))}),
    (lambda n: "{" + ", ".join(f"k{i}: {i}" for i in range(n)) + "}",
     lambda n: {f"k{i}": i for i in range(n)}),
    (lambda n: "".join(f"k{i}: &a{i} !!str v{i}\nr{i}: *a{i}\n" for i in range(n)),
     lambda n: {k: f"v{i}" for i in range(n) for k in (f"k{i}", f"r{i}")}),
    (lambda n: "".join(f"- k{i}: v\n  j: [a, b]\n" for i in range(n)),
     lambda n: [{f"k{i}": "v", "j": ["a", "b"]} for i in range(n)]),
])
def test_long_documents(make, expected):
    n = 50_000
    text = make(n)
    assert loads_all(text) == [expected(n)]


# Block scalars of 64 KiB and more are handed from the scanner to the result
# whole: shared by aliases, kept across documents, under every option.
@pytest.mark.parametrize("option", [0, o.OPT_DUPLICATE_KEYS_WARN, o.OPT_YAML_1_1])
def test_large_block_scalars(option):
    lines = [f"line {i} " + "x" * 70 for i in range(2000)]
    literal = "\n".join(lines) + "\n"
    body = "".join("  " + line + "\n" for line in lines)
    text = (f"a: &big |\n{body}b: >-\n{body}c: [*big, *big]\n"
            f"--- |+\n{body}\n--- [x]\n")
    first, second, third = loads_all(text, option=option)
    assert first["a"] == literal
    assert first["b"] == " ".join(lines)
    assert first["c"] == [literal, literal]
    assert second == literal + "\n"
    assert third == ["x"]
    assert loads(text, option=option)["c"][1] == literal


@pytest.mark.parametrize("option,expected", [
    (0, "2001-12-14"),
    (o.OPT_TIMESTAMPS, "date"),
    (o.OPT_PYYAML_COMPAT, "date"),
])
def test_timestamps_option(option, expected):
    got = loads("2001-12-14", option=option)
    assert (type(got).__name__ if expected == "date" else got) == expected


# ---------------------------------------------------------------------------
# Errors: class, message, line and column (1-based), file None.

@pytest.mark.parametrize("text,option,cls,message,line,column", [
    ("a: [1", 0, OstrevaneParseError, "unclosed flow collection at end of input", 1, 6),
    ("x: *nope", 0, OstrevaneParseError, "unknown alias: *nope", 1, 4),
    ("a: 1\na: 2", o.OPT_DUPLICATE_KEYS_ERROR, OstrevaneDuplicateKeyError,
     "duplicate mapping key: a", 2, 1),
    ("a: 1\na: 2", o.OPT_DUPLICATE_KEYS_ERROR | o.OPT_DUPLICATE_KEYS_WARN,
     OstrevaneDuplicateKeyError, "duplicate mapping key: a", 2, 1),
    ("[a]: 1", o.OPT_REJECT_COMPLEX_KEYS, OstrevaneComplexKeyError,
     "complex mapping key (a sequence used as a key)", 1, 1),
])
@pytest.mark.parametrize("load", ROADS)
def test_decode_errors(load, text, option, cls, message, line, column):
    with pytest.raises(cls) as info:
        load(text, option=option)
    assert type(info.value) is cls
    assert str(info.value) == f"{message} at line {line}, column {column}"
    assert (info.value.file, info.value.line, info.value.column) == (None, line, column)


def test_complex_keys_are_accepted_by_default():
    assert loads("[a]: 1") == {("a",): 1}


# ---------------------------------------------------------------------------
# Warnings reach the "ostrevane" logger, in order, text unchanged.

@pytest.fixture
def records(caplog):
    caplog.set_level(logging.WARNING, logger="ostrevane")
    return caplog


@pytest.mark.parametrize("load", ROADS)
def test_duplicate_key_warning(load, records):
    assert load("a: 1\na: 2", option=o.OPT_DUPLICATE_KEYS_WARN) == {"a": 2}
    assert [(r.name, r.getMessage()) for r in records.records] == [
        ("ostrevane", "duplicate mapping key 'a' at line 2, column 1; keeping the last value")]


@pytest.mark.parametrize("option,count", [
    (o.OPT_YAML_1_1_WARN, 0),
    (o.OPT_YAML_1_1_WARN | o.OPT_YAML_1_1, 2),
    (o.OPT_YAML_1_1, 0),
])
def test_yaml11_warnings_need_yaml11(records, option, count):
    loads("a: yes\nb: on", option=option)
    messages = [r.getMessage() for r in records.records]
    assert len(messages) == count
    if count:
        assert messages == [
            "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4",
            "YAML 1.1 syntax 'on' resolves as bool in 1.1 but str in 1.2 at line 2, column 4",
        ]


def test_failed_decode_logs_nothing(records):
    with pytest.raises(OstrevaneParseError):
        loads("a: 1\na: 2\nb: [", option=o.OPT_DUPLICATE_KEYS_WARN)
    assert records.records == []


def test_raising_log_handler_does_not_fail_loads():
    seen = []

    class Raising(logging.Handler):
        def emit(self, record):
            seen.append(record.getMessage())
            raise RuntimeError("handler broke")

        def handleError(self, record):
            raise RuntimeError("handler broke again")

    logger = logging.getLogger("ostrevane")
    handler = Raising()
    logger.addHandler(handler)
    try:
        got = loads("a: 1\na: 2\nb: 1\nb: 2", option=o.OPT_DUPLICATE_KEYS_WARN)
    finally:
        logger.removeHandler(handler)
    assert got == {"a": 2, "b": 2}
    assert len(seen) == 2


# ---------------------------------------------------------------------------
# Roads that need no directive in the text, and the order of the checks.

@pytest.mark.parametrize("option", [
    o.OPT_SECRETS, o.OPT_ENV_VAR | o.OPT_SECRETS, o.OPT_INCLUDES | o.OPT_SECRETS,
    o.OPT_ANNOTATED, o.OPT_INCLUDES | o.OPT_ANNOTATED])
def test_every_load_road_serves_a_plain_text(option):
    assert loads("a: 1", option=option) == {"a": 1}
    if not option & (o.OPT_INCLUDES | o.OPT_SECRETS | o.OPT_ENV_VAR):
        assert loads_all("a: 1", option=option) == [{"a": 1}]


def test_tags_are_checked_before_the_road():
    with pytest.raises(TypeError, match="tags must be a dict"):
        loads("a: 1", option=o.OPT_ROUND_TRIP, tags=[])


LOADS_ALL_DIRECTIVES = ("loads_all() does not support OPT_INCLUDES, OPT_SECRETS, or OPT_ENV_VAR; "
                        "use loads() for include resolution")


@pytest.mark.parametrize("option", [o.OPT_INCLUDES, o.OPT_SECRETS, o.OPT_ENV_VAR,
                                    o.OPT_ROUND_TRIP | o.OPT_INCLUDES])
@pytest.mark.parametrize("text", ["a: 1", ""])
def test_loads_all_refuses_directive_options(option, text):
    with pytest.raises(ValueError) as info:
        loads_all(text, option=option, tags=[])
    assert str(info.value) == LOADS_ALL_DIRECTIVES


def test_loads_all_reads_input_before_refusing_directives():
    with pytest.raises(TypeError, match="loads\\(\\) requires str"):
        loads_all(3, option=o.OPT_INCLUDES)


def test_paths_change_nothing_on_the_plain_road():
    assert loads("a: 1", include_dir="/nonexistent", root_path="/nowhere.yaml") == {"a": 1}


# ---------------------------------------------------------------------------
# The schema arguments.

MODELINE = "# yaml-language-server: $schema=./config.schema.json\na: 1\n"


def test_schema_resolver_requires_auto():
    with pytest.raises(ValueError) as info:
        loads("a: 1", schema_resolver=lambda ref: None)
    assert str(info.value) == 'schema_resolver requires schema="auto"'


def test_auto_requires_a_resolver():
    with pytest.raises(ValueError) as info:
        loads("a: 1", schema="auto")
    assert str(info.value) == (
        'schema="auto" requires a schema_resolver callable to resolve the in-file reference')


def test_auto_without_reference_does_not_call_the_resolver():
    calls = []
    assert loads("a: 1", schema="auto", schema_resolver=calls.append) == {"a": 1}
    assert calls == []


def test_auto_resolver_returning_none_skips_validation():
    calls = []

    def resolver(ref):
        calls.append(ref)

    assert loads(MODELINE, schema="auto", schema_resolver=resolver) == {"a": 1}
    assert calls == ["./config.schema.json"]


def test_resolver_exception_propagates():
    err = LookupError("no such schema")

    def resolver(ref):
        raise err

    with pytest.raises(LookupError) as info:
        loads(MODELINE, schema="auto", schema_resolver=resolver)
    assert info.value is err


@pytest.mark.parametrize("kwargs", [
    {"schema": {"type": "object"}},
    {"schema": {"type": "object"}, "schema_resolver": 5},
    {"schema": "not-auto"},
    {"schema": "auto", "schema_resolver": lambda ref: {"type": "object"}},
])
def test_schema_forms_that_validate(kwargs):
    # A mapping schema, a resolver's result, and a str other than "auto"
    # (which accepts everything) all let a fitting document through.
    assert loads(MODELINE, **kwargs) == {"a": 1}


def test_schema_is_not_applied_to_an_empty_text():
    assert loads("", schema={"type": "object"}) is None


def test_tags_checked_after_the_resolver_ran():
    calls = []
    with pytest.raises(TypeError, match="tags must be a dict"):
        loads(MODELINE, schema="auto", schema_resolver=calls.append, tags=[])
    assert calls == ["./config.schema.json"]


# ---------------------------------------------------------------------------
# JSON writes a character beyond U+FFFF as the "\\u" escapes of its two
# UTF-16 surrogates (json.dumps("\U0001F600") is "\\ud83d\\ude00"): such a
# pair is that one character on every road. These texts used to be refused
# with "invalid unicode code point: U+D83D".

def escapes(*code_units):
    return "".join("\\u" + unit for unit in code_units)


# Every road that reads a text into values.
EVERY_ROAD = {
    "plain": lambda text: loads(text),
    "loads_all": lambda text: loads_all(text)[0],
    "annotated": lambda text: loads(text, option=o.OPT_ANNOTATED),
    "annotated_all": lambda text: loads_all(text, option=o.OPT_ANNOTATED)[0],
    "round_trip": lambda text: loads(text, option=o.OPT_ROUND_TRIP).to_dict(),
    "round_trip_all": lambda text: loads_all(text, option=o.OPT_ROUND_TRIP)[0].to_dict(),
    "env_var": lambda text: loads(text, option=o.OPT_ENV_VAR),
    "includes": lambda text: loads(text, option=o.OPT_INCLUDES | o.OPT_SECRETS),
    "schema": lambda text: loads(text, schema={}),
    "annotated_schema": lambda text: loads(text, option=o.OPT_ANNOTATED, schema={}),
}

SURROGATE_PAIRS = [
    pytest.param(json.dumps("\U0001F600"), "\U0001F600", id="json-dumps"),
    pytest.param('"a' + escapes("D83D", "DE00") + 'b"', "a\U0001F600b", id="upper-case"),
    pytest.param('"' + escapes("d800", "dc00") + escapes("dbff", "dfff") + '"',
                 "\U00010000\U0010FFFF", id="first-and-last"),
    pytest.param('"' + escapes("d834", "dd1e") + '\\U0001F600\\x41"', "\U0001D11E\U0001F600A",
                 id="beside-other-escapes"),
    pytest.param('k: "x\n  ' + escapes("d83d", "de00") + '"\n', {"k": "x \U0001F600"},
                 id="after-a-fold"),
    pytest.param(json.dumps({"k\U0001F600": ["\U0001D11E"]}),
                 {"k\U0001F600": ["\U0001D11E"]}, id="key"),
    pytest.param('? "' + escapes("d83d", "de00") + '"\n: 1\n', {"\U0001F600": 1},
                 id="explicit-key"),
]


@pytest.mark.parametrize("road", EVERY_ROAD)
@pytest.mark.parametrize(("text", "expected"), SURROGATE_PAIRS)
def test_a_surrogate_pair_escape_is_one_character_on_every_road(text, expected, road):
    assert EVERY_ROAD[road](text) == expected


# A surrogate that is not the first half of such a pair is still no
# character: the message, line and column are those of the first surrogate's
# scalar.
LONE_SURROGATES = [
    pytest.param('"' + escapes("d83d") + '"', "D83D", 1, 1, id="lone-high"),
    pytest.param('k: "' + escapes("d83d") + ' x"', "D83D", 1, 4, id="high-then-text"),
    pytest.param('"' + escapes("de00") + '"', "DE00", 1, 1, id="lone-low"),
    pytest.param('"' + escapes("de00", "d83d") + '"', "DE00", 1, 1, id="reversed"),
    pytest.param('"' + escapes("d83d", "d83d", "de00") + '"', "D83D", 1, 1, id="two-highs"),
    pytest.param('"' + escapes("d83d", "0041") + '"', "D83D", 1, 1, id="high-then-bmp"),
    pytest.param('"' + escapes("d83d") + '\\U0000DE00"', "D83D", 1, 1, id="high-then-U"),
    pytest.param('"' + escapes("d83d") + '\\x41"', "D83D", 1, 1, id="high-then-x"),
    pytest.param('"' + escapes("d83d") + '\\ude0"', "D83D", 1, 1, id="high-then-short"),
    pytest.param('"' + escapes("d83d") + '\\\n  ' + escapes("de00") + '"', "D83D", 1, 1,
                 id="escaped-line-break"),
    pytest.param('"' + escapes("d83d") + '\n  ' + escapes("de00") + '"', "D83D", 1, 1,
                 id="folded-line-break"),
    pytest.param('- {"' + escapes("d83d") + '": 1}', "D83D", 1, 4, id="key"),
]


@pytest.mark.parametrize("road", EVERY_ROAD)
@pytest.mark.parametrize(("text", "code_point", "line", "column"), LONE_SURROGATES)
def test_a_lone_surrogate_escape_is_refused_on_every_road(text, code_point, line, column, road):
    with pytest.raises(OstrevaneParseError) as info:
        EVERY_ROAD[road](text)
    assert str(info.value) == (f"invalid unicode code point: U+{code_point} "
                               f"at line {line}, column {column}")
    assert (info.value.line, info.value.column) == (line, column)


def test_a_round_trip_document_writes_its_source_until_modified():
    text = 'k: "a' + escapes("d83d", "de00") + 'b"\n"' + escapes("d834", "dd1e") + '": [x]\n'
    doc = loads(text, option=o.OPT_ROUND_TRIP)
    assert o.dumps(doc) == text.encode()
    doc["n"] = 1
    written = o.dumps(doc)
    assert "\U0001F600".encode() in written and b"\\u" not in written
    assert loads(written) == {"k": "a\U0001F600b", "\U0001D11E": ["x"], "n": 1}


@settings(max_examples=200, deadline=None)
@given(st.text(st.characters(blacklist_categories=("Cs",), blacklist_characters="\x7f")))
def test_json_dumps_of_any_text_reads_back(text):
    # json.dumps escapes every non-ASCII character; it leaves DEL raw, which
    # no YAML text may hold. (A str with a lone surrogate is no text.)
    assert loads(json.dumps(text)) == text
    assert loads(json.dumps({text: [text]})) == {text: [text]}
