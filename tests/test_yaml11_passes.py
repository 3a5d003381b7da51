"""YAML 1.1 warnings and the upgrade to YAML 1.2 on node trees."""

import math

import pytest

import ostrevane as o

RT = o.OPT_ROUND_TRIP
UP = o.OPT_UPGRADE_1_1
WARN = o.OPT_YAML_1_1_WARN


def upgraded(text, option=0):
    return o.loads(text, option=RT | UP | option)


# ---------------------------------------------------------------------------
# The upgrade.

@pytest.mark.parametrize("value, written, meaning", [
    ("yes", "true", True),
    ("on", "true", True),
    ("Y", "true", True),
    ("off", "false", False),
    ("1_000", "1000", 1000),
    ("017", "15", 15),
    ("1:30", "90", 90),
    ("0x_1F", "31", 31),
    ("1_000.5", "1000.5", 1000.5),
    ("~", "~", None),
    ("hello", "hello", "hello"),
    ("12", "12", 12),
])
def test_upgrade_examples(value, written, meaning):
    doc = upgraded(f"a: {value}\n")
    assert doc.to_yaml() == f"%YAML 1.2\n---\na: {written}\n".encode()
    assert doc.to_dict() == {"a": meaning}
    # The written text means the same when read as YAML 1.2.
    assert o.loads(doc.to_yaml()) == {"a": meaning}


def test_compat_rules_keep_y_a_string():
    doc = upgraded("a: Y\nb: yes\n", o.OPT_PYYAML_COMPAT)
    assert doc.to_yaml() == b"%YAML 1.2\n---\na: Y\nb: true\n"


def test_keys_are_upgraded():
    doc = upgraded("yes: 1\n")
    assert doc.to_yaml() == b"%YAML 1.2\n---\ntrue: 1\n"
    assert doc.to_dict() == {True: 1}


def test_quoted_and_equal_scalars_are_left_alone():
    text = "%YAML 1.1\n---\na: 'yes'\nb: 1.0\nc: \"on\"\n"
    doc = upgraded(text)
    # Nothing was modified: the text comes back with only its head changed.
    assert doc.to_yaml() == b"%YAML 1.2\n---\na: 'yes'\nb: 1.0\nc: \"on\"\n"


def test_nan_is_always_rewritten():
    doc = upgraded("a: .NaN\n")
    assert doc.to_yaml() == b"%YAML 1.2\n---\na: .nan\n"
    assert math.isnan(doc.to_dict()["a"])


def test_merge_keys_stay():
    text = "b: &b {x: 1}\nm:\n  <<: *b\n"
    doc = upgraded(text)
    assert doc.to_dict()["m"] == {"x": 1}


def test_upgraded_document_reads_as_yaml_12():
    doc = upgraded("a: yes\nb: 017\n")
    assert doc.to_dict() == {"a": True, "b": 15}
    assert o.loads(doc.to_yaml(), option=RT).to_dict() == {"a": True, "b": 15}


# Mend: a scalar that YAML 1.1 reads as a string but YAML 1.2 as a number
# was left as it is, so the upgraded document, which declares YAML 1.2,
# read it as the int 15. Quoting it keeps the string.
@pytest.mark.parametrize("option, written", [
    (0, b'a: "0o17"\n'),
    (o.OPT_SINGLE_QUOTES, b"a: '0o17'\n"),
])
def test_a_former_string_is_quoted(option, written):
    doc = upgraded("a: 0o17\n", option)
    assert doc.to_yaml() == b"%YAML 1.2\n---\n" + written
    assert doc.to_dict() == {"a": "0o17"}
    assert o.loads(doc.to_yaml()) == {"a": "0o17"}


def test_under_yaml_12_nothing_changes(warnings):
    text = "%YAML 1.2\n---\na: yes\nb: 0o17\n"
    doc = o.loads(text, option=RT | UP | WARN)
    assert doc.to_yaml() == b"%YAML 1.2\n---\na: yes\nb: 0o17\n"
    assert doc.to_dict() == {"a": "yes", "b": 15}
    assert warnings() == []


# ---------------------------------------------------------------------------
# Heads of the upgraded text.

@pytest.mark.parametrize("text, head", [
    # No directive, no "---".
    ("a: yes\n", b"%YAML 1.2\n---\na: true\n"),
    # The directive and its "---".
    ("%YAML 1.1\n---\na: yes\n", b"%YAML 1.2\n---\na: true\n"),
    # %TAG lines are kept behind the new directive.
    ("%TAG !e! tag:e.com,2000:\n%YAML 1.1\n---\na: 1\n",
     b"%YAML 1.2\n%TAG !e! tag:e.com,2000:\n---\na: 1\n"),
    # A "---" without a directive.
    ("--- # doc\na: 1\n", b"%YAML 1.2\n--- # doc\na: 1\n"),
    # A byte-order mark stays in front.
    ("\ufeff%YAML 1.1\n---\na: 1\n", b"\xef\xbb\xbf%YAML 1.2\n---\na: 1\n"),
    # An empty text.
    ("", b"%YAML 1.2\n---\n"),
])
def test_heads(text, head):
    assert upgraded(text).to_yaml() == head


# Mend (the prologue case): comment or blank lines before the %YAML line
# stopped the head scan, so the old directive stayed behind the inserted
# "---" and the written text would not load again. The comment lines that
# lead the text stay above the new directive; those below a directive stay
# below.
@pytest.mark.parametrize("text, head", [
    ("# config\n%YAML 1.1\n---\na: 1\n", b"# config\n%YAML 1.2\n---\na: 1\n"),
    ("\n# one\n\n# two\n%YAML 1.1\n%TAG !e! tag:e.com,2000:\n---\na: 1\n",
     b"\n# one\n\n# two\n%YAML 1.2\n%TAG !e! tag:e.com,2000:\n---\na: 1\n"),
    ("# only a comment\na: 1\n", b"# only a comment\n%YAML 1.2\n---\na: 1\n"),
    ("%TAG !e! tag:e.com,2000:\n# below\n%YAML 1.1\n---\na: 1\n",
     b"%YAML 1.2\n%TAG !e! tag:e.com,2000:\n# below\n---\na: 1\n"),
])
def test_comment_lines_before_the_directive(text, head):
    doc = upgraded(text)
    assert doc.to_yaml() == head
    assert o.loads(doc.to_yaml(), option=RT).to_dict() == {"a": 1}


def test_emitted_head_after_an_edit_keeps_one_directive():
    text = "# config\n%YAML 1.1\n---\na: yes\n"
    out = upgraded(text).to_yaml()
    assert out.count(b"%YAML") == 1
    assert out.startswith(b"# config\n%YAML 1.2\n")
    assert o.loads(out) == {"a": True}


@pytest.mark.parametrize("text", [
    "# yaml-language-server: $schema=s.json\na: yes\n",
    "# yaml-language-server: $schema=s.json\n%YAML 1.1\n---\na: yes\n",
])
def test_upgrade_keeps_the_schema_reference_in_the_head(text):
    out = upgraded(text).to_yaml()
    assert out.startswith(b"# yaml-language-server: $schema=s.json\n%YAML 1.2\n---\n")
    assert o.schema_ref(out) == "s.json"


def test_dumps_writes_the_upgraded_text():
    assert o.dumps(upgraded("a: on\n")) == b"%YAML 1.2\n---\na: true\n"


def test_loads_all_upgrades_each_document():
    docs = o.loads_all("a: yes\n---\nb: off\n", option=RT | UP)
    assert [d.to_dict() for d in docs] == [{"a": True}, {"b": False}]
    assert docs[1].to_yaml() == b"%YAML 1.2\n---\nb: false\n"


# ---------------------------------------------------------------------------
# Warnings.

def test_warning_quotes_the_text_as_written(warnings):
    o.loads("a: yes\n", option=RT | o.OPT_YAML_1_1 | WARN)
    assert warnings() == [
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4"]


def test_warnings_come_before_the_upgrade(warnings):
    doc = o.loads("on: 1_000\nb: [~, 1:30]\n", option=RT | UP | WARN)
    assert warnings() == [
        "YAML 1.1 syntax 'on' resolves as bool in 1.1 but str in 1.2 at line 1, column 1",
        "YAML 1.1 syntax '1_000' resolves as int in 1.1 but str in 1.2 at line 1, column 5",
        "YAML 1.1 syntax '1:30' resolves as int in 1.1 but str in 1.2 at line 2, column 8",
    ]
    assert doc.to_dict() == {True: 1000, "b": [None, 90]}


@pytest.mark.parametrize("text", ["a: 'yes'\n", "a: 1.0\n", "<<: {x: 1}\n", "a: text\n"])
def test_what_does_not_warn(text, warnings):
    o.loads(text, option=RT | o.OPT_YAML_1_1 | WARN)
    assert warnings() == []


def test_warnings_need_yaml_11(warnings):
    o.loads("a: yes\n", option=RT | WARN)
    assert warnings() == []


@pytest.mark.parametrize("load", [
    pytest.param(lambda t, opt: o.loads(t, option=o.OPT_ANNOTATED | opt), id="annotated"),
    pytest.param(lambda t, opt: o.loads(t, option=o.OPT_ENV_VAR | opt), id="node"),
    pytest.param(lambda t, opt: o.loads_all(t, option=o.OPT_ANNOTATED | opt)[0], id="loads_all"),
])
def test_node_roads_warn_without_upgrading(load, warnings):
    assert load("a: yes\n", o.OPT_YAML_1_1 | WARN) == {"a": True}
    assert warnings() == [
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 4"]


def test_loads_all_warns_for_its_yaml_11_documents_only(warnings):
    text = "a: yes\n...\n%YAML 1.1\n---\nb: yes\n"
    o.loads_all(text, option=RT | WARN)
    assert warnings() == [
        "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 5, column 4"]


def test_duplicate_keys_compare_upgraded_scalars():
    with pytest.raises(o.exceptions.OstrevaneDuplicateKeyError) as info:
        upgraded("yes: 1\ntrue: 2\n", o.OPT_DUPLICATE_KEYS_ERROR)
    assert str(info.value) == "duplicate mapping key: true at line 2, column 1"
