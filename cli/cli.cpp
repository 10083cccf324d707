// The command line itself: which command, its options (parsed by CLI11),
// the help texts, and what every command shares. Boxes of the device layer
// become the one line a failure prints; there is no log sink.
#include "cli.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <string>

#include "cdi_device.h"
#include "commands.h"
#include "dialogs.h"
#include "hid_link.h"
#include "map_table.h"
#include "timing_codec.h"
#include "unit_lock.h"
#include "version.h"

namespace {

const char kProgram[] = "kvz-cdi-cli";

const char kExitStatuses[] =
    "Exit status:\n"
    "  0  done\n"
    "  1  differences found (diff, write --dry-run, restore --dry-run)\n"
    "  2  usage error, or a question with no terminal to answer it (give --yes)\n"
    "  3  no unit found\n"
    "  4  a transfer failed, the read-back differs, the unit is in use by\n"
    "     another program, or it cannot be opened (cannot open the unit at PATH)\n"
    "  5  a file cannot be read or written, also a restore point\n"
    "  6  refused by a safety rule, or answered No\n";

const char kProgramHelp[] =
    "Usage: kvz-cdi-cli [--trace] COMMAND [ARGUMENT...]\n"
    "       kvz-cdi-cli -h|--help | -V|--version\n"
    "The KVZ CDI ignition unit and its maps from the command line.\n"
    "\n"
    "Commands:\n"
    "  detect [--json]                whether a unit is attached, and which\n"
    "  read FILE.cdi [--image FILE.bin]\n"
    "                                 the whole unit into a map file\n"
    "  write FILE.cdi [-y|--yes] [--dry-run [--json]]\n"
    "                                 a map file onto the unit, read back and compared\n"
    "  dump FILE.bin                  the unit's raw 1024-byte image\n"
    "  restore FILE.bin [-y|--yes] [--force] [--dry-run [--json]]\n"
    "                                 an image back onto the unit, byte for byte\n"
    "  diff A B [--exact] [--json]    compares two of FILE.cdi, FILE.bin and unit\n"
    "  export FILE.cdi OUT.csv        the maps and options as CSV\n"
    "  import IN.csv OUT.cdi          a CSV file back into a map file\n"
    "  status [--watch] [--csv FILE] [--interval S] [--json]\n"
    "                                 the unit's live values\n"
    "  backups [--json]               the restore points, newest first\n"
    "'kvz-cdi-cli COMMAND --help' says more about each.\n"
    "\n"
    "  --trace        the byte-level trace of every report on standard error\n"
    "  -h, --help     this help\n"
    "  -V, --version  the version\n"
    "\n"
    "Options go before or after the file names, as --option VALUE or\n"
    "--option=VALUE; every word after -- is a file name. A file name of - is\n"
    "standard input where a file is read and standard output where one is\n"
    "written, each at most once; a path to standard input (/dev/stdin)\n"
    "counts as -. An input that is a FIFO or a device (bash's <(...)) is read\n"
    "whole as - is, an output that is one is written in place; only a regular\n"
    "file is replaced, whole.\n"
    "Results go to standard output (messages to standard error when it carries\n"
    "a file); every failure is one line on standard error.\n"
    "Every whole-unit read (read, dump, and before and after write and restore)\n"
    "is kept as a restore point in $XDG_DATA_HOME/kvz-cdi/backups/\n"
    "(~/.local/share/kvz-cdi/backups/).\n"
    "\n";

struct Command {
    const char* name;
    int (*run)(const Arguments&, const Console&);
    std::vector<const char*> operands;  // their names, in order
    std::vector<const char*> flags;     // as CLI11 takes them: "-y,--yes"
    std::vector<const char*> valued;    // options that take a value
    const char* help;
};

const std::vector<Command> kCommands = {
    {"detect", runDetect, {}, {"--json"}, {},
     "Usage: kvz-cdi-cli detect [--json]\n"
     "Says whether a unit is attached: its USB ids, maker and product strings\n"
     "and release number. Sends nothing to the unit. --json prints one object:\n"
     "vendor_id and product_id (numbers), manufacturer and product (null when\n"
     "the unit gives none) and release (\"1.00\").\n"},
    {"read", runRead, {"FILE.cdi"}, {}, {"--image"},
     "Usage: kvz-cdi-cli read FILE.cdi [--image FILE.bin]\n"
     "Reads the whole unit into the map file FILE.cdi, decoded as the window's\n"
     "Device Read decodes it (a pickup position of 0 is replaced by its pulse\n"
     "type's, with a warning), and with --image its raw 1024-byte image into\n"
     "FILE.bin. Keeps a restore point and prints where it went. One of the two\n"
     "may be - (standard output); the restore point's line then goes to\n"
     "standard error.\n"},
    {"write", runWrite, {"FILE.cdi"}, {"-y,--yes", "--dry-run", "--json"}, {},
     "Usage: kvz-cdi-cli write FILE.cdi [-y|--yes] [--dry-run [--json]]\n"
     "Writes the map file FILE.cdi to the unit as the window's Device Write\n"
     "does: refuses a pulse type other than 1 or 2 and a pickup position of 0;\n"
     "lists on standard error the points the unit will run differently than\n"
     "the file shows (more than half a degree away: it cannot fire earlier\n"
     "than its latency allows); asks \"Write FILE.cdi to the unit? [y/N]\"\n"
     "unless --yes; reads the unit and keeps it as a restore point; writes the\n"
     "maps and options over the unit's own configuration bytes; reads\n"
     "everything back, keeps that too, and compares it with what was sent.\n"
     "Prints where the restore point went. FILE.cdi may be - (standard input),\n"
     "which needs --yes.\n"
     "With --dry-run nothing is written and nothing asked: reads the unit,\n"
     "keeps a restore point, and prints what the write would change as diff\n"
     "--exact prints two images (--json: diff's object), then the points the\n"
     "unit will run differently (on standard error with --json). Exit status\n"
     "0 when the unit already holds every byte the write would send, 1 when\n"
     "not.\n"},
    {"dump", runDump, {"FILE.bin"}, {}, {},
     "Usage: kvz-cdi-cli dump FILE.bin\n"
     "Reads the unit's raw 1024-byte image (block 0 first) into FILE.bin, or\n"
     "with - onto standard output, and keeps a restore point.\n"},
    {"restore", runRestore, {"FILE.bin"}, {"-y,--yes", "--force", "--dry-run", "--json"}, {},
     "Usage: kvz-cdi-cli restore FILE.bin [-y|--yes] [--force] [--dry-run [--json]]\n"
     "Writes the 1024 bytes of FILE.bin to the unit as they are, the unit's own\n"
     "configuration bytes included, with no fix-ups: asks unless --yes, keeps a\n"
     "restore point of what the unit held, writes, reads back and compares.\n"
     "An image with a pulse type other than 1 or 2, or a pickup position of 0,\n"
     "is refused unless --force. FILE.bin may be - (standard input), which\n"
     "needs --yes. With --dry-run nothing is written and nothing asked: reads\n"
     "the unit, keeps a restore point, and prints where it differs from\n"
     "FILE.bin as write --dry-run does.\n"},
    {"diff", runDiff, {"A", "B"}, {"--exact", "--json"}, {},
     "Usage: kvz-cdi-cli diff A B [--exact] [--json]\n"
     "Compares A and B, each a map file (.cdi), a memory image (.bin) or the\n"
     "word unit, and prints each point that differs (map, rpm, both values,\n"
     "the difference) and each option.\n"
     "An image (.bin or unit) is taken raw: its bytes as they stand, its\n"
     "ignition words decoded as a read decodes them.\n"
     "A map file's value is equal when it matches as its line holds it or as a\n"
     "load would store it (clamped, its low byte, a switch as 0 or 1); a\n"
     "missing line counts as the load's default. So a file read from the unit,\n"
     "or just written to it, is equal to it.\n"
     "A read's fix-ups make its file differ from the unit: a pickup position\n"
     "of 0 saved as the pulse type's, a rev limit of 0 saved as 70.\n"
     "Power-valve points are equal when they send the same byte; ignition\n"
     "points when within 0.1 degree (0.2 when either side has one pulse per\n"
     "rotation). Point 0 (0 rpm) is left out, as the unit always gets 0 there.\n"
     "With --exact, ignition points are equal when they are the same timer\n"
     "word: an image's own, or a map file's value encoded with its own pickup\n"
     "position and pulse type (the word 0 at 0 rpm); a file read from the unit\n"
     "then differs where a value it was read as does not encode back to the\n"
     "unit's word.\n"
     "Two images are compared in all 64 configuration bytes as they stand;\n"
     "bytes with no option key print as 'config byte N: 0xAA 0xBB'.\n"
     "One side may be - (standard input); that side, or one that is a FIFO or\n"
     "a device, is a sound map file, else 1024 bytes as an image. --json\n"
     "prints one object: equal (true or false), points (map, rpm, a, b),\n"
     "options (key, a, b) and bytes (byte, a, b).\n"
     "Exit status 0 when equal, 1 when not. Makes no restore point.\n"},
    {"export", runExport, {"FILE.cdi", "OUT.csv"}, {}, {},
     "Usage: kvz-cdi-cli export FILE.cdi OUT.csv\n"
     "Writes the maps and options of FILE.cdi, as they stand, as CSV: the line\n"
     "rpm,ign_map0,ign_map1,pv_map0,pv_map1, 160 rows, an empty line, then the\n"
     "nine options as key,value lines with the map file's keys in its order.\n"
     "- reads FILE.cdi from standard input, or writes OUT.csv to standard\n"
     "output.\n"},
    {"import", runImport, {"IN.csv", "OUT.cdi"}, {}, {},
     "Usage: kvz-cdi-cli import IN.csv OUT.cdi\n"
     "Reads a CSV file as export writes it (LF or CR LF line ends, the last\n"
     "four options may be missing) into the map file OUT.cdi, through the same\n"
     "clamps as a File Open. A damaged file writes nothing. - reads IN.csv\n"
     "from standard input, or writes OUT.cdi to standard output.\n"},
    {"status", runStatus, {}, {"--watch", "--json"}, {"--csv", "--interval"},
     "Usage: kvz-cdi-cli status [--watch] [--csv FILE] [--interval S] [--json]\n"
     "Prints the unit's live values: rpm, valve_angle, map_switch (0 for map 0,\n"
     "1 for map 1) and qs_switch (1 when the quick-shifter switch is on).\n"
     "--watch prints them as CSV every S seconds (0.5 unless --interval; from\n"
     "0.05 to 86400) until Ctrl+C: a comment line with the version and the unit,\n"
     "the line time,rpm,valve_angle,map_switch,qs_switch, then one row a\n"
     "sample, time in UTC with milliseconds; a sample without a reply leaves\n"
     "its fields empty. --csv FILE writes those rows to FILE instead (- for\n"
     "standard output), and implies --watch. --json prints each sample as one\n"
     "JSON object a line, with the same fields (null without a reply) and no\n"
     "comment line; it does not go with --csv. Makes no restore point.\n"},
    {"backups", runBackups, {}, {"--json"}, {},
     "Usage: kvz-cdi-cli backups [--json]\n"
     "Lists the restore points' images, newest first. Each FILE.bin has a map\n"
     "file of the same name beside it. --json prints one array of objects:\n"
     "image, map_file, time (ISO 8601 UTC) and kind (read, before-write or\n"
     "after-write).\n"},
};

// The notes of the running command, and the progress line.
std::vector<std::string> notes;
const Console* progressConsole = nullptr;
int progressDone = 0;
int progressTotal = 0;
bool progressShown = false;

// One line a note: a box's own line breaks become blanks.
void note(const char* text)
{
    std::string line = text;
    for (char& c : line)
        if (c == '\n')
            c = ' ';
    notes.push_back(line);
}

int answerNo(const char*) { return 0; }
void noBeep() {}

void showProgress(int)
{
    // A read whose passes differ reads them again: past the count, it stays full.
    progressDone = std::min(progressDone + 1, progressTotal);
    std::fprintf(progressConsole->err, "\r%s: %d/%d blocks", kProgram, progressDone, progressTotal);
    std::fflush(progressConsole->err);
    progressShown = true;
}

void endProgress()
{
    if (progressShown)
        std::fprintf(progressConsole->err, "\r%*s\r", 40, "");
    progressShown = false;
    cdiDevice.progress = nullptr;
}

const Command* findCommand(const std::string& name)
{
    for (const Command& command : kCommands)
        if (name == command.name)
            return &command;
    return nullptr;
}

// A command line as CLI11 parses it: the command and its arguments, or the
// status to end with at once (help, version, a usage error, all said).
struct Parsed {
    const Command* command = nullptr;
    Arguments arguments;
    bool trace = false;
    int status = kDone;
};

// The words of a CLI11 text after its first ": ", split at blanks.
std::vector<std::string> wordsAfterColon(const std::string& text)
{
    std::vector<std::string> words;
    std::string::size_type at = text.find(": ");
    for (at = at == std::string::npos ? text.size() : at + 2; at < text.size();) {
        const std::string::size_type end = std::min(text.find(' ', at), text.size());
        words.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return words;
}

// CLI11's failures in the program's own words, on one line, the command
// in front when one was given.
std::string parseFailure(const CLI::Error& error, const CLI::App& app)
{
    const std::vector<CLI::App*> chosen = app.get_subcommands();
    if (chosen.empty() && dynamic_cast<const CLI::RequiredError*>(&error)) {
        const std::vector<std::string> words = app.remaining();
        if (words.empty())
            return "no command given";
        return (words[0][0] == '-' ? "unknown option " : "unknown command ") + words[0];
    }
    const std::string command = chosen.empty() ? std::string() : chosen[0]->get_name() + ": ";
    std::string text = error.what();
    std::replace(text.begin(), text.end(), '\n', ' ');
    const std::string name = text.substr(0, text.find(':'));
    if (dynamic_cast<const CLI::ExtrasError*>(&error)) {
        // CLI11 was given the words last first.
        std::vector<std::string> extras = wordsAfterColon(text);
        std::reverse(extras.begin(), extras.end());
        for (const std::string& word : extras)
            if (word.size() > 1 && word[0] == '-')
                return command + "unknown option " + word;
        std::string list;
        for (const std::string& word : extras)
            list += (list.empty() ? "" : " ") + word;
        return command + "too many arguments: " + list;
    }
    if (dynamic_cast<const CLI::RequiredError*>(&error))
        return command + "missing " + text.substr(0, text.find(" is required"));
    if (dynamic_cast<const CLI::ArgumentMismatch*>(&error)) {
        const bool twice = text.find("At Most") != std::string::npos;
        return command + name + (twice ? " given more than once" : " needs a value");
    }
    if (dynamic_cast<const CLI::ExcludesError*>(&error))
        return command + name.substr(0, name.find(' ')) + " does not go with " + text.substr(text.rfind(' ') + 1);
    return command + text;
}

// A flag given a value (--json=, --yes=no, -y=1): CLI11 would take some of
// them as the flag itself. Its message, or empty when there is none.
std::string flagGivenValue(const std::vector<std::string>& words)
{
    std::string command;
    for (const std::string& word : words) {
        if (word == "--")
            break;
        if (command.empty() && findCommand(word))
            command = word;
        const std::string::size_type equals = word.find('=');
        if (word.size() < 2 || word[0] != '-' || equals == std::string::npos)
            continue;
        const std::string name = word.substr(0, equals);
        if (name == "--trace" || name == "--help" || name == "-h" || name == "--version" || name == "-V")
            return name + " takes no value";
        const Command* given = findCommand(command);
        for (const char* names : given ? given->flags : std::vector<const char*>())
            if (("," + std::string(names) + ",").find("," + name + ",") != std::string::npos)
                return command + ": " + name + " takes no value";
    }
    return {};
}

Parsed parse(const std::vector<std::string>& words, const Console& console)
{
    Parsed parsed;
    const std::string flagValued = flagGivenValue(words);
    if (!flagValued.empty()) {
        parsed.status = usageError(console, flagValued);
        return parsed;
    }
    CLI::App app;
    try {
        app.name(kProgram);
        app.allow_windows_style_options(false);
        app.set_help_flag("-h,--help");
        app.set_version_flag("-V,--version", std::string(kProgram) + " " + KVZ_VERSION);
        // A flag is there or not: --yes=no must not count as --yes.
        app.option_defaults()->disable_flag_override();
        app.add_flag("--trace", parsed.trace);
        app.require_subcommand(1);
        app.fallthrough();  // --trace after the command too
        for (const Command& command : kCommands) {
            CLI::App* sub = app.add_subcommand(command.name);
            for (const char* name : command.operands)
                sub->add_option(name)->required();
            for (const char* names : command.flags)
                sub->add_flag(names);
            for (const char* name : command.valued)
                sub->add_option(name)->type_name("VALUE");
        }
        CLI::App* status = app.get_subcommand("status");
        status->get_option("--json")->excludes(status->get_option("--csv"));
        // CLI11 takes the words last first.
        std::vector<std::string> reversed(words.rbegin(), words.rend());
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        if (chosen.empty())
            std::fprintf(console.out, "%s%s", kProgramHelp, kExitStatuses);
        else
            std::fprintf(console.out, "%s\n%s", findCommand(chosen[0]->get_name())->help, kExitStatuses);
        return parsed;
    } catch (const CLI::CallForVersion& version) {
        std::fprintf(console.out, "%s\n", version.what());
        return parsed;
    } catch (const CLI::Error& error) {
        parsed.status = usageError(console, parseFailure(error, app));
        return parsed;
    }
    const CLI::App* sub = app.get_subcommands()[0];
    parsed.command = findCommand(sub->get_name());
    // The operands in their order; each option given by its long name.
    for (const CLI::Option* option : sub->get_options())
        if (option->get_positional())
            parsed.arguments.operands.push_back(option->as<std::string>());
        else if (option->count() > 0)
            parsed.arguments.options[option->get_name()] = option->as<std::string>();
    return parsed;
}

// The process's state as a fresh start of the program has it.
void startFresh()
{
    cdiDevice = CdiDevice();
    ignitionTable = MapTable();
    valveTable = MapTable();
    setTableClamps();
    notes.clear();
}

}  // namespace

int fail(const Console& console, int status, const std::string& text)
{
    endProgress();
    std::fprintf(console.err, "%s: %s\n", kProgram, shown(text).c_str());
    return status;
}

std::string takeNotes()
{
    std::string text;
    for (const std::string& line : notes)
        text += (text.empty() ? "" : "; ") + line;
    notes.clear();
    return text;
}

void printNotes(const Console& console)
{
    endProgress();
    for (const std::string& line : notes)
        std::fprintf(console.err, "%s: %s\n", kProgram, shown(line).c_str());
    notes.clear();
}

int usageError(const Console& console, const std::string& text)
{
    return fail(console, kUsage, text + " (see " + kProgram + " --help)");
}

int checkAnswerable(const Console& console, const Arguments& arguments)
{
    if (arguments.has("--yes"))
        return kDone;
    if (namesStandardInput(console, arguments.operands[0]))
        return usageError(console,
                          "standard input carries the file, not an answer: give --yes to write without asking");
    if (console.inIsTerminal)
        return kDone;
    return fail(console, kUsage, "no terminal to ask whether to write: give --yes to write without asking");
}

int confirmWrite(const Console& console, const Arguments& arguments, const std::string& file)
{
    if (arguments.has("--yes"))
        return kDone;
    std::fprintf(console.err, "Write %s to the unit? [y/N] ", shown(fileName(file, false)).c_str());
    std::fflush(console.err);
    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, console.in))
        answer[0] = '\0';
    std::string word;
    for (const char* c = answer; *c; ++c)
        if (!std::isspace(static_cast<unsigned char>(*c)))
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    if (word == "y" || word == "yes")
        return kDone;
    return fail(console, kRefused, "nothing was written");
}

namespace {
int withOpenUnit(const Console& console, int blocks, const std::function<int()>& body)
{
    cdiDevice.deviceHandle = openUnit();
    if (!cdiDevice.deviceHandle)
        return fail(console, kNoUnit, "no unit found");
    progressConsole = &console;
    progressDone = 0;
    progressTotal = blocks;
    if (console.errIsTerminal)
        cdiDevice.progress = showProgress;
    const int status = body();
    endProgress();
    if (cdiDevice.deviceHandle)
        closeUnit(cdiDevice.deviceHandle);
    cdiDevice.deviceHandle = nullptr;
    return status;
}
}  // namespace

int withUnit(const Console& console, int blocks, const std::function<int()>& body)
{
    return withUnitLock(console, kUnitLockWaitMs, [&] { return withOpenUnit(console, blocks, body); });
}

int runCli(const std::vector<std::string>& arguments, const Console& console)
{
    startFresh();
    const Parsed parsed = parse(arguments, console);

    const Dialogs dialogsBefore = dialogs;
    void (*const hidErrorSinkBefore)(const char*) = hidErrorSink;
    std::FILE* const traceBefore = traceStream;
    dialogs = {note, note, answerNo, noBeep, answerNo};
    hidErrorSink = note;
    traceStream = parsed.trace ? console.err : nullptr;

    int status = parsed.command ? parsed.command->run(parsed.arguments, console) : parsed.status;
    if ((std::fflush(console.out) != 0 || std::ferror(console.out)) && status == kDone)
        status = fail(console, kFileError, "cannot write the results to standard output");

    dialogs = dialogsBefore;
    hidErrorSink = hidErrorSinkBefore;
    traceStream = traceBefore;
    return status;
}
