"""Edits as values, for tables of edit cases: each returns a function that
applies the edit to a round-trip document."""


def assign(*path_and_value):
    """doc[p0]...[pn] = value, for assign(p0, ..., pn, value)."""
    *path, value = path_and_value

    def edit(doc):
        target = doc
        for step in path[:-1]:
            target = target[step]
        target[path[-1]] = value

    return edit


def delete(*path):
    """del doc[p0]...[pn], for delete(p0, ..., pn)."""

    def edit(doc):
        target = doc
        for step in path[:-1]:
            target = target[step]
        del target[path[-1]]

    return edit


def node_at(doc, path):
    """The cursor doc.node[p0]...[pn] of a path (p0, ..., pn)."""
    node = doc.node
    for step in path:
        node = node[step]
    return node
