// The window program's command line: its own options, the toolkit's, and
// the one map file it may open. Read before anything else runs, so help,
// the version and a usage error need neither the autosave nor a display.
#pragma once

#include <string>
#include <vector>

struct Arguments {
    enum class Action { run, help, version, usageError };
    Action action = Action::run;
    std::string file;  // the .cdi file to open at start-up; empty for none
    std::string error; // what was wrong, for usageError
    // argv[0] and the toolkit's options with their values, in their order:
    // the command line the window's show takes.
    std::vector<char*> toolkit;
};

// kvz-cdi [OPTION...] [FILE]. Each argument is tried as -h/--help or
// -V/--version, then with the toolkit's Fl::arg, which keeps what it takes
// for the window's show; "--" ends the options. Any other argument that
// begins with "-" is an unknown option, a second file is one too many. The
// first help, version or error met decides; what follows is not read.
Arguments parseArguments(int argc, char** argv);
