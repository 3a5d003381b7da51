"""save() over generated include trees writes what the document shows, and
nothing else.

A tree is generated as files: a main file with `!include` and `!secret`
values, an anchored block that holds directives and an alias of it, and
included files of several kinds: one document with comments, several
documents (comment lines between them, `...`, a `%YAML` directive, empty
documents), comment lines only, an anchor with an alias inside the file, a
secret inside the file; one file may be included twice. A random sequence
of edits runs on the round-trip document (values set or deleted inside
included files, comments set on directive nodes and on nodes inside
included files, `comment_after` of an include node, `detach()` in the main
file and inside an included file, main values set). Then `save()`, and:

- a file that `save()` reports is on disk as `to_yaml()` (the main file) or
  `dump_includes_map` (an included file) shows it; every other file is
  byte for byte what it was; an included file also matches the map when it
  was not written;
- a refused save (two versions of one file) changed no file;
- no secret's value is in any file but secrets.yaml;
- loading the saved files again gives the values the document had and
  every comment that was set (where no later edit of the same entry came),
  the later documents of every multi-document file are those it held, and
  a file of comment lines still holds every one of them.

The number of generated cases is small in the ordinary run; set
OSTREVANE_SAVE_EXAMPLES (say to 3000) for a long run.
"""
import os
import tempfile

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import ostrevane as o
from ostrevane.exceptions import OstrevaneIncludeError
from write_back_tree import AnchoredDirectiveTree
from edit_steps import node_at as at_node

OPT = o.OPT_ROUND_TRIP | o.OPT_INCLUDES | o.OPT_SECRETS
EXAMPLES = int(os.environ.get("OSTREVANE_SAVE_EXAMPLES", "40"))
SECRETS = {f"s{i}": f"zq-secret-{i}-value" for i in range(3)}

KINDS = ["map", "multi", "comments", "anchored", "secret"]
MULTI_TAILS = [
    "---\nb: 2  # second\n",
    "# between\n---\nb: [1, 2]\n...\n%YAML 1.2\n---\nc: !secret s1\n",
    "---\n---\n- x  # after an empty one\n",
]
COMMENT_ONLY = ["# only {n}\n", "# a{n}\n\n# b{n}", "# a{n}\n---\n# b{n}\n...\n"]
SCALARS = st.one_of(st.integers(-5, 5), st.sampled_from(["word", "two words", "", "yes",
                                                        "# no", "a: b", None, True, 1.5]))
INNER_KEYS = ["k0", "sub", "other0", "key0", "a0", "ref0", "base0"]
COMMENTS = st.sampled_from(["note", "two  spaces", "x: y", "#hash"])


def included_text(kind, n, variant):
    if kind == "map":
        return f"# head {n}\nk{n}: 1  # c{n}\nsub:\n  x: 1\n# foot {n}\n"
    if kind == "multi":
        return f"a{n}: 1  # first {n}\n" + MULTI_TAILS[variant % len(MULTI_TAILS)]
    if kind == "comments":
        return COMMENT_ONLY[variant % len(COMMENT_ONLY)].format(n=n)
    if kind == "anchored":
        return f"base{n}: &a{n}\n  # inside {n}\n  y: 1  # yc\nref{n}: *a{n}\n"
    return f"key{n}: !secret s{variant % len(SECRETS)}  # secret\nother{n}: 1\n"


@st.composite
def trees(draw):
    count = draw(st.integers(1, 4))
    files = {}
    for n in range(count):
        kind = draw(st.sampled_from(KINDS))
        files[f"f{n}.yaml"] = (kind, included_text(kind, n, draw(st.integers(0, 5))))
    lines = ["# main file"]
    places = []  # (main key, file name)
    for n in range(count):
        lines.append(f"i{n}: !include f{n}.yaml" + draw(st.sampled_from(["", "  # inc"])))
        places.append((f"i{n}", f"f{n}.yaml"))
    if draw(st.integers(0, 4)) == 0:
        twice = draw(st.integers(0, count - 1))
        lines.append(f"again: !include f{twice}.yaml")
        places.append(("again", f"f{twice}.yaml"))
    lines.append("pw: !secret s0  # the password")
    lines.append("base: &b")
    lines.append("  inner: !include inner.yaml  # in the anchored block")
    files["inner.yaml"] = ("map", included_text("map", 9, 0))
    lines.append("  pw: !secret s2")
    lines.append("  plain: 1  # plain")
    lines.append("copy: *b")
    lines.append("plain: value  # kept")
    return files, "\n".join(lines) + "\n", places


def edits(places):
    mapping_places = [key for key, _ in places]
    steps = [
        st.tuples(st.just("set"), st.sampled_from(mapping_places), st.sampled_from(
            ["new", "k0", "sub", "other0", "ref0", "a0"]), SCALARS),
        st.tuples(st.just("delete"), st.sampled_from(mapping_places),
                  st.sampled_from(["k0", "sub", "other0", "a0", "ref1", "base1"]), st.none()),
        st.tuples(st.sampled_from(["comment", "comment_before", "comment_after"]),
                  st.sampled_from(mapping_places + ["pw", "copy", "plain"]), st.none(), COMMENTS),
        st.tuples(st.sampled_from(["inner_comment", "inner_comment_before"]),
                  st.sampled_from(mapping_places), st.sampled_from(INNER_KEYS), COMMENTS),
        st.tuples(st.just("detach"), st.sampled_from(["copy"] + mapping_places), st.none(),
                  st.none()),
        st.tuples(st.just("main"), st.just("plain"), st.none(), SCALARS),
    ]
    return st.lists(st.one_of(steps), min_size=1, max_size=6)


def apply(doc, step, comments, heads):
    """One edit; an edit the document refuses is skipped. `comments` keeps
    the comment texts set, by (member, key, inner), that no later edit of
    the same main key could have moved; `heads` the main keys under which
    lines above an entry were set."""
    op, key, inner, value = step
    if op in ("set", "delete", "detach", "main"):
        for place in [p for p in comments if p[1] == key]:
            del comments[place]
    try:
        if op == "set":
            doc[key][inner] = value
        elif op == "delete":
            del doc[key][inner]
        elif op in ("comment", "comment_before", "comment_after"):
            setattr(doc.node[key], op, value)
            comments[(op, key, None)] = value
        elif op.startswith("inner_"):
            member = op[len("inner_"):]
            node = doc.node[key][inner]
            setattr(node, member, value)
            if member == "comment_before":
                heads.add(key)
            # Left out of the reload check: the trailing comment of a block
            # mapping with lines above its first key is written below them
            # and read back as one of them, with or without includes.
            if member != "comment" or repr(node) not in ("OstrevaneNode(mapping)",
                                                       "OstrevaneNode(sequence)"):
                comments[(member, key, inner)] = value
        elif op == "detach":
            node = doc.node[key]
            if not node.is_alias:
                # Inside an anchored file: its alias.
                ref = [k for k in doc[key].keys() if str(k).startswith("ref")]
                if not ref:
                    return
                node = node[ref[0]]
            node.detach()
        else:
            doc[key] = value
    except (KeyError, TypeError, ValueError):
        pass


def read_all(base):
    found = {}
    for top, _, names in os.walk(base):
        for name in names:
            path = os.path.join(top, name)
            with open(path, "rb") as f:
                found[path] = f.read()
    return found


def comment_lines(text):
    return [line for line in text.splitlines() if line.lstrip().startswith("#")]


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(st.data())
def test_save_writes_what_the_document_shows_and_nothing_else(data):
    files, main_text, places = data.draw(trees())
    steps = data.draw(edits(places))
    with tempfile.TemporaryDirectory() as tmp:
        base = os.path.realpath(tmp)
        main = os.path.join(base, "main.yaml")
        originals = {os.path.join(base, name): text for name, (_, text) in files.items()}
        originals[main] = main_text
        originals[os.path.join(base, "secrets.yaml")] = "".join(
            f"{k}: {v}\n" for k, v in SECRETS.items())
        for path, text in originals.items():
            with open(path, "w") as f:
                f.write(text)

        def load():
            with open(main) as f:
                doc = o.loads(f.read(), option=OPT, include_dir=base, root_path=main)
            doc.set_origin(main)
            return doc

        doc = load()
        comments, heads = {}, set()
        for step in steps:
            apply(doc, step, comments, heads)
        before = read_all(base)
        try:
            shown = o.dump_includes_map(doc)
            values = doc.to_dict()
            text = doc.to_yaml()
            written = doc.save()
        except OstrevaneIncludeError as e:
            assert "conflicting edits" in str(e)
            assert read_all(base) == before
            return
        after = read_all(base)
        assert set(after) == set(before)
        assert len(written) == len(set(written))
        for path, content in after.items():
            if path in written:
                assert content == (text if path == main else shown[path]), path
            else:
                assert content == before[path], path
            if path in shown:
                assert content == shown[path], path
        assert after[main] == text
        for path, content in after.items():
            if os.path.basename(path) != "secrets.yaml":
                for value in SECRETS.values():
                    assert value.encode() not in content, path

        reloaded = load()
        assert reloaded.to_dict() == values
        for (member, key, inner), value in comments.items():
            node = reloaded.node[key] if inner is None else reloaded.node[key][inner]
            assert getattr(node, member) == value, (member, key, inner)
        for name, (kind, stored) in files.items():
            now = after[os.path.join(base, name)].decode()
            if kind == "multi":
                assert o.loads_all(now)[1:] == o.loads_all(stored)[1:]
            elif kind == "comments" and not any(
                    key in heads for key, file in places if file == name):
                # Unless the lines above its first key were set anew.
                for line in comment_lines(stored):
                    assert line in now.splitlines()


# ---------------------------------------------------------------------------
# Anchored directives. A generated include tree puts anchors on directives
# (`&a !include`, `&s !secret`, `&e !env_var`) and on plain values, in the
# main file and in included files, with aliases of them in both; random
# edits (assign, delete, anchor set, rename and removal, make_alias,
# detach, edits through alias paths) run on the round-trip document. After
# each accepted edit the document's values are those of a reload of its
# texts (the main text shown, and the files saved), every text loads, and
# no secret value is in any file but secrets.yaml; a refused edit changes
# nothing.

ANCHOR_NAMES = ["a0", "m0", "m1", "p", "s", "e", "fs1", "fe2", "n"]
ANCHOR_ENV_NAME = "OSV_PROP_ANCHOR_ENV"
ANCHORED_KINDS = ["plain", "anchored", "secret", "env", "include"]


def anchored_file(kind, n, variant):
    if kind == "plain":
        return f"k{n}: 1\nsub{n}: {{x: 1}}\n"
    if kind == "anchored":
        return f"base{n}: &a{n}\n  y: 1\nref{n}: *a{n}\n"
    if kind == "secret":
        return f"key{n}: &fs{n} !secret s{variant % len(SECRETS)}\nuse{n}: *fs{n}\n"
    if kind == "env":
        return f"env{n}: &fe{n} !env_var {ANCHOR_ENV_NAME}\nuse{n}: *fe{n}\n"
    return f"inc{n}: &fi{n} !include leaf{n}.yaml\nuse{n}: *fi{n}\n"


@st.composite
def anchored_trees(draw):
    files = {}
    lines = []
    for n in range(draw(st.integers(1, 3))):
        files[f"leaf{n}.yaml"] = "leaf: 1\n"  # one per file: no file is included twice
        kind = draw(st.sampled_from(ANCHORED_KINDS))
        files[f"f{n}.yaml"] = anchored_file(kind, n, draw(st.integers(0, 2)))
        if draw(st.booleans()):
            lines.append(f"i{n}: &m{n} !include f{n}.yaml")
            if draw(st.booleans()):
                lines.append(f"r{n}: *m{n}")
        else:
            lines.append(f"i{n}: !include f{n}.yaml")
    lines += draw(st.permutations([
        "pw: &s !secret s0\npwref: *s",
        f"env: &e !env_var {ANCHOR_ENV_NAME}\nenvref: [*e]",
        "plain: &p {v: 1}\nplainref: *p",
        "seq:\n- &n !secret s2\n- *n",
    ]))
    return files, "\n".join(lines) + "\n"


def paths_of(doc):
    """The key and index paths of the document's values, also through
    aliases (one alias deep), as lists."""
    found, todo = [], [([], doc.to_dict(), 0)]
    while todo:
        path, value, through = todo.pop()
        if path:
            found.append(path)
        if isinstance(value, dict):
            children = list(value.items())
        elif isinstance(value, list):
            children = list(enumerate(value))
        else:
            continue
        alias = bool(path) and at_node(doc, path).is_alias
        if through + alias > 1:
            continue
        todo.extend((path + [k], v, through + alias) for k, v in children)
    return sorted(found, key=repr)


def anchored_step(doc, data):
    paths = paths_of(doc)
    op = data.draw(st.sampled_from(["assign", "assign", "delete", "anchor", "make_alias",
                                    "detach"]), label="op")
    if op == "detach":
        aliases = [p for p in paths if at_node(doc, p).is_alias]
        paths = aliases or paths
    path = data.draw(st.sampled_from(paths), label="path")
    if op == "assign":
        if data.draw(st.booleans(), label="new key"):
            path = path[:-1] + [data.draw(st.sampled_from(["new", "k0", "x"]), label="key")]
        value = data.draw(st.one_of(SCALARS, st.just({"w": [1]})), label="value")
        return op, path, value
    if op in ("anchor", "make_alias"):
        names = ANCHOR_NAMES + ([None] if op == "anchor" else [])
        return op, path, data.draw(st.sampled_from(names), label="name")
    return op, path, None


def apply_anchored(doc, step):
    op, path, value = step
    if op in ("assign", "delete"):
        target = doc
        for key in path[:-1]:
            target = target[key]
        if op == "assign":
            target[path[-1]] = value
        else:
            del target[path[-1]]
    elif op == "anchor":
        at_node(doc, path).anchor = value
    elif op == "make_alias":
        at_node(doc, path).make_alias(value)
    else:
        at_node(doc, path).detach()


@settings(max_examples=EXAMPLES, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(st.data())
def test_edits_of_anchored_directives_keep_every_text_true_to_the_document(data):
    files, main_text = data.draw(anchored_trees())
    with tempfile.TemporaryDirectory() as tmp:
        tree = AnchoredDirectiveTree(tmp)
        for name, text in files.items():
            tree.write(name, text)
        tree.write("secrets.yaml", "".join(f"{k}: {v}\n" for k, v in SECRETS.items()))
        os.environ[ANCHOR_ENV_NAME] = "/env/value"
        try:
            doc = tree.load(main_text)
            for _ in range(data.draw(st.integers(1, 6), label="edits")):
                step = anchored_step(doc, data)
                before = tree.state(doc)
                try:
                    apply_anchored(doc, step)
                except (KeyError, TypeError, ValueError, IndexError):
                    assert tree.state(doc) == before, step
                    continue
                try:
                    o.dump_includes_map(doc)
                except OstrevaneIncludeError as e:
                    # A detached copy of an include, edited: two versions
                    # of one file, which save() refuses whole.
                    assert "conflicting edits" in str(e)
                    on_disk = tree.files()
                    with pytest.raises(OstrevaneIncludeError):
                        doc.save()
                    assert tree.files() == on_disk
                    return
                tree.check_written(doc)
                for name, content in tree.files().items():
                    if os.path.basename(name) != "secrets.yaml":
                        for secret in SECRETS.values():
                            assert secret.encode() not in content, name
        finally:
            del os.environ[ANCHOR_ENV_NAME]
