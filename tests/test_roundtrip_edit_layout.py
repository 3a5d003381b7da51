"""What an edit keeps of the layout and values around it: blank lines
between head comments, the line break of the text, tags that still read the
assigned value, strings that read back as strings, and the empty documents
that loading left out of a stream."""
import datetime
import os

import pytest

import ostrevane as o
from peer_readers import assert_peers_read

RT = o.OPT_ROUND_TRIP


def edited(text, edit, option=0):
    doc = o.loads(text, option=RT | option)
    edit(doc)
    return doc.to_yaml()


def set_key(key, value, index=None):
    def edit(doc):
        (doc if index is None else doc[index])[key] = value
    return edit


# ---------------------------------------------------------------------------
# Blank lines between and after head comments.

@pytest.mark.parametrize("text,edit,expected", [
    # A licence header: used to come back as "# Header\n# more\nkey: 2\n".
    ("# Header\n\n# more\n\nkey: 1\n", set_key("key", 2), "# Header\n\n# more\n\nkey: 2\n"),
    ("# one\n\n\n# two\nkey: 1\n", set_key("key", 2), "# one\n\n\n# two\nkey: 2\n"),
    # Head lines of a later key, with blank lines around them.
    ("a: 1\n\n# about b\n\n# more\n\nb: 2\n", set_key("a", 5),
     "a: 5\n\n# about b\n\n# more\n\nb: 2\n"),
    # In a nested mapping and before a sequence item.
    ("m:\n  x: 1\n  # c\n\n  y: 2\nl:\n- 1\n# i\n\n- 2\n", set_key("z", 0),
     "m:\n  x: 1\n  # c\n\n  y: 2\nl:\n- 1\n# i\n\n- 2\nz: 0\n"),
    # Above the document marker.
    ("# top\n\n---\na: 1\n", set_key("a", 2), "# top\n\n---\na: 2\n"),
])
def test_blank_lines_around_head_comments_stay(text, edit, expected):
    out = edited(text, edit)
    assert out.decode() == expected
    # Written again after a reload, nothing moves.
    assert edited(out, edit) == out


# ---------------------------------------------------------------------------
# Line breaks.

@pytest.mark.parametrize("text,expected", [
    # Used to come back as "a: 5\nb: |\r\n  x\r\nc: 2\n".
    ("a: 1\r\nb: |\r\n  x\r\nc: 2\r\n", "a: 5\r\nb: |\r\n  x\r\nc: 2\r\n"),
    ("a: 1\rb: |\r  x\rc: 2\r", "a: 5\rb: |\r  x\rc: 2\r"),
    ("# c\r\na: 1  # t\r\nl:\r\n- x\r\n", "# c\r\na: 5  # t\r\nl:\r\n- x\r\n"),
    # The first break decides: a text mixing them comes back uniform.
    ("a: 1\nb: |\r\n  x\r\n", "a: 5\nb: |\n  x\n"),
    ("a: 1\r\nb: 2\n", "a: 5\r\nb: 2\r\n"),
])
def test_a_document_written_anew_keeps_its_line_break(text, expected):
    out = edited(text, set_key("a", 5))
    assert out.decode() == expected
    assert o.loads(out) == dict(o.loads(text), a=5)


def test_line_break_of_a_multi_document_stream_and_an_upgraded_text():
    out = edited("a: 1\r\n---\r\nb: 2\r\n", set_key("b", 3, 1))
    assert out == b"a: 1\r\n---\r\nb: 3\r\n"
    out = edited("%YAML 1.1\r\n---\r\na: yes\r\n", lambda doc: None, o.OPT_UPGRADE_1_1)
    assert b"\n" not in out.replace(b"\r\n", b"")
    assert o.loads(out) == {"a": True}


def test_unmodified_text_keeps_its_bytes():
    text = "a: 1\r\nb: 2\n"
    assert o.loads(text, option=RT).to_yaml() == text.encode()


def test_included_file_written_back_keeps_its_line_break(tmp_path):
    (tmp_path / "inner.yaml").write_bytes(b"x: 1\r\ny: |\r\n  t\r\n")
    doc = o.loads("inner: !include inner.yaml\n", option=RT | o.OPT_INCLUDES,
                  include_dir=str(tmp_path))
    doc["inner"]["x"] = 2
    texts = o.dump_includes_map(doc)
    assert texts[os.path.join(os.path.realpath(tmp_path), "inner.yaml")] == (
        b"x: 2\r\ny: |\r\n  t\r\n")


# ---------------------------------------------------------------------------
# Tags over assigned values.

@pytest.mark.parametrize("text,value,expected", [
    # Used to be written "a: !!int null  # c", which reads back as 'null'.
    ("a: !!int 7  # c\n", None, "a: null  # c\n"),
    ("a: !!str x\n", None, "a:\n"),
    ("a: !!str x\n", 5, "a: 5\n"),
    ("a: !!map {k: 1}\n", 5, "a: 5\n"),
    ("a: !!seq [1]\n", {"k": 1}, "a:\n  k: 1\n"),
    ("a: !!float 1.5\n", 2, "a: 2\n"),
    ("a: !!bool true\n", "yes", 'a: "yes"\n'),
    ("a: !custom x\n", 5, "a: 5\n"),
    ("a: !custom x\n", None, "a:\n"),
    # Where the tag reads the new value as it is, it stays.
    ("a: !!int 7  # c\n", 8, "a: !!int 8  # c\n"),
    ("a: !!float 1.5\n", 2.5, "a: !!float 2.5\n"),
    ("a: !!str x\n", "y", "a: !!str y\n"),
    ("a: !!null ~\n", None, "a: !!null\n"),
    ("a: !!map {k: 1}\n", {"j": 2}, "a: !!map\n  j: 2\n"),
    ("a: !!seq [1]\n", [2], "a: !!seq\n- 2\n"),
    ("a: !custom x\n", "y", "a: !custom y\n"),
    ("a: !custom {k: 1}\n", {"j": 2}, "a: !custom\n  j: 2\n"),
])
def test_assignment_keeps_a_tag_only_where_it_reads_the_value(text, value, expected):
    doc = o.loads(text, option=RT)
    doc["a"] = value
    out = doc.to_yaml()
    assert out.decode() == expected
    assert o.loads(out) == {"a": value}
    assert doc.to_dict() == {"a": value}


def test_value_setter_and_sequence_items_drop_a_contradicted_tag():
    doc = o.loads("l: [!!str a, !!int 1]\nr: !!str x\n", option=RT)
    doc["l"][0] = 3
    doc["l"][1] = 4
    doc.node["r"].value = None
    assert o.loads(doc.to_yaml()) == {"l": [3, 4], "r": None}
    assert doc.node["l"][1].tag == "!!int" and doc.node["l"][0].tag is None


# ---------------------------------------------------------------------------
# Assigned strings read back as strings.

@pytest.mark.parametrize("option,value", [
    # Used to be written plain and read back as datetime.date(2001, 12, 14).
    (o.OPT_TIMESTAMPS, "2001-12-14"),
    (o.OPT_TIMESTAMPS, "2001-12-14 21:59:43.10 -5"),
    (o.OPT_TIMESTAMPS, "2001-12-14t21:59:43.10-05:00"),
    (o.OPT_YAML_1_1, "2001-12-14"),
    (o.OPT_PYYAML_COMPAT, "2002-12-14"),
    (o.OPT_YAML_1_1, "yes"),
    (o.OPT_PYYAML_COMPAT, "1_000"),
    (0, "0o17"),
])
def test_assigned_string_reads_back_as_that_string(option, value):
    doc = o.loads("k: x\n", option=RT | option)
    doc["k"] = value
    assert doc["k"] == value
    assert doc.to_dict() == {"k": value}
    out = doc.to_yaml()
    assert o.loads(out, option=option) == {"k": value}
    assert o.loads(out, option=RT | option)["k"] == value


def test_a_date_string_stays_plain_where_the_document_reads_no_dates():
    doc = o.loads("k: x\n", option=RT)
    doc["k"] = "2001-12-14"
    assert doc.to_yaml() == b"k: 2001-12-14\n"
    assert o.loads(doc.to_yaml()) == {"k": "2001-12-14"}


def test_a_real_date_still_loads_as_a_date():
    doc = o.loads("k: 2001-12-14\nn: 1\n", option=RT | o.OPT_TIMESTAMPS)
    doc["n"] = 2
    assert doc["k"] == datetime.date(2001, 12, 14)
    assert o.loads(doc.to_yaml(), option=o.OPT_TIMESTAMPS)["k"] == datetime.date(2001, 12, 14)


# ---------------------------------------------------------------------------
# Empty documents of a stream.

@pytest.mark.parametrize("text,index,expected", [
    # Used to come back as "a: 1\n# empty\n---\nb: 3\n": two documents.
    ("a: 1\n---\n# empty\n---\nb: 2\n", 1, "a: 1\n---\n# empty\n---\nb: 3\n"),
    ("---\n---\nb: 2\n", None, "---\n---\nb: 3\n"),
    ("---\n# e1\n---\n# e2\n---\nb: 2\n", None, "---\n# e1\n---\n# e2\n---\nb: 3\n"),
    ("b: 2\n---\n", None, "b: 3\n---\n"),
    ("b: 2\n# foot\n---\n# e\n---\n", None, "b: 3\n# foot\n---\n# e\n---\n"),
    ("a: 1\n---\n...\n---\nb: 2\n", 1, "a: 1\n---\n---\nb: 3\n"),
    ("# top\n---\n...\nb: 2\n", None, "# top\n---\n---\nb: 3\n"),
    ("a: 1\n---\n...\n%YAML 1.2\n---\nb: 2\n", 1, "a: 1\n...\n---\n...\n%YAML 1.2\n---\nb: 3\n"),
    ("a: 1\r\n---\r\n# e\r\n---\r\nb: 2\r\n", 1, "a: 1\r\n---\r\n# e\r\n---\r\nb: 3\r\n"),
])
def test_empty_documents_are_written_back_where_they_stood(text, index, expected):
    out = edited(text, set_key("b", 3, index))
    assert out.decode() == expected
    before = o.loads_all(text)
    after = o.loads_all(out)
    assert len(after) == len(before)
    assert [d for d in after if d != {"b": 3}] == [d for d in before if d != {"b": 2}]
    # And a second cycle writes the same text.
    assert edited(out, set_key("b", 3, index)) == out


@pytest.mark.parametrize("text,index", [
    ("a: 1\n---\n# empty\n---\nb: 2\n", 1),
    ("---\n---\nb: 2\n---\n", None),
])
def test_empty_documents_stay_when_a_whole_document_is_replaced(text, index):
    doc = o.loads(text, option=RT)
    if index is None:
        doc.node.value = {"c": 3}
    else:
        doc[index] = {"c": 3}
    out = doc.to_yaml()
    assert len(o.loads_all(out)) == len(o.loads_all(text))
    assert {"c": 3} in o.loads_all(out)


# ---------------------------------------------------------------------------
# A keep-chomped block scalar that ended its file without a line break reads
# its value only at the end of the text: when anything is written after it,
# it is mended so that it keeps its value. (Its value used to gain a line
# break: "x" became "x\n", "x\n\n" became "x\n\n\n".)

def set_comment_after(text):
    def edit(doc):
        doc.node.comment_after = text
    return edit


@pytest.mark.parametrize("text,edit,expected,path,value", [
    ("a: |+\n  x", set_key("b", 1), "a: |-\n  x\nb: 1\n", ["a"], "x"),
    ("a: >+\n  x", set_key("b", 1), "a: >-\n  x\nb: 1\n", ["a"], "x"),
    ("a: |2+\n   x\n  y", set_key("b", 1), "a: |2-\n   x\n  y\nb: 1\n", ["a"], " x\ny"),
    ("a: |+\n  x\n\n  ", set_key("b", 1), "a: |+\n  x\n\nb: 1\n", ["a"], "x\n\n"),
    ("a: |+\n  x\n  ", set_key("b", 1), "a: |+\n  x\nb: 1\n", ["a"], "x\n"),
    ("a: |+ # c\n  x", set_key("b", 1), "a: |- # c\n  x\nb: 1\n", ["a"], "x"),
    ("m:\n  a: |+\n    x", set_key("b", 1), "m:\n  a: |-\n    x\nb: 1\n", ["m", "a"], "x"),
    ("- |+\n  x\n\n ", set_comment_after("end"), "- |+\n  x\n\n# end\n", [0], "x\n\n"),
    # Nothing written after it: the text ends as it did.
    ("b: 0\na: |+\n  x", set_key("b", 1), "b: 1\na: |+\n  x", ["a"], "x"),
    ("b: 0\na: |+\n  x\n\n  ", set_key("b", 1), "b: 1\na: |+\n  x\n\n  ", ["a"], "x\n\n"),
])
def test_keep_chomped_scalar_at_the_end_of_a_file_keeps_its_value(text, edit, expected, path,
                                                                   value):
    out = edited(text, edit)
    assert out.decode() == expected
    got = o.loads(out, option=RT).to_dict()
    read = got
    for step in path:
        read = read[step]
    assert read == value
    assert_peers_read(out, got)
    # A second cycle writes the same text.
    assert edited(out, edit) == out


# ---------------------------------------------------------------------------
# Keys longer than other readers take in the simple form (1024 characters)
# are written in the "? " form, in block and in flow mappings. (They used to
# be written as simple keys, which PyYAML and ruamel.yaml refuse.)

LONG = "k" * 1100


@pytest.mark.parametrize("text,path,key,expected", [
    ("a: 1\n", [], LONG, f"a: 1\n? {LONG}\n: 2\n"),
    ("- a: 1\n", [0], LONG, f"- a: 1\n  ? {LONG}\n  : 2\n"),
    ("m: {a: 1}\n", ["m"], LONG, f"m: {{a: 1, ? {LONG}: 2}}\n"),
    ("a: 1\n", [], LONG + ": x", f'a: 1\n? "{LONG}: x"\n: 2\n'),
    # Counted in bytes: never more characters than readers take.
    ("a: 1\n", [], "é" * 600, f"a: 1\n? {'é' * 600}\n: 2\n"),
    # Up to the limit the simple form stays.
    ("a: 1\n", [], "k" * 1024, f"a: 1\n{'k' * 1024}: 2\n"),
])
def test_a_long_key_is_written_in_the_explicit_form(text, path, key, expected):
    doc = o.loads(text, option=RT)
    target = doc
    for step in path:
        target = target[step]
    target[key] = 2
    out = doc.to_yaml()
    assert out.decode() == expected
    assert o.loads(out, option=RT).to_dict() == doc.to_dict()
    assert_peers_read(out, doc.to_dict())
