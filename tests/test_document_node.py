"""OstrevaneNode: cursors onto single nodes of a round-trip document, their
positions, values, styles, tags and provenance; and the document members
that hand them out (node, locate, anchors, view.node)."""

import os

import pytest

import ostrevane as o
from ostrevane import OstrevaneNode, loads

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
