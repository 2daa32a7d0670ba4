#include "sim/machine.h"

#include <fmt/format.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "core/report.h"
#include "sim/wide.h"

// Bounds of the section that holds the driver's global variables.
extern "C" char __start_zrvstate[] __attribute__((weak));
extern "C" char __stop_zrvstate[] __attribute__((weak));

namespace sim {

namespace {
std::atomic<Machine*> currentMachine{nullptr};

std::string userToKernel(const std::string& name) {
    // "\\.\X" is the user-mode spelling of "\DosDevices\X".
    if (name.rfind("\\\\.\\", 0) == 0) return "\\DosDevices\\" + name.substr(4);
    return name;
}
}  // namespace

Machine::Machine() {
    Machine* expected = nullptr;
    if (!currentMachine.compare_exchange_strong(expected, this)) std::abort();  // one at a time
    bus_.setGuardedPorts([this](uint16_t port) { return pcPortGuarded(port); });
}

Machine::~Machine() {
    if (loaded_) unload();
    closeDebugFile();
    for (auto& [p, _] : pool_) std::free(p);
    currentMachine = nullptr;
}

Machine* Machine::current() { return currentMachine.load(); }

void Machine::advance(uint64_t ms) {
    std::lock_guard lock(bus_.mutex());
    ms = clock_.reach(ms);  // the devices see the time the clock moves, to its end
    for (auto& d : bus_.devices()) d->advance(clock_.nowMs(), ms);
    clock_.advance(ms);
}

void Machine::failAllocation(uint32_t nth) {
    std::lock_guard lock(mutex_);
    failAt_ = nth == 0 ? 0 : allocations_ + nth;
}

size_t Machine::outstandingAllocations() const {
    std::lock_guard lock(mutex_);
    return pool_.size();
}

ZrvStatus Machine::load() {
    if (loaded_) {
        violation("load: the driver is already loaded");
        return ZRV_STATUS_UNSUCCESSFUL;
    }
    // A fresh image: every driver-global variable starts at zero.
    if (__start_zrvstate != nullptr && __stop_zrvstate != nullptr)
        std::memset(__start_zrvstate, 0, static_cast<size_t>(__stop_zrvstate - __start_zrvstate));
    driver_ = PlatDriver{};
    {
        std::lock_guard lock(mutex_);
        events_.clear();
    }
    ZrvStatus status = ZrvDriverEntry(&driver_);
    if (!ZRV_SUCCESS(status)) {
        // A driver whose entry fails is gone: it must have left nothing behind.
        std::lock_guard lock(mutex_);
        if (!devices_.empty()) violations_.add("load failed but a device was left behind");
        if (!links_.empty()) violations_.add("load failed but a link was left behind");
        devices_.clear();
        links_.clear();
        return status;
    }
    if (driver_.dispatch == nullptr) violation("load: no dispatch routine registered");
    if (openRegistryKeys() != 0) violation("load left a registry key open");
    loaded_ = true;
    return status;
}

std::array<uint8_t, ZRV_FUNCTIONS> Machine::loadReasons() const {
    std::array<uint8_t, ZRV_FUNCTIONS> out{};
    std::copy(std::begin(LoadReport.Reason), std::end(LoadReport.Reason), out.begin());
    return out;
}

std::vector<Machine::LoggedEvent> Machine::loggedEvents() const {
    std::lock_guard lock(mutex_);
    return events_;
}

void Machine::logEvent(uint32_t code, std::vector<std::string> strings) {
    std::lock_guard lock(mutex_);
    if (!failReport_) events_.push_back({code, std::move(strings)});
}

void Machine::publishLoadReport(const uint8_t* bytes, uint32_t count) {
    if (failReport_) return;
    registry_.setValue(std::string(ZRV_SERVICE_KEY_KERNEL "\\" ZRV_LOAD_REPORT_KEY), ZRV_LOAD_REPORT_VALUE,
                       kRegBinary, std::vector<uint8_t>(bytes, bytes + count));
}

void Machine::unload() {
    if (!loaded_) return;
    {
        std::lock_guard lock(mutex_);
        if (!handles_.empty()) violations_.add("unload with open handles");
        handles_.clear();
    }
    if (driver_.unload != nullptr)
        driver_.unload(&driver_);
    else
        violation("unload: no unload routine registered");
    std::lock_guard lock(mutex_);
    if (!devices_.empty()) violations_.add("unload left a device object behind");
    if (!links_.empty()) violations_.add("unload left a symbolic link behind");
    devices_.clear();
    links_.clear();
    loaded_ = false;
}

ZrvStatus Machine::open(const std::string& name, Access access, int* handle) {
    PlatDevice* device = nullptr;
    {
        std::lock_guard lock(mutex_);
        std::string target = lower(userToKernel(name));
        if (auto l = links_.find(target); l != links_.end()) target = lower(l->second);
        auto d = devices_.find(target);
        if (d == devices_.end()) return ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
        device = d->second.get();
        // An exclusive device takes one handle at a time.
        if (device->exclusive)
            for (const auto& [_, h] : handles_)
                if (h.device == device) return ZRV_STATUS_ACCESS_DENIED;
    }
    ZrvRequest request{};
    request.Major = ZRV_IRP_MJ_CREATE;
    request.Status = ZRV_STATUS_UNSUCCESSFUL;
    ZrvStatus status = driver_.dispatch(device, &request);
    if (!ZRV_SUCCESS(status)) return status;
    std::lock_guard lock(mutex_);
    *handle = nextHandle_++;
    handles_[*handle] = Handle{device, access};
    return status;
}

const PlatDevice* Machine::findDevice(const std::string& name) const {
    std::lock_guard lock(mutex_);
    auto d = devices_.find(lower(name));
    return d == devices_.end() ? nullptr : d->second.get();
}

ZrvStatus Machine::close(int handle) {
    PlatDevice* device = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto h = handles_.find(handle);
        if (h == handles_.end()) return ZRV_STATUS_INVALID_PARAMETER;
        device = h->second.device;
        handles_.erase(h);
    }
    ZrvRequest request{};
    request.Major = ZRV_IRP_MJ_CLOSE;
    return driver_.dispatch(device, &request);
}

ZrvStatus Machine::sendMajor(int handle, uint32_t major) {
    PlatDevice* device = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto h = handles_.find(handle);
        if (h == handles_.end()) return ZRV_STATUS_INVALID_PARAMETER;
        device = h->second.device;
    }
    ZrvRequest request{};
    request.Major = major;
    return driver_.dispatch(device, &request);
}

IoResult Machine::ioctl(int handle, uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength) {
    Handle h{};
    {
        std::lock_guard lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) return IoResult{ZRV_STATUS_INVALID_PARAMETER, 0, {}};
        h = it->second;
    }
    // The access field is checked against the handle before the driver runs.
    const uint32_t access = ZRV_CODE_ACCESS(code);
    if ((access & ZRV_WRITE_ACCESS) != 0 && h.access != Access::ReadWrite)
        return IoResult{ZRV_STATUS_ACCESS_DENIED, 0, {}};
    // The driver's codes are all buffered, but a caller may send any code.
    // For another transfer method the I/O manager sets up no system buffer
    // (the driver would get the caller's own addresses, which this board does
    // not model): the request arrives with none, the driver must refuse it
    // without touching one, and nothing is copied back.
    const bool buffered = (code & 3u) == ZRV_METHOD_BUFFERED;

    const uint32_t inputLength = static_cast<uint32_t>(input.size());
    std::vector<uint8_t> system(std::max<uint32_t>({inputLength, outputLength, 1u}), poison_);
    std::copy(input.begin(), input.end(), system.begin());

    ZrvRequest request{};
    request.Major = ZRV_IRP_MJ_DEVICE_CONTROL;
    request.Code = code;
    request.InputLength = inputLength;
    request.OutputLength = outputLength;
    request.Buffer = !buffered || (inputLength == 0 && outputLength == 0) ? nullptr : system.data();
    request.Status = ZRV_STATUS_UNSUCCESSFUL;
    request.Information = 0xFFFFFFFFu;  // the driver must set it
    bool completed = false;
    request.PlatformRequest = &completed;

    ZrvStatus status = driver_.dispatch(h.device, &request);
    if (!completed) violation(fmt::format("request 0x{:08x} was not completed", code));
    if (status != request.Status)
        violation(fmt::format("request 0x{:08x}: dispatch returned 0x{:08x} but completed with 0x{:08x}",
                              code, static_cast<uint32_t>(status), static_cast<uint32_t>(request.Status)));
    IoResult result{request.Status, 0, {}};
    if (request.Information > outputLength) {
        violation(fmt::format("request 0x{:08x} returned {} bytes for an output length of {}", code,
                              request.Information, outputLength));
        return result;
    }
    if (!buffered) return result;
    result.bytes = request.Information;
    result.data.assign(system.begin(), system.begin() + request.Information);
    return result;
}

void* Machine::poolAlloc(uint32_t bytes) {
    std::lock_guard lock(mutex_);
    ++allocations_;
    if (failAt_ != 0 && allocations_ == failAt_) {
        failAt_ = 0;
        return nullptr;
    }
    void* p = std::malloc(bytes == 0 ? 1 : bytes);
    std::memset(p, kPoolFill, bytes);  // pool memory is not cleared
    pool_[p] = bytes;
    return p;
}

void Machine::poolFree(void* block) {
    std::lock_guard lock(mutex_);
    auto it = pool_.find(block);
    if (it == pool_.end()) {
        violations_.add("free of a block that is not pool memory");
        return;
    }
    std::memset(block, 0xDD, it->second);
    std::free(block);
    pool_.erase(it);
}

ZrvStatus Machine::createDevice(const std::string& name, uint32_t type, uint32_t extensionSize,
                                uint32_t characteristics, bool exclusive, PlatDevice** device) {
    std::lock_guard lock(mutex_);
    if (failDevice_) return ZRV_STATUS_INSUFFICIENT_RESOURCES;
    auto& slot = devices_[lower(name)];
    if (slot) return ZRV_STATUS_OBJECT_NAME_COLLISION;
    slot = std::make_unique<PlatDevice>();
    slot->name = name;
    slot->type = type;
    slot->characteristics = characteristics;
    slot->exclusive = exclusive;
    slot->extension.assign(extensionSize, 0);
    *device = slot.get();
    return ZRV_STATUS_SUCCESS;
}

void Machine::deleteDevice(PlatDevice* device) {
    std::lock_guard lock(mutex_);
    for (auto it = devices_.begin(); it != devices_.end(); ++it) {
        if (it->second.get() == device) {
            devices_.erase(it);
            return;
        }
    }
    violations_.add("delete of an unknown device object");
}

ZrvStatus Machine::createLink(const std::string& link, const std::string& target) {
    std::lock_guard lock(mutex_);
    if (failLink_) return ZRV_STATUS_INSUFFICIENT_RESOURCES;
    auto [it, inserted] = links_.try_emplace(lower(link), target);
    return inserted ? ZRV_STATUS_SUCCESS : ZRV_STATUS_OBJECT_NAME_COLLISION;
}

ZrvStatus Machine::deleteLink(const std::string& link) {
    std::lock_guard lock(mutex_);
    return links_.erase(lower(link)) != 0 ? ZRV_STATUS_SUCCESS : ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
}

void Machine::completeRequest(ZrvRequest* request) {
    if (request->PlatformRequest != nullptr) *static_cast<bool*>(request->PlatformRequest) = true;
}

void Machine::dbgPrint(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (debugFile_ != nullptr) std::fwrite(text.data(), 1, text.size(), debugFile_);
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        debugPartial_.append(text, start, nl - start);
        debugLines_.push_back(std::move(debugPartial_));
        debugPartial_.clear();
        if (debugLines_.size() > debugCapacity_) {
            debugLines_.pop_front();
            ++firstDebugLine_;
        }
    }
    debugPartial_.append(text, start, std::string::npos);
}

void Machine::waitOneSecond() {
    bus_.noteWait(1000);
    if (waitMode_ == WaitMode::Real) std::this_thread::sleep_for(std::chrono::seconds(1));
    advance(1000);
}

void Machine::violation(const std::string& what) {
    std::lock_guard lock(mutex_);
    violations_.add(what);
}

std::string Machine::debugText() const {
    std::lock_guard lock(mutex_);
    std::string text;
    for (const auto& line : debugLines_) text.append(line).push_back('\n');
    return text + debugPartial_;
}

std::vector<std::string> Machine::debugLines() const {
    std::lock_guard lock(mutex_);
    return {debugLines_.begin(), debugLines_.end()};
}

void Machine::clearDebug() {
    std::lock_guard lock(mutex_);
    firstDebugLine_ += debugLines_.size();
    debugLines_.clear();
    debugPartial_.clear();
}

uint64_t Machine::debugEnd() const {
    std::lock_guard lock(mutex_);
    return firstDebugLine_ + debugLines_.size();
}

DebugRead Machine::debugLinesFrom(uint64_t cursor) const {
    std::lock_guard lock(mutex_);
    DebugRead r;
    uint64_t from = cursor;
    if (from < firstDebugLine_) {
        r.dropped = firstDebugLine_ - from;
        from = firstDebugLine_;
    }
    const uint64_t end = firstDebugLine_ + debugLines_.size();
    for (uint64_t i = from; i < end; ++i) r.lines.push_back(debugLines_[i - firstDebugLine_]);
    r.next = end;
    return r;
}

void Machine::setDebugCapacity(size_t lines) {
    std::lock_guard lock(mutex_);
    debugCapacity_ = lines == 0 ? 1 : lines;
    while (debugLines_.size() > debugCapacity_) {
        debugLines_.pop_front();
        ++firstDebugLine_;
    }
}

bool Machine::debugToFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    if (debugFile_ != nullptr) std::fclose(debugFile_);
    debugFile_ = std::fopen(path.c_str(), "wb");
    return debugFile_ != nullptr;
}

void Machine::closeDebugFile() {
    std::lock_guard lock(mutex_);
    if (debugFile_ != nullptr) std::fclose(debugFile_);
    debugFile_ = nullptr;
}

PlatDevice* Machine::handleDevice(int handle) const {
    std::lock_guard lock(mutex_);
    auto it = handles_.find(handle);
    return it != handles_.end() ? it->second.device : nullptr;
}

std::vector<std::string> Machine::ioViolations() const {
    std::lock_guard lock(mutex_);
    return violations_.list();
}

namespace {
constexpr uint16_t kFirstBoardPort = 0x100;  // below: the PC's DMA, PIC, PIT, keyboard, RTC, POST ports
// The PCI configuration address and data ports, the chipset's.
constexpr uint16_t kPciConfigFirst = 0xCF8, kPciConfigLast = 0xCFF;
}  // namespace

// Whether an access nothing decoded at `port` breaks the board's rule: the
// PC's own ports are never the driver's, whatever its registry names (the
// configuration pairs, which a probe may find empty, never come here).
bool Machine::pcPortGuarded(uint16_t port) const {
    return port < kFirstBoardPort || (port >= kPciConfigFirst && port <= kPciConfigLast);
}

std::vector<std::string> Machine::deviceViolations() const {
    std::vector<std::string> out;
    for (auto& d : bus_.devices())
        for (auto& v : d->violations()) out.push_back(d->type() + ": " + v);
    for (const UnclaimedAccess& u : bus_.unclaimed())
        if (pcPortGuarded(u.port))
            out.push_back(
                fmt::format("board: port 0x{:04x} {} {} time{}: a port of the PC itself, which no "
                            "device of the board decodes",
                            u.port, u.write ? "written" : "read", u.count, u.count == 1 ? "" : "s"));
    return out;
}

std::vector<uint64_t> Machine::resets() const {
    std::lock_guard lock(bus_.mutex());
    std::vector<uint64_t> all;
    for (auto& d : bus_.devices())
        for (uint64_t at : d->resets()) all.push_back(at);
    return all;
}

std::vector<UnclaimedAccess> Machine::unclaimedAccesses() const {
    std::vector<UnclaimedAccess> out;
    for (const UnclaimedAccess& u : bus_.unclaimed())
        if (!pcPortGuarded(u.port)) out.push_back(u);
    return out;
}

}  // namespace sim
