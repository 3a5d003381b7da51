"""Exception classes raised by ostrevane.

Every class is built from one message (``args == (msg,)``) and takes the
attributes the native module sets after creating it.  Positions count lines
and columns from 1; ``include_stack`` lists ``(path, line)`` pairs, outermost
include first.  The class-level defaults below stand in for attributes the
module does not set for a given error.
"""

__all__ = [
    "OstrevaneError",
    "OstrevaneDecodeError",
    "OstrevaneParseError",
    "OstrevaneDuplicateKeyError",
    "OstrevaneComplexKeyError",
    "OstrevaneEncodeError",
    "OstrevaneUnserializableError",
    "OstrevaneSchemaError",
    "OstrevaneIncludeError",
    "OstrevaneIncludeNotFoundError",
    "OstrevaneIncludeDepthError",
    "OstrevaneCircularIncludeError",
    "OstrevaneIncludeConfinementError",
    "OstrevaneSecretNotFoundError",
    "OstrevaneEnvVarError",
]


class OstrevaneError(Exception):
    """Base class of every exception the library raises on purpose."""

    file = None
    line = None
    column = None
    include_stack = None

    def __init__(self, msg):
        super().__init__(msg)


class OstrevaneDecodeError(OstrevaneError, ValueError):
    """The input cannot be read as YAML text."""


class OstrevaneParseError(OstrevaneDecodeError):
    """The YAML text is not well formed."""


class OstrevaneDuplicateKeyError(OstrevaneParseError):
    """A mapping holds the same key twice (with OPT_DUPLICATE_KEYS_ERROR)."""


class OstrevaneComplexKeyError(OstrevaneParseError):
    """A mapping key is a collection (with OPT_REJECT_COMPLEX_KEYS)."""


class OstrevaneEncodeError(OstrevaneError, TypeError):
    """A value cannot be written as YAML or JSON."""


class OstrevaneUnserializableError(OstrevaneEncodeError):
    """An object has no representation (or nests too deeply) when dumping."""


class OstrevaneSchemaError(OstrevaneError):
    """The loaded document does not satisfy its JSON Schema, or the schema
    itself is refused (``schema_path``, ``line`` and ``column`` are then
    None)."""

    schema_path = None


class OstrevaneIncludeError(OstrevaneError):
    """A configuration directive failed."""


class OstrevaneIncludeNotFoundError(OstrevaneIncludeError):
    """An included file or directory cannot be read."""


class OstrevaneIncludeDepthError(OstrevaneIncludeError):
    """Includes nest too deeply, or too many files are loaded."""


class OstrevaneCircularIncludeError(OstrevaneIncludeError):
    """A file includes itself, directly or through others."""


class OstrevaneIncludeConfinementError(OstrevaneIncludeError):
    """An include path leads outside the include directory."""


class OstrevaneSecretNotFoundError(OstrevaneIncludeError):
    """A !secret is not defined in any secrets.yaml."""


class OstrevaneEnvVarError(OstrevaneIncludeError):
    """An !env_var names a variable that is not set."""
