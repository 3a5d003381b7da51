"""OstrevaneDocument.to_tree: immutable snapshots of one document's tree with
values, styles, tags, anchors, comments and merge keys as written."""

import datetime

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st
from value_strategies import prop_values

import ostrevane as o
from ostrevane import OstrevaneTreeNode, loads

RT = o.OPT_ROUND_TRIP


def tree(text, option=0):
    return loads(text, option=RT | option).to_tree()


def pairs(t):
    assert t.kind == "mapping"
    return list(t.value)


def value_of(t, key):
    """The value snapshot of the last pair whose key snapshot holds `key`."""
    return [v for k, v in pairs(t) if k.value == key][-1]


def expand(t):
    """A snapshot without aliases and merge keys as plain values."""
    if t.kind == "sequence":
        return [expand(c) for c in t.value]
    if t.kind == "mapping":
        return {expand(k): expand(v) for k, v in t.value}
    assert t.kind == "scalar"
    return t.value


# ---------------------------------------------------------------------------
# Kinds, styles and values.


@pytest.mark.parametrize(
    "text,kind,style,value",
    [
        ("x\n", "scalar", "plain", "x"),
        ("'x'\n", "scalar", "single", "x"),
        ('"x"\n', "scalar", "double", "x"),
        ("|\n  l\n", "scalar", "literal", "l\n"),
        (">\n  f\n  g\n", "scalar", "folded", "f g\n"),
        ("null\n", "scalar", "plain", None),
        ("~\n", "scalar", "plain", None),
        ("&a\n", "scalar", "null", None),
        ("!!null\n", "scalar", "null", None),
        ("12\n", "scalar", "plain", 12),
        ("0x10\n", "scalar", "plain", 16),
        ("1.5\n", "scalar", "plain", 1.5),
        ("true\n", "scalar", "plain", True),
        ("'12'\n", "scalar", "single", "12"),
        ("[]\n", "sequence", "flow", ()),
        ("{}\n", "mapping", "flow", ()),
    ],
)
def test_root_kind_style_and_value(text, kind, style, value):
    t = tree(text)
    assert (t.kind, t.style, t.value) == (kind, style, value)
    assert type(t.value) is type(value)


def test_mapping_of_one_pair():
    t = tree("a: 1\n")
    assert (t.kind, t.style) == ("mapping", "block")
    ((key, value),) = t.value
    assert type(t.value) is tuple and type(t.value[0]) is tuple
    assert (key.kind, key.style, key.value) == ("scalar", "plain", "a")
    assert (value.kind, value.style, value.value) == ("scalar", "plain", 1)


@pytest.mark.parametrize(
    "text,kind,style",
    [("{a: 1}\n", "mapping", "flow"), ("- x\n", "sequence", "block"), ("[x]\n", "sequence", "flow")],
)
def test_collection_styles(text, kind, style):
    t = tree(text)
    assert (t.kind, t.style) == (kind, style)


def test_sequence_items_are_snapshots():
    t = tree("- x\n- [y, z]\n")
    first, second = t.value
    assert (first.kind, first.value) == ("scalar", "x")
    assert [c.value for c in second.value] == ["y", "z"]
    assert all(type(c) is OstrevaneTreeNode for c in t.value)


@pytest.mark.parametrize(
    "text,key,style,value",
    [
        ("a:\n", "a", "null", None),
        ("a: null\n", "a", "plain", None),
        ("a: !!str 1\n", "a", "plain", "1"),
        ("a: 'yes'\n", "a", "single", "yes"),
    ],
)
def test_null_and_tagged_values(text, key, style, value):
    v = value_of(tree(text), key)
    assert (v.kind, v.style, v.value) == ("scalar", style, value)


def test_alias_stays_an_alias_and_its_definition_keeps_the_anchor():
    t = tree("a: &x 1\nb: *x\n")
    a, b = value_of(t, "a"), value_of(t, "b")
    assert (a.anchor, a.value) == ("x", 1)
    assert (b.kind, b.style, b.value, b.anchor) == ("alias", "alias", "x", None)


@pytest.mark.parametrize(
    "option,text,expected",
    [
        (0, "2024-01-02\n", "2024-01-02"),
        (o.OPT_TIMESTAMPS, "2024-01-02\n", datetime.date(2024, 1, 2)),
        (0, "yes\n", "yes"),
        (o.OPT_YAML_1_1, "yes\n", True),
        (o.OPT_YAML_1_1, "0o17\n", "0o17"),
    ],
)
def test_scalars_resolve_as_to_dict_does(option, text, expected):
    doc = loads(text, option=RT | option)
    assert doc.to_tree().value == expected == doc.to_dict()


@pytest.mark.parametrize(
    "text,tag,anchor",
    [
        ("!t x\n", "!t", None),
        ("&a x\n", None, "a"),
        ("!t &a [1]\n", "!t", "a"),
        ("!!map {a: 1}\n", "!!map", None),
        ("!<tag:e.com,2000:x> 1\n", "!<tag:e.com,2000:x>", None),
        ("x\n", None, None),
    ],
)
def test_tags_and_anchors_as_written(text, tag, anchor):
    t = tree(text)
    assert (t.tag, t.anchor) == (tag, anchor)


# ---------------------------------------------------------------------------
# Merge keys.


@pytest.mark.parametrize(
    "text,expected",
    [
        ("<<: {x: 1}\n", True),
        ("!!merge <<: {x: 1}\n", True),
        ("? !!merge x\n: 1\n", True),
        ("'<<': 1\n", False),
        ('"<<": 1\n', False),
        ("!t <<: 1\n", False),
        ("<<x: 1\n", False),
    ],
)
def test_is_merge_key(text, expected):
    ((key, value),) = pairs(tree(text))
    assert key.is_merge_key is expected
    assert value.is_merge_key is False


def test_merge_pairs_are_kept_as_written():
    t = tree("base: &b {x: 1}\nm:\n  <<: *b\n  y: 2\n")
    m = pairs(value_of(t, "m"))
    assert [(k.value, k.is_merge_key) for k, _ in m] == [("<<", True), ("y", False)]
    assert (m[0][1].kind, m[0][1].value) == ("alias", "b")


def test_duplicate_keys_are_kept():
    assert [(k.value, v.value) for k, v in pairs(tree("a: 1\na: 2\n"))] == [("a", 1), ("a", 2)]


# ---------------------------------------------------------------------------
# Comments.


def test_trailing_comment_belongs_to_the_value():
    t = tree("a: 1 # one\nb: 2\n")
    (ka, va), (kb, vb) = pairs(t)
    assert (ka.comment, va.comment, vb.comment) == (None, "one", None)


def test_comment_before_of_later_keys_is_on_key_and_value():
    t = tree("a: 1\n# about b\n# more\nb: 2\n")
    (ka, va), (kb, vb) = pairs(t)
    assert (ka.comment_before, va.comment_before) == (None, None)
    assert kb.comment_before == vb.comment_before == "about b\nmore"


def test_comment_above_the_first_key_belongs_to_the_mapping():
    t = tree("# top\na: 1\n")
    ((key, value),) = pairs(t)
    assert t.comment_before == "top"
    assert (key.comment_before, value.comment_before) == (None, "top")


@pytest.mark.parametrize("text", [
    "# top\n%YAML 1.2\n# mid\n---\na: 1\n",
    "# top\n# mid\n---\na: 1\n",
    "# top\n---\n# mid\na: 1\n",
])
def test_lines_above_the_marker_are_the_roots_as_the_others(text):
    assert tree(text).comment_before == "top\nmid"


def test_block_value_comments():
    t = tree("a: # intro\n  # under\n  b: 1\n")
    a = value_of(t, "a")
    assert (a.comment, a.comment_before) == ("intro", None)
    assert value_of(a, "b").comment_before == "under"


@pytest.mark.parametrize(
    "text,item,first_value,first_key",
    [
        # A mapping item with a comment on its dash line: the lines above the
        # dash are the item's, those below it its first pair's.
        ("- x\n# above\n- # on dash\n  # below\n  k: v\n", ("above", "on dash"), "below", None),
        # Without one, the lines above the dash are read by both.
        ("- x\n# above\n- k: v\n", ("above", None), "above", None),
        ("- x\n- # on dash\n  k: v\n", (None, "on dash"), None, None),
    ],
)
def test_mapping_item_with_a_dash_line_comment(text, item, first_value, first_key):
    (_, snap) = tree(text).value
    assert (snap.comment_before, snap.comment) == item
    ((key, value),) = pairs(snap)
    assert (value.comment_before, key.comment_before) == (first_value, first_key)


def test_comment_above_the_first_item_belongs_to_the_sequence():
    t = tree("# top\n- x\n")
    assert t.comment_before == "top"
    assert t.value[0].comment_before is None


def test_scalar_items_with_dash_line_comments():
    t = tree("- # c\n  # below\n  x\n# above y\n- y\n")
    x, y = t.value
    # The lines between a scalar item's dash line and the item are read by
    # no one.
    assert (x.comment, x.comment_before, x.value) == ("c", None, "x")
    assert (y.comment, y.comment_before) == (None, "above y")


def test_comment_lines_keep_empty_lines():
    t = tree("a: 1\n#\n# x\nb: 2\n")
    assert value_of(t, "b").comment_before == "\nx"


@pytest.mark.parametrize(
    "text,where,expected",
    [
        ("a:\n- x\n- y\n# tail\n", "a", "tail"),
        ("- a\n- - b\n  - c\n  # inner\n", 1, "inner"),
        ("a: 1\n# end\n# of file\n", None, "end\nof file"),
        ("a: 1\n", None, None),
        ("a: [1] # not after\n", "a", None),
    ],
)
def test_comment_after(text, where, expected):
    t = tree(text)
    if where is None:
        node = t
    elif isinstance(where, int):
        node = t.value[where]
    else:
        node = value_of(t, where)
    assert node.comment_after == expected


# ---------------------------------------------------------------------------
# The object: frozen, no constructor, independent of the document.


def test_class():
    assert OstrevaneTreeNode.__module__ == "ostrevane"
    assert OstrevaneTreeNode.__name__ == "OstrevaneTreeNode"
    assert OstrevaneTreeNode.__doc__.startswith("An owned node snapshot.")
    with pytest.raises(TypeError):
        OstrevaneTreeNode()
    with pytest.raises(TypeError):
        OstrevaneTreeNode.kind = 1


@pytest.mark.parametrize(
    "name",
    ["kind", "value", "style", "tag", "anchor", "comment", "comment_before", "comment_after",
     "is_merge_key", "other"],
)
def test_attributes_are_frozen(name):
    t = tree("a: 1\n")
    with pytest.raises(AttributeError):
        setattr(t, name, "x")
    with pytest.raises(AttributeError):
        delattr(t, name)


def test_value_is_the_stored_object():
    t = tree("a: [1, 2]\nb: text\n")
    assert t.value is t.value
    assert value_of(t, "a").value is value_of(t, "a").value
    assert value_of(t, "b").value is value_of(t, "b").value


def test_snapshot_is_independent_of_later_edits():
    doc = loads("a: 1 # c\nb: [x]\n", option=RT)
    t = doc.to_tree()
    doc["a"] = 2
    doc["b"] = {"y": 3}
    del doc["a"]
    assert [(k.value, expand(v)) for k, v in pairs(t)] == [("a", 1), ("b", ["x"])]
    assert value_of(t, "a").comment == "c"
    assert doc.to_dict() == {"b": {"y": 3}}


def test_snapshot_outlives_its_document():
    t = tree("a: [1, {b: 2}]\n")
    assert expand(t) == {"a": [1, {"b": 2}]}


def test_to_tree_leaves_the_document_unchanged():
    text = "# c\na: &x 1 # t\nb: *x\n"
    doc = loads(text, option=RT)
    doc.to_tree()
    assert doc.to_yaml() == text.encode()


# ---------------------------------------------------------------------------
# Documents with several roots or none.


def test_several_documents_are_refused():
    doc = loads("a: 1\n--- 2\n", option=RT)
    with pytest.raises(ValueError) as info:
        doc.to_tree()
    assert str(info.value) == "to_tree() requires one document; use loads_all(option=OPT_ROUND_TRIP)"


@pytest.mark.parametrize("text", ["", "# only a comment\n"])
def test_no_root_gives_none(text):
    assert loads(text, option=RT).to_tree() is None


def test_each_document_of_loads_all_has_its_tree():
    docs = o.loads_all("a: 1\n--- [2]\n", option=RT)
    assert [expand(d.to_tree()) for d in docs] == [{"a": 1}, [2]]


def test_to_tree_takes_no_arguments():
    with pytest.raises(TypeError):
        loads("a\n", option=RT).to_tree(1)


def test_eq_that_snapshots_during_an_assignment_meets_runtime_error():
    doc = loads("a: 1\n", option=RT)
    seen = []

    class Key:
        def __eq__(self, other):
            try:
                doc.to_tree()
            except RuntimeError as exc:
                seen.append(str(exc))
            return False

        __hash__ = object.__hash__

    with pytest.raises(KeyError):
        doc[Key()]
    assert seen == []  # a read shares the borrow
    doc["b"] = 2
    assert expand(doc.to_tree()) == {"a": 1, "b": 2}


def nested(depth):
    value = 1
    for _ in range(depth):
        value = [value]
    return value


def test_deep_tree():
    depth = 900
    t = tree("[" * depth + "]" * depth)
    for _ in range(depth - 1):
        (t,) = t.value
    assert t.value == ()


def test_tree_deeper_than_loading_allows():
    # Assignments stack trees deeper than the composer's nesting limit; the
    # snapshot is made and dropped without exhausting the native stack.
    doc = loads("a: 1\n", option=RT)
    doc["a"] = nested(900)
    view = doc["a"]
    for _ in range(10):
        for _ in range(899):
            view = view[0]
        view[0] = nested(900)
        view = view[0]
    t = doc.to_tree()
    depth = 0
    while t.kind != "scalar":
        t = t.value[0][1] if t.kind == "mapping" else t.value[0]
        depth += 1
    assert (depth, t.value) == (9901, 1)
    del t


# ---------------------------------------------------------------------------
# Property: a snapshot without aliases holds what to_dict returns.


@settings(max_examples=200, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(value=prop_values, flow=st.booleans())
def test_snapshot_agrees_with_to_dict(value, flow):
    doc = loads(o.dumps(value, option=o.OPT_FLOW_STYLE if flow else 0), option=RT)
    assert expand(doc.to_tree()) == doc.to_dict() == value
