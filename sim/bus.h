// The I/O port bus: routes each byte access to the device that claims the
// port. An unclaimed port floats: reads 0xFF, writes vanish. Such accesses
// are counted by port and direction, apart from the two Super I/O
// configuration pairs, where probing for an absent chip is the normal way.
//
// Every access (and every one-second wait of the driver) is a trace entry.
// Entries are numbered from 0 in the order they happen; the bus keeps the
// most recent ones in a ring of fixed size and, when asked, streams every
// entry as a text line to a file, so a board that runs for days keeps a
// flat memory profile. Readers hold a cursor (an entry number) and ask for
// what came after it.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

struct TraceEntry {
    enum Kind : uint8_t { In, Out, Wait } kind;
    uint16_t port;
    uint8_t value;
    uint32_t waitMs;
    std::string text() const;  // "out 0x002e 0x87", "in 0x002f 0xff", "wait 1000"
};

// Entries read from a cursor on: those the ring still held, how many it had
// already dropped, and the cursor to read from next time.
// Accesses to a port no device decoded: port, direction and how many.
struct UnclaimedAccess {
    uint16_t port;
    bool write;
    uint64_t count;
};

struct TraceRead {
    std::vector<TraceEntry> entries;
    uint64_t dropped = 0;
    uint64_t next = 0;
};

class PortBus {
public:
    static constexpr size_t kDefaultTraceCapacity = size_t{1} << 16;

    PortBus();
    ~PortBus();
    PortBus(const PortBus&) = delete;
    PortBus& operator=(const PortBus&) = delete;

    void attach(std::unique_ptr<Device> device);
    uint8_t read(uint16_t port);
    void write(uint16_t port, uint8_t value);
    void noteWait(uint32_t ms);

    const std::vector<std::unique_ptr<Device>>& devices() const { return devices_; }
    template <typename T>
    T* find() const {
        for (auto& d : devices_)
            if (auto* t = dynamic_cast<T*>(d.get())) return t;
        return nullptr;
    }

    // ---- Trace ------------------------------------------------------------
    // Entries since the last clearTrace(), as far as the ring still holds them.
    std::vector<TraceEntry> trace() const;
    void clearTrace();
    uint64_t traceMark() const;  // the entry number clearTrace() last set
    uint64_t traceEnd() const;   // the number the next entry will get
    TraceRead traceFrom(uint64_t cursor) const;
    // Ring size in entries (rounded up to a power of two); the ring takes
    // memory as entries come, up to that size. What it held is dropped, the
    // numbering goes on.
    void setTraceCapacity(size_t entries);
    size_t traceCapacity() const;
    // Streams every later entry to `path` as a text line; false when the
    // file cannot be written. closeTraceFile() flushes and closes it.
    bool traceToFile(const std::string& path);
    void closeTraceFile();

    // Port reads and writes so far (waits are not counted).
    uint64_t accessCount() const;
    // Accesses no device decoded, outside 0x2E/0x2F and 0x4E/0x4F, by port
    // and direction (reads first), and their total.
    std::vector<UnclaimedAccess> unclaimed() const;
    uint64_t unclaimedCount() const;
    // Which of the PC's own ports (below 0x100, the PCI configuration ports)
    // nothing may touch when no device decodes them: such an access counts as a broken rule for the
    // thread that made it. Set before the driver runs.
    void setGuardedPorts(std::function<bool(uint16_t)> guarded) { guarded_ = std::move(guarded); }

    // Serialises port access with the emulated devices' own state.
    BusLock& mutex() const { return mutex_; }

private:
    // Decode table, one slot per port: the first caching device that claims
    // the port (null: none), valid while `epoch` is the decode epoch + 1.
    struct DecodeSlot {
        Device* device;
        uint32_t index;  // of `device` in attach order, kNone for none
        uint32_t epoch;  // 0: never filled
    };
    static constexpr uint32_t kNone = 0xFFFFFFFFu;

    // A copy of a field, read under the lock.
    template <typename T>
    T locked(const T& field) const {
        std::lock_guard lock(mutex_);
        return field;
    }
    Device* owner(uint16_t port);
    [[gnu::noinline]] void fillSlot(uint16_t port, DecodeSlot& slot, uint32_t epoch);
    [[gnu::noinline]] Device* askFirst(uint16_t port, const DecodeSlot& slot);
    [[gnu::cold, gnu::noinline]] void noteUnclaimed(uint16_t port, bool write);
    void record(TraceEntry::Kind kind, uint16_t port, uint8_t value, uint32_t waitMs);
    [[gnu::noinline]] void stream(const TraceEntry& entry);

    mutable BusLock mutex_;
    std::vector<std::unique_ptr<Device>> devices_;
    // Devices that cache their decode are found through the table; the
    // others (by attach index, in order) are asked on every access.
    std::atomic<uint64_t> decodeEpoch_{0};
    std::unique_ptr<DecodeSlot[]> decode_;
    std::vector<uint32_t> asking_;

    // Entry n is at n & ringMask_. The ring's memory is reserved whole but
    // left untouched until entries land there.
    std::unique_ptr<TraceEntry[]> ring_;
    uint64_t capacity_ = 0;
    uint64_t ringMask_ = 0;
    uint64_t next_ = 0;  // entry number of the next entry
    uint64_t kept_ = 0;  // entries before this one are gone (the ring was resized)
    uint64_t mark_ = 0;  // set by clearTrace()
    uint64_t accesses_ = 0;
    std::map<uint32_t, uint64_t> unclaimed_;  // (write << 16 | port) -> count
    uint64_t unclaimedTotal_ = 0;
    std::function<bool(uint16_t)> guarded_;
    std::FILE* file_ = nullptr;
};

}  // namespace sim
