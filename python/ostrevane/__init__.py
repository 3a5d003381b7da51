"""ostrevane: a fast YAML library with a native C++ core."""

from _ostrevane import *  # noqa: F401,F403
from _ostrevane import __all__ as _native_all

from . import exceptions  # noqa: F401
from .annotated import (  # noqa: F401
    OstrevaneAnnotatedFloat,
    OstrevaneAnnotatedInt,
    OstrevaneAnnotatedStr,
)

__all__ = list(_native_all) + [
    "OstrevaneAnnotatedStr",
    "OstrevaneAnnotatedInt",
    "OstrevaneAnnotatedFloat",
]
