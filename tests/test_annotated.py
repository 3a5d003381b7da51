"""OPT_ANNOTATED: containers and scalars that carry their source positions."""

import copy
import datetime
import pickle
import subprocess
import sys
import textwrap

import pytest

import ostrevane as o
from ostrevane import (
    OstrevaneAnnotatedDict,
    OstrevaneAnnotatedFloat,
    OstrevaneAnnotatedInt,
    OstrevaneAnnotatedList,
    OstrevaneAnnotatedStr,
)
from ostrevane.exceptions import OstrevaneComplexKeyError, OstrevaneParseError

ANN = o.OPT_ANNOTATED
NUM = o.OPT_ANNOTATE_NUMBERS

FIELDS = ("__line__", "__column__", "__file__", "__end_line__", "__end_column__",
          "__offset__", "__end_offset__", "__source_tag__", "__source_target__")


def annotation(obj):
    return tuple(getattr(obj, name) for name in FIELDS)


def position(obj):
    return (obj.__line__, obj.__column__, obj.__end_line__, obj.__end_column__,
            obj.__offset__, obj.__end_offset__)


class MyDict(OstrevaneAnnotatedDict):
    pass


class MyList(OstrevaneAnnotatedList):
    pass


class MyStr(OstrevaneAnnotatedStr):
    pass


# ---------------------------------------------------------------------------
# What the conversion makes.

def test_the_example_document():
    d = o.loads("a: [1, x]\n", option=ANN)
    assert type(d) is OstrevaneAnnotatedDict
    assert (d.__line__, d.__column__, d.__file__) == (1, 1, None)
    (key,) = d
    assert type(key) is OstrevaneAnnotatedStr and key == "a"
    items = d["a"]
    assert type(items) is OstrevaneAnnotatedList
    assert type(items[0]) is int and items[0] == 1
    assert type(items[1]) is OstrevaneAnnotatedStr and items[1] == "x"
    numbered = o.loads("a: [1, x]\n", option=ANN | NUM)
    assert type(numbered["a"][0]) is OstrevaneAnnotatedInt


TEXT = "top:\n  list:\n    - one\n    - 'two'\n  n: 12\nend: |\n  text\n"


def test_positions_of_containers_keys_and_scalars():
    d = o.loads(TEXT, option=ANN)
    top = d["top"]
    assert position(d) == (1, 1, 8, 1, 0, len(TEXT))
    assert position(top) == (2, 3, 5, 8, 7, 42)
    keys = list(top)
    assert position(keys[0]) == (2, 3, 2, 7, 7, 11)
    assert position(top["list"]) == (3, 5, 4, 12, 17, 34)
    assert position(top["list"][1]) == (4, 7, 4, 12, 29, 34)
    assert top["list"][1].__style__ == "single"
    assert d["end"].__style__ == "literal"


def test_offsets_slice_the_source():
    raw = TEXT.encode()
    d = o.loads(TEXT, option=ANN)
    assert raw[d["top"]["list"][1].__offset__:d["top"]["list"][1].__end_offset__] == b"'two'"
    assert raw[d["top"]["list"].__offset__:d["top"]["list"].__end_offset__] == \
        b"- one\n    - 'two'"


@pytest.mark.parametrize("text, style", [
    ("x", "plain"), ("'x'", "single"), ('"x"', "double"), ("|\n x\n", "literal"),
    (">\n x\n", "folded"),
])
def test_scalar_styles(text, style):
    assert o.loads("k: " + text, option=ANN)["k"].__style__ == style


def test_plain_values_stay_plain():
    d = o.loads(f"a: true\nb: ~\nc: {2**70}\nd: 1.5\ne: 7\n", option=ANN)
    assert [type(v) for v in d.values()] == [bool, type(None), int, float, int]
    numbered = o.loads(f"c: {2**70}\nd: 1.5\ne: 7\n", option=ANN | NUM)
    assert type(numbered["c"]) is int
    assert type(numbered["d"]) is OstrevaneAnnotatedFloat and numbered["d"] == 1.5
    assert type(numbered["e"]) is OstrevaneAnnotatedInt and numbered["e"] == 7
    assert numbered["e"].__column__ == 4


def test_annotated_scalars_are_their_plain_values():
    d = o.loads("a: x\nb: 3\nc: 2.5\n", option=ANN | NUM)
    assert isinstance(d["a"], str) and d["a"] == "x" and hash(d["a"]) == hash("x")
    assert isinstance(d["b"], int) and d["b"] + 1 == 4
    assert isinstance(d["c"], float) and d["c"] * 2 == 5.0
    assert {"x": 1}[d["a"]] == 1


def test_timestamps_under_pyyaml_compat():
    assert o.loads("d: 2001-12-14\n", option=ANN | o.OPT_PYYAML_COMPAT)["d"] == \
        datetime.date(2001, 12, 14)
    plain = o.loads("d: 2001-12-14\n", option=ANN | o.OPT_TIMESTAMPS)["d"]
    assert type(plain) is OstrevaneAnnotatedStr


def test_aliases_share_objects():
    d = o.loads("base: &b {x: 1}\nuse: *b\ns: &s text\nt: *s\n", option=ANN)
    assert d["use"] is d["base"]
    assert position(d["use"]) == position(d["base"])
    assert d["t"] is d["s"]


@pytest.mark.parametrize("text, expected", [
    ("b: &b {x: 1}\nm: {<<: *b, y: 2}\n", {"x": 1, "y": 2}),
    ("b: &b {x: 1}\nm: {x: 5, <<: *b}\n", {"x": 5}),
    ("b: &b {x: 1}\nm: {<<: *b, x: 5}\n", {"x": 5}),
    ("b: &b {x: 1}\nc: &c {x: 2, z: 3}\nm: {<<: [*b, *c]}\n", {"x": 1, "z": 3}),
    ("m: {<<: 5}\n", {"<<": 5}),
    ("m: {<<: [5, {a: 1}, 6]}\n", {"<<": [5, 6], "a": 1}),
])
def test_merges(text, expected):
    m = o.loads(text, option=ANN)["m"]
    assert m == expected
    assert type(m) is OstrevaneAnnotatedDict
    for key in m:
        assert type(key) is OstrevaneAnnotatedStr


# Texts, and where each complex key holds the alias they share.
ALIAS_BUILT_KEYS = [
    ("b: &b [x, y]\n? [*b, 1]\n: one\n? [*b, 2]\n: two\n", lambda k: k[0]),
    ("m: &m {k: [1, 2]}\n? {a: *m}\n: v\n? {a: *m, b: 1}\n: w\nuse: [*m, *m]\n",
     lambda k: k[0][1]),
    ("b: &b [x]\nn: &n [*b, *b]\n? [*n, *b]\n: v\n? [*n]\n: w\n", lambda k: k[0]),
]


@pytest.mark.parametrize("text,part", ALIAS_BUILT_KEYS)
def test_alias_built_keys_are_converted_once_per_load(text, part):
    d = o.loads(text, option=ANN)
    assert d == o.loads(text)
    # Every key converts the definitions it repeats once for the whole load:
    # the keys share those parts.
    parts = [part(k) for k in d if isinstance(k, tuple)]
    assert len(parts) == 2 and parts[0] is parts[1]


def laughs(levels=9):
    lines = ["l0: &l0 [lol, lol, lol, lol, lol, lol, lol, lol, lol, lol]"]
    lines += [f"l{i}: &l{i} [" + ", ".join([f"*l{i - 1}"] * 10) + "]" for i in range(1, levels)]
    return "\n".join(lines) + "\n"


@pytest.mark.parametrize("option", [0, ANN], ids=["plain", "annotated"])
def test_alias_bombs_are_still_refused(option):
    with pytest.raises(OstrevaneParseError) as info:
        o.loads(laughs() + "? [*l8, 1]\n: v\n", option=option)
    assert str(info.value).startswith("document expands to too many nodes (possible alias bomb)")


def test_collection_keys_are_plain_tuples():
    d = o.loads("? [1, 2]\n: a\n? {k: v}\n: b\n", option=ANN)
    assert list(d) == [(1, 2), (("k", "v"),)]
    assert type(list(d)[1][0][0]) is str


def test_custom_tags_reach_the_callbacks():
    seen = []

    def handler(value):
        seen.append(value)
        return ("wrapped", dict(value))

    d = o.loads("a: &x !thing {k: 1}\nb: *x\n", option=ANN, tags={"!thing": handler})
    assert type(seen[0]) is OstrevaneAnnotatedDict and seen[0].__source_tag__ == "!thing"
    assert d["a"] == ("wrapped", {"k": 1})
    assert d["b"] is d["a"]


def test_custom_tag_without_callback_is_the_source_tag():
    d = o.loads("a: !thing {k: 1}\ns: !other text\n", option=ANN)
    assert d["a"].__source_tag__ == "!thing"
    assert (d["a"].is_secret, d["a"].is_env_var, d["a"].is_include) == (False, False, False)
    assert d["s"].__source_tag__ == "!other"
    assert o.loads("a: !!str 1\n", option=ANN)["a"].__source_tag__ is None


def test_empty_text_gives_none():
    assert o.loads("", option=ANN) is None
    assert o.loads_all("", option=ANN) == []


# ---------------------------------------------------------------------------
# Files and directives.

def test_file_names_with_includes(tmp_path):
    (tmp_path / "inc.yaml").write_text("x: [1]\n")
    d = o.loads("a: !include inc.yaml\nb: {}\n", option=ANN | o.OPT_INCLUDES,
                include_dir=str(tmp_path))
    assert d.__file__ == str(tmp_path / "<root>")
    assert d["b"].__file__ == d.__file__
    inc = d["a"]
    assert inc.__file__ == str(tmp_path / "inc.yaml")
    assert inc["x"].__file__ == inc.__file__
    assert (inc.__source_tag__, inc.__source_target__) == ("!include", "inc.yaml")
    assert (inc.is_include, inc.is_secret, inc.is_env_var) == (True, False, False)
    assert inc["x"].__source_tag__ is None
    assert list(inc)[0].__file__ == str(tmp_path / "inc.yaml")


def test_root_path_names_file_zero():
    d = o.loads("a: 1\n", option=ANN, root_path="conf/main.yaml")
    assert d.__file__ == "conf/main.yaml"
    assert list(d)[0].__file__ == "conf/main.yaml"


def test_env_var_scalars(monkeypatch):
    monkeypatch.setenv("OSV_TEST_VALUE", "hello")
    d = o.loads("a: !env_var OSV_TEST_VALUE\n", option=ANN | o.OPT_ENV_VAR)
    assert d["a"] == "hello" and type(d["a"]) is OstrevaneAnnotatedStr
    assert (d["a"].__source_tag__, d["a"].__source_target__) == ("!env_var", "OSV_TEST_VALUE")
    assert (d["a"].is_env_var, d["a"].is_include) == (True, False)


def test_errors_of_the_checking_decode(tmp_path):
    with pytest.raises(OstrevaneParseError) as info:
        o.loads("a: [1\n", option=ANN)
    assert (info.value.line, info.value.column) == (2, 1)
    (tmp_path / "inc.yaml").write_text("? [1]\n: x\n")
    with pytest.raises(OstrevaneComplexKeyError) as info:
        o.loads("a: !include inc.yaml\n", option=ANN | o.OPT_INCLUDES | o.OPT_REJECT_COMPLEX_KEYS,
                include_dir=str(tmp_path))
    assert info.value.file == str(tmp_path / "inc.yaml")


# ---------------------------------------------------------------------------
# loads_all.

def test_loads_all_annotated_road():
    docs = o.loads_all("a: &x [1]\nb: *x\n---\n---\n- q\n", option=ANN)
    assert len(docs) == 3
    assert docs[0]["a"] is docs[0]["b"]
    assert docs[1] is None
    assert docs[2] == ["q"] and docs[2].__line__ == 5
    assert all(d.__file__ is None for d in (docs[0], docs[2]))


def test_loads_all_anchors_stay_in_their_document():
    with pytest.raises(OstrevaneParseError):
        o.loads_all("a: &x 1\n---\nb: *x\n", option=ANN)


# ---------------------------------------------------------------------------
# The container classes.

def test_constructors():
    d = OstrevaneAnnotatedDict()
    assert d == {} and (d.__line__, d.__file__, d.is_include) == (0, None, False)
    d = OstrevaneAnnotatedDict({"a": 1}, b=2)
    assert d == {"a": 1, "b": 2} and annotation(d) == (0, 0, None, 0, 0, 0, 0, None, None)
    assert OstrevaneAnnotatedList([1, 2]) == [1, 2]
    assert OstrevaneAnnotatedDict.__module__ == "ostrevane"
    assert OstrevaneAnnotatedList.__module__ == "ostrevane"
    assert OstrevaneAnnotatedDict.__text_signature__ == "(*_args, **_kwargs)"


def test_setstate():
    d = OstrevaneAnnotatedDict()
    assert d.__setstate__((1, 2, None, 3, 4, None, None, 5, 6)) is None
    assert annotation(d) == (1, 2, None, 3, 4, 5, 6, None, None)
    d.__setstate__((1, 2, "f", 3, 4, "!include", "x.yaml", 5, 6))
    assert (d.__file__, d.__source_tag__, d.__source_target__, d.is_include) == \
        ("f", "!include", "x.yaml", True)


@pytest.mark.parametrize("state, error, message", [
    ((1, 2, None, 3, 4, None, None, 5), ValueError,
     "expected tuple of length 9, but got tuple of length 8"),
    ([1, 2, None, 3, 4, None, None, 5, 6], TypeError,
     "'list' object is not an instance of 'tuple'"),
    ((-1, 2, None, 3, 4, None, None, 5, 6), OverflowError, None),
    ((2**32, 2, None, 3, 4, None, None, 5, 6), OverflowError,
     "out of range integral type conversion attempted"),
    ((1, 2, 3, 3, 4, None, None, 5, 6), TypeError, "'int' object is not an instance of 'str'"),
    ((1, "2", None, 3, 4, None, None, 5, 6), TypeError,
     "'str' object is not an instance of 'int'"),
])
def test_setstate_errors_leave_the_annotation(state, error, message):
    lst = OstrevaneAnnotatedList()
    lst.__setstate__((7, 7, "f", 7, 7, None, None, 7, 7))
    with pytest.raises(error) as info:
        lst.__setstate__(state)
    if message is not None:
        assert str(info.value) == message
    assert info.value.__notes__ == ["while processing 'state'"]
    assert annotation(lst) == (7, 7, "f", 7, 7, 7, 7, None, None)


def test_reduce_shapes():
    d = o.loads("a: 1\n", option=ANN)
    cls, args, state, items, pairs = d.__reduce__()
    assert (cls, args, items) == (OstrevaneAnnotatedDict, (), None)
    assert state == (1, 1, None, 1, 5, None, None, 0, 4)
    assert list(pairs) == [("a", 1)]
    lst = o.loads("- 1\n", option=ANN)
    cls, args, state, items, pairs = lst.__reduce__()
    assert (cls, args, pairs) == (OstrevaneAnnotatedList, (), None)
    assert list(items) == [1]


COPIES = {
    "pickle": lambda v: pickle.loads(pickle.dumps(v)),
    "copy": copy.copy,
    "deepcopy": copy.deepcopy,
}


@pytest.mark.parametrize("how", sorted(COPIES))
def test_copies_keep_class_contents_and_annotation(how, tmp_path):
    (tmp_path / "inc.yaml").write_text("- x\n")
    d = o.loads("a: {b: 1.5}\nl: !include inc.yaml\n", option=ANN | NUM | o.OPT_INCLUDES,
                include_dir=str(tmp_path))
    c = COPIES[how](d)
    assert type(c) is OstrevaneAnnotatedDict and c == d
    assert annotation(c) == annotation(d)
    assert type(c["l"]) is OstrevaneAnnotatedList and annotation(c["l"]) == annotation(d["l"])
    assert (c["l"] is d["l"]) == (how == "copy")
    scalar = c["l"][0]
    assert type(scalar) is OstrevaneAnnotatedStr
    assert annotation(scalar) == annotation(d["l"][0])
    assert scalar.__style__ == "plain"
    number = c["a"]["b"]
    assert type(number) is OstrevaneAnnotatedFloat and annotation(number) == annotation(d["a"]["b"])


@pytest.mark.parametrize("how", sorted(COPIES))
def test_scalar_copies(how):
    d = o.loads("a: 'x'\nb: 7\n", option=ANN | NUM)
    for value in d.values():
        c = COPIES[how](value)
        assert type(c) is type(value) and c == value
        assert annotation(c) == annotation(value) and c.__style__ == value.__style__


@pytest.mark.parametrize("how", sorted(COPIES))
def test_python_subclasses_copy_as_themselves(how):
    d = MyDict({"a": 1})
    d.__setstate__((1, 2, "f", 3, 4, None, None, 5, 6))
    c = COPIES[how](d)
    assert type(c) is MyDict and c == {"a": 1} and annotation(c) == annotation(d)
    lst = MyList([1])
    assert type(COPIES[how](lst)) is MyList
    s = MyStr("v", 1, 2, None, 3, 4, "double", None, None, 5, 6)
    s.extra = "kept"
    cs = COPIES[how](s)
    assert type(cs) is MyStr and cs == "v" and cs.extra == "kept"
    assert annotation(cs) == annotation(s) and cs.__style__ == "double"


def test_scalar_classes_come_from_the_package():
    s = OstrevaneAnnotatedStr("v", 1, 2, "f", 3, 4, "plain", "!secret", "key", 5, 6)
    assert (s.is_secret, s.is_env_var, s.is_include) == (True, False, False)
    assert OstrevaneAnnotatedStr.__module__ == "ostrevane"
    assert isinstance(OstrevaneAnnotatedInt(3, 1, 1, None, 1, 2, "plain", None, None, 0, 1), int)


def test_annotated_containers_are_ordinary_containers():
    d = o.loads("a: [1]\n", option=ANN)
    d["b"] = 2
    d["a"].append(3)
    assert d == {"a": [1, 3], "b": 2}
    assert d.__end_line__ == 1
    with pytest.raises(TypeError):
        hash(d)
    with pytest.raises(AttributeError):
        d.__line__ = 5


def test_schema_checks_the_annotated_document():
    assert o.loads("a: 1\n", option=ANN, schema={"type": "object"}) == {"a": 1}
    with pytest.raises(o.exceptions.OstrevaneSchemaError) as info:
        o.loads("a: 1\n", option=ANN, schema={"type": "array"})
    assert (info.value.line, info.value.column) == (1, 1)


# ---------------------------------------------------------------------------
# Freeing deep nests.

DEEP_FREES = {
    "dict_chain": """
        a = o.loads("{}", option=o.OPT_ANNOTATED)
        for i in range(100_000):
            b = o.loads("{}", option=o.OPT_ANNOTATED)
            b["k"] = a
            a = b
        del a, b
    """,
    "list_chain": """
        a = o.OstrevaneAnnotatedList()
        for i in range(1_000_000):
            b = o.OstrevaneAnnotatedList()
            b.append(a)
            a = b
        del a, b
    """,
    "python_subclass_chain": """
        class Sub(o.OstrevaneAnnotatedDict):
            pass
        a = Sub()
        for i in range(100_000):
            b = Sub(k=a)
            a = b
        del a, b
    """,
    "deep_text_freed_on_a_small_stack": """
        import threading
        text = "[" * 950 + "{k: v}" + "]" * 950 + "\\n"
        values = [o.loads(text, option=o.OPT_ANNOTATED),
                  o.loads(text.replace("[", "{a: ").replace("]", "}"), option=o.OPT_ANNOTATED)]
        threading.stack_size(64 * 1024)
        def free():
            values.clear()
        worker = threading.Thread(target=free)
        worker.start()
        worker.join()
        assert values == []
    """,
}


@pytest.mark.parametrize("script", DEEP_FREES.values(), ids=DEEP_FREES.keys())
def test_deep_nests_are_freed_without_recursion(script):
    # These used to end the interpreter with SIGSEGV: each level of the
    # annotated classes' deallocator called the next one.
    program = "import ostrevane as o\n" + textwrap.dedent(script) + "print('freed')\n"
    done = subprocess.run([sys.executable, "-c", program], capture_output=True, text=True,
                          timeout=300)
    assert (done.returncode, done.stdout, done.stderr) == (0, "freed\n", "")


# ---------------------------------------------------------------------------
# Deep nests on small thread stacks.

# Each operation takes one annotated value and a separately loaded equal
# twin; the interpreter recurses through the annotated classes' methods at
# every level of the nest for all but the last four.
DEEP_OPERATIONS = {
    "pickle": "pickle.dumps(value)",
    "pickle_protocol_0": "pickle.dumps(value, protocol=0)",
    "deepcopy": "copy.deepcopy(value)",
    "repr": "repr(value)",
    "str": "str(value)",
    "equal": "value == twin",
    "not_equal": "value != twin",
    "order": "[value] < [twin]",
    "count": "[value].count(twin)",
    "copy": "copy.copy(value)",
    "dumps": "o.dumps(value)",
    "to_json": "o.to_json(value)",
    "free": "None",  # the value dies in the thread when the operation returns
}
RECURSIVE = frozenset(DEEP_OPERATIONS) - {"copy", "dumps", "to_json", "free"}

DEEP_OPERATION_SCRIPT = """
import copy, pickle, sys, threading
import ostrevane as o

operation = compile(sys.argv[1], "operation", "eval")
for depth in (20, 999):
    texts = {"sequences": "[" * depth + "]" * depth,
             "mappings": "{a: " * depth + "1" + "}" * depth}
    for size in (128 * 1024, 256 * 1024):
        for name, text in texts.items():
            outcome = []
            def run():
                value = o.loads(text, option=o.OPT_ANNOTATED)
                twin = o.loads(text, option=o.OPT_ANNOTATED)
                try:
                    eval(operation, {"o": o, "copy": copy, "pickle": pickle},
                         {"value": value, "twin": twin})
                    outcome.append("ok")
                except RecursionError as error:
                    assert str(error).startswith("maximum recursion depth exceeded"), error
                    outcome.append("RecursionError")
            threading.stack_size(size)
            worker = threading.Thread(target=run)
            worker.start()
            worker.join()
            print(depth, size // 1024, name, *outcome)
"""


@pytest.mark.parametrize("operation", DEEP_OPERATIONS)
def test_deep_nests_on_small_thread_stacks(operation):
    # pickle and deepcopy used to end the interpreter with SIGSEGV (repr too,
    # on 128 KiB): __reduce__ let the interpreter recurse until the thread's
    # stack ran out, since its own guard counts levels, not bytes.
    done = subprocess.run([sys.executable, "-c", DEEP_OPERATION_SCRIPT,
                           DEEP_OPERATIONS[operation]],
                          capture_output=True, text=True, timeout=300)
    deep = "RecursionError" if operation in RECURSIVE else "ok"
    expected = "".join(f"{depth} {size} {name} {outcome}\n"
                       for depth, outcome in ((20, "ok"), (999, deep))
                       for size in (128, 256) for name in ("sequences", "mappings"))
    assert (done.returncode, done.stdout, done.stderr) == (0, expected, "")


SMALL_STACK_REFUSALS = """
import copy, pickle, threading
import ostrevane as o
text = "[" * 999 + "]" * 999
def run():
    value = o.loads(text, option=o.OPT_ANNOTATED)
    twin = o.loads(text, option=o.OPT_ANNOTATED)
    for operation in (pickle.dumps, copy.deepcopy, repr, lambda v: v == twin):
        try:
            operation(value)
        except RecursionError as error:
            print(error)
threading.stack_size(128 * 1024)
worker = threading.Thread(target=run)
worker.start()
worker.join()
"""


def test_a_small_stack_refuses_before_the_interpreter_counts_out():
    # On 128 KiB the stack runs short long before the interpreter's count of
    # levels does, so the annotated classes' own check is what refuses.
    done = subprocess.run([sys.executable, "-c", SMALL_STACK_REFUSALS], capture_output=True,
                          text=True, timeout=300)
    assert (done.returncode, done.stderr) == (0, "")
    assert done.stdout.splitlines() == [
        "maximum recursion depth exceeded while pickling or copying an object",
        "maximum recursion depth exceeded while pickling or copying an object",
        "maximum recursion depth exceeded while getting the repr of an object",
        "maximum recursion depth exceeded in comparison",
    ]
