// SCH3114 configuration access and probe.
//
// The chip is probed at most once per load, by whichever detect entry runs
// first; the runtime block it reports then serves all three back-ends.
#include "chips/sch3114.h"

#include "core/report.h"
#include "core/rows.h"

ZRV_GLOBAL SCH3114StateRecord SCH3114State;

namespace {

// Configuration mode opens with 0x55 written once to the index port and
// closes with 0xAA written to it.
const SioKeyWrite kEnterKeys[] = {{SIO_KEY_TO_INDEX, 0x55}};
const SioKeyWrite kExitKeys[] = {{SIO_KEY_TO_INDEX, 0xAA}};
const SioKeys kSCH3114Keys = {kEnterKeys, 1, kExitKeys, 1};

// The chip identifies itself by one byte, register 0x20.
constexpr uint8_t kRegDeviceId = 0x20;
ZRV_INIT_DATA const uint8_t kAcceptedIds[] = {0x7D, 0x7C, 0x7F};

// Offsets of the monitor's index/data pair in the runtime block.
constexpr uint16_t kRuntimeMonitorIndex = 0x70;
constexpr uint16_t kRuntimeMonitorData = 0x71;

SCH3114StateRecord& S = SCH3114State;

// Inside the probe's bracket: select the runtime device and take its base.
ZRV_INIT void SCH3114_ReadRuntimeBase(const SioConfigBracket& bracket) {
    bracket.SelectDevice(SCH3114_DEVICE_RUNTIME);
    S.RuntimeBase = bracket.ReadBase();
}

ZRV_INIT_DATA const SioProbeKeys kProbeKeys = {&kSCH3114Keys, 1, false};

// Inside the probe's bracket at each pair: the ID, and the runtime base when
// the ID is accepted.
ZRV_INIT bool AcceptSCH3114(const SioConfigBracket& bracket, const SioProbeStep&) {
    if (!InList(kAcceptedIds, bracket.ReadReg(kRegDeviceId))) return false;
    SCH3114_ReadRuntimeBase(bracket);
    return true;
}

}  // namespace

uint8_t SCH3114Runtime::ReadReg(uint8_t offset) const {
    return PlatReadPort(static_cast<uint16_t>(S.RuntimeBase + offset));
}

void SCH3114Runtime::WriteReg(uint8_t offset, uint8_t value) const {
    PlatWritePort(static_cast<uint16_t>(S.RuntimeBase + offset), value);
}

ZRV_INIT void Detect_SCH3114() {
    S.Probed = 1;
    SioProbeStep found;
    if (!SioProbe(kProbeKeys, AcceptSCH3114, &found)) {
        S.NotFound = 1;
        return;
    }
    // The monitor pair is the block's last register pair: a block it fits
    // in lies wholly between 0x100 and 0xFFFF.
    if (!SioMonitorPair(S.RuntimeBase, kRuntimeMonitorIndex, kRuntimeMonitorData,
                        "Detect_SCH3114 RuntimeBase 0x%04x is not a runtime block, SCH3114 not bound\n",
                        &S.Monitor)) {
        S.RuntimeBase = 0;
        S.NotFound = 1;
        S.Refused = ZRV_REASON_REFUSED_BASE;
    }
}

// Every function sharing the probe is refused for the probe's reason.
ZRV_INIT bool SCH3114_ChipPresent() {
    if (S.Probed == 0) Detect_SCH3114();
    if (S.NotFound != 0 && S.Refused != 0) LoadRefused(S.Refused);
    return S.NotFound == 0;
}
