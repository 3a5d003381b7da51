"""What dumps and to_json write reads back as the same data, on the plain and
round-trip roads.

loads(dumps(x)) == x under YAML 1.2 (the default) and under the YAML 1.1
modes, with every layout option that must not change the data; and
json.loads(to_json(x)) == x. The values are nested dicts and lists of
scalars, with strings drawn to look like the things a reader could take
them for: keywords of both YAML versions, numbers, timestamps, indicators,
blanks at either end, line breaks and controls.
"""
import json
import math

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ostrevane as o

TRICKY_WORDS = [
    "", " ", "  ", "null", "Null", "NULL", "~", "true", "True", "FALSE", "yes", "No", "on",
    "OFF", "y", "n", "Y", "=", "<<", ".inf", "-.Inf", ".NaN", "nan", "inf", "0", "-0", "+1",
    "007", "0o17", "0x1F", "0b101", "1_000", "1:20", "190:20:30", "1e3", "1.", ".5", "6.8523015e+5",
    "2001-12-14", "2001-12-14t21:59:43.10-05:00", "2001-12-14 21:59:43z", "2002-12-14T00:00:00Z",
    "---", "...", "--- x", "- x", "-", "? x", "?", ": x", ":", "x:", "a: b", "a #b", "a#b", "#",
    "[", "]", "{", "}", ",", "a, b", "&a", "*a", "!a", "!!str", "|", ">", "'", '"', "%", "@",
    "`", "\\", "\t", "a\tb", "\n", "a\nb", "a\n", "\na", "a\n\n", "\r", "a\r\nb", "\x00",
    "\x07", "\x85", "\u2028", "\u2029", "\ufeff", "\x7f", "\x9f", "é", "漢字", "😀", " a", "a ",
    "a  b", "a \nb", "line one\n  line two\n", "\ttab first", "#!shebang",
]

texts = st.one_of(
    st.sampled_from(TRICKY_WORDS),
    st.text(st.characters(blacklist_categories=("Cs",)), max_size=30),
    st.lists(st.sampled_from(TRICKY_WORDS), max_size=4).map(" ".join),
    st.lists(st.sampled_from(TRICKY_WORDS), max_size=4).map("\n".join),
)

scalars = st.one_of(
    st.none(),
    st.booleans(),
    st.integers(),
    st.integers(min_value=-(2**200), max_value=2**200),
    st.floats(allow_nan=False),
    texts,
)

keys = st.one_of(texts, st.integers(), st.booleans(), st.none(),
                 st.floats(allow_nan=False, allow_infinity=False))

values = st.recursive(
    scalars,
    lambda children: st.one_of(
        st.lists(children, max_size=5),
        st.dictionaries(keys, children, max_size=5),
    ),
    max_leaves=30,
)

json_values = st.recursive(
    st.one_of(st.none(), st.booleans(), st.integers(), texts,
              st.floats(allow_nan=False, allow_infinity=False)),
    lambda children: st.one_of(
        st.lists(children, max_size=5),
        st.dictionaries(texts, children, max_size=5),
    ),
    max_leaves=30,
)


def same(a, b, ordered=True):
    """Equality that also tells -0.0 from 0.0, 1 from 1.0 and True, and
    (when `ordered`) one key order from another."""
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return a == b and math.copysign(1, a) == math.copysign(1, b)
    if isinstance(a, list):
        return len(a) == len(b) and all(same(x, y, ordered) for x, y in zip(a, b))
    if isinstance(a, dict):
        if ordered and list(a) != list(b):
            return False
        return a.keys() == b.keys() and all(same(a[k], b[k], ordered) for k in a)
    return a == b


LAYOUTS = [
    0,
    o.OPT_INDENT_4 | o.OPT_INDENTLESS_SEQUENCES,
    o.OPT_FLOW_STYLE,
    o.OPT_SINGLE_QUOTES | o.OPT_NULL_AS_TILDE | o.OPT_EXPLICIT_START | o.OPT_EXPLICIT_END,
    o.OPT_NULL_AS_KEYWORD,
]
MODES = [0, o.OPT_YAML_1_1, o.OPT_PYYAML_COMPAT]

PROPERTY = settings(max_examples=100, deadline=None,
                    suppress_health_check=[HealthCheck.too_slow])


@pytest.mark.parametrize("mode", MODES, ids=["1.2", "1.1", "compat"])
@pytest.mark.parametrize("layout", LAYOUTS)
@PROPERTY
@given(value=values)
def test_loads_of_dumps(mode, layout, value):
    text = o.dumps(value, option=mode | layout)
    assert same(o.loads(text, option=mode), value), text


@pytest.mark.parametrize("mode", MODES, ids=["1.2", "1.1", "compat"])
@PROPERTY
@given(value=values)
def test_loads_of_dumps_sorted(mode, value):
    text = o.dumps(value, option=mode | o.OPT_SORT_KEYS)
    assert same(o.loads(text, option=mode), value, ordered=False), text


@pytest.mark.parametrize("width", [1, 20, 80])
@PROPERTY
@given(value=values)
def test_loads_of_dumps_with_width(width, value):
    text = o.dumps(value, width=width)
    assert same(o.loads(text), value), text


@pytest.mark.parametrize("option", [0, o.OPT_INDENT_2, o.OPT_INDENT_4 | o.OPT_SORT_KEYS])
@PROPERTY
@given(value=json_values)
def test_json_loads_of_to_json(option, value):
    ordered = not option & o.OPT_SORT_KEYS
    assert same(json.loads(o.to_json(value, option=option)), value, ordered)


@pytest.mark.parametrize("mode", MODES, ids=["1.2", "1.1", "compat"])
@pytest.mark.parametrize("layout", LAYOUTS)
@PROPERTY
@given(value=values)
def test_round_trip_document_of_dumps(mode, layout, value):
    # A round-trip document gives the text back unchanged and reads the same
    # values as the plain road.
    text = o.dumps(value, option=mode | layout)
    doc = o.loads(text, option=o.OPT_ROUND_TRIP | mode)
    assert doc.to_yaml() == text
    assert same(doc.to_dict(), value), text
