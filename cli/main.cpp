// kvz-cdi-cli: the unit and its maps from the command line.
#include <cstdio>

#include "cli.h"
#include "platform_paths.h"

int main(int argc, char** argv)
{
    const Console console = {stdin, stdout, stderr, isTerminal(stdin), isTerminal(stderr)};
    const int status = runCli(programArguments(argc, argv), console);
    // Results that never reached their file are a failure too.
    if (std::fclose(stdout) != 0 && status == 0)
        return 5;
    return status;
}
