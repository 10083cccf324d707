// kvz-cdi-cli: the unit and its maps from the command line.
#include <cstdio>

#include "cli.h"
#include "platform_paths.h"
#include "signals.h"

int main(int argc, char** argv)
{
    setUpSignals();
    // Files go through the standard streams byte for byte; SIGPIPE keeps
    // its default, so a reader that stops early ends the program quietly.
    useBinaryStandardStreams();
    const Console console = {stdin, stdout, stderr, isTerminal(stdin), isTerminal(stderr)};
    int status = runCli(programArguments(argc, argv), console);
    // Results that never reached their file are a failure too.
    if (std::fclose(stdout) != 0 && status == 0)
        status = 5;
    // A signal held off during a transfer ends the program now, its work done.
    actOnHeldSignal(stderr);
    return status;
}
