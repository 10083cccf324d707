// kvz-cdi-cli: the unit and its maps from the command line.
#include <cstdio>

#include "cli.h"
#include "platform_paths.h"

int main(int argc, char** argv)
{
    // Files go through the standard streams byte for byte; SIGPIPE keeps
    // its default, so a reader that stops early ends the program quietly.
    useBinaryStandardStreams();
    const Console console = {stdin, stdout, stderr, isTerminal(stdin), isTerminal(stderr)};
    const int status = runCli(programArguments(argc, argv), console);
    // Results that never reached their file are a failure too.
    if (std::fclose(stdout) != 0 && status == 0)
        return 5;
    return status;
}
