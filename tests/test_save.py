"""OstrevaneDocument.save: which files are written, with what, in which order,
and every refusal, checked on disk under tmp_path. Edits go through the
test-only edit hook (write_back_tree.edit) where no public edit exists."""
import os
import pathlib

import pytest

import _ostrevane as m
import ostrevane as o
from ostrevane.exceptions import OstrevaneIncludeError
from write_back_tree import (DIRECTIVES, ENV_NAME, RT, WriteBackTree, check_conflict, edit,
                             needs_hooks)


@pytest.fixture
def tree(tmp_path):
    return WriteBackTree(tmp_path)


def snapshot(tree, *names):
    return {n: (tree.read(n), tree.inode(n)) for n in names}


ALL = ("main.yaml", "app.yaml", "sub/db.yaml")

# ---------------------------------------------------------------------------
# Documents without includes


def test_an_unedited_document_writes_nothing(tree):
    doc = o.loads("a: 1  # c\n", option=o.OPT_ROUND_TRIP)
    assert doc.save() == []
    doc.set_origin(tree.path("plain.yaml"))
    assert doc.save() == []
    assert not os.path.exists(tree.path("plain.yaml"))


@needs_hooks
def test_origin_save_as_and_a_second_save(tree):
    p, q = tree.path("p.yaml"), tree.path("q.yaml")
    doc = o.loads("# head\na: 1   # one\nb: [x, y]\n", option=o.OPT_ROUND_TRIP)
    doc.set_origin(p)
    edit(doc, ["a"], text="2")
    assert doc.save() == [p]
    assert tree.read("p.yaml") == b"# head\na: 2   # one\nb: [x, y]\n"
    assert doc.save(q) == [q]
    assert tree.read("q.yaml") == tree.read("p.yaml")
    assert doc.origin == p
    # Nothing is cleared by saving: the same file is written again.
    before = tree.inode("p.yaml")
    assert doc.save() == [p]
    assert tree.inode("p.yaml") != before


def test_save_as_of_an_unmodified_document_writes_the_loaded_text(tree):
    text = "a:    1 #  odd   spacing\n\n\nb: 'q'\n"
    doc = o.loads(text, option=o.OPT_ROUND_TRIP)
    assert doc.save(tree.path("copy.yaml")) == [tree.path("copy.yaml")]
    assert tree.read("copy.yaml") == text.encode()


def test_a_text_of_comments_only(tree):
    doc = o.loads("# only a comment\n", option=o.OPT_ROUND_TRIP)
    doc.set_origin(tree.path("c.yaml"))
    assert doc.save() == []
    assert doc.save(tree.path("c.yaml")) == [tree.path("c.yaml")]
    assert tree.read("c.yaml") == b"# only a comment\n"


@needs_hooks
def test_a_main_edit_without_origin_needs_a_path(tree):
    doc = o.loads("a: 1\n", option=o.OPT_ROUND_TRIP)
    edit(doc, ["a"], text="2")
    with pytest.raises(ValueError) as info:
        doc.save()
    assert type(info.value) is ValueError
    assert str(info.value) == "save() needs a path: this document was not loaded from a file"


@pytest.mark.parametrize("bad,name", [(b"x.yaml", "bytes"), (pathlib.Path("x.yaml"), "PosixPath"),
                                      (3, "int")])
def test_path_must_be_str_or_none(tree, bad, name):
    doc = o.loads("a: 1\n", option=o.OPT_ROUND_TRIP)
    with pytest.raises(TypeError) as info:
        doc.save(bad)
    assert str(info.value) == f"save() argument 'path' must be str or None, not {name}"
    with pytest.raises(TypeError):
        doc.save(path=bad)
    assert doc.save(path=None) == []


def test_a_failed_write_raises_oserror_with_the_path(tree):
    doc = o.loads("a: 1\n", option=o.OPT_ROUND_TRIP)
    target = tree.path("missing/dir/x.yaml")
    with pytest.raises(OSError) as info:
        doc.save(target)
    assert type(info.value) is OSError
    assert str(info.value) == f"cannot write {target}: No such file or directory (os error 2)"
    for bad, text in [("", "cannot write a path that ends in `..` or is empty"),
                      (tree.path("x/.."), "cannot write a path that ends in `..` or is empty")]:
        with pytest.raises(OSError) as info:
            doc.save(bad)
        assert str(info.value) == f"cannot write {bad}: {text}"


# ---------------------------------------------------------------------------
# Permissions and temporary files


def test_a_new_file_gets_0666_less_the_umask(tree):
    doc = o.loads("a: 1\n", option=o.OPT_ROUND_TRIP)
    old = os.umask(0o027)
    try:
        doc.save(tree.path("new.yaml"))
    finally:
        os.umask(old)
    assert os.stat(tree.path("new.yaml")).st_mode & 0o7777 == 0o640
    assert tree.leftovers() == []


@needs_hooks
def test_a_private_file_stays_private(tree):
    # Mend: the replaced file used to get 0o666 less the umask.
    os.chmod(tree.path("sub/db.yaml"), 0o600)
    os.chmod(tree.path("main.yaml"), 0o640)
    doc = tree.load_main()
    edit(doc, ["app", "db", "user"], text="root")
    edit(doc, ["name"], text="x")
    assert doc.save() == [tree.path("sub/db.yaml"), tree.path("main.yaml")]
    assert os.stat(tree.path("sub/db.yaml")).st_mode & 0o7777 == 0o600
    assert os.stat(tree.path("main.yaml")).st_mode & 0o7777 == 0o640


@needs_hooks
def test_a_taken_temporary_name_is_skipped(tree):
    doc = o.loads("a: 1\n", option=o.OPT_ROUND_TRIP)
    n = m._temp_file_counter_for_test()
    taken = tree.path(f"t.yaml.ostrevane-tmp.{os.getpid()}.{n}")
    with open(taken, "w") as f:
        f.write("leftover")
    doc.save(tree.path("t.yaml"))
    assert m._temp_file_counter_for_test() == n + 2
    assert tree.read("t.yaml") == b"a: 1\n"
    assert tree.leftovers() == [taken]


@needs_hooks
@pytest.mark.parametrize("step,errno,text", [
    ("fsync", 5, "Input/output error (os error 5)"),
    ("close", 28, "No space left on device (os error 28)"),
])
def test_a_failed_flush_or_close_keeps_the_old_file(tree, step, errno, text):
    # Mend: close was not checked and nothing was flushed, so a failure that
    # only shows there replaced a good file with a truncated one.
    doc = tree.load_main()
    edit(doc, ["name"], text="changed")
    before = tree.read("main.yaml")
    m._fail_next_write_for_test(step, errno)
    with pytest.raises(OSError) as info:
        doc.save()
    assert str(info.value) == f"cannot write {tree.path('main.yaml')}: {text}"
    assert tree.read("main.yaml") == before
    assert tree.leftovers() == []
    assert doc.save() == [tree.path("main.yaml")]


# ---------------------------------------------------------------------------
# Documents with includes


def test_an_unedited_document_with_includes_writes_nothing(tree):
    doc = tree.load_main()
    before = snapshot(tree, *ALL)
    assert doc.save() == []
    assert snapshot(tree, *ALL) == before


@needs_hooks
def test_only_the_changed_included_file_is_written(tree):
    doc = tree.load_main(origin=False)
    before = snapshot(tree, "main.yaml", "sub/db.yaml")
    edit(doc, ["app", "port"], text="9090")
    assert doc.save() == [tree.path("app.yaml")]
    assert tree.read("app.yaml") == (b"# app settings\nport: 9090  # the port\n"
                                     b"db: !include sub/db.yaml\n")
    assert snapshot(tree, "main.yaml", "sub/db.yaml") == before


@needs_hooks
def test_a_nested_edit_writes_only_the_innermost_file(tree):
    doc = tree.load_main()
    before = snapshot(tree, "main.yaml", "app.yaml")
    edit(doc, ["app", "db", "host"], text="db.example")
    assert doc.save() == [tree.path("sub/db.yaml")]
    assert tree.read("sub/db.yaml") == b"host: db.example\nuser: admin\n"
    assert snapshot(tree, "main.yaml", "app.yaml") == before


@needs_hooks
def test_replacing_an_include_node_dirties_the_main_file(tree):
    doc = tree.load_main()
    before = snapshot(tree, "app.yaml", "sub/db.yaml")
    edit(doc, ["app"], how="replace", text="none")
    assert doc.save() == [tree.path("main.yaml")]
    assert tree.read("main.yaml") == b"# main file\napp: none\nname: demo   # kept as written\n"
    assert snapshot(tree, "app.yaml", "sub/db.yaml") == before


@needs_hooks
def test_the_main_path_is_checked_before_anything_is_written(tree):
    # Mend: the included files were written first, then ValueError.
    doc = tree.load_main(origin=False)
    edit(doc, ["app", "port"], text="1")
    edit(doc, ["name"], text="x")
    before = snapshot(tree, *ALL)
    with pytest.raises(ValueError) as info:
        doc.save()
    assert str(info.value) == "save() needs a path: this document was not loaded from a file"
    assert snapshot(tree, *ALL) == before
    out = tree.path("out.yaml")
    assert doc.save(out) == [tree.path("app.yaml"), out]


@needs_hooks
def test_files_written_before_a_failure_stay_written(tree):
    doc = tree.load_main()
    edit(doc, ["app", "port"], text="1")
    target = tree.path("gone/x.yaml")
    with pytest.raises(OSError) as info:
        doc.save(target)
    assert str(info.value) == f"cannot write {target}: No such file or directory (os error 2)"
    assert b"port: 1" in tree.read("app.yaml")


@needs_hooks
def test_an_included_directory_swapped_for_a_link_is_not_followed(tree):
    doc = tree.load_main()
    edit(doc, ["app", "db", "host"], text="evil")
    os.rename(tree.path("sub"), tree.path("sub.real"))
    os.makedirs(tree.path("elsewhere"))
    os.symlink(tree.path("elsewhere"), tree.path("sub"))
    with pytest.raises(OSError) as info:
        doc.save()
    assert str(info.value) == (f"cannot write {tree.path('sub/db.yaml')}: "
                               "Not a directory (os error 20)")
    assert os.listdir(tree.path("elsewhere")) == []
    assert tree.leftovers() == []


# ---------------------------------------------------------------------------
# One file included at two places (mend: written twice, the later text won)


@pytest.fixture
def twice(tree):
    tree.write("main.yaml", "a: !include sub/db.yaml\nb: !include sub/db.yaml\n")
    return tree


@needs_hooks
@pytest.mark.parametrize("edits", [
    [(["a", "host"], "x"), (["b", "host"], "y")],
    [(["b", "user"], "z")],
])
def test_conflicting_versions_of_one_file_are_refused_before_writing(twice, edits):
    doc = twice.load_main()
    for path, text in edits:
        edit(doc, path, text=text)
    before = snapshot(twice, "main.yaml", "sub/db.yaml")
    with pytest.raises(OstrevaneIncludeError) as info:
        doc.save()
    check_conflict(info.value, twice.path("sub/db.yaml"))
    assert snapshot(twice, "main.yaml", "sub/db.yaml") == before


@needs_hooks
def test_the_same_edit_at_both_places_is_written_once(twice):
    doc = twice.load_main()
    edit(doc, ["a", "host"], text="same")
    edit(doc, ["b", "host"], text="same")
    assert doc.save() == [twice.path("sub/db.yaml")]
    assert twice.read("sub/db.yaml") == b"host: same\nuser: admin\n"


# ---------------------------------------------------------------------------
# A removed document (mend: the file kept it)


@needs_hooks
def test_a_removed_document_dirties_the_main_file(tree):
    p = tree.path("multi.yaml")
    doc = o.loads("first: 1\n---\nsecond: 2\n", option=o.OPT_ROUND_TRIP)
    doc.set_origin(p)
    edit(doc, [], how="delete_root", root=0)
    assert doc.save() == [p]
    assert tree.read("multi.yaml") == b"---\nsecond: 2\n"
    lone = o.loads("only: 1\n", option=o.OPT_ROUND_TRIP)
    edit(lone, [], how="delete_root")
    with pytest.raises(ValueError):
        lone.save()
    assert lone.save(p) == [p]
    assert tree.read("multi.yaml") == b""


# ---------------------------------------------------------------------------
# Edits no file can hold (mends): refused before anything is written


@pytest.fixture
def directives(tree, monkeypatch):
    monkeypatch.setenv(ENV_NAME, "from-env")
    return tree.add_directive_files("m: !include middle.yaml\n"
                                    "e: !include env_mid.yaml\n"
                                    "t: !secret token\n"
                                    "v: !env_var OSV_WB_VALUE\n"
                                    "l: !include_dir_list d\n"
                                    "plain: 1\n")


REFUSED = [
    # An included file whose whole content was a directive.
    (["m", "deep"], "set", "!include", "middle.yaml"),
    (["m"], "mark", "!include", "middle.yaml"),
    (["e"], "set", "!env_var", "env_mid.yaml"),
    # Content of a secret, a variable or a directory include.
    (["t"], "set", "!secret", "main.yaml"),
    (["v"], "set", "!env_var", "main.yaml"),
    (["l", 0, "v"], "set", "!include_dir_list", "main.yaml"),
    (["l"], "mark", "!include_dir_list", "main.yaml"),
]


@needs_hooks
@pytest.mark.parametrize("path,how,tag,holder", REFUSED)
def test_edits_no_file_can_hold_are_refused(directives, path, how, tag, holder):
    doc = directives.load_main(option=DIRECTIVES)
    assert doc.save() == []
    edit(doc, ["plain"], text="2")
    edit(doc, path, how=how, text="leaked")
    names = ("main.yaml", "middle.yaml", "third.yaml", "env_mid.yaml", "d/one.yaml")
    before = snapshot(directives, *names)
    with pytest.raises(OstrevaneIncludeError) as info:
        doc.save()
    assert type(info.value) is OstrevaneIncludeError
    held_in = directives.path(holder)
    assert str(info.value) == f"edits inside '{tag}' content cannot be written back in {held_in}"
    assert info.value.file == held_in
    assert info.value.include_stack == []
    assert snapshot(directives, *names) == before


@needs_hooks
def test_replacing_a_directive_node_is_an_ordinary_main_edit(directives):
    doc = directives.load_main(option=DIRECTIVES)
    edit(doc, ["t"], how="replace", text="plain-token")
    assert doc.save() == [directives.path("main.yaml")]
    text = directives.read("main.yaml")
    assert b"t: plain-token\n" in text and b"s3cret" not in text
    assert b"v: !env_var OSV_WB_VALUE\n" in text


def test_upgrade_marks_in_directory_content_count_as_edits(tree):
    tree.write("d/flags.yaml", "on: yes\n")
    tree.write("main.yaml", "l: !include_dir_list d\n")
    doc = tree.load_main(option=RT | o.OPT_UPGRADE_1_1)
    with pytest.raises(OstrevaneIncludeError) as info:
        doc.save()
    assert str(info.value) == (f"edits inside '!include_dir_list' content cannot be written back "
                               f"in {tree.path('main.yaml')}")


# ---------------------------------------------------------------------------
# Through the public editing members


editing = pytest.mark.skipif(not hasattr(o.loads("a: 1\n", option=o.OPT_ROUND_TRIP),
                                         "__setitem__"), reason="editing is not built")


@editing
def test_an_assignment_inside_an_include_writes_that_file_only(tree):
    doc = tree.load_main()
    before = snapshot(tree, "main.yaml", "sub/db.yaml")
    doc["app"]["port"] = 9090
    assert doc.save() == [tree.path("app.yaml")]
    assert b"port: 9090" in tree.read("app.yaml")
    assert snapshot(tree, "main.yaml", "sub/db.yaml") == before


@editing
def test_assigning_over_an_include_dirties_the_main_file(tree):
    doc = tree.load_main()
    doc["app"] = {"port": 1}
    assert doc.save() == [tree.path("main.yaml")]
    assert b"!include app.yaml" not in tree.read("main.yaml")


@editing
def test_deleting_a_document_then_saving_removes_it_from_the_file(tree):
    p = tree.path("multi.yaml")
    doc = o.loads("first: 1\n---\nsecond: 2\n", option=o.OPT_ROUND_TRIP)
    doc.set_origin(p)
    del doc[0]
    assert doc.save() == [p]
    assert b"first" not in tree.read("multi.yaml")


# ---------------------------------------------------------------------------
# What a file holds besides the document its !include reads


def load_including(tree, stored):
    """The document of main.yaml `db: !include db.yaml`, db.yaml holding `stored`."""
    tree.write("db.yaml", stored.encode())
    tree.write("main.yaml", "db: !include db.yaml\n")
    return tree.load_main()


@pytest.mark.parametrize("stored,written", [
    # Mend: the file was cut to its first document.
    ("a: 1\n---\nb: 2\n", "a: 5\n---\nb: 2\n"),
    ("a: 1  # one\n# above the second\n---\nb: !secret s   # as written\n...\n%YAML 1.2\n"
     "---\nc: 3\n",
     "a: 5  # one\n# above the second\n---\nb: !secret s   # as written\n...\n%YAML 1.2\n"
     "---\nc: 3\n"),
    ("---\na: 1  # first\n---\n---\n- x\n", "---\na: 5  # first\n---\n---\n- x\n"),
    ("a: 1\r\n---\r\nb: 2\r\n", "a: 5\r\n---\r\nb: 2\r\n"),
])
def test_the_later_documents_of_an_included_file_are_written_back(tree, stored, written):
    doc = load_including(tree, stored)
    doc["db"]["a"] = 5
    assert o.dump_includes_map(doc) == {tree.path("db.yaml"): written.encode()}
    assert doc.save() == [tree.path("db.yaml")]
    assert tree.read("db.yaml") == written.encode()
    assert tree.read("main.yaml") == b"db: !include db.yaml\n"


@pytest.mark.parametrize("stored,written", [
    # Mend: the comment lines were lost.
    ("# keep me\n", "# keep me\nk: 1\n"),
    ("# a\n\n# b", "# a\n\n# b\nk: 1\n"),
    # The empty document stays; its end marker is not kept.
    ("# a\n---\n# b\n...\n", "# a\n---\n---\n# b\nk: 1\n"),
    ("# a\r\n", "# a\r\nk: 1\r\n"),
    ("", "k: 1\n"),
])
def test_an_included_file_without_a_document_keeps_its_comment_lines(tree, stored, written):
    doc = load_including(tree, stored)
    doc["db"]["k"] = 1
    # The lines read above the new first key are those a reload reads.
    lines = [line[2:] for line in stored.splitlines() if line.startswith("#")]
    assert doc.node["db"]["k"].comment_before == ("\n".join(lines) if lines else None)
    assert doc.save() == [tree.path("db.yaml")]
    assert tree.read("db.yaml") == written.encode()
    again = tree.load_main()
    assert again.to_dict() == {"db": {"k": 1}}
    assert o.dump_includes_map(again) == {tree.path("db.yaml"): written.encode()}


# ---------------------------------------------------------------------------
# Comments of a directive node (mend: set on an !include node they showed in
# to_yaml() and were written nowhere, while save() reported the included file)


@pytest.fixture
def commented(tree):
    tree.write("db.yaml", "# head\nx: 1  # xc\n# foot\n")
    tree.write("secrets.yaml", "pw: hunter2\n")
    tree.write("main.yaml", "db: !include db.yaml\nitems:\n- !include db.yaml\npw: !secret pw\n")
    return tree


DIRECTIVE_COMMENTS = [
    (["db"], "comment", "db: !include db.yaml # note\n"),
    (["db"], "comment_before", "# note\ndb: !include db.yaml\n"),
    (["items", 0], "comment", "- !include db.yaml # note\n"),
    (["items", 0], "comment_before", "# note\n- !include db.yaml\n"),
    (["pw"], "comment", "pw: !secret pw # note\n"),
]


@pytest.mark.parametrize("path,member,shown", DIRECTIVE_COMMENTS)
def test_a_comment_on_a_directive_node_is_saved_in_the_file_holding_it(commented, path, member,
                                                                       shown):
    doc = commented.load_main(option=RT | o.OPT_SECRETS)
    node = doc.node
    for step in path:
        node = node[step]
    setattr(node, member, "note")
    assert getattr(node, member) == "note"
    text = doc.to_yaml()
    assert shown.encode() in text
    assert doc.save() == [commented.path("main.yaml")]
    assert commented.read("main.yaml") == text
    assert commented.read("db.yaml") == b"# head\nx: 1  # xc\n# foot\n"
    assert b"hunter2" not in text


def test_comment_after_an_include_node_is_the_included_files_last_lines(commented):
    commented.write("main.yaml", "db: !include db.yaml\npw: !secret pw\n")
    doc = commented.load_main(option=RT | o.OPT_SECRETS)
    node = doc.node["db"]
    assert node.comment_after == "foot"
    node.comment_after = "after\nthe end"
    assert node.comment_after == "after\nthe end"
    written = b"# head\nx: 1  # xc\n# after\n# the end\n"
    assert o.dump_includes_map(doc)[commented.path("db.yaml")] == written
    assert doc.to_yaml() == commented.read("main.yaml")
    assert doc.save() == [commented.path("db.yaml")]
    assert commented.read("db.yaml") == written
    assert commented.load_main().node["db"].comment_after == "after\nthe end"


def test_the_lines_above_an_included_mappings_first_key_are_that_files(tree):
    # Mend: they read None, and a text set there was written nowhere.
    tree.write("db.yaml", "# head\nk: 1\nj: 2\n")
    tree.write("main.yaml", "# main\ndb: !include db.yaml\nz: 1\n")
    doc = tree.load_main()
    node = doc.node["db"]["k"]
    assert node.comment_before == "head"
    node.comment_before = "new head"
    assert node.comment_before == "new head"
    written = b"# new head\nk: 1\nj: 2\n"
    assert o.dump_includes_map(doc) == {tree.path("db.yaml"): written}
    assert doc.save() == [tree.path("db.yaml")]
    assert tree.read("db.yaml") == written
    assert tree.read("main.yaml") == b"# main\ndb: !include db.yaml\nz: 1\n"
    assert tree.load_main().node["db"]["k"].comment_before == "new head"


def test_comment_after_a_secret_is_refused(commented):
    doc = commented.load_main(option=RT | o.OPT_SECRETS)
    with pytest.raises(ValueError) as info:
        doc.node["pw"].comment_after = "x"
    assert str(info.value) == ("comment_after is only supported on a block mapping, a block "
                               "sequence, or the document root")
    doc.node["pw"].comment_after = None
    assert doc.node["pw"].comment_after is None
    assert doc.save() == [commented.path("main.yaml")]
    assert b"hunter2" not in commented.read("main.yaml")


# ---------------------------------------------------------------------------
# detach() of an alias whose anchored node holds directives (mend: the copy
# was written with the secret's value, or the included file's content and
# comments, in the main file)


@pytest.mark.parametrize("main,written", [
    ("base: &b\n  pw: !secret db_pw\nother: *b\n",
     "base: &b\n  pw: !secret db_pw\nother:\n  pw: !secret db_pw\n"),
    ("base: &b\n  k: !include db.yaml\nother: *b\n",
     "base: &b\n  k: !include db.yaml\nother:\n  k: !include db.yaml\n"),
    ("base: &b\n  - !secret db_pw\n  - e: !env_var OSV_WB_VALUE\nother: *b\n",
     "base: &b\n  - !secret db_pw\n  - e: !env_var OSV_WB_VALUE\nother:\n  - !secret db_pw\n"
     "  - e: !env_var OSV_WB_VALUE\n"),
])
def test_detach_keeps_directives_as_directives(tree, monkeypatch, main, written):
    monkeypatch.setenv(ENV_NAME, "from-env")
    tree.write("secrets.yaml", "db_pw: hunter2\n")
    tree.write("db.yaml", "# head\nx: 1  # xc\n")
    tree.write("main.yaml", main)
    doc = tree.load_main(option=DIRECTIVES)
    before = doc.to_dict()
    doc.node["other"].detach()
    assert doc.to_dict() == before
    assert doc.to_yaml() == written.encode()
    assert doc.save() == [tree.path("main.yaml")]
    assert tree.read("main.yaml") == written.encode()
    assert tree.read("db.yaml") == b"# head\nx: 1  # xc\n"
    assert tree.load_main(option=DIRECTIVES).to_dict() == before


def test_comment_after_an_include_of_a_multi_document_file_is_refused(tree):
    # Lines after the first document would be read back as the second's.
    tree.write("db.yaml", "a: 1\n---\nb: 2\n")
    tree.write("main.yaml", "db: !include db.yaml\n")
    doc = tree.load_main()
    with pytest.raises(ValueError) as info:
        doc.node["db"].comment_after = "x"
    assert str(info.value) == ("comment_after cannot be written after an included document that "
                               "other documents of its file follow")
    assert doc.save() == []
