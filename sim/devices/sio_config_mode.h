// The configuration-mode side of an emulated Super I/O chip: the key that
// opens it (a few bytes written in a row to the index port), the way it
// closes (0xAA to the index port, or register 0x02 written with bit 1 set),
// the index register, and the protocol checks every such chip makes: a data
// access while closed, a device register (0x30 and up) accessed before a
// device was selected in the current bracket, the whole key written again
// inside an open bracket, an exit key while closed, a bracket left open.
//
// Other chips' probes. A driver that looks for a chip writes that chip's key
// at every configuration pair and reads its ID, so a chip of another family
// sees whole brackets meant for someone else. The bytes written in a row to
// the index port (no data-port access between) are taken as the key whose
// run began first: this chip's own, or one that opens a chip of another
// family at this pair (kOtherKeys in the .cpp: 0x87 0x87 of the W83627 and
// the F81865; 0x77, 0xA0, 0x87 or 0x67 twice of the F81216; 0x87 0x01 0x55
// and then 0x55 at 0x2E or 0xAA at 0x4E of the IT87xx; 0x55 of the SCH3114),
// less this chip's own key. Bytes that are all part of this chip's key so
// far are that key (the IT87xx's 0x87 0x01 0x55 holds the SCH3114's 0x55).
//
// Another family's key written while this chip is closed begins that
// family's bracket, which lasts until its exit: 0xAA to the index port, or
// for the IT87xx register 0x02 written with bit 1. In it the chip stays
// closed and its data port does not answer, and neither the accesses nor
// the exit are breaches. A data access or 0xAA while closed with no such key
// before it still is one: it is this chip's own sequence without its entry.
//
// When this chip's key completes inside a longer key of another family (an
// SCH3114 under the IT87xx's key) the chip opens, as the hardware does, but
// the bracket is that family's probe: the rest of its key is no key written
// again, its accesses need no device select, and it may leave the chip open
// (a real SCH3114 stays in configuration mode after an IT87xx probe at its
// pair). This chip's own key written into such a bracket begins a bracket of
// its own, held to every check.
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
    // Keys of the chips of other families a board may carry (see above).
    static constexpr size_t kOtherKeyCount = 7;

    // Violations go to `sink`, in the order they happen, beside the chip's own.
    SioConfigMode(uint16_t indexPort, const SioKeys& keys, Breaches& sink);

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
    // An open bracket counts as one more violation, unless another family's
    // probe opened it.
    void addLeftOpen(std::vector<std::string>& out) const;

private:
    enum class Other : uint8_t { kNone, kExitByKey, kExitByRegister };

    size_t next(size_t at, uint8_t value) const;
    // Another family's key `key`, `length` bytes long, ended with this byte;
    // true when it begins that family's bracket.
    bool otherKeyDone(size_t key, size_t length);
    void endOtherRun();

    const uint16_t indexPort_;
    const SioKeys keys_;
    Breaches& sink_;
    bool open_ = false;
    size_t seen_ = 0;        // key bytes seen in a row while closed
    size_t seenOpen_ = 0;    // key bytes written in a row to the index port while open
    bool selected_ = false;  // 0x07 written in the current bracket
    uint8_t index_ = 0;

    // Other families' probes.
    std::array<bool, kOtherKeyCount> otherHere_{};    // the key opens another chip at this pair
    std::array<size_t, kOtherKeyCount> otherSeen_{};  // its bytes in a row so far
    size_t run_ = 0;                                  // index writes since the last data access
    Other other_ = Other::kNone;                      // another family's bracket, until its exit
    size_t otherStart_ = 0;                           // where in this run its key began; 0: an earlier run
    bool openedByOther_ = false;                      // this chip opened inside another family's key
    uint8_t lastIndexWrite_ = 0;                      // open or closed
};

}  // namespace sim
