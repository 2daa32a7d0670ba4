// The configuration-mode side of an emulated Super I/O chip: the key that
// opens it (a few bytes written in a row to the index port), the way it
// closes (0xAA to the index port, or register 0x02 written with bit 1 set),
// the index register, and the protocol checks every such chip makes: a data
// access while closed, a device register (0x30 and up) accessed before a
// device was selected in the current bracket, the whole key written again
// inside an open bracket, an exit key while closed, a bracket left open.
//
// Not locked: the chip that owns it calls it under its own lock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/device.h"

namespace sim {

// Register 0x07 selects the logical device; 0x30 and up belong to it.
constexpr uint8_t kSioRegDevice = 0x07;
constexpr uint8_t kSioFirstDeviceReg = 0x30;

struct SioKeys {
    std::array<uint8_t, 4> key;  // written in a row to the index port
    size_t length;
    // false: 0xAA written to the index port closes the mode (and is a fault
    // while it is closed); true: register 0x02 written with bit 1 set does.
    bool exitByRegister;
    const char* reopened;  // what the checker says when the key comes again inside a bracket
};

class SioConfigMode {
public:
    // Violations go to `sink`, in the order they happen, beside the chip's own.
    SioConfigMode(uint16_t indexPort, const SioKeys& keys, Breaches& sink)
        : indexPort_(indexPort), keys_(keys), sink_(sink) {}

    // A write to the index port: a key byte, or the register index while open.
    void writeIndex(uint8_t value);
    // What the index port reads.
    uint8_t readIndex() const { return open_ ? index_ : 0xFF; }
    // Before a data-port access at index(): false when the access goes no
    // further (lost while closed, or the exit register written). A write of
    // register 0x07 selects a device.
    bool dataAccess(bool write, uint8_t value = 0);

    uint8_t index() const { return index_; }
    bool open() const { return open_; }
    size_t keysSeen() const { return seen_; }  // key bytes in a row while closed
    // An open bracket counts as one more violation.
    void addLeftOpen(std::vector<std::string>& out) const;

private:
    size_t next(size_t at, uint8_t value) const;

    const uint16_t indexPort_;
    const SioKeys keys_;
    Breaches& sink_;
    bool open_ = false;
    size_t seen_ = 0;        // key bytes seen in a row while closed
    size_t seenOpen_ = 0;    // key bytes written in a row to the index port while open
    bool selected_ = false;  // 0x07 written in the current bracket
    uint8_t index_ = 0;
};

}  // namespace sim
