"""dump_includes and dump_includes_map: the texts of the included files, before
and after edits, the files written, and every refusal with its exact text."""
import os
import pathlib

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import _ostrevane as m
import ostrevane as o
from ostrevane.exceptions import OstrevaneIncludeError
from write_back_tree import (APP, DB, DIRECTIVES, ENV_NAME, RT, WriteBackTree, check_conflict,
                             edit, needs_hooks)


@pytest.fixture
def tree(tmp_path):
    return WriteBackTree(tmp_path)


def test_the_map_holds_every_included_file_as_it_was_read(tree):
    doc = tree.load_main()
    result = o.dump_includes_map(doc)
    assert result == {tree.path("app.yaml"): APP.encode(), tree.path("sub/db.yaml"): DB.encode()}
    # Document order, whatever the hashing.
    assert list(result) == [tree.path("app.yaml"), tree.path("sub/db.yaml")]
    assert all(type(k) is str and type(v) is bytes for k, v in result.items())


@needs_hooks
def test_an_edit_re_emits_only_its_own_file(tree):
    doc = tree.load_main()
    edit(doc, ["app", "db", "user"], text="root")
    edit(doc, ["name"], text="not in the map")
    assert o.dump_includes_map(doc) == {
        tree.path("app.yaml"): APP.encode(),
        tree.path("sub/db.yaml"): b"host: localhost\nuser: root\n",
    }
    edit(doc, ["app", "port"], text="1")
    # The outer file is written again with the inner include as its directive.
    assert o.dump_includes_map(doc)[tree.path("app.yaml")] == (
        b"# app settings\nport: 1  # the port\ndb: !include sub/db.yaml\n")


@needs_hooks
def test_dump_includes_writes_every_included_file(tree):
    doc = tree.load_main()
    edit(doc, ["app", "db", "host"], text="h")
    before = {n: tree.inode(n) for n in ("main.yaml", "app.yaml", "sub/db.yaml")}
    assert o.dump_includes(doc) is None
    assert tree.read("app.yaml") == APP.encode()
    assert tree.read("sub/db.yaml") == b"host: h\nuser: admin\n"
    # Unchanged files are rewritten too, with their stored text; the main
    # file never.
    assert tree.inode("app.yaml") != before["app.yaml"]
    assert tree.inode("main.yaml") == before["main.yaml"]
    assert tree.leftovers() == []


def test_include_dir_is_accepted_and_has_no_effect(tree):
    doc = tree.load_main()
    os.makedirs(tree.path("elsewhere"))
    assert o.dump_includes(doc, include_dir=tree.path("elsewhere")) is None
    assert o.dump_includes(doc, include_dir=pathlib.Path(tree.path("elsewhere"))) is None
    assert os.listdir(tree.path("elsewhere")) == []
    with pytest.raises(TypeError) as info:
        o.dump_includes(doc, include_dir=b"x")
    assert info.value.__notes__ == ["while processing 'include_dir'"]


@pytest.mark.parametrize("function", [o.dump_includes, o.dump_includes_map])
def test_a_document_without_includes_is_refused(function):
    doc = o.loads("a: 1\n", option=o.OPT_ROUND_TRIP)
    with pytest.raises(ValueError) as info:
        function(doc)
    assert type(info.value) is ValueError
    assert str(info.value) == "document was not loaded with OPT_INCLUDES; nothing to write back"


def test_another_directive_option_gives_a_file_table_without_includes():
    doc = o.loads("a: 1\n", option=o.OPT_ROUND_TRIP | o.OPT_ENV_VAR)
    assert o.dump_includes_map(doc) == {}
    assert o.dump_includes(doc) is None


@pytest.mark.parametrize("function", [o.dump_includes, o.dump_includes_map])
@pytest.mark.parametrize("arg,name", [("a: 1", "str"), ({}, "dict"), (None, "NoneType")])
def test_doc_must_be_a_document(function, arg, name):
    with pytest.raises(TypeError) as info:
        function(arg)
    assert str(info.value) == f"'{name}' object is not an instance of 'OstrevaneDocument'"
    assert info.value.__notes__ == ["while processing 'doc'"]


def test_directory_includes_give_no_entries(tree):
    tree.write("d/one.yaml", "v: 1\n")
    tree.write("main.yaml", "l: !include_dir_list d\nn: !include_dir_named d\n")
    doc = tree.load_main()
    assert o.dump_includes_map(doc) == {}


@pytest.fixture
def twice(tree):
    tree.write("main.yaml", "a: !include sub/db.yaml\nb: !include sub/db.yaml\n")
    return tree


def test_a_file_included_twice_unchanged_is_listed_once(twice):
    doc = twice.load_main()
    assert o.dump_includes_map(doc) == {twice.path("sub/db.yaml"): DB.encode()}


@needs_hooks
@pytest.mark.parametrize("function", [o.dump_includes, o.dump_includes_map])
def test_a_file_included_twice_and_edited_at_one_place_conflicts(twice, function):
    doc = twice.load_main()
    edit(doc, ["b", "host"], text="other")
    before = twice.inode("sub/db.yaml")
    with pytest.raises(OstrevaneIncludeError) as info:
        function(doc)
    check_conflict(info.value, twice.path("sub/db.yaml"))
    assert twice.inode("sub/db.yaml") == before


@needs_hooks
def test_an_unwritable_file_stops_the_loop(tree):
    doc = tree.load_main()
    edit(doc, ["app", "db", "host"], text="h")
    os.rename(tree.path("sub"), tree.path("moved"))
    with pytest.raises(ValueError) as info:
        o.dump_includes(doc)
    assert type(info.value) is ValueError
    assert str(info.value) == (f"cannot write {tree.path('sub/db.yaml')}: "
                               "No such file or directory (os error 2)")
    # app.yaml came first and stays replaced.
    assert tree.read("app.yaml") == APP.encode()
    assert tree.leftovers() == []


@needs_hooks
def test_a_directory_swapped_for_a_link_is_refused(tree):
    doc = tree.load_main()
    os.makedirs(tree.path("elsewhere"))
    os.rename(tree.path("sub"), tree.path("sub.real"))
    os.symlink(tree.path("elsewhere"), tree.path("sub"))
    with pytest.raises(ValueError) as info:
        o.dump_includes(doc)
    assert str(info.value) == (f"cannot write {tree.path('sub/db.yaml')}: "
                               "Not a directory (os error 20)")
    assert os.listdir(tree.path("elsewhere")) == []


@needs_hooks
def test_a_failed_flush_leaves_the_file_as_it_was(tree):
    doc = tree.load_main()
    before = tree.read("app.yaml")
    m._fail_next_write_for_test("fsync", 5)
    with pytest.raises(ValueError) as info:
        o.dump_includes(doc)
    assert str(info.value) == (f"cannot write {tree.path('app.yaml')}: "
                               "Input/output error (os error 5)")
    assert tree.read("app.yaml") == before
    assert tree.leftovers() == []


@pytest.fixture
def directives(tree, monkeypatch):
    monkeypatch.setenv(ENV_NAME, "from-env")
    return tree.add_directive_files("m: !include middle.yaml\n"
                                    "s: !include sec_mid.yaml\n"
                                    "v: !env_var OSV_WB_VALUE\n"
                                    "l: !include_dir_merge_list d\n")


def test_directive_files_are_given_back_as_directives(directives):
    doc = directives.load_main(option=DIRECTIVES)
    assert o.dump_includes_map(doc) == {
        directives.path("middle.yaml"): b"!include third.yaml\n",
        directives.path("sec_mid.yaml"): b"!secret token\n",
    }


@needs_hooks
@pytest.mark.parametrize("function", [o.dump_includes, o.dump_includes_map])
@pytest.mark.parametrize("path,tag,holder", [
    (["m", "deep"], "!include", "middle.yaml"),
    (["s"], "!secret", "sec_mid.yaml"),
    (["v"], "!env_var", "main.yaml"),
    (["l", 0, "v"], "!include_dir_merge_list", "main.yaml"),
])
def test_edits_no_file_can_hold_are_refused(directives, function, path, tag, holder):
    # Mends: the expanded content (a secret, a variable, a third file) was
    # written into the middle file, or the edit was dropped with success.
    doc = directives.load_main(option=DIRECTIVES)
    edit(doc, path, text="leaked")
    before = {n: directives.inode(n) for n in ("middle.yaml", "sec_mid.yaml")}
    with pytest.raises(OstrevaneIncludeError) as info:
        function(doc)
    held_in = directives.path(holder)
    assert str(info.value) == f"edits inside '{tag}' content cannot be written back in {held_in}"
    assert info.value.file == held_in
    assert before == {n: directives.inode(n) for n in ("middle.yaml", "sec_mid.yaml")}


@pytest.mark.parametrize("function", [o.dump_includes, o.dump_includes_map])
def test_upgrade_marks_in_directory_content_count_as_edits(tree, function):
    # Dropping them would change what the listed files mean at the next load.
    tree.write("d/flags.yaml", "on: yes\n")
    tree.write("main.yaml", "l: !include_dir_named d\nplain: !include sub/db.yaml\n")
    doc = tree.load_main(option=RT | o.OPT_UPGRADE_1_1)
    with pytest.raises(OstrevaneIncludeError) as info:
        function(doc)
    assert str(info.value) == (f"edits inside '!include_dir_named' content cannot be written "
                               f"back in {tree.path('main.yaml')}")
    tree.write("d/flags.yaml", "flag: true\n")
    doc = tree.load_main(option=RT | o.OPT_UPGRADE_1_1)
    assert o.dump_includes_map(doc) == {tree.path("sub/db.yaml"): DB.encode()}


# Lines of an included file: comments, blank lines and plain pairs written
# with odd spacing, all of which an unchanged file must keep.
file_lines = st.lists(st.one_of(
    st.from_regex(r"# [a-z ]{0,12}", fullmatch=True),
    st.just(""),
    st.from_regex(r"k[a-z]{0,5}: {1,3}[0-9a-z]{1,6}( {1,3}# [a-z]{0,6})?", fullmatch=True),
), max_size=8)


@settings(max_examples=40, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture])
@given(first=file_lines, second=file_lines)
def test_unchanged_files_come_back_byte_for_byte(tmp_path_factory, first, second):
    tree = WriteBackTree(tmp_path_factory.mktemp("prop"))
    texts = {"one.yaml": "\n".join(first) + "\n", "sub/two.yaml": "\n".join(second)}
    for name, text in texts.items():
        tree.write(name, text)
    tree.write("main.yaml", "a: !include one.yaml\nb: !include sub/two.yaml\n")
    doc = tree.load_main()
    expected = {tree.path(n): t.encode() for n, t in texts.items()}
    assert o.dump_includes_map(doc) == expected
    o.dump_includes(doc)
    assert {tree.path(n): tree.read(n) for n in texts} == expected
    assert doc.save() == []


# ---------------------------------------------------------------------------
# Through the public editing members


def test_an_assignment_re_emits_its_file(tree):
    doc = tree.load_main()
    doc["app"]["db"]["user"] = "root"
    assert o.dump_includes_map(doc) == {
        tree.path("app.yaml"): APP.encode(),
        tree.path("sub/db.yaml"): b"host: localhost\nuser: root\n",
    }
    o.dump_includes(doc)
    assert tree.read("sub/db.yaml") == b"host: localhost\nuser: root\n"


@pytest.mark.parametrize("assign,tag,holder", [
    (lambda doc: doc["m"].__setitem__("deep", 2), "!include", "middle.yaml"),
    (lambda doc: doc["l"][0].__setitem__("v", 2), "!include_dir_merge_list", "main.yaml"),
])
def test_assignments_no_file_can_hold_are_refused(directives, assign, tag, holder):
    doc = directives.load_main(option=DIRECTIVES)
    assign(doc)
    for function in (o.dump_includes_map, o.dump_includes, lambda d: d.save()):
        with pytest.raises(OstrevaneIncludeError) as info:
            function(doc)
        assert str(info.value) == (f"edits inside '{tag}' content cannot be written back "
                                   f"in {directives.path(holder)}")
