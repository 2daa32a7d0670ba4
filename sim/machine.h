// The virtual board and the I/O manager that loads the driver on it.
//
// One machine exists at a time; the driver's platform layer reaches it
// through Machine::current(). Loading runs the driver's entry on freshly
// zeroed driver state, as a fresh image load does. Requests follow the
// buffered model: one system buffer of the larger length, the input copied
// in and the rest filled with a poison pattern, the access field of the code
// enforced before the dispatch, the returned bytes copied out.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "driver/platform/platform.h"
#include "sim/bus.h"
#include "sim/clock.h"
#include "sim/registry.h"
#include "zorvik/reasons.h"

// The simulator's driver and device objects.
struct PlatDriver {
    ZrvDispatchRoutine dispatch = nullptr;
    ZrvUnloadRoutine unload = nullptr;
};

struct PlatDevice {
    std::string name;
    uint32_t type = 0;
    uint32_t characteristics = 0;
    bool exclusive = false;
    std::vector<uint8_t> extension;
};

namespace sim {

constexpr uint8_t kPoison = 0xCD;    // system buffer bytes beyond the input
constexpr uint8_t kPoolFill = 0xA5;  // fresh pool memory

enum class Access { Read, ReadWrite };
enum class WaitMode { Real, Virtual };

struct IoResult {
    ZrvStatus status = 0;
    uint32_t bytes = 0;
    std::vector<uint8_t> data;
};

// Debugger lines read from a cursor on: those still kept, how many were
// already dropped, and the cursor to read from next time.
struct DebugRead {
    std::vector<std::string> lines;
    uint64_t dropped = 0;
    uint64_t next = 0;
};

// Registry keys the driver opened and has not closed yet.
int openRegistryKeys();

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    static Machine* current();

    PortBus& bus() { return bus_; }
    const PortBus& bus() const { return bus_; }
    Registry& registry() { return registry_; }
    const VirtualClock& clock() const { return clock_; }
    // Moves virtual time; every device sees it. At sim::kEndOfTime it
    // stops: a longer advance moves it there.
    void advance(uint64_t ms);
    void setWaitMode(WaitMode mode) { waitMode_ = mode; }
    // The pattern that fills a system buffer beyond the caller's input.
    void setPoison(uint8_t pattern) { poison_ = pattern; }

    // ---- Fault injection --------------------------------------------------
    // Fail the Nth pool allocation counted from now (1 = the next one); 0 off.
    void failAllocation(uint32_t nth);
    void failDeviceCreation(bool fail) { failDevice_ = fail; }
    void failLinkCreation(bool fail) { failLink_ = fail; }
    // The kernel gives no event log entry and the service key cannot be
    // written: the load's report goes nowhere.
    void failLoadReport(bool fail) { failReport_ = fail; }
    uint32_t allocationCount() const { return allocations_; }
    // Hardware lock acquisitions and releases by the driver so far.
    uint64_t lockAcquisitions() const { return lockAcquires_.load(std::memory_order_relaxed); }
    uint64_t lockReleases() const { return lockReleases_.load(std::memory_order_relaxed); }
    size_t outstandingAllocations() const;

    // ---- Driver -------------------------------------------------------------
    ZrvStatus load();
    void unload();
    bool loaded() const { return loaded_; }
    // What the last load recorded of each function (ZRV_REASON_*, by
    // ZRV_FUNCTION_*), as the driver keeps it.
    std::array<uint8_t, ZRV_FUNCTIONS> loadReasons() const;
    // The System event log entries the last load wrote, in order: the
    // message's code and its insertion strings (%2, %3, ...). The reasons it
    // published for programs are the service key's value, in registry().
    struct LoggedEvent {
        uint32_t code = 0;
        std::vector<std::string> strings;
    };
    std::vector<LoggedEvent> loggedEvents() const;

    // ---- Handles and requests ---------------------------------------------
    // Opens a user-mode device name ("\\.\ZRVDev"); the status on failure.
    ZrvStatus open(const std::string& name, Access access, int* handle);
    IoResult ioctl(int handle, uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength);
    ZrvStatus close(int handle);
    // Any other major function on an open handle (read, write, ...).
    ZrvStatus sendMajor(int handle, uint32_t major);

    // The device object of that kernel name, or null.
    const PlatDevice* findDevice(const std::string& name) const;
    // For measuring the driver alone: its dispatch routine and the device
    // object behind an open handle (null when unknown). A request sent this
    // way passes none of the I/O manager's checks.
    ZrvDispatchRoutine dispatchRoutine() const { return driver_.dispatch; }
    PlatDevice* handleDevice(int handle) const;

    // ---- What was seen -------------------------------------------------------
    // Debugger output: complete lines are numbered from 0 as printed; the
    // machine keeps the most recent ones (a bounded number) and, when
    // asked, streams everything printed to a file.
    std::string debugText() const;                // what is kept, exactly as printed
    std::vector<std::string> debugLines() const;  // complete lines kept, without "\n"
    void clearDebug();
    uint64_t debugEnd() const;  // the number the next complete line will get
    DebugRead debugLinesFrom(uint64_t cursor) const;
    void setDebugCapacity(size_t lines);
    bool debugToFile(const std::string& path);  // false when it cannot be written
    void closeDebugFile();
    // With prints off the debugger print routine returns at once (for
    // measuring the driver without them); on by default.
    void setDebugPrints(bool on) { debugPrints_.store(on, std::memory_order_relaxed); }
    bool debugPrints() const { return debugPrints_.load(std::memory_order_relaxed); }
    // Breaches of the platform's rules by the driver (bytes returned beyond
    // the output length, objects left at unload, ...). Empty when none.
    std::vector<std::string> ioViolations() const;
    // Breaches reported by emulated devices, and by the board itself: an
    // access to one of the PC's own ports (below 0x100, and the PCI
    // configuration ports 0xCF8-0xCFF) that no device of the board decodes,
    // but for the configuration pairs, whatever the registry names.
    std::vector<std::string> deviceViolations() const;
    // Board resets the devices caused, in ms, device by device in attach order.
    std::vector<uint64_t> resets() const;
    // The other accesses no device decoded (the board's ports, outside the
    // configuration pairs): on a board as built there are none.
    std::vector<UnclaimedAccess> unclaimedAccesses() const;

    // ---- Platform side (called through the driver's platform layer) -------
    void* poolAlloc(uint32_t bytes);
    void poolFree(void* block);
    ZrvStatus createDevice(const std::string& name, uint32_t type, uint32_t extensionSize,
                           uint32_t characteristics, bool exclusive, PlatDevice** device);
    void deleteDevice(PlatDevice* device);
    ZrvStatus createLink(const std::string& link, const std::string& target);
    ZrvStatus deleteLink(const std::string& link);
    void completeRequest(ZrvRequest* request);
    void dbgPrint(const std::string& text);
    void logEvent(uint32_t code, std::vector<std::string> strings);
    void publishLoadReport(const uint8_t* bytes, uint32_t count);
    void noteLock(bool acquire) {
        (acquire ? lockAcquires_ : lockReleases_).fetch_add(1, std::memory_order_relaxed);
    }
    void waitOneSecond();
    void violation(const std::string& what);

private:
    bool pcPortGuarded(uint16_t port) const;

    struct Handle {
        PlatDevice* device;
        Access access;
    };

    PortBus bus_;
    Registry registry_;
    VirtualClock clock_;
    WaitMode waitMode_ = WaitMode::Real;
    uint8_t poison_ = kPoison;

    mutable std::mutex mutex_;  // pool, objects, handles, debug text
    std::map<void*, uint32_t> pool_;
    uint32_t allocations_ = 0;
    uint32_t failAt_ = 0;
    bool failDevice_ = false;
    bool failLink_ = false;
    bool failReport_ = false;
    std::vector<LoggedEvent> events_;

    PlatDriver driver_;
    bool loaded_ = false;
    std::map<std::string, std::unique_ptr<PlatDevice>> devices_;  // by lower-case name
    std::map<std::string, std::string> links_;                    // lower-case link -> target
    std::map<int, Handle> handles_;
    int nextHandle_ = 1;

    static constexpr size_t kDefaultDebugLines = size_t{1} << 16;
    std::deque<std::string> debugLines_;  // the most recent complete lines
    uint64_t firstDebugLine_ = 0;         // number of debugLines_.front()
    std::string debugPartial_;            // printed after the last "\n"
    size_t debugCapacity_ = kDefaultDebugLines;
    std::FILE* debugFile_ = nullptr;
    std::atomic<bool> debugPrints_{true};
    std::atomic<uint64_t> lockAcquires_{0};
    std::atomic<uint64_t> lockReleases_{0};
    Breaches violations_;
};

}  // namespace sim
