// The translation unit that compiles the tests' precompiled headers.
