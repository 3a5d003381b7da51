"""ostrevane: a fast YAML library with a native C++ core."""

from _ostrevane import *  # noqa: F401,F403
from _ostrevane import __all__ as _native_all

from . import exceptions  # noqa: F401

__all__ = list(_native_all)
