#include "sim/bus.h"

#include <fmt/format.h>

#include <algorithm>

namespace sim {

namespace {
thread_local uint64_t tRulesBroken = 0;
}  // namespace

uint64_t rulesBrokenHere() { return tRulesBroken; }

void Breaches::add(std::string what) {
    ++tRulesBroken;
    if (kept_.size() < kKept)
        kept_.push_back(std::move(what));
    else
        ++dropped_;
}

std::vector<std::string> Breaches::list() const {
    std::vector<std::string> out = kept_;
    if (dropped_ != 0) out.push_back(fmt::format("... and {} more", dropped_));
    return out;
}

std::string TraceEntry::text() const {
    switch (kind) {
        case In: return fmt::format("in 0x{:04x} 0x{:02x}", port, value);
        case Out: return fmt::format("out 0x{:04x} 0x{:02x}", port, value);
        case Wait: return fmt::format("wait {}", waitMs);
    }
    return {};
}

PortBus::PortBus() : decode_(new DecodeSlot[0x10000]()) { setTraceCapacity(kDefaultTraceCapacity); }

PortBus::~PortBus() { closeTraceFile(); }

void PortBus::attach(std::unique_ptr<Device> device) {
    std::lock_guard lock(mutex_);
    device->mutex_.target_ = &mutex_;
    if (device->cachesDecode())
        device->decodeEpoch_ = &decodeEpoch_;
    else
        asking_.push_back(static_cast<uint32_t>(devices_.size()));
    devices_.push_back(std::move(device));
    decodeEpoch_.fetch_add(1, std::memory_order_relaxed);
}

// The first device in attach order that claims the port. Caching devices
// are found through the decode table, refilled per port after any of them
// reported a change; devices that do not cache are asked each time, but only
// those attached before the cached owner can take the port from it.
inline Device* PortBus::owner(uint16_t port) {
    const uint32_t epoch = static_cast<uint32_t>(decodeEpoch_.load(std::memory_order_relaxed)) + 1;
    DecodeSlot& slot = decode_[port];
    if (slot.epoch != epoch) [[unlikely]]
        fillSlot(port, slot, epoch);
    if (!asking_.empty()) [[unlikely]]
        return askFirst(port, slot);
    return slot.device;
}

void PortBus::fillSlot(uint16_t port, DecodeSlot& slot, uint32_t epoch) {
    slot = DecodeSlot{nullptr, kNone, epoch};
    for (uint32_t i = 0; i < devices_.size(); ++i) {
        if (devices_[i]->cachesDecode() && devices_[i]->claims(port)) {
            slot.device = devices_[i].get();
            slot.index = i;
            return;
        }
    }
}

Device* PortBus::askFirst(uint16_t port, const DecodeSlot& slot) {
    for (uint32_t i : asking_) {
        if (i > slot.index) break;
        if (devices_[i]->claims(port)) return devices_[i].get();
    }
    return slot.device;
}

inline void PortBus::record(TraceEntry::Kind kind, uint16_t port, uint8_t value, uint32_t waitMs) {
    TraceEntry& entry = ring_[next_ & ringMask_];
    entry = TraceEntry{kind, port, value, waitMs};
    ++next_;
    if (file_ != nullptr) [[unlikely]]
        stream(entry);
}

namespace {
char* putHex(char* at, unsigned value, int digits) {
    static constexpr char kDigits[] = "0123456789abcdef";
    *at++ = '0';
    *at++ = 'x';
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) *at++ = kDigits[(value >> shift) & 0xF];
    return at;
}
}  // namespace

// The entry as its text line, without going through a formatter.
void PortBus::stream(const TraceEntry& entry) {
    char line[32];
    char* at = line;
    if (entry.kind == TraceEntry::Wait) {
        at += std::snprintf(line, sizeof line, "wait %u", static_cast<unsigned>(entry.waitMs));
    } else {
        const char* what = entry.kind == TraceEntry::In ? "in " : "out ";
        while (*what != 0) *at++ = *what++;
        at = putHex(at, entry.port, 4);
        *at++ = ' ';
        at = putHex(at, entry.value, 2);
    }
    *at++ = '\n';
    std::fwrite(line, 1, static_cast<size_t>(at - line), file_);
}

// Off the decoded path only: a driver on a board as built touches no port
// that nothing answers at, but for the configuration pairs of a chip it
// probes for.
void PortBus::noteUnclaimed(uint16_t port, bool write) {
    const unsigned pair = port | 1u;
    if (pair == 0x2F || pair == 0x4F) return;
    ++unclaimed_[static_cast<uint32_t>(write) << 16 | port];
    ++unclaimedTotal_;
    if (guarded_ && guarded_(port)) ++tRulesBroken;
}

uint8_t PortBus::read(uint16_t port) {
    std::lock_guard lock(mutex_);
    Device* d = owner(port);
    uint8_t v = 0xFF;
    if (d != nullptr) [[likely]]
        v = d->read(port);
    else
        noteUnclaimed(port, false);
    ++accesses_;
    record(TraceEntry::In, port, v, 0);
    return v;
}

void PortBus::write(uint16_t port, uint8_t value) {
    std::lock_guard lock(mutex_);
    if (Device* d = owner(port)) [[likely]]
        d->write(port, value);
    else
        noteUnclaimed(port, true);
    ++accesses_;
    record(TraceEntry::Out, port, value, 0);
}

void PortBus::noteWait(uint32_t ms) {
    std::lock_guard lock(mutex_);
    record(TraceEntry::Wait, 0, 0, ms);
}

TraceRead PortBus::traceFrom(uint64_t cursor) const {
    std::lock_guard lock(mutex_);
    TraceRead r;
    const uint64_t oldest = std::max(kept_, next_ > capacity_ ? next_ - capacity_ : 0);
    uint64_t from = cursor;
    if (from < oldest) {
        r.dropped = oldest - from;
        from = oldest;
    }
    r.entries.reserve(next_ - from);
    for (uint64_t i = from; i < next_; ++i) r.entries.push_back(ring_[i & ringMask_]);
    r.next = next_;
    return r;
}

std::vector<TraceEntry> PortBus::trace() const { return traceFrom(traceMark()).entries; }

void PortBus::clearTrace() {
    std::lock_guard lock(mutex_);
    mark_ = next_;
}

uint64_t PortBus::traceMark() const { return locked(mark_); }

uint64_t PortBus::traceEnd() const { return locked(next_); }

void PortBus::setTraceCapacity(size_t entries) {
    std::lock_guard lock(mutex_);
    size_t size = 1;
    while (size < entries) size <<= 1;
    ring_.reset();
    ring_.reset(new TraceEntry[size]);  // left uninitialised: pages are touched as entries come
    capacity_ = size;
    ringMask_ = size - 1;
    kept_ = next_;
}

size_t PortBus::traceCapacity() const { return locked(capacity_); }

bool PortBus::traceToFile(const std::string& path) {
    std::lock_guard lock(mutex_);
    closeTraceFile();
    file_ = std::fopen(path.c_str(), "wb");
    return file_ != nullptr;
}

void PortBus::closeTraceFile() {
    std::lock_guard lock(mutex_);
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

uint64_t PortBus::accessCount() const { return locked(accesses_); }

std::vector<UnclaimedAccess> PortBus::unclaimed() const {
    std::lock_guard lock(mutex_);
    std::vector<UnclaimedAccess> out;
    for (const auto& [key, count] : unclaimed_)
        out.push_back(UnclaimedAccess{static_cast<uint16_t>(key), (key >> 16) != 0, count});
    return out;
}

uint64_t PortBus::unclaimedCount() const { return locked(unclaimedTotal_); }

}  // namespace sim
