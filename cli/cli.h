// kvz-cdi-cli as a function: the arguments in, the results, failures and
// questions through the console's streams, the exit status back. main()
// hands it the process's own; tests their own streams and the simulated
// unit.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

struct Console {
    std::FILE* in;       // the answer to a question
    std::FILE* out;      // results
    std::FILE* err;      // failures, warnings, progress, questions, the trace
    bool inIsTerminal;   // someone is there to answer a question
    bool errIsTerminal;  // progress is shown
};

// Runs one command line (the arguments after the program's name) and
// returns the exit status.
int runCli(const std::vector<std::string>& arguments, const Console& console);
