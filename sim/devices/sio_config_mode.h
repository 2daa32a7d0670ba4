// The configuration-mode side of an emulated Super I/O chip whose mode opens
// with one key written twice in a row to the index port and closes with
// 0xAA written to it, with the protocol checks such a chip makes: a data
// access while closed, a device register (0x30 and up) accessed before a
// device was selected in the current bracket, a second opening inside an
// open bracket, an exit key while closed, a bracket left open.
//
// Not locked: the chip that owns it calls it under its own lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class SioConfigMode {
public:
    SioConfigMode(uint16_t indexPort, uint8_t entryKey) : indexPort_(indexPort), entryKey_(entryKey) {}

    // A write to the index port: a key, or the register index while open.
    void writeIndex(uint8_t value);
    // What the index port reads.
    uint8_t readIndex() const { return open_ ? index_ : 0xFF; }
    // Before a data-port access at index(): false (the access is lost) while
    // closed. A write of register 0x07 selects a device.
    bool dataAccess(bool write, uint8_t value = 0);

    uint8_t index() const { return index_; }
    bool open() const { return open_; }
    // The violations seen, and an open bracket as one more.
    std::vector<std::string> violations() const;

private:
    const uint16_t indexPort_;
    const uint8_t entryKey_;
    bool open_ = false;
    int keys_ = 0;               // entry keys seen in a row while closed
    bool lastIndexKey_ = false;  // the last index write in open mode was the entry key
    bool selected_ = false;      // 0x07 written in the current bracket
    uint8_t index_ = 0;
    std::vector<std::string> violations_;
};

}  // namespace sim
