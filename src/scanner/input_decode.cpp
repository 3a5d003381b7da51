// Placeholder; filled in by the input layer.
