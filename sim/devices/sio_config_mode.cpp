#include "sim/devices/sio_config_mode.h"

#include <fmt/format.h>

namespace sim {

namespace {
constexpr uint8_t kExitKey = 0xAA;
constexpr uint8_t kRegConfigControl = 0x02;
constexpr uint8_t kConfigControlExit = 0x02;
}  // namespace

// How far into the key a byte at position `at` leaves the sequence: one on,
// or back to the start (where it may itself be the first byte).
size_t SioConfigMode::next(size_t at, uint8_t value) const {
    if (value == keys_.key[at]) return at + 1;
    return value == keys_.key[0] ? 1 : 0;
}

void SioConfigMode::writeIndex(uint8_t value) {
    if (!open_) {
        seen_ = next(seen_, value);
        if (seen_ == keys_.length) {
            open_ = true;
            seen_ = 0;
            seenOpen_ = 0;
            selected_ = false;
        } else if (!keys_.exitByRegister && value == kExitKey) {
            sink_.add("exit key 0xaa written while configuration mode is closed");
        }
        return;
    }
    if (!keys_.exitByRegister && value == kExitKey) {
        open_ = false;
        return;
    }
    seenOpen_ = next(seenOpen_, value);
    if (seenOpen_ == keys_.length) {
        sink_.add(keys_.reopened);
        seenOpen_ = 0;
    }
    index_ = value;
}

bool SioConfigMode::dataAccess(bool write, uint8_t value) {
    seenOpen_ = 0;
    if (!open_) {
        sink_.add(
            write ? fmt::format("data port 0x{:x} written (0x{:02x}) while configuration mode is closed",
                                indexPort_ + 1, value)
                  : fmt::format("data port 0x{:x} read while configuration mode is closed", indexPort_ + 1));
        return false;
    }
    if (write && keys_.exitByRegister && index_ == kRegConfigControl) {
        if ((value & kConfigControlExit) != 0) open_ = false;
        return false;
    }
    if (write && index_ == kSioRegDevice) selected_ = true;
    if (index_ >= kSioFirstDeviceReg && !selected_)
        sink_.add(fmt::format("register 0x{:02x} {} before a logical device was selected", index_,
                              write ? "written" : "read"));
    return true;
}

void SioConfigMode::addLeftOpen(std::vector<std::string>& out) const {
    if (open_) out.push_back("configuration mode left open");
}

}  // namespace sim
