// The shared library is the internal library linked whole; this file only gives it a source.
