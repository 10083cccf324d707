// The simulated unit shared between processes: its state file, and the
// file that stands for its device node.
#include "shared_unit.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>

#ifdef _WIN32
#include <process.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;

namespace sim::detail {
namespace {

// The in-process nodes made, removed when the process ends.
struct MadeNodes {
    std::set<std::string> paths;
    ~MadeNodes()
    {
        std::error_code ignored;
        for (const std::string& path : paths)
            fs::remove(path, ignored);
    }
};
// A function's own, so that the unit, made before it or after, finds it.
MadeNodes& madeNodes()
{
    static MadeNodes nodes;
    return nodes;
}

#ifdef KVZ_SIM_PRELOAD
template <class T>
void put(std::string& out, T value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

void putText(std::string& out, const std::optional<std::string>& text)
{
    put<std::uint8_t>(out, text ? 1 : 0);
    if (text) {
        put<std::uint64_t>(out, text->size());
        out += *text;
    }
}

// Reads what putText and put wrote; a short or garbled state file reads as
// not ok, and the unit starts afresh.
struct Reader {
    const std::string& in;
    std::size_t at = 0;
    bool ok = true;

    void take(void* to, std::size_t n)
    {
        ok = ok && in.size() - at >= n;
        if (ok)
            std::memcpy(to, in.data() + at, n);
        at += ok ? n : 0;
    }
    template <class T>
    T value()
    {
        T v{};
        take(&v, sizeof v);
        return v;
    }
    std::optional<std::string> text()
    {
        if (!value<std::uint8_t>())
            return std::nullopt;
        const auto n = value<std::uint64_t>();
        ok = ok && in.size() - at >= n;
        if (!ok)
            return std::nullopt;
        at += n;
        return in.substr(at - n, n);
    }
};

constexpr char kMagic[] = "kvz-sim-unit 1\n";

std::string encode(const SharedFields& f)
{
    std::string out(kMagic);
    put(out, f.nextId);
    put(out, f.exchanges);
    out.append(reinterpret_cast<const char*>(f.memory.data()), f.memory.size());
    put<std::uint8_t>(out, f.controlSeen);
    putText(out, f.controlText);
    putText(out, f.image);
    put<std::uint32_t>(out, static_cast<std::uint32_t>(f.ports.size()));
    for (const auto& [id, port] : f.ports) {
        put(out, id);
        put(out, port.pid);
        put<std::uint8_t>(out, port.dead);
        put<std::uint8_t>(out, port.readFailPending);
        put<std::uint32_t>(out, static_cast<std::uint32_t>(port.queue.size()));
        for (const Report& r : port.queue)
            put(out, r);
    }
    put<std::uint32_t>(out, static_cast<std::uint32_t>(f.inFlight.size()));
    for (const InFlight& reply : f.inFlight) {
        put(out, reply.report);
        put(out, reply.arrivesUs);
        put(out, reply.except);
    }
    return out;
}

// A process that ended without closing its handles leaves them behind,
// as the kernel would not.
bool processGone(long pid)
{
    return kill(static_cast<pid_t>(pid), 0) == -1 && errno == ESRCH;
}

bool decode(const std::string& bytes, const SharedFields& f)
{
    if (bytes.compare(0, sizeof kMagic - 1, kMagic) != 0)
        return false;
    Reader in{bytes, sizeof kMagic - 1};
    f.nextId = in.value<std::uint64_t>();
    f.exchanges = in.value<int>();
    in.take(f.memory.data(), f.memory.size());
    f.controlSeen = in.value<std::uint8_t>() != 0;
    f.controlText = in.text();
    f.image = in.text();
    f.ports.clear();
    for (auto n = in.value<std::uint32_t>(); in.ok && n > 0; --n) {
        const auto id = in.value<std::uint64_t>();
        Port port;
        port.pid = in.value<long>();
        port.dead = in.value<std::uint8_t>() != 0;
        port.readFailPending = in.value<std::uint8_t>() != 0;
        for (auto q = in.value<std::uint32_t>(); in.ok && q > 0; --q)
            port.queue.push_back(in.value<Report>());
        if (!processGone(port.pid))
            f.ports[id] = std::move(port);
    }
    f.inFlight.clear();
    for (auto n = in.value<std::uint32_t>(); in.ok && n > 0; --n) {
        InFlight reply{};
        reply.report = in.value<Report>();
        reply.arrivesUs = in.value<long long>();
        reply.except = in.value<std::uint64_t>();
        f.inFlight.push_back(reply);
    }
    return in.ok;
}

void startAfresh(const SharedFields& f)
{
    f.nextId = 1;
    f.exchanges = 0;
    f.memory.fill(0);
    f.ports.clear();
    f.inFlight.clear();
    f.controlSeen = false;
    f.controlText.reset();
    f.image.reset();
}
#endif

}  // namespace

void SharedSession::enter()
{
#ifdef KVZ_SIM_PRELOAD
    const std::string& control = watchedControlFile();
    if (control.empty() || fd_ != -1)
        return;
    const std::string path = (fs::path(control).parent_path() / "unit.state").string();
    // Without its folder there is nothing to share: the unit is unplugged.
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ == -1)
        return;
    while (flock(fd_, LOCK_EX) == -1 && errno == EINTR) {
    }
    std::string bytes;
    char buffer[65536];
    for (ssize_t n; (n = pread(fd_, buffer, sizeof buffer, static_cast<off_t>(bytes.size()))) > 0;)
        bytes.append(buffer, static_cast<std::size_t>(n));
    if (!decode(bytes, sharedFields()))
        startAfresh(sharedFields());
#endif
}

void SharedSession::leave()
{
#ifdef KVZ_SIM_PRELOAD
    if (fd_ == -1)
        return;
    const std::string bytes = encode(sharedFields());
    std::size_t done = 0;
    for (ssize_t n; done < bytes.size() && (n = pwrite(fd_, bytes.data() + done, bytes.size() - done,
                                                        static_cast<off_t>(done))) > 0;)
        done += static_cast<std::size_t>(n);
    // A state file written short reads back as garbled, and the unit
    // starts afresh.
    if (done == bytes.size() && ftruncate(fd_, static_cast<off_t>(done)) != 0)
        done = 0;
    close(fd_);  // lets the next process in
    fd_ = -1;
#endif
}

std::string sharedNodePath()
{
#ifdef KVZ_SIM_PRELOAD
    const std::string& control = watchedControlFile();
    if (!control.empty())
        return (fs::path(control).parent_path() / "unit.node").string();
#endif
    return std::string();
}

long processId()
{
#ifdef _WIN32
    return _getpid();
#else
    return getpid();
#endif
}

std::string inProcessNodePath()
{
    std::error_code error;
    const fs::path dir = fs::temp_directory_path(error);
    const std::string path = (dir / ("kvz-sim-unit-" + std::to_string(processId()) + ".node")).string();
    madeNodes().paths.insert(path);
    return path;
}

}  // namespace sim::detail
