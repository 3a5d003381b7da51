"""Reading an OstrevaneDocument like the collection it holds: doc[key], get,
in, len, keys, walk and range, on single and multi-document streams."""

import datetime

import pytest

import _ostrevane
import ostrevane as o
from ostrevane import OstrevaneDocumentView, loads

RT = o.OPT_ROUND_TRIP

# Needs the test entry points of a test_hooks build (see conftest.py).
hooks = pytest.mark.hooks


def rt(text, option=0):
    return loads(text, option=RT | option)


def plain(value):
    return value.to_dict() if isinstance(value, OstrevaneDocumentView) else value


# ---------------------------------------------------------------------------
# Item access.

ITEMS = [
    ("a: 1\nb: [1, 2]\n", "a", 1),
    ("a: 1\nb: [1, 2]\n", "b", [1, 2]),
    ("a: {x: y}\n", "a", {"x": "y"}),
    ("a:\n", "a", None),
    ("a: 1\na: 2\n", "a", 2),
    # Python equality decides: the plain key 1 is the int 1 (and 1.0, True).
    ("1: one\n", 1, "one"),
    ("1: one\n", 1.0, "one"),
    ("1: one\n", True, "one"),
    ("1.5: x\n", 1.5, "x"),
    ("null: n\n", None, "n"),
    ("'1': a\n1: b\n", "1", "a"),
    ("'1': a\n1: b\n", 1, "b"),
    ("<<: {x: 1}\nb: 2\n", "<<", {"x": 1}),
    ("[a, b, c]\n", 0, "a"),
    ("[a, b, c]\n", True, "b"),
    ("[a, [b]]\n", 1, ["b"]),
    # One document of a stream: its number.
    ("a: 1\n--- 2\n", 1, 2),
    ("a: 1\n--- [3]\n", 1, [3]),
    ("a: 1\n--- b\n", 0, {"a": 1}),
]


@pytest.mark.parametrize("text,key,expected", ITEMS)
def test_item_access(text, key, expected):
    doc = rt(text)
    assert plain(doc[key]) == expected
    assert plain(doc.get(key, "default")) == expected


ITEM_ERRORS = [
    ("a: 1\n", "missing", KeyError, "missing"),
    ("a: 1\n", 5, KeyError, "5"),
    ("1: one\n", "1", KeyError, "1"),
    # A key that is not a scalar is never matched.
    ("? [a, b]\n: c\n", ("a", "b"), KeyError, "('a', 'b')"),
    ("<<: {x: 1}\nb: 2\n", "x", KeyError, "x"),
    ("[a, b, c]\n", 3, IndexError, "index out of range"),
    ("[a, b, c]\n", "x", IndexError, "index out of range"),
    ("[a, b, c]\n", -1, TypeError, "mapping keys must be str or int"),
    ("[a, b, c]\n", 1.5, TypeError, "mapping keys must be str or int"),
    ("[a, b, c]\n", None, TypeError, "mapping keys must be str or int"),
    ("[a, b, c]\n", 2**64, TypeError, "mapping keys must be str or int"),
    ("5\n", 0, KeyError, "0"),
    ("5\n", "a", KeyError, "a"),
    ("a: 1\n--- 2\n", 2, IndexError, "index out of range"),
    ("a: 1\n--- 2\n", "a", KeyError, "multi-document access requires an integer index"),
    ("a: 1\n--- 2\n", -1, KeyError, "multi-document access requires an integer index"),
    ("a: 1\n--- 2\n", 1.0, KeyError, "multi-document access requires an integer index"),
    ("", 0, IndexError, "index out of range"),
    ("", "a", KeyError, "multi-document access requires an integer index"),
]


@pytest.mark.parametrize("text,key,cls,message", ITEM_ERRORS)
def test_item_access_errors(text, key, cls, message):
    doc = rt(text)
    with pytest.raises(cls) as info:
        doc[key]
    assert type(info.value) is cls
    assert info.value.args == (message,)
    assert doc.get(key, "default") == "default"


def test_collections_come_back_as_views_and_scalars_as_values():
    doc = rt("a: {b: [1, {c: d}]}\n")
    a = doc["a"]
    assert type(a) is OstrevaneDocumentView
    assert type(a["b"]) is OstrevaneDocumentView
    assert a["b"][1]["c"] == "d"
    assert doc["a"] is not doc["a"]


@pytest.mark.parametrize("option,key,expected", [
    (0, "2001-01-01", "x"),
    (o.OPT_TIMESTAMPS, "2001-01-01", KeyError),
    (o.OPT_TIMESTAMPS, datetime.date(2001, 1, 1), "x"),
])
def test_timestamp_keys_match_by_their_value(option, key, expected):
    doc = rt("2001-01-01: x\n", option)
    if expected is KeyError:
        with pytest.raises(KeyError):
            doc[key]
    else:
        assert doc[key] == expected


@pytest.mark.parametrize("text,key,expected", [
    ("%YAML 1.1\n---\nyes: 1\n", True, 1),
    ("%YAML 1.1\n---\nyes: 1\n", "yes", KeyError),
    ("yes: 1\n", "yes", 1),
    ("!!str 1: a\n", "1", "a"),
    ("!!int '1': a\n", 1, "a"),
    ("!custom k: a\n", "k", "a"),
    ("\"\": e\n", "", "e"),
    ("caf\u00e9: c\n", "caf\u00e9", "c"),
])
def test_str_keys_match_what_the_key_converts_to(text, key, expected):
    doc = rt(text)
    if expected is KeyError:
        with pytest.raises(KeyError):
            doc[key]
    else:
        assert doc[key] == expected


def test_str_subclass_keys_use_their_own_equality():
    class Folded(str):
        def __eq__(self, other):
            return isinstance(other, str) and other.lower() == self.lower()

        __hash__ = str.__hash__

    doc = rt("Name: x\n")
    assert doc[Folded("NAME")] == "x"
    with pytest.raises(KeyError):
        doc["NAME"]


# ---------------------------------------------------------------------------
# get.

def test_get_returns_the_default_for_every_exception():
    doc = rt("a: 1\nl: [1]\n")
    assert doc.get("missing", 0) == 0
    assert doc.get("missing", None) is None
    assert doc.get(key="a", default=3) == 1
    assert doc["l"].get(5, "d") == "d"


@pytest.mark.parametrize("call", [
    lambda doc: doc.get("a"),
    lambda doc: doc.get(),
    lambda doc: doc.get("a", 1, 2),
    lambda doc: doc.get("a", fallback=1),
])
def test_get_takes_key_and_default(call):
    with pytest.raises(TypeError):
        call(rt("a: 1\n"))


# ---------------------------------------------------------------------------
# in: by key text, str keys only.

@pytest.mark.parametrize("text,key,expected", [
    ("1: a\n", "1", True),
    ("1: a\n", 1, False),
    ("'x': a\n", "x", True),
    ("a: 1\n", "b", False),
    ("a: 1\n", b"a", False),
    ("a: {b: 1}\n", "b", False),
    ("[a]\n", "a", False),
    ("[a]\n", 0, False),
    ("a\n", "a", False),
    ("a: 1\n--- {a: 2}\n", "a", False),
    ("a: 1\n--- {a: 2}\n", 0, False),
    ("", "a", False),
    ("? [a]\n: 1\n", "a", False),
])
def test_contains(text, key, expected):
    assert (key in rt(text)) is expected


# ---------------------------------------------------------------------------
# len and keys.

@pytest.mark.parametrize("text,length,keys", [
    ("b: 1\na: 2\nb: 3\n", 2, ["b", "a"]),
    ("1: a\n1.0: b\ntrue: c\n", 1, [1]),
    ("<<: {x: 1}\na: 2\n", 2, ["<<", "a"]),
    ("base: &b {x: 1}\nm:\n  <<: *b\n  y: 2\n", 2, ["base", "m"]),
    ("? [a, b]\n: c\n? [a, b]\n: d\n", 1, [["a", "b"]]),
    ("'1': a\n1: b\n", 2, ["1", 1]),
    ("{}\n", 0, []),
])
def test_len_and_keys_count_distinct_keys(text, length, keys):
    doc = rt(text)
    assert len(doc) == length
    assert doc.keys() == keys


@pytest.mark.parametrize("text,length,message", [
    ("[1, 2, 3]\n", 3, "node is not a mapping"),
    ("[]\n", 0, "node is not a mapping"),
    ("5\n", 1, "node is not a mapping"),
    ("~\n", 1, "node is not a mapping"),
    ("a: 1\n--- 2\n", 2, "keys() is only available on a single mapping document"),
    ("", 0, "keys() is only available on a single mapping document"),
])
def test_len_and_keys_of_other_documents(text, length, message):
    doc = rt(text)
    assert len(doc) == length
    with pytest.raises(TypeError) as info:
        doc.keys()
    assert info.value.args == (message,)


# ---------------------------------------------------------------------------
# walk and range.

@pytest.mark.parametrize("text,expected", [
    ("{a: 1, b: [2, 3], c: {}}\n", [(("a",), 1), (("b", 0), 2), (("b", 1), 3)]),
    ("5\n", [((), 5)]),
    ("{}\n", []),
    ("", []),
    ("? [1, 2]\n: skipped\nk: v\n", [(("k",), "v")]),
    ("a: &a {p: 1}\nb: *a\n", [(("a", "p"), 1), (("b",), {"p": 1})]),
    ("a: 1\n--- {b: 2}\n", [(("a",), 1)]),
    ("1: x\n'1': y\n", [((1,), "x"), (("1",), "y")]),
    ("- - - deep\n", [((0, 0, 0), "deep")]),
])
def test_walk(text, expected):
    assert rt(text).walk() == expected


def test_walk_of_a_deep_document():
    depth = 999
    doc = rt("[" * depth + "leaf" + "]" * depth + "\n")
    assert doc.walk() == [((0,) * depth, "leaf")]


# ---------------------------------------------------------------------------
# Aliases repeated by many leaves and keys: one conversion per definition
# and call, as to_dict has.

SHARED_DEFINITIONS = [
    "base: &b [x, y]\nuse: [*b, *b, *b]\n",
    "b: &b [x, y]\n? [*b, 1]\n: one\n? [*b, 2]\n: two\n? [*b, 1]\n: again\n",
    "m: &m {k: [1, 2]}\n? {a: *m}\n: v\nuse: [*m, *m]\nn: {x: *m, z: 3}\n",
    "s: &s text\n*s : key\nt: [*s, *s]\n",
]


def at_path(value, path):
    for step in path:
        value = value[step]
    return value


def as_key(key):
    """A key as keys() lists it: collections as lists and dicts."""
    if isinstance(key, tuple):
        if all(isinstance(p, tuple) and len(p) == 2 for p in key) and key:
            return {as_key(k): as_key(v) for k, v in key}
        return [as_key(k) for k in key]
    return key


@pytest.mark.parametrize("text", SHARED_DEFINITIONS)
def test_shared_definitions_read_as_to_dict_reads_them(text):
    doc = rt(text)
    expected = doc.to_dict()
    walked = doc.walk()
    assert walked and walked == doc.walk()
    # An alias is one leaf, whose value is what its definition converts to.
    assert all(value == at_path(expected, path) for path, value in walked)
    assert len(doc) == len(expected)
    assert [as_key(k) if isinstance(k, (list, dict)) else k for k in doc.keys()] == [
        as_key(k) for k in expected]


def test_one_call_converts_each_definition_once():
    # The objects of a definition are shared within one call, as to_dict
    # shares them; a new call converts anew.
    doc = rt(SHARED_DEFINITIONS[0])
    walked = doc.walk()
    assert walked[0] == (("base", 0), "x")
    uses = [value for path, value in walked if path[0] == "use"]
    assert uses == [["x", "y"]] * 3 and uses[0] is uses[1] is uses[2]
    assert doc.walk()[2][1] is not uses[0]
    keys = rt(SHARED_DEFINITIONS[1]).keys()
    assert keys == ["b", [["x", "y"], 1], [["x", "y"], 2]]
    assert keys[1][0] is keys[2][0]
    view = rt("top:\n" + "".join("  " + line + "\n" for line in SHARED_DEFINITIONS[0].splitlines()))
    leaves = [value for path, value in view["top"].walk() if path[0] == "use"]
    assert leaves[0] is leaves[2]


def test_reading_an_alias_bomb_shares_and_writing_it_is_still_bounded():
    lines = ["a0: &a0 [x, x, x, x, x, x, x, x, x, x]"]
    lines += [f"a{i}: &a{i} [" + ", ".join([f"*a{i - 1}"] * 10) + "]" for i in range(1, 8)]
    lines += [f"? [*a7, {i}]\n: {i}" for i in range(3)]
    doc = rt("\n".join(lines) + "\n")
    walked = doc.walk()
    assert len(walked) == 10 + 7 * 10
    assert walked[-1] == (("a7", 9), walked[-2][1]) and walked[-1][1] is walked[-2][1]
    assert len(doc) == 11
    keys = doc.keys()
    assert keys[8][0] is keys[9][0] is keys[10][0]
    assert len(doc["a7"]) == 10 and len(doc["a7"].walk()) == 10
    # Writing the values out in full is still refused by the node budget.
    with pytest.raises(ValueError) as info:
        o.dumps(doc["a7"])
    assert info.value.args == (
        "dumps() of this node expands aliases to more than the limit of 1000000 nodes",)


@pytest.mark.parametrize("text,expected", [
    ("a: 1\n", (1, 1, 1, 5)),
    ("a:\n  b: 1\n", (1, 1, 2, 7)),
    ("\n\n  [1, 2]\n", (3, 3, 3, 8)),
    ("a: 1\n--- 2\n", (1, 1, 1, 5)),
    ("", None),
])
def test_range_of_the_root(text, expected):
    assert rt(text).range() == expected


# ---------------------------------------------------------------------------
# None of the readers changes the document.

@pytest.mark.parametrize("text,keys", [
    ("a: &x {b: [1, 2]}\nc: *x\n'1': q\n1: p\n", ["a", "c", "1", 1, "missing"]),
    ("a: 1\n--- {b: 2}\n", [0, 1, 2, "a"]),
])
def test_reading_leaves_the_text_alone(text, keys):
    doc = rt(text)
    for key in keys:
        value = doc.get(key, None)
        if isinstance(value, OstrevaneDocumentView):
            value.walk()
            value.to_yaml()
    doc.walk()
    len(doc)
    "a" in doc
    doc.range()
    assert doc.to_yaml() == text.encode()


# ---------------------------------------------------------------------------
# Key objects whose equality runs Python code.

class Key:
    """A key that runs `action` from its __eq__."""

    def __init__(self, action):
        self.action = action
        self.seen = []

    def __eq__(self, other):
        try:
            self.seen.append(("ok", self.action()))
        except Exception as exc:  # noqa: BLE001
            self.seen.append((type(exc).__name__, str(exc)))
            raise
        return False

    __hash__ = object.__hash__


def test_eq_that_writes_the_document_meets_runtime_error_and_no_match():
    doc = rt("a: 1\nb: 2\n")
    key = Key(lambda: doc.set_origin("x"))
    with pytest.raises(KeyError):
        doc[key]
    assert key.seen == [("RuntimeError", "Already borrowed")] * 2
    assert doc.origin is None
    assert doc.get(key, "d") == "d"
    assert doc.to_yaml() == b"a: 1\nb: 2\n"


def test_eq_that_reads_the_document_shares_the_borrow():
    doc = rt("a: 1\nb: {c: 2}\n")
    key = Key(lambda: (doc["a"], doc["b"]["c"], len(doc), doc.origin))
    with pytest.raises(KeyError):
        doc[key]
    assert [kind for kind, _ in key.seen] == ["ok", "ok"]
    assert key.seen[0][1][0] == 1


@pytest.mark.parametrize("exc", [KeyboardInterrupt, SystemExit])
def test_base_exceptions_of_eq_propagate(exc):
    class Raises:
        def __eq__(self, other):
            raise exc()

        __hash__ = object.__hash__

    doc = rt("a: 1\n")
    with pytest.raises(exc):
        doc[Raises()]
    with pytest.raises(exc):
        doc.get(Raises(), None)


def test_exceptions_of_eq_and_bool_count_as_no_match():
    class Falsy:
        def __bool__(self):
            raise ValueError("no truth")

    class Raises:
        def __eq__(self, other):
            raise ValueError("no")

        __hash__ = object.__hash__

    class Odd:
        def __eq__(self, other):
            return Falsy()

        __hash__ = object.__hash__

    doc = rt("a: 1\n")
    for key in (Raises(), Odd()):
        with pytest.raises(KeyError):
            doc[key]
        assert doc.get(key, 7) == 7


@hooks
def test_internal_fault_in_eq_propagates():
    class Faulty:
        def __eq__(self, other):
            _ostrevane._error_for_test("fault", ("broken invariant: eq",))

        __hash__ = object.__hash__

    doc = rt("a: 1\n")
    for call in (lambda: doc[Faulty()], lambda: doc.get(Faulty(), 0),
                 lambda: rt("x: {a: 1}\n")["x"].get(Faulty(), 0)):
        with pytest.raises(BaseException) as info:
            call()
        assert type(info.value).__name__ == "PanicException"
        assert str(info.value) == "broken invariant: eq"


# ---------------------------------------------------------------------------
# Properties: item access, walk, keys and len agree with to_dict.

from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402
from value_strategies import prop_values  # noqa: E402


def read_path(doc, path):
    if not path:
        return doc.to_dict()
    node = doc
    for step in path:
        node = node[step]
    return plain(node)


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(value=prop_values, flow=st.booleans())
def test_item_access_walk_and_keys_agree_with_to_dict(value, flow):
    text = o.dumps(value, option=o.OPT_FLOW_STYLE if flow else 0)
    doc = loads(text, option=RT)
    expected = doc.to_dict()
    assert expected == value
    for path, leaf in doc.walk():
        assert read_path(doc, path) == leaf
    if isinstance(expected, dict):
        assert doc.keys() == list(expected)
        assert len(doc) == len(expected)
        for key, item in expected.items():
            assert plain(doc[key]) == item
            assert (key in doc) is isinstance(key, str)
    elif isinstance(expected, list):
        assert len(doc) == len(expected)
        for i, item in enumerate(expected):
            assert plain(doc[i]) == item


# ---------------------------------------------------------------------------
# Integer keys through __index__.

class Index:
    def __init__(self, value=None, exc=None):
        self.value, self.exc = value, exc

    def __index__(self):
        if self.exc is not None:
            raise self.exc
        return self.value


@pytest.mark.parametrize("text,key,expected", [
    ("[a, b]\n", Index(1), "b"),
    ("a: 1\n--- 2\n", Index(1), 2),
    ("[a, b]\n", Index(exc=ValueError("no")), TypeError("mapping keys must be str or int")),
    ("a: 1\n--- 2\n", Index(exc=ValueError("no")),
     KeyError("multi-document access requires an integer index")),
    ("[a, b]\n", Index(-1), TypeError("mapping keys must be str or int")),
])
def test_index_keys(text, key, expected):
    doc = rt(text)
    if isinstance(expected, Exception):
        with pytest.raises(type(expected)) as info:
            doc[key]
        assert info.value.args == expected.args
    else:
        assert doc[key] == expected


@pytest.mark.parametrize("text", ["[a, b]\n", "a: 1\n--- 2\n"])
def test_interrupt_in_index_propagates(text):
    doc = rt(text)
    with pytest.raises(KeyboardInterrupt):
        doc[Index(exc=KeyboardInterrupt())]
    with pytest.raises(KeyboardInterrupt):
        doc.get(Index(exc=KeyboardInterrupt()), None)
