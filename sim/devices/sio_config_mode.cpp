#include "sim/devices/sio_config_mode.h"

#include <fmt/format.h>

namespace sim {

namespace {
constexpr uint8_t kExitKey = 0xAA;
constexpr uint8_t kRegDevice = 0x07;
constexpr uint8_t kFirstDeviceReg = 0x30;
}  // namespace

void SioConfigMode::writeIndex(uint8_t value) {
    if (!open_) {
        if (value != entryKey_) {
            keys_ = 0;
            if (value == kExitKey)
                violations_.push_back("exit key 0xaa written while configuration mode is closed");
        } else if (++keys_ == 2) {
            open_ = true;
            keys_ = 0;
            selected_ = false;
            lastIndexKey_ = false;
        }
        return;
    }
    if (value == kExitKey) {
        open_ = false;
        return;
    }
    const bool key = value == entryKey_;
    if (key && lastIndexKey_) violations_.push_back("configuration mode opened again inside an open bracket");
    lastIndexKey_ = key && !lastIndexKey_;
    index_ = value;
}

bool SioConfigMode::dataAccess(bool write, uint8_t value) {
    lastIndexKey_ = false;
    if (!open_) {
        violations_.push_back(
            write ? fmt::format("data port 0x{:x} written (0x{:02x}) while configuration mode is closed",
                                indexPort_ + 1, value)
                  : fmt::format("data port 0x{:x} read while configuration mode is closed", indexPort_ + 1));
        return false;
    }
    if (write && index_ == kRegDevice) selected_ = true;
    if (index_ >= kFirstDeviceReg && !selected_)
        violations_.push_back(fmt::format("register 0x{:02x} {} before a logical device was selected", index_,
                                          write ? "written" : "read"));
    return true;
}

std::vector<std::string> SioConfigMode::violations() const {
    auto out = violations_;
    if (open_) out.push_back("configuration mode left open");
    return out;
}

}  // namespace sim
