#include "sim/devices/sio_config_mode.h"

#include <fmt/format.h>

#include <algorithm>

namespace sim {

namespace {
constexpr uint8_t kExitKey = 0xAA;
constexpr uint8_t kRegConfigControl = 0x02;
constexpr uint8_t kConfigControlExit = 0x02;

// The keys that open the Super I/O chips a board may carry, as they reach an
// index port, and how each chip leaves configuration mode.
struct OtherKey {
    std::array<uint8_t, 4> key;
    size_t length;
    bool exitByRegister;
    uint16_t onlyAt;  // the one pair where a chip takes it; 0: either
};
constexpr OtherKey kOtherKeys[] = {
    {{0x87, 0x87}, 2, false, 0},                // W83627, F81865; F81216 strapped to 0x87
    {{0x77, 0x77}, 2, false, 0},                // F81216 strapped to 0x77
    {{0xA0, 0xA0}, 2, false, 0},                // ... to 0xA0
    {{0x67, 0x67}, 2, false, 0},                // ... to 0x67
    {{0x87, 0x01, 0x55, 0x55}, 4, true, 0x2E},  // IT87xx at 0x2E
    {{0x87, 0x01, 0x55, 0xAA}, 4, true, 0x4E},  // IT87xx at 0x4E
    {{0x55}, 1, false, 0},                      // SCH3114
};
static_assert(std::size(kOtherKeys) == SioConfigMode::kOtherKeyCount);

// How far into `key` a byte at position `at` leaves the sequence: one on,
// or back to the start (where it may itself be the first byte).
size_t advance(const std::array<uint8_t, 4>& key, size_t at, uint8_t value) {
    if (value == key[at]) return at + 1;
    return value == key[0] ? 1 : 0;
}
}  // namespace

SioConfigMode::SioConfigMode(uint16_t indexPort, const SioKeys& keys, Breaches& sink)
    : indexPort_(indexPort), keys_(keys), sink_(sink) {
    for (size_t k = 0; k < kOtherKeyCount; ++k) {
        const OtherKey& o = kOtherKeys[k];
        const bool own = o.length == keys.length &&
                         std::equal(keys.key.begin(), keys.key.begin() + o.length, o.key.begin());
        otherHere_[k] = !own && (o.onlyAt == 0 || o.onlyAt == indexPort);
    }
}

size_t SioConfigMode::next(size_t at, uint8_t value) const { return advance(keys_.key, at, value); }

// A key ending at the current byte begins at run_ - length + 1. It begins
// another family's bracket unless one is open already: then it is a
// register number inside that bracket, or, when it began no later than the
// key that opened that bracket in the same run, the longer key it was part
// of (0x87 0x01 0x55 0xAA holds 0x55, and its 0xAA is no exit).
bool SioConfigMode::otherKeyDone(size_t key, size_t length) {
    const size_t start = run_ - length + 1;
    if (other_ != Other::kNone && (otherStart_ == 0 || start > otherStart_)) return false;
    other_ = kOtherKeys[key].exitByRegister ? Other::kExitByRegister : Other::kExitByKey;
    otherStart_ = start;
    return true;
}

void SioConfigMode::endOtherRun() {
    otherSeen_.fill(0);
    otherStart_ = 0;
}

void SioConfigMode::writeIndex(uint8_t value) {
    ++run_;
    lastIndexWrite_ = value;

    // Other families' keys, counted while closed and inside a bracket one of
    // them opened: the longest that ended with this byte, and the longest
    // still under way.
    size_t doneKey = 0, doneLength = 0, underway = 0;
    if (!open_ || openedByOther_) {
        for (size_t k = 0; k < kOtherKeyCount; ++k) {
            if (!otherHere_[k]) continue;
            otherSeen_[k] = advance(kOtherKeys[k].key, otherSeen_[k], value);
            if (otherSeen_[k] == kOtherKeys[k].length) {
                if (otherSeen_[k] > doneLength) doneKey = k, doneLength = otherSeen_[k];
                otherSeen_[k] = 0;
            }
            underway = std::max(underway, otherSeen_[k]);
        }
    }

    if (!open_) {
        const size_t own = next(seen_, value);
        // Bytes that are all part of this chip's key so far are its key.
        const bool otherKey = doneLength > own && otherKeyDone(doneKey, doneLength);
        if (own == keys_.length) {
            open_ = true;
            seen_ = 0;
            seenOpen_ = 0;
            selected_ = false;
            openedByOther_ = otherKey || underway > keys_.length;
            if (!openedByOther_) {
                other_ = Other::kNone;
                endOtherRun();
            }
            return;
        }
        seen_ = own;
        if (value != kExitKey || otherKey) return;
        if (other_ == Other::kExitByKey)
            other_ = Other::kNone;  // that family's exit
        else if (other_ == Other::kNone && !keys_.exitByRegister)
            sink_.add("exit key 0xaa written while configuration mode is closed");
        return;
    }

    const bool otherKey = doneLength > keys_.length && otherKeyDone(doneKey, doneLength);
    if (!keys_.exitByRegister && value == kExitKey) {
        open_ = false;
        openedByOther_ = false;
        if (!otherKey && other_ == Other::kExitByKey) other_ = Other::kNone;
        return;
    }
    seenOpen_ = next(seenOpen_, value);
    if (seenOpen_ == keys_.length) {
        seenOpen_ = 0;
        if (otherKey || underway > keys_.length) {
            // the rest of another family's key
        } else if (openedByOther_) {
            // This chip's driver begins its own bracket in one another
            // family's probe left open.
            openedByOther_ = false;
            selected_ = false;
            other_ = Other::kNone;
            endOtherRun();
        } else {
            sink_.add(keys_.reopened);
        }
    }
    index_ = value;
}

bool SioConfigMode::dataAccess(bool write, uint8_t value) {
    seenOpen_ = 0;
    run_ = 0;
    endOtherRun();  // key bytes come in a row
    const bool otherExit = other_ == Other::kExitByRegister && write &&
                           lastIndexWrite_ == kRegConfigControl && (value & kConfigControlExit) != 0;
    if (otherExit) other_ = Other::kNone;
    if (!open_) {
        if (other_ != Other::kNone || otherExit) return false;  // another family's probe: unanswered
        sink_.add(
            write ? fmt::format("data port 0x{:x} written (0x{:02x}) while configuration mode is closed",
                                indexPort_ + 1, value)
                  : fmt::format("data port 0x{:x} read while configuration mode is closed", indexPort_ + 1));
        return false;
    }
    if (write && keys_.exitByRegister && index_ == kRegConfigControl) {
        if ((value & kConfigControlExit) != 0) open_ = openedByOther_ = false;
        return false;
    }
    if (write && index_ == kSioRegDevice) selected_ = true;
    if (index_ >= kSioFirstDeviceReg && !selected_ && !openedByOther_)
        sink_.add(fmt::format("register 0x{:02x} {} before a logical device was selected", index_,
                              write ? "written" : "read"));
    return true;
}

void SioConfigMode::addLeftOpen(std::vector<std::string>& out) const {
    if (open_ && !openedByOther_) out.push_back("configuration mode left open");
}

}  // namespace sim
