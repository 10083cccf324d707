// The window program's command line, read in one pass from the left.
#include "arguments.h"

#include <FL/Fl.H>

#include <cstring>

namespace {
bool is(const char* arg, const char* shortName, const char* longName)
{
    return std::strcmp(arg, shortName) == 0 || std::strcmp(arg, longName) == 0;
}

Arguments stop(Arguments::Action action, std::string error = {})
{
    Arguments decided;
    decided.action = action;
    decided.error = std::move(error);
    return decided;
}
}

Arguments parseArguments(int argc, char** argv)
{
    Arguments args;
    if (argc > 0)
        args.toolkit.push_back(argv[0]);
    bool optionsEnded = false;
    int i = 1;
    while (i < argc) {
        const char* arg = argv[i];
        if (!optionsEnded && arg[0] == '-') {
            if (std::strcmp(arg, "--") == 0) {
                optionsEnded = true;
                ++i;
                continue;
            }
            if (is(arg, "-h", "--help"))
                return stop(Arguments::Action::help);
            if (is(arg, "-V", "--version"))
                return stop(Arguments::Action::version);
            // Fl::arg moves i past what it took; it never takes "--name".
            const int from = i;
            if (Fl::arg(argc, argv, i) > 0) {
                args.toolkit.insert(args.toolkit.end(), argv + from, argv + i);
                continue;
            }
            if (arg[1] == '-' || !arg[1])
                return stop(Arguments::Action::usageError, std::string("unknown option ") + arg);
            return stop(Arguments::Action::usageError,
                        std::string("unknown option ") + arg + ", or its value is missing or wrong");
        }
        if (!args.file.empty())
            return stop(Arguments::Action::usageError, "more than one file: " + args.file + " and " + arg);
        if (!*arg)
            return stop(Arguments::Action::usageError, "an empty file name");
        args.file = arg;
        ++i;
    }
    return args;
}
