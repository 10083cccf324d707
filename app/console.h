// Where help, the version and usage errors print. On Windows the window
// program has no console of its own; elsewhere its standard output is
// already the terminal's or whatever the caller gave it.
#pragma once

// Called before help, the version or a usage error is printed: makes
// stdout and stderr reach the console of the program that started this
// one, unless they already lead somewhere (a file or pipe the caller
// redirected them to).
void useStartingConsole();
