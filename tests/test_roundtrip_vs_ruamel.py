"""On the configuration texts of the round-trip benchmark, the same random
edits made with ostrevane and with ruamel.yaml's round-trip mode: every
comment line that ruamel.yaml keeps, ostrevane keeps too.

The number of edited texts is small in the ordinary run; set
OSTREVANE_RUAMEL_CASES for a long one."""
import copy
import io
import os
import random
import re
import sys

import pytest

import ostrevane as o

ruamel_yaml = pytest.importorskip("ruamel.yaml")

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "bench"))
from py_roundtrip import make_document  # noqa: E402

RT = o.OPT_ROUND_TRIP
CASES = int(os.environ.get("OSTREVANE_RUAMEL_CASES", "12"))
NEW_VALUES = [7, "changed", None, [1, 2], {"nk": "nv"}, "two words", True]


def comment_lines(doc, value):
    """Every comment line of the document, read through the node cursors."""
    lines = set()

    def visit(node, v):
        for text in (node.comment_before, node.comment, node.comment_after):
            if text:
                lines.update(line for line in text.split("\n") if line.strip())
        if isinstance(v, dict):
            for k, child in v.items():
                if isinstance(k, str):
                    visit(node[k], child)
        elif isinstance(v, list):
            for i, child in enumerate(v):
                visit(node[i], child)

    visit(doc.node, value)
    return lines


def kept(text, comment):
    return re.search(r"#\s?" + re.escape(comment) + r"\s*$", text, re.M) is not None


def containers(value, path=()):
    if isinstance(value, dict) and value:
        yield path, value
        for k, v in value.items():
            if isinstance(k, str):
                yield from containers(v, path + (k,))
    elif isinstance(value, list) and value:
        yield path, value
        for i, v in enumerate(value):
            yield from containers(v, path + (i,))


def random_edits(value, rng):
    edits = []
    for _ in range(rng.randint(1, 3)):
        path, container = rng.choice(list(containers(value)))
        if isinstance(container, dict):
            keys = [k for k in container if isinstance(k, str)]
            op = rng.choice(["set", "set", "add", "del"]) if keys else "add"
            key = "added_key" if op == "add" else rng.choice(keys)
        else:
            op = rng.choice(["set", "del"])
            key = rng.choice([0, len(container) - 1])
        if op == "del" and len(container) == 1:
            op = "set"
        new = copy.deepcopy(rng.choice(NEW_VALUES))
        if op == "del":
            del container[key]
        else:
            container[key] = copy.deepcopy(new)
        edits.append((path, "del" if op == "del" else "set", key, new))
    return edits


def apply(root, edits):
    for path, op, key, new in edits:
        target = root
        for step in path:
            target = target[step]
        if op == "del":
            del target[key]
        else:
            target[key] = copy.deepcopy(new)


def ruamel_edited(text, edits):
    y = ruamel_yaml.YAML()
    y.width = 4096
    y.allow_duplicate_keys = True
    data = y.load(text)
    apply(data, edits)
    out = io.StringIO()
    y.dump(data, out)
    return out.getvalue()


@pytest.mark.parametrize("seed", range(CASES))
def test_every_comment_ruamel_keeps_is_kept(seed):
    rng = random.Random(seed)
    text = make_document(rng.choice([1024, 2048, 4096]), 20261210 + seed)
    doc = o.loads(text, option=RT)
    value = o.loads(text)
    comments = comment_lines(doc, value)
    edits = []
    for edit in random_edits(o.loads(text), rng):
        try:
            apply(doc, [edit])
        except ValueError:
            continue  # a deletion that would strand an alias is refused
        edits.append(edit)
    ours = doc.to_yaml().decode()
    try:
        theirs = ruamel_edited(text, edits)
    except (TypeError, KeyError):
        # ruamel.yaml holds a merged or aliased part in another form.
        pytest.skip("ruamel.yaml cannot make these edits")
    lost = sorted(c for c in comments if kept(theirs, c) and not kept(ours, c))
    assert not lost, (edits, ours)
    # The saved text reads back as the edited values (ruamel.yaml keeps the
    # first of duplicate keys, so its values are not compared).
    model = o.loads(text)
    apply(model, edits)
    assert o.loads(ours) == model
