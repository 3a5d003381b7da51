"""Annotated scalars: str, int and float that remember where they were read.

`loads(..., option=OPT_ANNOTATED)` makes every string scalar an
`OstrevaneAnnotatedStr` and, with `OPT_ANNOTATE_NUMBERS`, every integer that
fits in 64 bits an `OstrevaneAnnotatedInt` and every float an
`OstrevaneAnnotatedFloat`. They are genuine subclasses of `str`, `int` and
`float` (equal to, and hashing like, their plain values) carrying the same
positions as the annotated containers: `__line__`, `__column__`,
`__end_line__` and `__end_column__` (from 1), `__offset__` and
`__end_offset__` (bytes from 0), `__file__`, `__source_tag__` and
`__source_target__`, plus `__style__`, the scalar's style as written
("plain", "single", "double", "literal" or "folded"). Pickling and copying
keep all of them, and keep the class of a subclass.
"""

_INCLUDE_TAGS = frozenset(
    (
        "!include",
        "!include_dir_list",
        "!include_dir_named",
        "!include_dir_merge_list",
        "!include_dir_merge_named",
    )
)

# Attribute names in the order of the constructor's arguments after the
# value.
_FIELDS = (
    "__line__",
    "__column__",
    "__file__",
    "__end_line__",
    "__end_column__",
    "__style__",
    "__source_tag__",
    "__source_target__",
    "__offset__",
    "__end_offset__",
)


class _AnnotatedScalar:
    """The behaviour the three annotated scalar classes share."""

    __slots__ = ()

    @property
    def is_secret(self):
        """Whether this value was produced by a `!secret` directive."""
        return self.__source_tag__ == "!secret"

    @property
    def is_env_var(self):
        """Whether this value was produced by an `!env_var` directive."""
        return self.__source_tag__ == "!env_var"

    @property
    def is_include(self):
        """Whether this value was produced by any `!include` directive."""
        return self.__source_tag__ in _INCLUDE_TAGS

    def __reduce__(self):
        # Rebuilt through the class from the plain value and the annotation,
        # so pickle, copy and deepcopy keep both and the class of a
        # subclass; what a Python subclass keeps in its __dict__ comes back
        # as state.
        args = (self._plain_value(),) + tuple(getattr(self, name) for name in _FIELDS)
        state = getattr(self, "__dict__", None) or None
        return (type(self), args, state)


def _annotated_new(base):
    """The constructor of an annotated subclass of `base`."""
    base_new = base.__new__

    def __new__(cls, value, line, column, file, end_line, end_column, style,
                source_tag, source_target, offset, end_offset):
        self = base_new(cls, value)
        self.__line__ = line
        self.__column__ = column
        self.__file__ = file
        self.__end_line__ = end_line
        self.__end_column__ = end_column
        self.__style__ = style
        self.__source_tag__ = source_tag
        self.__source_target__ = source_target
        self.__offset__ = offset
        self.__end_offset__ = end_offset
        return self

    return __new__


class OstrevaneAnnotatedStr(_AnnotatedScalar, str):
    """A `str` read from a YAML scalar, with its source position."""

    __module__ = "ostrevane"
    __slots__ = _FIELDS
    __new__ = _annotated_new(str)
    _plain_value = str.__str__


class OstrevaneAnnotatedInt(_AnnotatedScalar, int):
    """An `int` read from a YAML scalar, with its source position."""

    __module__ = "ostrevane"
    # int subclasses cannot have slots of their own: the annotation lives in
    # the instance __dict__.
    __new__ = _annotated_new(int)
    _plain_value = int.__int__


class OstrevaneAnnotatedFloat(_AnnotatedScalar, float):
    """A `float` read from a YAML scalar, with its source position."""

    __module__ = "ostrevane"
    __slots__ = _FIELDS
    __new__ = _annotated_new(float)
    _plain_value = float.__float__
