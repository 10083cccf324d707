// kvz-cdi: reads, edits and writes the maps of the KVZ ignition unit.
#include <FL/Fl.H>

#include <cstdio>
#include <cstring>

#include "console.h"
#include "startup.h"
#include "version.h"

namespace {
const char kUsage[] =
    "Usage: kvz-cdi [--help | --version | TOOLKIT OPTION...]\n"
    "Reads, edits and writes the ignition and power-valve maps of a KVZ CDI\n"
    "ignition unit over USB.\n"
    "\n"
    "  --help     print this help and exit\n"
    "  --version  print the version and exit\n"
    "\n"
    "Any other command line goes to the window toolkit (FLTK), whose options are:\n";

// Answers --help and --version, which need no display, so they work where
// the toolkit could not start. True when arg was one of them.
bool printOwnOption(const char* arg)
{
    if (std::strcmp(arg, "--version") == 0 || std::strcmp(arg, "--help") == 0)
        useStartingConsole();
    if (std::strcmp(arg, "--version") == 0) {
        std::fputs("kvz-cdi " KVZ_VERSION "\n", stdout);
        return true;
    }
    if (std::strcmp(arg, "--help") == 0) {
        std::fputs(kUsage, stdout);
        std::fputs(Fl::help, stdout);
        std::fputs("\n", stdout);
        return true;
    }
    return false;
}
}

int main(int argc, char** argv)
{
    // Only as the first argument, so every other command line reaches the
    // toolkit exactly as before.
    if (argc > 1 && printOwnOption(argv[1]))
        return std::fclose(stdout) == 0 ? 0 : 1;
    startApplication(argc, argv);
    return Fl::run();
}
