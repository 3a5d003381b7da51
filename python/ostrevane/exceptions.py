"""Exception classes raised by ostrevane."""
