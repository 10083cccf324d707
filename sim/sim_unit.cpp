// The simulated unit and the hidapi functions through which the program
// reaches it. Handles behave as hidraw handles do on Linux: every reply the
// unit sends lands in the queue of every open handle, at most 64 reports
// each, oldest dropped. The hid_* functions lock the unit, so a read blocked
// in one thread is woken by a write from another; the sim:: interface is for
// a single test thread and does not lock. The preload library's unit is one
// for every process that opens it (shared_unit.cpp).
#include "sim_unit.h"

#include <hidapi.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "control_file.h"
#include "shared_unit.h"

namespace {

constexpr std::uint8_t kReadBlock = 0x80;
constexpr std::uint8_t kWriteBlock = 0x82;
constexpr std::uint8_t kStatus = 0x83;
constexpr std::size_t kGraveyardLimit = 1024;

using Clock = std::chrono::steady_clock;

}  // namespace

// The opaque handle of hidapi, ours to define: what the process keeps of
// it. What the unit keeps of it is its port, by the same id.
struct hid_device_ {
    std::uint64_t id = 0;
    bool open = true;
    std::wstring error;
};

namespace {

using sim::detail::Port;
using sim::detail::InFlight;

struct Unit {
    sim::Faults faults;
    sim::LiveStatus status;
    sim::Memory memory{};
    std::optional<std::wstring> manufacturer = std::wstring(L"KVZ Electronics");
    std::optional<std::wstring> product = std::wstring(L"KVZ-CDI");
    std::vector<sim::Request> requests;
    int exchanges = 0;
    int opens = 0;
    int strayCloses = 0;
    std::vector<std::unique_ptr<hid_device_>> handles;     // open in this process
    std::map<std::uint64_t, Port> ports;                   // every open handle's
    std::uint64_t nextId = 1;
    std::deque<InFlight> inFlight;                         // oldest first
    std::deque<std::unique_ptr<hid_device_>> graveyard;    // closed, kept so a
                                                           // second close is seen
    bool virtualTime = false;
    long long virtualNowUs = 0;
#ifdef KVZ_SIM_PRELOAD
    // Steady time counts alike in every process of a shared unit.
    Clock::time_point origin{};
#else
    Clock::time_point origin = Clock::now();
#endif
    int blockingReadLimitMs = 5000;
    std::wstring error;  // hid_error(NULL)
    std::string nodePath = sim::detail::inProcessNodePath();
};

Unit unit;
std::mutex unitLock;
std::condition_variable reportQueued;

std::string currentNodePath()
{
    const std::string shared = sim::detail::sharedNodePath();
    return shared.empty() ? unit.nodePath : shared;
}

// The node is there while the unit is, unless it is to be missing.
void keepNode(const std::string& path)
{
    std::error_code ignored;
    if (unit.faults.nodeMissing)
        std::filesystem::remove(path, ignored);
    else if (!std::filesystem::exists(path, ignored))
        std::ofstream(path, std::ios::app);
}

long long nowUs()
{
    if (unit.virtualTime)
        return unit.virtualNowUs;
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - unit.origin).count();
}

hid_device_* findOpen(hid_device* dev)
{
    for (auto& h : unit.handles)
        if (h.get() == dev)
            return h.get();
    return nullptr;
}

Port& port(const hid_device_* h)
{
    return unit.ports[h->id];
}

void putU16(sim::Report& r, int at, unsigned v)
{
    r[at] = static_cast<std::uint8_t>(v & 0xFF);
    r[at + 1] = static_cast<std::uint8_t>(v >> 8 & 0xFF);
}

sim::Report statusReply()
{
    sim::Report r{};
    const sim::LiveStatus& s = unit.status;
    unsigned rpm = s.rpmSweep ? sim::sweepRpm(nowUs() / 1000) : s.rpm;
    unsigned valve = s.valveAngle;
    if (s.valveFollowsMap) {
        unsigned map = s.mapSwitch ? 1 : 0;
        unsigned point = std::min(rpm / 100, 159u);
        valve = unit.memory[20 * sim::kBlockSize + map * 160 + point];
    }
    putU16(r, 0, rpm);
    r[2] = s.mapSwitch;
    r[4] = static_cast<std::uint8_t>(valve);
    r[10] = s.shifterSwitch;
    return r;
}

// The firmware answers from its receive buffer: command and block stay in
// front, the block's bytes follow from byte 4.
sim::Report readBlockReply(const sim::Request& q)
{
    sim::Report r{};
    r[0] = q[1];
    r[1] = q[2];
    std::memcpy(&r[4], &unit.memory[q[2] * sim::kBlockSize], sim::kBlockSize);
    return r;
}

// The echo is the request without its report id.
sim::Report writeBlockReply(const sim::Request& q)
{
    std::memcpy(&unit.memory[q[2] * sim::kBlockSize], &q[5], sim::kBlockSize);
    if (q[2] == unit.faults.storesWrongAtBlock)
        unit.memory[q[2] * sim::kBlockSize] ^= 0xFF;
    sim::detail::afterBlockWrite();
    sim::Report r{};
    std::memcpy(r.data(), &q[1], r.size());
    if (q[2] == unit.faults.wrongEchoAtBlock)
        r[4] ^= 0xFF;
    return r;
}

// What the unit answers, if anything. Requests it does not understand, and
// blocks beyond its memory, it ignores.
std::optional<sim::Report> answer(const sim::Request& q)
{
    std::uint8_t command = q[1];
    if (command == kStatus)
        return statusReply();
    if ((command != kReadBlock && command != kWriteBlock) || q[2] >= sim::kBlocks)
        return std::nullopt;
    if (command == kReadBlock)
        return readBlockReply(q);
    return writeBlockReply(q);
}

// Replies that have arrived go into the queue of every handle open now, as
// hidraw hands each input report to every open file: a late reply reaches a
// handle opened after its request, and misses one closed before it came.
// Every call of the hidapi functions delivers first.
void deliverArrived()
{
    const long long now = nowUs();
    while (!unit.inFlight.empty() && unit.inFlight.front().arrivesUs <= now) {
        const InFlight& reply = unit.inFlight.front();
        for (auto& [id, p] : unit.ports) {
            if (p.dead || id == reply.except)
                continue;
            if (p.queue.size() == static_cast<std::size_t>(sim::kQueueLimit))
                p.queue.pop_front();
            p.queue.push_back(reply.report);
        }
        unit.inFlight.pop_front();
    }
}

// On its way to every live handle, except one that is to lose it.
void send(const sim::Report& report, int delayMs, std::uint64_t except)
{
    long long arrives = nowUs() + static_cast<long long>(delayMs) * 1000;
    unit.inFlight.push_back({report, arrives, except});
    deliverArrived();
    reportQueued.notify_all();
}

int fail(hid_device_* h, const wchar_t* text)
{
    if (h)
        h->error = text;
    else
        unit.error = text;
    return -1;
}

bool unitAbsent(hid_device_* h)
{
    Port& p = port(h);
    if (unit.faults.absent)
        p.dead = true;
    return p.dead;
}

// Waits, on the unit's clock, for the oldest report to arrive, at most until
// the deadline; a virtual clock just jumps to where the wait would end.
int readReport(hid_device* dev, unsigned char* data, std::size_t length, long long timeoutMs)
{
    std::unique_lock<std::mutex> lock(unitLock);
    sim::detail::SharedSession shared;
    hid_device_* h = findOpen(dev);
    if (!h || !data)
        return fail(h, L"invalid handle or buffer");
    if (unitAbsent(h))
        return fail(h, L"the simulated unit was unplugged");
    if (port(h).readFailPending) {
        port(h).readFailPending = false;
        return fail(h, L"simulated read fault");
    }
    long long deadline = nowUs() + timeoutMs * 1000;
    for (;;) {
        deliverArrived();
        long long now = nowUs();
        std::deque<sim::Report>& queue = port(h).queue;
        if (!queue.empty()) {
            std::size_t n = std::min({length, queue.front().size(),
                                      static_cast<std::size_t>(unit.faults.replyLength)});
            std::memcpy(data, queue.front().data(), n);
            queue.pop_front();
            return static_cast<int>(n);
        }
        if (now >= deadline)
            return 0;
        long long wakeAt = deadline;
        if (!unit.inFlight.empty())
            wakeAt = std::min(wakeAt, unit.inFlight.front().arrivesUs);
        if (unit.virtualTime) {
            unit.virtualNowUs = wakeAt;
        } else if (shared.active()) {
            // Another process's request can be answered any moment: it is
            // looked for every few milliseconds.
            wakeAt = std::min(wakeAt, now + sim::detail::kSharedLookUs);
            shared.leave();
            lock.unlock();
            std::this_thread::sleep_until(unit.origin + std::chrono::microseconds(wakeAt));
            lock.lock();
            shared.enter();
        } else {
            reportQueued.wait_until(lock, unit.origin + std::chrono::microseconds(wakeAt));
        }
        // The handle may have been closed by another thread meanwhile.
        h = findOpen(dev);
        if (!h)
            return fail(nullptr, L"handle closed while reading");
    }
}

wchar_t* copyWide(const std::wstring& s)
{
    auto* out = new wchar_t[s.size() + 1];
    std::wmemcpy(out, s.c_str(), s.size() + 1);
    return out;
}

wchar_t* copyWide(const std::optional<std::wstring>& s)
{
    return s ? copyWide(*s) : nullptr;
}

bool idsMatch(unsigned short vendorId, unsigned short productId)
{
    return (vendorId == 0 || vendorId == sim::kVendorId)
           && (productId == 0 || productId == sim::kProductId);
}

int unsupported(hid_device* dev, const wchar_t* text)
{
    return fail(findOpen(dev), text);
}

}  // namespace

// ---------------------------------------------------------------------------
// The test interface.

namespace sim {

std::uint16_t sweepRpm(long long clockMs)
{
    long long half = kSweepPeriodMs / 2;
    long long t = clockMs % kSweepPeriodMs;
    long long rise = t < half ? t : kSweepPeriodMs - t;
    return static_cast<std::uint16_t>(kSweepLowRpm + (kSweepHighRpm - kSweepLowRpm) * rise / half);
}

std::string nodePath()
{
    std::lock_guard<std::mutex> lock(unitLock);
    return currentNodePath();
}

void reset()
{
    unit = Unit{};
    detail::resetControlFile();
}

Faults& faults() { return unit.faults; }
LiveStatus& status() { return unit.status; }
Memory& memory() { return unit.memory; }

std::uint8_t* block(int number)
{
    if (number < 0 || number >= kBlocks)
        return nullptr;
    return &unit.memory[number * kBlockSize];
}

void setIdentity(const wchar_t* manufacturer, const wchar_t* product)
{
    unit.manufacturer = manufacturer ? std::optional<std::wstring>(manufacturer) : std::nullopt;
    unit.product = product ? std::optional<std::wstring>(product) : std::nullopt;
}

const std::vector<Request>& requests() { return unit.requests; }

std::vector<Request> blockRequests()
{
    std::vector<Request> out;
    for (const Request& q : unit.requests)
        if (q[1] == kReadBlock || q[1] == kWriteBlock)
            out.push_back(q);
    return out;
}

int exchanges() { return unit.exchanges; }
int openHandles() { return static_cast<int>(unit.handles.size()); }
int opens() { return unit.opens; }
int strayCloses() { return unit.strayCloses; }

void setVirtualTime(bool on)
{
    if (on == unit.virtualTime)
        return;
    long long now = nowUs();
    unit.virtualTime = on;
    if (on)
        unit.virtualNowUs = now / 1000 * 1000;  // whole milliseconds from here on
    else
        unit.origin = Clock::now() - std::chrono::microseconds(now);
}

void advanceMs(long long ms)
{
    if (unit.virtualTime && ms > 0)
        unit.virtualNowUs += ms * 1000;
}

long long clockMs() { return nowUs() / 1000; }

void setBlockingReadLimitMs(int ms) { unit.blockingReadLimitMs = std::max(ms, 0); }

namespace detail {
void restartExchangeCount() { unit.exchanges = 0; }

SharedFields sharedFields()
{
    const SharedControl control = sharedControl();
    return {unit.nextId, unit.exchanges, unit.memory, unit.ports, unit.inFlight,
            control.seen, control.text, control.image};
}
}

}  // namespace sim

// ---------------------------------------------------------------------------
// hidapi.

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void) { return 0; }
int HID_API_EXPORT HID_API_CALL hid_exit(void) { return 0; }

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    std::lock_guard<std::mutex> lock(unitLock);
    sim::detail::SharedSession shared;
    sim::detail::refreshFromControlFile();
    if (unit.faults.absent || !idsMatch(vendor_id, product_id)) {
        unit.error = L"No HID devices with requested VID/PID found in the system.";
        return nullptr;
    }
    const std::string path = currentNodePath();
    keepNode(path);
    auto* info = new hid_device_info{};
    info->path = new char[path.size() + 1];
    std::memcpy(info->path, path.c_str(), path.size() + 1);
    info->vendor_id = sim::kVendorId;
    info->product_id = sim::kProductId;
    info->serial_number = copyWide(std::wstring());
    info->release_number = 0x0100;
    info->manufacturer_string = copyWide(unit.manufacturer);
    info->product_string = copyWide(unit.product);
    info->usage_page = 0xFF00;
    info->usage = 0x0001;
    info->interface_number = 0;
    info->next = nullptr;
    info->bus_type = HID_API_BUS_USB;
    unit.error.clear();
    return info;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs)
{
    while (devs) {
        hid_device_info* next = devs->next;
        delete[] devs->path;
        delete[] devs->serial_number;
        delete[] devs->manufacturer_string;
        delete[] devs->product_string;
        delete devs;
        devs = next;
    }
}

namespace {
// A new handle, once the caller has named the unit.
hid_device* openHandle()
{
    if (unit.faults.openFails) {
        fail(nullptr, L"Permission denied (simulated open fault).");
        return nullptr;
    }
    deliverArrived();  // what came before the open is not the new handle's
    auto handle = std::make_unique<hid_device_>();
    handle->id = unit.nextId++;
    unit.ports[handle->id].pid = sim::detail::processId();
    unit.handles.push_back(std::move(handle));
    ++unit.opens;
    unit.error.clear();
    return unit.handles.back().get();
}
}  // namespace

HID_API_EXPORT hid_device* HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t* serial_number)
{
    std::lock_guard<std::mutex> lock(unitLock);
    sim::detail::SharedSession shared;
    sim::detail::refreshFromControlFile();
    if (unit.faults.absent || vendor_id != sim::kVendorId || product_id != sim::kProductId
        || (serial_number && *serial_number)) {
        fail(nullptr, L"No such device: the simulated unit is not on the bus.");
        return nullptr;
    }
    return openHandle();
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path)
{
    std::lock_guard<std::mutex> lock(unitLock);
    sim::detail::SharedSession shared;
    sim::detail::refreshFromControlFile();
    if (unit.faults.absent || !path || path != currentNodePath() || unit.faults.nodeMissing) {
        fail(nullptr, L"No such device: no simulated unit at that path.");
        return nullptr;
    }
    return openHandle();
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data, size_t length)
{
    std::lock_guard<std::mutex> lock(unitLock);
    sim::detail::SharedSession shared;
    deliverArrived();
    hid_device_* h = findOpen(dev);
    if (!h || !data || length == 0 || length > sizeof(sim::Request))
        return fail(h, L"invalid handle, buffer or length");
    sim::Request q{};
    std::memcpy(q.data(), data, length);
    unit.requests.push_back(q);
    sim::detail::logRequest(q);
    bool isBlock = q[1] == kReadBlock || q[1] == kWriteBlock;
    if (isBlock)
        ++unit.exchanges;
    if (unitAbsent(h))
        return fail(h, L"the simulated unit was unplugged");
    if (q[0] != 0)
        return fail(h, L"the unit uses no numbered reports: report id must be 0");
    const sim::Faults& f = unit.faults;
    if ((isBlock && unit.exchanges == f.writeFailsAt) || (q[1] == kStatus && f.statusWriteFails))
        return fail(h, L"simulated write fault");
    std::optional<sim::Report> reply = answer(q);
    bool lost = (isBlock && unit.exchanges == f.noReplyAt) || (q[1] == kStatus && f.statusNoReply);
    bool readFails = (isBlock && unit.exchanges == f.readFailsAt) || (q[1] == kStatus && f.statusReadFails);
    if (readFails)
        port(h).readFailPending = true;
    const int delayMs = q[1] == kStatus && f.statusReplyDelayMs >= 0 ? f.statusReplyDelayMs : f.replyDelayMs;
    if (reply && !lost)
        send(*reply, delayMs, readFails ? h->id : 0);
    return static_cast<int>(length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data, size_t length,
                                                 int milliseconds)
{
    long long timeout = milliseconds >= 0 ? milliseconds : unit.blockingReadLimitMs;
    return readReport(dev, data, length, timeout);
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device* dev, unsigned char* data, size_t length)
{
    return readReport(dev, data, length, unit.blockingReadLimitMs);
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev)
{
    if (!dev)
        return;
    std::lock_guard<std::mutex> lock(unitLock);
    sim::detail::SharedSession shared;
    deliverArrived();
    auto it = std::find_if(unit.handles.begin(), unit.handles.end(),
                           [dev](const auto& h) { return h.get() == dev; });
    if (it == unit.handles.end()) {
        ++unit.strayCloses;
        return;
    }
    unit.ports.erase((*it)->id);
    (*it)->open = false;
    unit.graveyard.push_back(std::move(*it));
    unit.handles.erase(it);
    if (unit.graveyard.size() > kGraveyardLimit)
        unit.graveyard.pop_front();
    reportQueued.notify_all();
}

// The rest of the API: the program does not use it, and the simulated unit
// refuses it plainly rather than pretend.

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device* dev, int)
{
    std::lock_guard<std::mutex> lock(unitLock);
    return unsupported(dev, L"hid_set_nonblocking: not supported by the simulated unit");
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device* dev, const unsigned char*, size_t)
{
    std::lock_guard<std::mutex> lock(unitLock);
    return unsupported(dev, L"hid_send_feature_report: not supported by the simulated unit");
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device* dev, unsigned char*, size_t)
{
    std::lock_guard<std::mutex> lock(unitLock);
    return unsupported(dev, L"hid_get_feature_report: not supported by the simulated unit");
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device* dev, unsigned char*, size_t)
{
    std::lock_guard<std::mutex> lock(unitLock);
    return unsupported(dev, L"hid_get_input_report: not supported by the simulated unit");
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device* dev, wchar_t*, size_t)
{
    std::lock_guard<std::mutex> lock(unitLock);
    return unsupported(dev, L"hid_get_manufacturer_string: not supported by the simulated unit");
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device* dev, wchar_t*, size_t)
{
    std::lock_guard<std::mutex> lock(unitLock);
    return unsupported(dev, L"hid_get_product_string: not supported by the simulated unit");
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device* dev, wchar_t*, size_t)
{
    std::lock_guard<std::mutex> lock(unitLock);
    return unsupported(dev, L"hid_get_serial_number_string: not supported by the simulated unit");
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_get_device_info(hid_device* dev)
{
    std::lock_guard<std::mutex> lock(unitLock);
    unsupported(dev, L"hid_get_device_info: not supported by the simulated unit");
    return nullptr;
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device* dev, int, wchar_t*, size_t)
{
    std::lock_guard<std::mutex> lock(unitLock);
    return unsupported(dev, L"hid_get_indexed_string: not supported by the simulated unit");
}

// Never null, as hidapi promises. The text stays valid until the next call
// on the same handle (or, for null, the next failing global call).
HID_API_EXPORT const wchar_t* HID_API_CALL hid_error(hid_device* dev)
{
    std::lock_guard<std::mutex> lock(unitLock);
    const std::wstring* text = &unit.error;
    if (hid_device_* h = findOpen(dev))
        text = &h->error;
    else if (dev)
        return L"invalid handle";
    return text->empty() ? L"Success" : text->c_str();
}

// The version of the interface the unit implements; these cannot fail.
HID_API_EXPORT const struct hid_api_version* HID_API_CALL hid_version(void)
{
    static const hid_api_version version = {HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR,
                                            HID_API_VERSION_PATCH};
    return &version;
}

HID_API_EXPORT const char* HID_API_CALL hid_version_str(void) { return HID_API_VERSION_STR; }

}  // extern "C"
