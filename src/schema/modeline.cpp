// Placeholder; filled in with the schema reference finder.
