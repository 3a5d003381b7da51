"""OstrevaneNode: cursors onto single nodes of a round-trip document, their
positions, values, styles, tags and provenance; and the document members
that hand them out (node, locate, anchors, view.node)."""

import os

import pytest

import ostrevane as o
from ostrevane import OstrevaneNode, loads


from borrow_probe import comparing_key, converting_number

RT = o.OPT_ROUND_TRIP


def rt(text, option=0, **kw):
    return loads(text, option=RT | option, **kw)


def at(doc, *path):
    cursor = doc.node
    for step in path:
        cursor = cursor[step]
    return cursor


def raised(fn):
    with pytest.raises(BaseException) as info:
        fn()
    return type(info.value).__name__, info.value.args


# ---------------------------------------------------------------------------
# The class.

def test_class_cannot_be_called_and_sits_after_the_view():
    with pytest.raises(TypeError):
        OstrevaneNode()
    cursor = rt("a: 1\n").node
    with pytest.raises(TypeError):
        type(cursor)()
    assert type(cursor) is OstrevaneNode
    assert OstrevaneNode.__name__ == "OstrevaneNode"
    assert OstrevaneNode.__doc__.startswith(
        "A metadata-bearing handle onto a single node of a [`OstrevaneDocument`].")
    names = o.__all__
    assert names.index("OstrevaneDocumentView") + 1 == names.index("OstrevaneNode")
    assert names.index("OstrevaneNode") + 1 == names.index("OstrevaneTag")


def test_class_cannot_be_subclassed_and_instances_take_no_attributes():
    with pytest.raises(TypeError):
        class Sub(OstrevaneNode):  # noqa: F841
            pass
    with pytest.raises(AttributeError):
        rt("a: 1\n").node.extra = 1


def test_cursors_compare_by_identity():
    doc = rt("a: 1\n")
    first, second = doc.node["a"], doc.node["a"]
    assert first is not second
    assert first != second
    assert first == first
    assert hash(first) != hash(second)


@pytest.mark.parametrize("name,first_line", [
    ("value", "The resolved plain-Python value of this node (scalar, dict, or list)."),
    ("line", "The node's 1-based source line."),
    ("column", "The node's 1-based source column."),
    ("offset", "The 0-based byte offset of the node's first source character."),
    ("end_offset", "The 0-based byte offset just past the node's last source character."),
    ("tag", "The node's explicit tag (e.g. `!!str`, `!custom`), or `None`."),
    ("is_secret", "Whether this node's value was produced by a `!secret` directive."),
    ("is_env_var", "Whether this node's value was produced by an `!env_var` directive."),
    ("is_include", "Whether this node's value was produced by any `!include` directive."),
])
def test_help_texts(name, first_line):
    assert getattr(OstrevaneNode, name).__doc__.splitlines()[0] == first_line


def test_property_order_and_signatures():
    properties = [name for name, v in vars(OstrevaneNode).items()
                  if type(v).__name__ == "getset_descriptor" and not name.startswith("_")]
    expected = ["value", "line", "column", "offset", "end_offset", "file", "tag", "style",
                "source_tag", "source_target", "is_secret", "is_env_var", "is_include",
                "target"]
    assert properties[:len(expected)] == expected
    assert OstrevaneNode.range.__text_signature__ == "($self)"


# ---------------------------------------------------------------------------
# Positions.

MULTIBYTE = "é: x\nk: v\n"

POSITIONS = [
    # text, path, line, column, offset, end_offset, range
    ("a:\n  b: 1\n", ("a", "b"), 2, 6, 8, 9, (2, 6, 2, 7)),
    ("a:\n  b: 1\n", ("a",), 2, 3, 5, 9, (2, 3, 2, 7)),
    ("a:\n  b: 1\n", (), 1, 1, 0, 9, (1, 1, 2, 7)),
    ("port: 8080\n", ("port",), 1, 7, 6, 10, (1, 7, 1, 11)),
    ("- x\n- [1, 22]\n", (1, 1), 2, 7, 10, 12, (2, 7, 2, 9)),
    # Columns count characters, offsets bytes.
    (MULTIBYTE, ("k",), 2, 4, 9, 10, (2, 4, 2, 5)),
    ("é: xyz\n", ("é",), 1, 4, 4, 7, (1, 4, 1, 7)),
    ("a: 'q q'\n", ("a",), 1, 4, 3, 8, (1, 4, 1, 9)),
    ("a: |\n  t\n", ("a",), 1, 4, 3, 9, (1, 4, 3, 1)),
]


@pytest.mark.parametrize("text,path,line,column,offset,end_offset,span", POSITIONS)
def test_positions(text, path, line, column, offset, end_offset, span):
    cursor = at(rt(text), *path)
    assert (cursor.line, cursor.column) == (line, column)
    assert (cursor.offset, cursor.end_offset) == (offset, end_offset)
    assert cursor.range() == span
    assert cursor.file is None
    assert all(type(v) is int for v in (cursor.line, cursor.offset, *cursor.range()))


# A collection ends where its last child ends: a flow collection's closing
# bracket is not part of it.
@pytest.mark.parametrize("path,source", [
    (("name",), "héllo"), (("list",), "[1, 'two'"), (("list", 1), "'two'"),
    (("map",), "{k: v"), (("map", "k"), "v"), ((), "name: héllo\nlist: [1, 'two']\nmap: {k: v"),
])
def test_offsets_slice_the_source_bytes(path, source):
    text = "name: héllo\nlist: [1, 'two']\nmap: {k: v}\n"
    cursor = at(rt(text), *path)
    assert text.encode()[cursor.offset:cursor.end_offset].decode() == source


def test_file_names_the_file_each_node_came_from(tmp_path):
    (tmp_path / "db.yaml").write_text("host: h\nport: 5\n")
    doc = rt("name: x\ndb: !include db.yaml\n", o.OPT_INCLUDES, include_dir=str(tmp_path))
    base = os.path.realpath(tmp_path)
    assert doc.node["db"]["port"].file == os.path.join(base, "db.yaml")
    assert doc.node["db"]["port"].line == 2
    assert doc.node["db"].file == os.path.join(base, "db.yaml")
    assert doc.node["name"].file == os.path.join(base, "<root>")


def test_file_bytes_that_are_not_utf8_are_replaced(tmp_path):
    folder = os.path.join(os.fsencode(str(tmp_path)), b"d\xff")
    os.mkdir(folder)
    with open(os.path.join(folder, b"db.yaml"), "wb") as f:
        f.write(b"k: 1\n")
    doc = rt("db: !include db.yaml\n", o.OPT_INCLUDES, include_dir=os.fsdecode(folder))
    expected = os.path.realpath(str(tmp_path)) + "/d\ufffd/db.yaml"
    assert doc.node["db"]["k"].file == expected


# ---------------------------------------------------------------------------
# repr and stale cursors.

@pytest.mark.parametrize("text,path,shown", [
    ("a: 1\n", ("a",), "OstrevaneNode(scalar)"),
    ("a: [1]\n", ("a",), "OstrevaneNode(sequence)"),
    ("a: {b: 1}\n", (), "OstrevaneNode(mapping)"),
    ("a: &x 1\nb: *x\n", ("b",), "OstrevaneNode(alias)"),
    ("a:\n", ("a",), "OstrevaneNode(null)"),
])
def test_repr_names_the_kind(text, path, shown):
    assert repr(at(rt(text), *path)) == shown


STALE_MEMBERS = [
    lambda c: c.line, lambda c: c.column, lambda c: c.offset, lambda c: c.end_offset,
    lambda c: c.range(), lambda c: c.file, lambda c: c.value, lambda c: c.tag,
    lambda c: c.style, lambda c: c.source_tag, lambda c: c.source_target,
    lambda c: c.is_secret, lambda c: c.is_env_var, lambda c: c.is_include,
    lambda c: c.target, lambda c: c["k"], lambda c: "k" in c, lambda c: c[object()],
]


@pytest.mark.parametrize("member", STALE_MEMBERS)
def test_every_member_of_a_stale_cursor_raises_stale_node(member):
    doc = rt("a: 1\n")
    cursor = doc.node["a"]
    del doc["a"]
    assert raised(lambda: member(cursor)) == ("KeyError", ("stale node",))
    empty = rt("")
    assert raised(lambda: member(empty.node)) == ("KeyError", ("stale node",))


def test_stale_assignment_raises_before_looking_at_the_value():
    doc = rt("a: 1\n")
    cursor = doc.node["a"]
    del doc["a"]
    assert raised(lambda: setattr(cursor, "value", object())) == ("KeyError", ("stale node",))


def test_a_cursor_goes_stale_and_resolves_again():
    doc = rt("a: 1\n")
    cursor = doc.node["a"]
    del doc["a"]
    assert repr(cursor) == "OstrevaneNode(<stale>)"
    doc["a"] = 2
    assert repr(cursor) == "OstrevaneNode(scalar)"
    assert cursor.value == 2


def test_empty_document_gives_a_stale_root_cursor():
    doc = rt("")
    assert repr(doc.node) == "OstrevaneNode(<stale>)"
    assert raised(lambda: doc.node.line) == ("KeyError", ("stale node",))


def test_a_cursor_keeps_its_document_alive():
    cursor = rt("a: [1, 2]\n").node["a"][1]
    assert cursor.value == 2 and cursor.line == 1


def test_deleting_a_property():
    cursor = rt("a: 1\n").node["a"]
    assert raised(lambda: delattr(cursor, "value")) == (
        "AttributeError", ("property has no deleter",))
    with pytest.raises(AttributeError):
        cursor.line = 3
    with pytest.raises(AttributeError):
        del cursor.line
    assert cursor.value == 1


# ---------------------------------------------------------------------------
# doc.node and view.node.

def test_view_node_designates_the_view_node():
    doc = rt("top:\n  m: {a: 1}\n")
    cursor = doc["top"]["m"].node
    assert type(cursor) is OstrevaneNode
    assert (cursor.line, cursor.column) == (2, 6)
    assert cursor.value == {"a": 1}
    assert cursor["a"].value == 1


def test_view_node_of_a_stale_view_is_a_stale_cursor():
    doc = rt("top:\n  m: {a: 1}\n")
    view = doc["top"]["m"]
    del doc["top"]
    cursor = view.node
    assert repr(cursor) == "OstrevaneNode(<stale>)"
    doc["top"] = {"m": [5]}
    assert cursor.value == [5]


def test_view_node_of_a_later_root_reads_that_root():
    doc = rt("a: 1\n---\nb: {c: 2}\n")
    cursor = doc[1]["b"].node
    assert cursor.value == {"c": 2}
    assert cursor["c"].line == 3
    assert doc[1].node.value == {"b": {"c": 2}}
    assert doc.node.value == {"a": 1}


# ---------------------------------------------------------------------------
# value.

@pytest.mark.parametrize("text,path,value", [
    ("a: [1, 2]\n", ("a",), [1, 2]),
    ("a: &x {k: v}\nb: *x\n", ("b",), {"k": "v"}),
    ("a: 1\n", ("a",), 1),
    ("a: '1'\n", ("a",), "1"),
    ("a:\n", ("a",), None),
    ("b: &m {x: 1}\nc: {<<: *m, y: 2}\n", ("c",), {"x": 1, "y": 2}),
    ("a: &x 1\nb: *x\na2: &x 2\nc: *x\n", ("c",), 2),
    ("a: &x 1\nb: *x\na2: &x 2\nc: *x\n", ("b",), 1),
    ("- 2001-12-14\n", (0,), "2001-12-14"),
])
def test_value_reads_the_plain_value(text, path, value):
    assert at(rt(text), *path).value == value


def test_value_follows_the_document_rules():
    assert at(rt("a: yes\n", o.OPT_YAML_1_1), "a").value is True
    assert at(rt("a: yes\n"), "a").value == "yes"
    assert str(at(rt("a: 2001-12-14\n", o.OPT_TIMESTAMPS), "a").value) == "2001-12-14"


def test_value_set_keeps_comments_anchor_and_tag():
    doc = rt("# head\na: &x !!str 7 # trailing\nb: *x\n")
    cursor = doc.node["a"]
    cursor.value = "five"
    assert doc.to_yaml() == b"# head\na: !!str &x five # trailing\nb: *x\n"
    assert (cursor.tag, cursor.style) == ("!!str", "plain")
    assert (cursor.line, cursor.column, cursor.offset, cursor.end_offset) == (1, 1, 0, 0)
    assert cursor.range() == (1, 1, 1, 1)
    assert doc["b"] == "five"
    # A number is not what "!!str" reads: the tag goes, the rest stays.
    cursor.value = 5
    assert doc.to_yaml() == b"# head\na: &x 5 # trailing\nb: *x\n"
    assert cursor.tag is None and doc["b"] == 5


@pytest.mark.parametrize("value,text", [
    ({"k": [1, None]}, b"a:\n  k:\n  - 1\n  -\nb: 2\n"),
    ("two words", b"a: two words\nb: 2\n"),
    ("yes", b"a: \"yes\"\nb: 2\n"),
    ("1", b"a: \"1\"\nb: 2\n"),
    (None, b"a:\nb: 2\n"),
])
def test_value_set_writes_the_new_value(value, text):
    doc = rt("a: [x]\nb: 2\n")
    doc.node["a"].value = value
    assert doc.to_yaml() == text
    assert doc.node["a"].value == value


def test_value_set_replaces_the_whole_root():
    doc = rt("a: 1\n")
    doc.node.value = [1, 2]
    assert doc.to_dict() == [1, 2]
    assert doc.to_yaml() == b"- 1\n- 2\n"


@pytest.mark.parametrize("value,error", [
    (object(), "TypeError"),
    ((1, 2), "TypeError"),
])
def test_unconvertible_value_leaves_the_node_unchanged(value, error):
    text = "# c\na: [x] # t\n"
    doc = rt(text)
    cursor = doc.node["a"]
    kind, args = raised(lambda: setattr(cursor, "value", value))
    assert kind == error
    assert args == (f"cannot convert {value!r} to a YAML node",)
    assert doc.to_yaml() == text.encode()
    assert cursor.value == ["x"]


def test_a_self_referencing_value_is_refused():
    doc = rt("a: 1\n")
    loop = []
    loop.append(loop)
    kind, _ = raised(lambda: setattr(doc.node["a"], "value", loop))
    assert kind == "ValueError"
    assert doc.to_yaml() == b"a: 1\n"


def test_value_set_refuses_to_strand_an_alias():
    text = "a: {k: &x 1}\nb: *x\n"
    doc = rt(text)
    assert raised(lambda: setattr(doc.node["a"], "value", 5)) == ("ValueError", (
        "deleting this node would remove anchor '&x', still referenced by an alias '*x' "
        "elsewhere; the result would not re-parse. Remove or rewrite the alias first.",))
    assert doc.to_yaml() == text.encode()
    # The node's own anchor stays with it, so its aliases still read it.
    doc.node["a"]["k"].value = 2
    assert doc.to_dict() == {"a": {"k": 2}, "b": 2}


def test_value_set_on_an_alias_replaces_the_alias():
    doc = rt("a: &x 1\nb: *x\n")
    doc.node["b"].value = 3
    assert doc.to_yaml() == b"a: &x 1\nb: 3\n"


# Replacing the root's value keeps the document's directives and markers:
# the root keeps its tag, which may use a %TAG handle that only the
# directive defines.
MEND_TAG = "%TAG !e! tag:example.com,2000:\n--- !e!thing\na: 1\n"


def test_root_value_keeps_the_directives_its_tag_needs():
    doc = rt(MEND_TAG)
    doc.node.value = {"b": 2}
    text = doc.to_yaml()
    assert text == b"%TAG !e! tag:example.com,2000:\n---\n!e!thing\nb: 2\n"
    again = rt(text)
    assert again.node.tag == "!e!thing"
    assert again.to_dict() == {"b": 2}
    assert doc.explicit_start is True


@pytest.mark.parametrize("text,written", [
    ("--- # c\na: 1\n", b"---\n# c\nb: 1\n"),
    ("\ufeffa: 1\n", b"\xef\xbb\xbfb: 1\n"),
    ("%YAML 1.2\n---\na: 1\n", b"%YAML 1.2\n---\nb: 1\n"),
])
def test_root_value_keeps_the_document_markers(text, written):
    doc = rt(text)
    doc.node.value = {"b": 1}
    assert doc.to_yaml() == written


# ---------------------------------------------------------------------------
# cursor[key] and in.

def test_keys_match_by_text():
    doc = rt("1: int\n'2': str\nlist: [a, b, c]\n")
    assert doc.node["1"].value == "int"
    assert doc.node["2"].value == "str"
    assert doc.node["list"][2].value == "c"
    assert doc.node["list"][True].value == "b"


@pytest.mark.parametrize("path,error", [
    (("a", 0), ("KeyError", ("0",))),
    (("list", 5), ("IndexError", ("index out of range",))),
    (("list", "x"), ("IndexError", ("index out of range",))),
    (("a", -1), ("TypeError", ("mapping keys must be str or int",))),
    (("a", 1.5), ("TypeError", ("mapping keys must be str or int",))),
    (("a", None), ("TypeError", ("mapping keys must be str or int",))),
    ((1,), ("KeyError", ("1",))),
    (("missing",), ("KeyError", ("missing",))),
    (("a", "b", "c"), ("KeyError", ("c",))),
])
def test_missing_children(path, error):
    doc = rt("a: {b: 1}\nlist: [1, 2, 3]\n1: one\n")
    assert raised(lambda: at(doc, *path)) == error


def test_repeated_keys_reach_the_last_pair():
    doc = rt("a: 1\na: 2\n")
    cursor = doc.node["a"]
    assert cursor.value == 2 and cursor.line == 2


def test_children_through_an_alias_stand_under_the_definition():
    doc = rt("a: &x {b: 1}\nc: *x\n")
    child = doc.node["c"]["b"]
    assert (child.line, child.column) == (1, 11)
    assert child.value == 1
    assert "b" in doc.node["c"]
    assert "z" not in doc.node["c"]
    child.value = 7
    assert doc.to_yaml() == b"a: &x {b: 7}\nc: *x\n"


def test_children_through_an_alias_of_a_redefined_name():
    doc = rt("a: &x {k: 1}\nb: *x\nc: &x {k: 2}\nd: *x\n")
    assert doc.node["b"]["k"].line == 1
    assert doc.node["d"]["k"].value == 2
    assert doc.node["d"]["k"].line == 3


def test_children_through_an_alias_of_a_sequence():
    doc = rt("a: &s [x, y]\nb: *s\n")
    assert doc.node["b"][1].value == "y"
    assert raised(lambda: doc.node["b"][2]) == ("IndexError", ("index out of range",))


@pytest.mark.parametrize("key,expected", [
    ("1", True), (1, False), ("a", True), ("b", False), (None, False), (b"a", False),
    (["a"], False),
])
def test_contains_by_text(key, expected):
    assert (key in rt("a: 1\n1: x\n").node) is expected


@pytest.mark.parametrize("text,path", [("- a\n", ()), ("a: x\n", ("a",)), ("a:\n", ("a",))])
def test_contains_on_other_nodes_is_false(text, path):
    assert ("a" in at(rt(text), *path)) is False


# ---------------------------------------------------------------------------
# tag, style and provenance.

@pytest.mark.parametrize("text,style", [
    ("a: x\n", "plain"), ("a: 'x'\n", "single"), ('a: "x"\n', "double"),
    ("a: |\n  x\n", "literal"), ("a: >\n  x\n", "folded"), ("a: [x]\n", "flow"),
    ("a: {k: x}\n", "flow"), ("a:\n  - x\n", "block"), ("a:\n  k: x\n", "block"),
    ("a: &x 1\nb: *x\n", "alias"), ("a:\n", "null"),
])
def test_style_names(text, style):
    path = ("b",) if "*x" in text else ("a",)
    assert at(rt(text), *path).style == style


@pytest.mark.parametrize("text,tag,source_tag", [
    ("a: !!str 1\n", "!!str", None),
    ("a: !<tag:yaml.org,2002:int> 3\n", "!<tag:yaml.org,2002:int>", None),
    ("a: !mytag v\n", "!mytag", "!mytag"),
    # Standard or custom as the %TAG directives read the tag; named as written.
    ("%TAG !y! tag:yaml.org,2002:\n---\na: !y!str 1\n", "!y!str", None),
    ("%TAG !e! tag:e.com,2000:\n---\na: !e!x v\n", "!e!x", "!e!x"),
    ("a: ! v\n", "!", "!"),
    ("a: v\n", None, None),
    ("a: !secret pw\n", "!secret", "!secret"),
    ("a: !env_var HOME\n", "!env_var", "!env_var"),
    ("a: !include x.yaml\n", "!include", "!include"),
    ("a: !include_dir_named d\n", "!include_dir_named", "!include_dir_named"),
])
def test_tags_without_directive_options(text, tag, source_tag):
    cursor = rt(text).node["a"]
    assert cursor.tag == tag
    assert cursor.source_tag == source_tag
    assert cursor.source_target is None
    assert cursor.is_secret is (source_tag == "!secret")
    assert cursor.is_env_var is (source_tag == "!env_var")
    assert cursor.is_include is (source_tag is not None and source_tag.startswith("!include"))


def test_provenance_of_expanded_directives(tmp_path, monkeypatch):
    (tmp_path / "secrets.yaml").write_text("pw: hunter2\n")
    (tmp_path / "db.yaml").write_text("host: h\n")
    (tmp_path / "d").mkdir()
    (tmp_path / "d" / "one.yaml").write_text("1\n")
    monkeypatch.setenv("OSTREVANE_NODE_TEST", "from env")
    doc = rt("pw: !secret pw\nenv: !env_var OSTREVANE_NODE_TEST\n"
             "env2: !env_var OSTREVANE_NODE_UNSET fallback\n"
             "db: !include db.yaml\nall: !include_dir_list d\nplain: x\n",
             o.OPT_SECRETS | o.OPT_ENV_VAR | o.OPT_INCLUDES, include_dir=str(tmp_path))
    rows = {key: (c.value, c.tag, c.source_tag, c.source_target, c.is_secret, c.is_env_var,
                  c.is_include)
            for key in ("pw", "env", "env2", "db", "all", "plain")
            for c in [doc.node[key]]}
    assert rows == {
        "pw": ("hunter2", None, "!secret", "pw", True, False, False),
        "env": ("from env", None, "!env_var", "OSTREVANE_NODE_TEST", False, True, False),
        "env2": ("fallback", None, "!env_var", "OSTREVANE_NODE_UNSET fallback", False, True,
                 False),
        "db": ({"host": "h"}, None, "!include", "db.yaml", False, False, True),
        "all": ([1], None, "!include_dir_list", "d", False, False, True),
        "plain": ("x", None, None, None, False, False, False),
    }
    assert doc.node["db"]["host"].source_tag is None


# ---------------------------------------------------------------------------
# target.

def test_target_of_an_alias():
    doc = rt("a: &x {b: 1}\nc: *x\n")
    target = doc.node["c"].target
    assert type(target) is OstrevaneNode
    assert repr(target) == "OstrevaneNode(mapping)"
    assert (target.line, target.column) == (1, 7)
    assert target.value == {"b": 1}


@pytest.mark.parametrize("text,path", [
    ("a: &x 1\nb: *x\n", ("a",)), ("a: 1\n", ("a",)), ("a: 1\n", ()),
])
def test_target_of_other_nodes_is_none(text, path):
    assert at(rt(text), *path).target is None


def test_target_is_the_definition_the_alias_reads():
    doc = rt("a: &x 1\nb: *x\nc: &x 2\nd: *x\n")
    assert doc.node["b"].target.line == 1
    assert doc.node["d"].target.line == 3
    assert [doc.node[k].target.value for k in "bd"] == [doc["b"], doc["d"]]


def test_target_of_an_anchored_key():
    doc = rt("&k key: v\nother: *k\n")
    target = doc.node["other"].target
    assert target.value == "key"
    assert (target.line, target.column) == (1, 4)


def test_target_after_the_anchor_is_gone():
    doc = rt("a: &x 1\nb: *x\nc: 2\n")
    doc.node["c"].value = 3
    assert doc.node["b"].target.line == 1


# ---------------------------------------------------------------------------
# locate.

def test_locate_finds_the_value_position():
    doc = rt("port: 8080\nlist: [a, {k: v}]\n")
    cursor = doc.locate(["port"])
    assert type(cursor) is OstrevaneNode
    assert (cursor.line, cursor.column) == (1, 7)
    assert doc.locate(("list", 1, "k")).value == "v"
    assert doc.locate(iter(["list", 0])).value == "a"
    assert doc.locate(path=["port"]).value == 8080
    assert doc.locate([]).value == doc.to_dict()


@pytest.mark.parametrize("path", [["missing"], ["port", 0], [1], ["list", 5], ["list", "0"]])
def test_locate_finds_nothing(path):
    assert rt("port: 8080\n1: one\nlist: [a]\n").locate(path) is None


def test_locate_stays_a_live_cursor():
    doc = rt("a: 1\n")
    cursor = doc.locate(["a"])
    del doc["a"]
    assert repr(cursor) == "OstrevaneNode(<stale>)"


def test_locate_on_streams_and_empty_documents():
    assert rt("").locate([]) is None
    assert rt("").locate(["a"]) is None
    doc = rt("a: 1\n---\nb: 2\n")
    assert doc.locate(["a"]).value == 1
    assert doc.locate(["b"]) is None


def test_locate_never_follows_an_alias():
    doc = rt("a: &x {k: 1}\nb: *x\n")
    assert doc.locate(["b", "k"]) is None
    assert doc.node["b"]["k"].value == 1


class BadIter:
    def __iter__(self):
        raise ValueError("no iteration")


def failing_items():
    yield "a"
    raise ValueError("stopped")


@pytest.mark.parametrize("args,error", [
    (("a",), ("TypeError",
              ("locate() takes a sequence of str/int path segments, not a str",))),
    ((5,), ("TypeError", ("'int' object is not iterable",))),
    ((["a", 1.5],), ("TypeError", ("mapping keys must be str or int",))),
    ((["a", -1],), ("TypeError", ("mapping keys must be str or int",))),
    (([None],), ("TypeError", ("mapping keys must be str or int",))),
    ((BadIter(),), ("ValueError", ("no iteration",))),
    ((failing_items(),), ("ValueError", ("stopped",))),
])
def test_locate_argument_errors(args, error):
    assert raised(lambda: rt("a: 1\n").locate(*args)) == error


def test_locate_argument_count():
    doc = rt("a: 1\n")
    with pytest.raises(TypeError):
        doc.locate()
    with pytest.raises(TypeError):
        doc.locate(["a"], ["b"])
    with pytest.raises(TypeError):
        doc.locate(route=["a"])


class StrSub(str):
    pass


def test_locate_refuses_a_str_subclass():
    kind, _ = raised(lambda: rt("a: 1\n").locate(StrSub("a")))
    assert kind == "TypeError"


# ---------------------------------------------------------------------------
# anchors.

def test_anchors_map_names_to_their_nodes():
    doc = rt("a: &x 1\nb: &y [&z 2]\n&k key: *x\n")
    anchors = doc.anchors
    assert type(anchors) is dict
    assert list(anchors) == ["x", "y", "z", "k"]
    assert all(type(c) is OstrevaneNode for c in anchors.values())
    assert [c.value for c in anchors.values()] == [1, [2], 2, "key"]
    assert (anchors["k"].line, anchors["k"].column) == (3, 4)


def test_a_repeated_anchor_maps_to_its_last_definition():
    anchors = rt("a: &x 1\nb: &x 2\n").anchors
    assert list(anchors) == ["x"]
    assert anchors["x"].value == 2
    assert anchors["x"].line == 2


@pytest.mark.parametrize("text", ["a: 1\n", "", "? [&x 1]\n: 2\n"])
def test_anchors_empty(text):
    assert rt(text).anchors == {}


def test_anchors_of_the_first_document_only():
    assert list(rt("a: &x 1\n---\nb: &y 2\n").anchors) == ["x"]


def test_queries_change_nothing():
    text = "a: &x 1 # c\nb: *x\n"
    doc = rt(text)
    doc.anchors, doc.locate(["a"]), doc.node["b"].target, doc.node["a"].value
    assert doc.to_yaml() == text.encode()


# ---------------------------------------------------------------------------
# Borrows: Python code run inside a document member meets its borrow.

def test_a_cursor_read_inside_an_assignment_is_an_internal_fault():
    doc = rt("a: 1\nb: 2\n")
    cursor = doc.node["a"]
    seen = []
    reads = [lambda: cursor.line, lambda: repr(cursor), lambda: doc.node["a"],
             lambda: "a" in cursor, lambda: doc.locate(["a"]), lambda: doc.anchors]
    doc[comparing_key(reads, seen, matches="b")] = 5
    assert seen[:6] == [("PanicException", "Already mutably borrowed")] * 6
    assert cursor.line == 1
    assert doc["b"] == 5


def test_a_value_converted_inside_a_value_assignment_meets_the_borrow():
    doc = rt("a: 1\nb: 2\n")
    cursor, other = doc.node["a"], doc.node["b"]
    seen = []
    cursor.value = converting_number([lambda: cursor.value, lambda: other.line,
                                      lambda: setattr(other, "value", 1), lambda: doc["b"]], seen)
    assert seen == [("PanicException", "Already mutably borrowed"),
                    ("PanicException", "Already mutably borrowed"),
                    ("PanicException", "Already borrowed"),
                    ("PanicException", "Already mutably borrowed")]
    assert doc.to_yaml() == b"a: 2.5\nb: 2\n"


def test_node_takes_no_borrow():
    doc = rt("a: 1\nb: 2\n")
    made = []

    class Key:
        def __eq__(self, other):
            made.append(doc.node)
            return other == "b"

        __hash__ = object.__hash__

    doc[Key()] = 5
    assert made and all(type(c) is OstrevaneNode for c in made)


# ---------------------------------------------------------------------------
# Property: every leaf of a commented document is reached by text, its
# source slice reads back as its value, and assigning through the cursor
# gives a text that loads again to the document's values.

from hypothesis import HealthCheck, given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

from test_document_edit import VALUES, commented_documents  # noqa: E402


@settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(text=commented_documents(), data=st.data())
def test_leaves_reached_by_cursor(text, data):
    doc = rt(text)
    source = text.encode()
    leaves = doc.walk()
    for path, value in leaves:
        cursor = at(doc, *path)
        assert cursor.value == value
        piece = source[cursor.offset:cursor.end_offset].decode()
        assert loads(piece) == value, piece
        assert doc.locate(list(path)).range() == cursor.range()
    path = data.draw(st.sampled_from([p for p, _ in leaves] + [()]))
    at(doc, *path).value = data.draw(VALUES)
    written = doc.to_yaml()
    assert loads(written) == doc.to_dict(), written
