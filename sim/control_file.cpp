// The unit's control file: a key=value text that sets everything about the
// simulated unit, so a test or a tuner can plug, unplug and tune it while
// the program runs. Also the memory image it names, loaded when it changes
// on disk and written back after every block write, and the request log.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <type_traits>

#include "control_file.h"
#include "shared_unit.h"

namespace fs = std::filesystem;

namespace sim {
namespace {

// The control file and the image are compared by contents, not by time
// stamps: a test may rewrite a file twice within one tick of the clock.
// What the unit remembers of them (seen, lastText, lastImage) is the
// unit's, shared by every process of a shared unit; what this process made
// of the control file (applied) is its own.
struct Binding {
    std::string watched;
    std::optional<std::string> lastText;  // null while the file is missing
    bool seen = false;                    // watched file looked at once
    std::string imagePath;
    std::optional<std::string> lastImage;
    std::string requestLog;
    std::optional<std::string> applied;   // the text this process's settings come from
    bool appliedOnce = false;
};

Binding binding;

struct Settings {
    Faults faults;
    LiveStatus status;
    std::optional<std::wstring> manufacturer = std::wstring(L"KVZ Electronics");
    std::optional<std::wstring> product = std::wstring(L"KVZ-CDI");
    int blockingReadLimitMs = 5000;
    std::string imagePath;
    std::string requestLog;
};

std::optional<std::string> readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void warn(const std::string& text)
{
    std::fprintf(stderr, "kvz-sim-unit: %s\n", text.c_str());
}

std::string trim(const std::string& s)
{
    const char* blanks = " \t\r";
    std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos)
        return std::string();
    return s.substr(first, s.find_last_not_of(blanks) - first + 1);
}

// Identity strings are UTF-8 in the file and wide in the enumeration.
std::wstring fromUtf8(const std::string& s)
{
    std::wstring out;
    for (std::size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        unsigned long code = extra == 0 ? c : c & (0x3F >> extra);
        ++i;
        for (int k = 0; k < extra && i < s.size(); ++k, ++i)
            code = code << 6 | (static_cast<unsigned char>(s[i]) & 0x3F);
        out.push_back(static_cast<wchar_t>(code));
    }
    return out;
}

bool parseNumber(const std::string& text, long min, long max, long& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

bool parseFlag(const std::string& text, bool& out)
{
    if (text == "1" || text == "yes" || text == "true") {
        out = true;
        return true;
    }
    if (text == "0" || text == "no" || text == "false") {
        out = false;
        return true;
    }
    return false;
}

// A path in the file counts from the file's own directory.
std::string resolve(const std::string& value, const std::string& controlPath)
{
    fs::path p(value);
    if (p.is_relative())
        p = fs::path(controlPath).parent_path() / p;
    return p.lexically_normal().string();
}

// One "key=value" into the settings; an error text, empty when fine.
std::string applyKey(Settings& s, const std::string& key, const std::string& rawValue,
                     const std::string& controlPath)
{
    std::string value = rawValue;
    bool quoted = value.size() >= 2 && value.front() == '"' && value.back() == '"';
    if (quoted)
        value = value.substr(1, value.size() - 2);
    long n = 0;
    bool flag = false;
    auto number = [&](long min, long max, auto& field) {
        if (!parseNumber(value, min, max, n))
            return "'" + key + "' takes a whole number from " + std::to_string(min) + " to "
                   + std::to_string(max);
        field = static_cast<std::remove_reference_t<decltype(field)>>(n);
        return std::string();
    };
    auto boolean = [&](bool& field) {
        if (!parseFlag(value, flag))
            return "'" + key + "' takes 1 or 0";
        field = flag;
        return std::string();
    };
    Faults& f = s.faults;
    LiveStatus& st = s.status;
    if (key == "present") {
        bool present = true;
        std::string e = boolean(present);
        f.absent = !present;
        return e;
    }
    if (key == "open_fails")
        return boolean(f.openFails);
    if (key == "node") {
        f.nodeMissing = value == "missing";
        return f.nodeMissing || value == "present" ? std::string() : "'node' takes present or missing";
    }
    if (key == "manufacturer" || key == "product") {
        std::optional<std::wstring>& field = key == "manufacturer" ? s.manufacturer : s.product;
        if (value == "null" && !quoted)
            field.reset();
        else
            field = fromUtf8(value);
        return std::string();
    }
    if (key == "rpm") {
        st.rpmSweep = value == "sweep";
        return st.rpmSweep ? std::string() : number(0, 65535, st.rpm);
    }
    if (key == "map_switch")
        return number(0, 255, st.mapSwitch);
    if (key == "valve_angle") {
        st.valveFollowsMap = value == "map";
        return st.valveFollowsMap ? std::string() : number(0, 255, st.valveAngle);
    }
    if (key == "shifter_switch")
        return number(0, 255, st.shifterSwitch);
    if (key == "write_fails_at")
        return number(0, 1000000000, f.writeFailsAt);
    if (key == "read_fails_at")
        return number(0, 1000000000, f.readFailsAt);
    if (key == "no_reply_at")
        return number(0, 1000000000, f.noReplyAt);
    if (key == "wrong_echo_at_block")
        return number(-1, 31, f.wrongEchoAtBlock);
    if (key == "stores_wrong_at_block")
        return number(-1, 31, f.storesWrongAtBlock);
    if (key == "reply_delay_ms")
        return number(0, 600000, f.replyDelayMs);
    if (key == "status_reply_delay_ms")
        return number(-1, 600000, f.statusReplyDelayMs);
    if (key == "reply_length")
        return number(1, 64, f.replyLength);
    if (key == "status_write_fails")
        return boolean(f.statusWriteFails);
    if (key == "status_read_fails")
        return boolean(f.statusReadFails);
    if (key == "status_no_reply")
        return boolean(f.statusNoReply);
    if (key == "blocking_read_limit_ms")
        return number(0, 600000, s.blockingReadLimitMs);
    if (key == "memory") {
        s.imagePath = value.empty() ? std::string() : resolve(value, controlPath);
        return std::string();
    }
    if (key == "request_log") {
        s.requestLog = value.empty() ? std::string() : resolve(value, controlPath);
        return std::string();
    }
    return "unknown key '" + key + "'";
}

std::optional<Settings> parse(const std::string& text, const std::string& controlPath)
{
    Settings s;
    std::istringstream in(text);
    std::string line;
    bool ok = true;
    for (int number = 1; std::getline(in, line); ++number) {
        line = trim(line);
        if (line.empty() || line[0] == '#')
            continue;
        std::size_t eq = line.find('=');
        std::string error = eq == std::string::npos
                                ? "expected key=value"
                                : applyKey(s, trim(line.substr(0, eq)), trim(line.substr(eq + 1)),
                                           controlPath);
        if (!error.empty()) {
            warn(controlPath + ":" + std::to_string(number) + ": " + error);
            ok = false;
        }
    }
    if (!ok)
        return std::nullopt;
    return s;
}

// Loads the image when it differs from what the unit last loaded or wrote.
// A missing image leaves the memory as it is, until `force` says the file
// has just been named: then the unit starts blank.
void loadImage(bool force)
{
    if (binding.imagePath.empty())
        return;
    std::optional<std::string> bytes = readFile(binding.imagePath);
    if (!bytes) {
        if (force)
            memory().fill(0);
        binding.lastImage.reset();
        return;
    }
    if (!force && binding.lastImage == bytes)
        return;
    binding.lastImage = bytes;
    if (bytes->size() != memory().size()) {
        warn(binding.imagePath + ": a memory image holds " + std::to_string(memory().size())
             + " bytes, this one " + std::to_string(bytes->size()) + "; memory left as it was");
        return;
    }
    std::memcpy(memory().data(), bytes->data(), memory().size());
}

// The settings into this process's unit; with `anew`, the file has just
// changed for the unit itself: the exchange count restarts and the image
// is loaded.
bool applyText(const std::string& text, const std::string& path, bool anew = true)
{
    std::optional<Settings> s = parse(text, path);
    if (!s)
        return false;
    faults() = s->faults;
    status() = s->status;
    setIdentity(s->manufacturer ? s->manufacturer->c_str() : nullptr,
                s->product ? s->product->c_str() : nullptr);
    setBlockingReadLimitMs(s->blockingReadLimitMs);
    binding.requestLog = s->requestLog;
    binding.imagePath = s->imagePath;
    if (anew) {
        detail::restartExchangeCount();
        loadImage(true);
    }
    return true;
}

}  // namespace

bool loadControlFile(const std::string& path)
{
    std::optional<std::string> text = readFile(path);
    if (!text) {
        warn(path + ": cannot read the control file");
        return false;
    }
    return applyText(*text, path);
}

void watchControlFile(const std::string& path)
{
    binding.watched = path;
    binding.lastText.reset();
    binding.seen = false;
    binding.appliedOnce = false;
    detail::refreshFromControlFile();
}

namespace detail {

const std::string& watchedControlFile()
{
#ifdef KVZ_SIM_PRELOAD
    // The preload library has no test to set it up: the environment names
    // its control file, looked up on first use rather than at load time so
    // that no start-up order between files matters.
    static const bool bound = [] {
        const char* path = std::getenv("KVZ_SIM_UNIT");
        if (path && *path)
            binding.watched = path;
        return true;
    }();
    (void)bound;
#endif
    return binding.watched;
}

SharedControl sharedControl()
{
    return {binding.seen, binding.lastText, binding.lastImage};
}

void refreshFromControlFile()
{
    if (watchedControlFile().empty())
        return;
    std::optional<std::string> text = readFile(binding.watched);
    // New to the unit (another process of a shared unit may have seen it
    // first), or only to this process, which still needs its settings.
    const bool changed = !binding.seen || text != binding.lastText;
    const bool unapplied = !binding.appliedOnce || text != binding.applied;
    binding.seen = true;
    binding.lastText = text;
    binding.applied = text;
    binding.appliedOnce = true;
    if (!changed && !unapplied) {
        loadImage(false);
        return;
    }
    if (!text)
        faults().absent = true;  // no file, no unit
    else
        applyText(*text, binding.watched, changed);  // an error keeps the unit as it was
    if (!changed)
        loadImage(false);
}

void afterBlockWrite()
{
    if (binding.imagePath.empty())
        return;
    std::string bytes(reinterpret_cast<const char*>(memory().data()), memory().size());
    std::string temporary = binding.imagePath + ".tmp";
    std::error_code error;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) {
            warn(temporary + ": cannot write the memory image");
            return;
        }
    }
    fs::rename(temporary, binding.imagePath, error);
    if (error) {
        warn(binding.imagePath + ": cannot replace the memory image: " + error.message());
        return;
    }
    binding.lastImage = bytes;
}

void logRequest(const Request& request)
{
    if (binding.requestLog.empty())
        return;
    // Binary, so the lines end in "\n" on Windows too, as the scripts and
    // tests that read the log expect.
    std::FILE* out = std::fopen(binding.requestLog.c_str(), "ab");
    if (!out) {
        warn(binding.requestLog + ": cannot append to the request log");
        return;
    }
    for (std::size_t i = 0; i < request.size(); ++i)
        std::fprintf(out, i ? " %02X" : "%02X", request[i]);
    std::fputc('\n', out);
    std::fclose(out);
}

void resetControlFile() { binding = Binding{}; }

}  // namespace detail
}  // namespace sim
