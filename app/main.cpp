// kvz-cdi: reads, edits and writes the maps of the KVZ ignition unit.
#include <FL/Fl.H>

#include <cstdio>
#include <string>

#include "arguments.h"
#include "console.h"
#include "startup.h"
#include "version.h"

namespace {
const char kUsage[] =
    "Usage: kvz-cdi [OPTION...] [FILE.cdi]\n"
    "Reads, edits and writes the ignition and power-valve maps of a KVZ CDI\n"
    "ignition unit over USB. With a FILE, starts with the maps and options of\n"
    "that map file, as File Open would load it.\n"
    "\n"
    "  -h, --help     print this help and exit\n"
    "  -V, --version  print the version and exit\n"
    "  --             end of the options: what follows is the FILE\n"
    "\n"
    "The window toolkit's (FLTK's) options are taken too:\n";

// Help and the version go to standard output; a full or closed one fails.
int printAndExit(const char* text, const char* more)
{
    std::fputs(text, stdout);
    std::fputs(more, stdout);
    return std::fclose(stdout) == 0 ? 0 : 1;
}
}

int main(int argc, char** argv)
{
    Arguments args = parseArguments(argc, argv);
    if (args.action != Arguments::Action::run)
        useStartingConsole();
    switch (args.action) {
    case Arguments::Action::help:
        return printAndExit(kUsage, (std::string(Fl::help) + "\n").c_str());
    case Arguments::Action::version:
        return printAndExit("kvz-cdi " KVZ_VERSION "\n", "");
    case Arguments::Action::usageError:
        std::fprintf(stderr, "kvz-cdi: %s (see kvz-cdi --help)\n", args.error.c_str());
        return 2;
    case Arguments::Action::run:
        break;
    }
    startApplication(static_cast<int>(args.toolkit.size()), args.toolkit.data(), args.file);
    return Fl::run();
}
