// Register access to a Super I/O chip: its configuration port pair, the key
// sequences that open and close configuration mode, and index/data register
// blocks such as a hardware monitor's.
//
// Every access goes through a session object that holds the lock of the
// port pair it uses for its whole lifetime: a configuration bracket (lock,
// enter keys, logical-device select, register accesses, exit keys, unlock) or
// an index/data sequence on a monitor block. A chip describes its keys as
// table data (SioKeys) and wraps these objects for its own pair and devices;
// back-end code never names a lock or a port.
#pragma once

#include "core/hwlock.h"

// Registers every Super I/O shares in configuration mode.
#define SIO_REG_DEVICE 0x07  // logical-device select
#define SIO_REG_ID_HIGH 0x20
#define SIO_REG_ID_LOW 0x21
#define SIO_REG_ACTIVATE 0x30  // bit 0: the selected logical device decodes
#define SIO_ACTIVATE_BIT 0x01
#define SIO_REG_BASE_HIGH 0x60
#define SIO_REG_BASE_LOW 0x61

// An index/data port pair and the lock that owns it.
struct SioPortPair {
    uint16_t IndexPort;
    uint16_t DataPort;
    HwLockId Lock;
};

// The configuration pairs a chip may answer at, in the order they are tried.
extern const SioPortPair kSioConfigPairs[];
extern const uint32_t kSioConfigPairCount;

// One write of a key sequence, to the index port or to the data port.
enum SioKeyPort : uint8_t { SIO_KEY_TO_INDEX, SIO_KEY_TO_DATA };
struct SioKeyWrite {
    SioKeyPort To;
    uint8_t Value;
};

// How a chip opens and closes configuration mode.
struct SioKeys {
    const SioKeyWrite* Enter;
    uint32_t EnterCount;
    const SioKeyWrite* Exit;
    uint32_t ExitCount;
};

// One register write of a fixed sequence.
struct SioRegWrite {
    uint8_t Reg;
    uint8_t Value;
};

// Writes a list of registers in order, through anything with WriteReg (an
// index/data pair, a configuration bracket, a runtime block).
template <typename Io, uint32_t N>
void SioWriteRegs(const Io& io, const SioRegWrite (&writes)[N]) {
    for (uint32_t i = 0; i < N; ++i) io.WriteReg(writes[i].Reg, writes[i].Value);
}

// The detect entry of a back-end whose chip is probed once for all its
// functions: when `present` finds the chip, `setUp` prepares this function
// and the table is to be bound (0); otherwise -1 and nothing is written.
int32_t SioDetectAndSetUp(bool (*present)(), void (*setUp)());

// Register access through an index/data pair. The pair's lock is held from
// construction to destruction, so a read-modify-write made through one
// object cannot interleave with another sequence on the same pair.
class SioIndexData {
public:
    explicit SioIndexData(const SioPortPair& pair);
    ~SioIndexData();
    SioIndexData(const SioIndexData&) = delete;
    SioIndexData& operator=(const SioIndexData&) = delete;

    uint8_t ReadReg(uint8_t reg) const;
    void WriteReg(uint8_t reg, uint8_t value) const;

protected:
    void WriteKeys(const SioKeyWrite* writes, uint32_t count) const;

private:
    const SioPortPair& pair_;
};

// One configuration bracket: opened with the chip's enter keys under the
// pair's lock, closed with its exit keys before the lock is released. No
// bracket outlives the operation that opened it.
class SioConfigBracket : public SioIndexData {
public:
    SioConfigBracket(const SioPortPair& pair, const SioKeys& keys);
    ~SioConfigBracket();

    void SelectDevice(uint8_t device) const { WriteReg(SIO_REG_DEVICE, device); }
    // Chip ID: register 0x20 in the high byte, 0x21 in the low byte.
    uint16_t ReadChipId() const;
    // Base address of the selected logical device (registers 0x60, 0x61).
    uint16_t ReadBase() const;

private:
    const SioKeys& keys_;
};

// The key sets a chip may open at: each of them tried in turn at every pair,
// or (OnePerPair) Keys[i] alone at configuration pair i.
struct SioProbeKeys {
    const SioKeys* Keys;
    uint32_t Count;
    bool OnePerPair;
};

// The bracket a probe has open: its pair and the key set that opened it.
struct SioProbeStep {
    const SioPortPair* Pair;
    uint32_t PairIndex;  // 0 for 0x2E/0x2F, 1 for 0x4E/0x4F
    uint32_t KeysIndex;  // position of the key set in SioProbeKeys
};

// Runs inside each bracket of a probe; true when the chip answered there.
typedef bool (*SioAcceptRule)(const SioConfigBracket& bracket, const SioProbeStep& step);

// The probe every Super I/O back-end uses: one bracket after another at the
// first `pairs` configuration pairs (0x2E/0x2F first) with each key set of
// `keys`, asking `accept` inside each. Stops at the first bracket accepted
// and leaves it in `found`; false when none was.
bool SioProbe(const SioProbeKeys& keys, SioAcceptRule accept, SioProbeStep* found,
              uint32_t pairs = kSioConfigPairCount);

// The index/data pair of a register block at `base` + `indexOffset` and
// `base` + `dataOffset`, under the monitor's lock. A block from `base` to
// its data port that reaches one of the PC's own ports (core/pc_ports.h: a
// base below 0x100, never set up, on the DMA, interrupt and timer ports or
// the clock's 0x70/0x71; a block over the PCI configuration ports
// 0xCF8-0xCFF) or runs past 0xFFFF is refused: `refusal` is logged with
// the base, ZRV_REASON_REFUSED_BASE recorded and false returned.
bool SioMonitorPair(uint16_t base, uint16_t indexOffset, uint16_t dataOffset, const char* refusal,
                    SioPortPair* pair);
