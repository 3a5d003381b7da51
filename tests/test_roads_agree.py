"""Every road of loads and loads_all reads a text as the plain road does.

Generated texts with anchors, aliases, merge keys, tags and %TAG handles
(on keys too) go through the plain road and through every road that composes
node trees (annotated, round-trip, the directive roads with an empty include
directory): the values, the tag names the callbacks see and the errors (type
and message) must be the plain road's. Sizes stay moderate: the alias
budgets have their own tests."""

import math
import os

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ostrevane as o
from ostrevane.exceptions import OstrevaneSchemaError

EXAMPLES = int(os.environ.get("OSTREVANE_ROAD_EXAMPLES", "150"))

# --------------------------------------------------------------------------
# Texts.

HANDLES = {
    "!e!": "tag:example.com,2000:",
    "!y!": "tag:yaml.org,2002:",
}
OPTIONAL_HANDLES = {
    "!": "tag:local.test,2024:",
    "!!": "tag:other.test,2024:",
}
SCALAR_TAGS = ["!e!a", "!e!b", "!y!str", "!y!int", "!y!bool", "!y!null", "!y!float", "!!str",
               "!!int", "!local", "!", "!<tag:v.test,2000:x>", "!<!w>", "!<tag:yaml.org,2002:str>"]
COLLECTION_TAGS = ["!e!m", "!y!map", "!y!seq", "!!map", "!local", "!<tag:v.test,2000:c>"]
MAP_TAGS = ["!e!m", "!y!map", "!local", "!<tag:v.test,2000:c>"]
WORDS = ["x", "y", "abc", "1", "-2", "0x1f", "1.5", ".inf", "true", "null", "~", "<<", "12",
         '"12"', "'true'", '"x y"', "''"]
# Keys equal in Python though of different YAML types (1, true, 1.0) are
# one key to a merge on every road.
# Faults every road must refuse alike: an undeclared handle, an unknown
# alias, two anchors, an alias with a tag, a tag that cannot read its text.
FAULTS = ["!z!q x", "*nope", "&p &q x", "!e!a *nope", "!y!int abc", "!y!bool 12"]
KEYS = ["a", "b", "c", "1", "null", '"a"', "'1'", "0x10", "true", "1.0", "0", "false"]
# Key texts that the loaded dict takes for one key.
SAME_KEY = {"true": "1", "1.0": "1", "false": "0"}


@st.composite
def documents(draw, handles):
    """One document's content: a block mapping, a block sequence or a flow
    node, built in text order so that every alias names an anchor already
    complete (or, now and then, redefined).

    Where the roads read differently by design, the texts stay away:
    - Keys that are collections (or aliases of one) become tuples on the
      node-tree roads without tag callbacks, where the plain road calls them
      on what is inside: such keys carry no tags and no aliases.
    - An alias of an anchored plain "<<" used as a key merges on the plain
      road only: "<<" is never anchored."""
    anchors = {}  # name: (mergeable, collection, custom tag) of its latest definition
    faulty = draw(st.integers(0, 4)) == 0
    counter = [0]
    in_collection_key = [False]

    def custom(tag):
        if tag is None or tag.startswith("!y!"):
            return False
        return not (tag.startswith("!!") and "!!" not in handles)

    def properties(tags):
        """Anchor and tag text before a node, the anchor and the tag."""
        out, tag = "", None
        if tags and not in_collection_key[0] and draw(st.integers(0, 3)) == 0:
            tag = draw(st.sampled_from(tags))
            out += tag + " "
        anchor = None
        if draw(st.integers(0, 3)) == 0:
            if anchors and draw(st.integers(0, 5)) == 0:
                anchor = draw(st.sampled_from(sorted(anchors)))  # redefined
            else:
                anchor = f"a{counter[0]}"
                counter[0] += 1
            out = f"&{anchor} " + out
        return out, anchor, tag

    def alias(for_key=False, plain_key=False):
        names = [name for name, (_, collection, tagged) in anchors.items()
                 if not (for_key and collection) and not (plain_key and tagged)]
        if names and not in_collection_key[0] and draw(st.integers(0, 4)) == 0:
            return "*" + draw(st.sampled_from(names))
        return None

    def scalar(tags=SCALAR_TAGS, words=WORDS, for_key=False, merging=False):
        """Text of a scalar or an alias, and whether it carries a custom tag."""
        if faulty and draw(st.integers(0, 15)) == 0:
            return draw(st.sampled_from(FAULTS)), False
        plain_key = for_key and not any(custom(t) for t in tags)
        found = None if merging else alias(for_key, plain_key)
        if found:
            return found, anchors[found[1:]][2]
        props, anchor, tag = properties(tags)
        if in_collection_key[0] or anchor:
            # "? <<" would make a merge key of whatever value follows; an
            # alias of an anchored "<<" is a merge key on the plain road
            # only.
            words = [w for w in words if w != "<<"]
        text = props + draw(st.sampled_from(words))
        if anchor:
            anchors[anchor] = (False, False, custom(tag))
        return text, custom(tag)

    def flow(depth):
        kind = draw(st.integers(0, 4 if depth < 3 else 0))
        if kind <= 2:
            return scalar()[0]
        found = alias()
        if found:
            return found
        props, anchor, tag = properties(COLLECTION_TAGS)
        if kind == 3:
            items = [flow(depth + 1) for _ in range(draw(st.integers(0, 3)))]
            text = props + "[" + ", ".join(items) + "]"
        else:
            pairs = []
            merge = merge_value() if draw(st.integers(0, 2)) == 0 else None
            if merge:
                pairs.append("<<: " + merge)
            used = set()
            for _ in range(draw(st.integers(0, 3))):
                text, _ = key(depth, merging=merge is not None)
                if merge and not fresh_key(text, used):
                    continue
                pairs.append(text + ": " + flow(depth + 1))
            text = props + "{" + ", ".join(pairs) + "}"
        if anchor:
            anchors[anchor] = (kind == 4, True, custom(tag))
        return text

    def key(depth, merging):
        """Text of a mapping key and whether it carries a custom tag."""
        if draw(st.integers(0, 9)) == 0 and depth < 2:
            outer, in_collection_key[0] = in_collection_key[0], True
            text, tagged = "? " + flow(depth + 1), False
            in_collection_key[0] = outer
        else:
            text, tagged = scalar(SCALAR_TAGS, KEYS, for_key=True, merging=merging)
        # An alias name runs on through ':'.
        return (text + " " if text.split()[-1].startswith("*") else text), tagged

    def fresh_key(text, used):
        """Whether a key of a merging mapping is new to it: merging, the
        plain road drops a repeated key's earlier value before the callbacks
        run, where the node-tree roads convert it and then replace it. (So
        merging mappings have no alias keys either.)"""
        name = text.split()[-1].strip("'\"")
        name = SAME_KEY.get(name, name)
        if name in used:
            return False
        used.add(name)
        return True

    def merge_source():
        """An alias of an anchored mapping, or a mapping written in place,
        tagged now and then: the callbacks decide whether a tagged one still
        is a mapping to merge."""
        maps = [name for name, (mergeable, _, _) in anchors.items() if mergeable]
        if maps and draw(st.booleans()):
            return "*" + draw(st.sampled_from(maps))
        tag = None if in_collection_key[0] else draw(st.sampled_from([None] + MAP_TAGS))
        keys = draw(st.lists(st.sampled_from(KEYS), max_size=2, unique=True))
        pairs = ", ".join(f"{k}: {draw(st.sampled_from(WORDS))}" for k in keys)
        return (tag + " " if tag else "") + "{" + pairs + "}"

    def merge_value():
        chosen = [merge_source() for _ in range(draw(st.integers(1, 2)))]
        if len(chosen) == 1 and draw(st.booleans()):
            return chosen[0]
        return "[" + ", ".join(chosen) + "]"

    shape = draw(st.sampled_from(["mapping", "sequence", "flow"]))
    if shape == "flow":
        return flow(0) + "\n"
    lines = []
    merging = shape == "mapping" and draw(st.integers(0, 2)) == 0
    used = set()
    for _ in range(draw(st.integers(1, 5))):
        if shape == "mapping":
            merge = merge_value() if merging and draw(st.booleans()) else None
            if merge:
                lines.append("<<: " + merge)
                continue
            text = key(2, merging)[0]
            if merging and not fresh_key(text, used):
                continue
            lines.append(text + ": " + flow(1))
        else:
            lines.append("- " + flow(1))
    return "\n".join(lines) + "\n"


@st.composite
def texts(draw):
    """One or two documents, each with its own %TAG directives."""
    parts = []
    for number in range(draw(st.integers(1, 2))):
        handles = dict(HANDLES)
        for handle, prefix in OPTIONAL_HANDLES.items():
            if draw(st.booleans()):
                handles[handle] = prefix
        if number == 1 and draw(st.booleans()):
            handles["!e!"] = "tag:second.test,2024:"
        directives = "".join(f"%TAG {h} {p}\n" for h, p in handles.items())
        parts.append(directives + "---\n" + draw(documents(handles)))
    return "...\n".join(parts)


# --------------------------------------------------------------------------
# Roads.

def plain_tree(value):
    """A value in plain terms: the type that decides equality spelled out
    (True is not 1, '5' is not 5), annotated subclasses as their bases,
    dicts in order, OstrevaneTag as its tag and value."""
    if value is None:
        return None
    if isinstance(value, bool):
        return ("bool", value)
    if isinstance(value, int):
        return ("int", int(value))
    if isinstance(value, float):
        return ("float", "nan" if math.isnan(value) else float(value))
    if isinstance(value, str):
        return ("str", str(value))
    if isinstance(value, o.OstrevaneTag):
        return ("tag", value.tag, plain_tree(value.value))
    if isinstance(value, dict):
        # Keys equal in plain terms are one key: an OstrevaneTag hashes by
        # identity, and an alias gives the node-tree roads the very object
        # of its anchor where the plain road has a copy.
        pairs = {}
        for k, v in value.items():
            pairs[repr(plain_tree(k))] = (plain_tree(k), plain_tree(v))
        return ("dict", list(pairs.values()))
    if isinstance(value, list):
        return ("list", [plain_tree(v) for v in value])
    if isinstance(value, tuple):
        return ("tuple", [plain_tree(v) for v in value])
    return (type(value).__name__, repr(value))


def outcome(call):
    try:
        return ("value", plain_tree(call()))
    except Exception as error:  # noqa: BLE001 - the type is compared
        return ("error", type(error).__name__, str(error))


@pytest.fixture(scope="module")
def empty_dir(tmp_path_factory):
    return str(tmp_path_factory.mktemp("include_root"))


# Road name: (function, option, whether it takes include_dir).
CALLBACK_ROADS = {
    "annotated": (o.loads, o.OPT_ANNOTATED, False),
    "env_var": (o.loads, o.OPT_ENV_VAR, False),
    "includes": (o.loads, o.OPT_INCLUDES, True),
    "secrets": (o.loads, o.OPT_SECRETS, True),
}
ALL_ROADS = {
    "annotated": (o.loads_all, o.OPT_ANNOTATED),
}


def recording_handler(seen):
    def handler(name, value):
        seen.add(name)
        return ("handled", name, value if not isinstance(value, (dict, list)) else len(value))
    return handler


def tags_table():
    """A `tags` entry for some of the generated names: those must win over
    the handler on every road."""
    return {
        "tag:example.com,2000:a": lambda value: ("A", value),
        "tag:yaml.org,2002:x": lambda value: ("never", value),
        "!local": lambda value: ("L", value if isinstance(value, str) else None),
        "tag:v.test,2000:x": lambda value: ("V", value),
    }


def same_value(name, value):
    return value


def plain_dict(name, value):
    return dict(value) if isinstance(value, dict) else value


def with_callbacks(load, kwargs_of):
    """The outcomes of one road under each callback setting, and the tag
    names its handler saw."""
    out = {}
    for setting in ("none", "passthrough", "handler", "tags", "same", "dict"):
        seen = set()
        kwargs = kwargs_of(setting, seen)
        out[setting] = outcome(lambda: load(**kwargs))
        if setting == "handler":
            out["seen"] = sorted(seen)
    return out


def callback_kwargs(option):
    def make(setting, seen):
        if setting == "passthrough":
            return {"option": option | o.OPT_PASSTHROUGH_TAG}
        if setting == "handler":
            return {"option": option, "tag_handler": recording_handler(seen)}
        if setting == "tags":
            return {"option": option, "tags": tags_table(),
                    "tag_handler": recording_handler(set())}
        # Handlers that leave a mapping a mapping: a tagged merge source
        # still merges.
        if setting == "same":
            return {"option": option, "tag_handler": same_value}
        if setting == "dict":
            return {"option": option, "tag_handler": plain_dict}
        return {"option": option}
    return make


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large,
                                 HealthCheck.function_scoped_fixture])
@given(text=texts())
def test_every_road_reads_as_the_plain_road(text, empty_dir):
    plain = with_callbacks(lambda **kw: o.loads(text, **kw), callback_kwargs(0))
    for road, (function, option, takes_dir) in CALLBACK_ROADS.items():
        extra = {"include_dir": empty_dir} if takes_dir else {}
        got = with_callbacks(lambda **kw: function(text, **extra, **kw), callback_kwargs(option))
        assert got == plain, (road, text)
    # A stream of several documents is one document of them all there.
    several = "...\n" in text
    expected = outcome(lambda: o.loads_all(text)) if several else plain["none"]
    round_trip = outcome(lambda: o.loads(text, option=o.OPT_ROUND_TRIP).to_dict())
    assert round_trip == expected, ("round_trip", text)


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(text=texts())
def test_every_road_of_loads_all_reads_as_the_plain_road(text):
    plain = with_callbacks(lambda **kw: o.loads_all(text, **kw), callback_kwargs(0))
    annotated = with_callbacks(lambda **kw: o.loads_all(text, **kw),
                               callback_kwargs(o.OPT_ANNOTATED))
    assert annotated == plain, ("annotated_all", text)

    def round_trip():
        return [doc.to_dict() for doc in o.loads_all(text, option=o.OPT_ROUND_TRIP)]
    assert outcome(round_trip) == plain["none"], ("round_trip_all", text)


# --------------------------------------------------------------------------
# Merge keys whose keys the loaded dict takes for one key: the explicit key
# wins on every road, whatever the merge brings under an equal key.

E_TAG = "%TAG !e! tag:example.com,2000:\n---\n"
MERGE_SHAPES = [
    # A custom-tagged explicit key is the untagged key once the tag is
    # dropped: the merged "a" used to overwrite it on the plain road.
    pytest.param(E_TAG + "!e!a a: &a0 {a: a}\n<<: [*a0]\n",
                 {"a": {"a": "a"}}, id="tagged-explicit-key"),
    pytest.param(E_TAG + "<<: {a: m, b: n}\n!e!a a: x\n",
                 {"a": "x", "b": "n"}, id="tagged-explicit-key-after-merge"),
    # 1, true and 1.0 are one dict key: a merged true used to overwrite an
    # explicit 1 on the plain road.
    pytest.param("1: &a0 {true: x}\n<<: [*a0]\n", {1: {True: "x"}}, id="int-then-merged-bool"),
    pytest.param("true: a\n<<: {1: b, 2: c}\n", {True: "a", 2: "c"}, id="bool-then-merged-int"),
    pytest.param("1.0: a\n<<: {1: b}\n", {1.0: "a"}, id="float-then-merged-int"),
    pytest.param("<<: {true: x}\n1: y\n", {True: "y"}, id="merged-bool-then-int"),
    pytest.param("0: a\n<<: [{false: b}, {0.0: c, -0.0: d}]\n", {0: "a"}, id="zeros"),
    pytest.param("1.5: a\n<<: {1: b}\n", {1.5: "a", 1: "b"}, id="distinct-numbers"),
    # Without callbacks a tagged mapping loads as a mapping, so it merges;
    # the plain road used to leave it under "<<".
    pytest.param("- &a !m {a: 1}\n- {<<: *a}\n", [{"a": 1}, {"a": 1}], id="tagged-source"),
    pytest.param("<<: !s [{a: 1}, !m {b: 2}, ~]\nc: 3\n", {"a": 1, "b": 2, "c": 3},
                 id="tagged-source-list"),
    # Null items of a merge list merge nothing; validation used to keep them
    # under "<<".
    pytest.param("<<: [{a: 1}, ~, null]\nc: 3\n", {"a": 1, "c": 3}, id="null-items"),
]


@pytest.mark.parametrize(("text", "expected"), MERGE_SHAPES)
def test_merges_keep_explicit_keys_on_every_road(text, expected, empty_dir):
    plain = with_callbacks(lambda **kw: o.loads(text, **kw), callback_kwargs(0))
    assert plain["none"] == ("value", plain_tree(expected))
    for road, (function, option, takes_dir) in CALLBACK_ROADS.items():
        extra = {"include_dir": empty_dir} if takes_dir else {}
        got = with_callbacks(lambda **kw: function(text, **extra, **kw), callback_kwargs(option))
        assert got == plain, road
    assert outcome(lambda: o.loads(text, option=o.OPT_ROUND_TRIP).to_dict()) == plain["none"]
    every = with_callbacks(lambda **kw: o.loads_all(text, **kw), callback_kwargs(0))
    assert every == with_callbacks(lambda **kw: o.loads_all(text, **kw),
                                   callback_kwargs(o.OPT_ANNOTATED))
    assert every["none"] == ("value", plain_tree([expected]))


# A tagged merge source merges on every road when its callback leaves it a
# mapping, and stays under "<<" when the callback makes it something else.
# (The plain road, schema= on it included, used to keep the first row's
# source under "<<", half of the second row's list as an ordinary key
# beside the merged second source, and the third row's alias under "<<".)
TAGGED_SOURCES = [
    "<<: !x {a: 1}\nb: 2\n",
    "b: {<<: [!x {a: 1}, {a: 2}]}\n",
    "a: &m !x {a: 1}\nb: {<<: *m, c: 1}\n",
]
CALLBACK_MERGES = [
    pytest.param(same_value, [{"a": 1, "b": 2}, {"b": {"a": 1}},
                              {"a": {"a": 1}, "b": {"a": 1, "c": 1}}], id="same"),
    pytest.param(plain_dict, [{"a": 1, "b": 2}, {"b": {"a": 1}},
                              {"a": {"a": 1}, "b": {"a": 1, "c": 1}}], id="dict"),
    pytest.param(lambda name, value: (name, value),
                 [{"<<": ("!x", {"a": 1}), "b": 2}, {"b": {"a": 2, "<<": [("!x", {"a": 1})]}},
                  {"a": ("!x", {"a": 1}), "b": {"<<": ("!x", {"a": 1}), "c": 1}}], id="tuple"),
]
# Every road that runs tag callbacks, given the text and the handler.
HANDLER_ROADS = {
    "plain": lambda t, h, d: o.loads(t, tag_handler=h),
    "plain_all": lambda t, h, d: o.loads_all(t, tag_handler=h)[0],
    "schema": lambda t, h, d: o.loads(t, tag_handler=h, schema={}),
    "annotated": lambda t, h, d: o.loads(t, option=o.OPT_ANNOTATED, tag_handler=h),
    "annotated_all": lambda t, h, d: o.loads_all(t, option=o.OPT_ANNOTATED, tag_handler=h)[0],
    "annotated_schema": lambda t, h, d: o.loads(t, option=o.OPT_ANNOTATED, tag_handler=h,
                                                schema={}),
    "env_var": lambda t, h, d: o.loads(t, option=o.OPT_ENV_VAR, tag_handler=h),
    "includes": lambda t, h, d: o.loads(t, option=o.OPT_INCLUDES, include_dir=d, tag_handler=h),
    "secrets": lambda t, h, d: o.loads(t, option=o.OPT_SECRETS, include_dir=d, tag_handler=h),
    "tags_dict": lambda t, h, d: o.loads(t, tags={"!x": lambda value: h("!x", value)}),
}


@pytest.mark.parametrize("road", HANDLER_ROADS)
@pytest.mark.parametrize(("handler", "expected"), CALLBACK_MERGES)
def test_a_tagged_merge_source_merges_when_its_callback_leaves_a_mapping(handler, expected, road,
                                                                        empty_dir):
    for text, value in zip(TAGGED_SOURCES, expected):
        got = HANDLER_ROADS[road](text, handler, empty_dir)
        assert plain_tree(got) == plain_tree(value), text
        # A round-trip document knows no callbacks: the tag is dropped and
        # the mapping merges.
        if handler is same_value:
            assert o.loads(text, option=o.OPT_ROUND_TRIP).to_dict() == value


@pytest.mark.parametrize("option", [0, o.OPT_ANNOTATED])
def test_a_deep_tagged_merge_source_merges(option):
    # Deep values are converted by a walk of their own on the plain road.
    depth = 200
    text = "[" * depth + "{<<: [!x {a: 1}, {b: 2}], c: 3}" + "]" * depth
    got = o.loads(text, option=option, tag_handler=same_value)
    for _ in range(depth):
        (got,) = got
    assert got == {"a": 1, "b": 2, "c": 3}


def string_keys_only(value):
    if isinstance(value, dict):
        return all(isinstance(k, str) and string_keys_only(v) for k, v in value.items())
    if isinstance(value, list):
        return all(string_keys_only(v) for v in value)
    return True


@pytest.mark.parametrize("option", [0, o.OPT_ANNOTATED, o.OPT_ROUND_TRIP, o.OPT_ENV_VAR])
@pytest.mark.parametrize(("text", "expected"),
                         [p for p in MERGE_SHAPES if string_keys_only(p.values[1])])
def test_schema_validates_merges_as_loaded(text, expected, option):
    loaded = o.loads(text, schema={"const": expected}, option=option)
    if option == o.OPT_ROUND_TRIP:
        loaded = loaded.to_dict()
    assert loaded == expected
    with pytest.raises(OstrevaneSchemaError):
        o.loads(text, schema={"not": {"const": expected}}, option=option)


# A block scalar is never the key of a mapping entry that no "?" opens:
# every road refuses it with the plain road's message and position. (It
# used to be read as the key of a ":" on a later line, which other readers
# refuse, and its comment came back out of order when written again.)
@pytest.mark.parametrize(("text", "line", "column"), [
    ("k: v\n> #\n: #5\n  2\n", 2, 1),
    ("k: v\n|\n: 1\n", 2, 1),
    ("k: v\n&x |\n  q\n: 2\n", 2, 4),
    ("a: 1\n|\n  x\n", 2, 1),
])
def test_a_block_scalar_is_refused_as_an_implicit_key_on_every_road(text, line, column,
                                                                   empty_dir):
    message = f"a block scalar cannot be a mapping key at line {line}, column {column}"
    calls = {
        "plain": lambda: o.loads(text),
        "loads_all": lambda: o.loads_all(text),
        "round_trip": lambda: o.loads(text, option=o.OPT_ROUND_TRIP),
        "schema": lambda: o.loads(text, schema={}),
        "round_trip_schema": lambda: o.loads(text, option=o.OPT_ROUND_TRIP, schema={}),
    }
    for road, (function, option, takes_dir) in CALLBACK_ROADS.items():
        extra = {"include_dir": empty_dir} if takes_dir else {}
        calls[road] = lambda function=function, option=option, extra=extra: function(
            text, option=option, **extra)
    for road, call in calls.items():
        got = outcome(call)
        assert got == ("error", "OstrevaneParseError", message), road
    # Opened with "?", the same scalar is a key on every road.
    explicit = text.replace("> #", "? > #").replace("|\n:", "? |\n:").replace("&x |", "? &x |")
    if explicit != text:
        assert outcome(lambda: o.loads(explicit)) == \
            outcome(lambda: o.loads(explicit, option=o.OPT_ROUND_TRIP).to_dict())
