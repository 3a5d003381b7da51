"""Python code that runs while a document member holds its borrow.

A key compared during `doc[key] = value`, or a value converted during an
assignment, runs Python code inside the member; these helpers make such
objects and record what the code meets when it touches the document again.
"""


def failures(touches):
    """Runs each touch in order; returns (exception type name, message up to
    its first colon) for each one that raised."""
    seen = []
    for touch in touches:
        try:
            touch()
        except BaseException as exc:  # noqa: B902 - the internal fault is not an Exception
            seen.append((type(exc).__name__, str(exc).split(":")[0]))
    return seen


def comparing_key(touches, seen, matches=None):
    """A key whose comparison runs `touches`, appending their failures to
    `seen`, and equals the key text `matches` (nothing when None)."""

    class Key:
        def __eq__(self, other):
            seen.extend(failures(touches))
            return matches is not None and other == matches

        __hash__ = object.__hash__

    return Key()


def converting_number(touches, seen, value=2.5):
    """A number whose conversion to float runs `touches`, appending their
    failures to `seen`, and gives `value`."""

    class Number:
        def __float__(self):
            seen.extend(failures(touches))
            return value

    return Number()
