// The port watchdog: a watchdog behind plain I/O ports that the registry
// names under "WDT". A read or a write at a port starts, stops or refreshes
// it, and another port may take the count.
//
// Locking: SetTimeout, Start, Stop and Reset hold the port watchdog's lock.
// The stored count is written by one request and read by the others, and a
// Reset is a stop and a start in one sequence; under the lock a Start loads
// either the count before a SetTimeout or the one after it, and a count port
// takes the count that the next Start loads.
#include "core/backends.h"
#include "core/config.h"
#include "core/hwlock.h"

namespace {

// A port action as the registry stores it: 0 nothing; bit 15 set, write one
// byte to the port in bits 0..14; otherwise read the port and discard the
// byte, the read itself being the signal.
constexpr uint16_t kActionWrite = ZRV_PORT_ACTION_WRITE;

// The largest count and the units this watchdog takes: seconds only.
constexpr uint16_t kMaxCount = 255;

struct PortWdtStateRecord {
    uint16_t StartPort;        // action of Start
    uint16_t StopPort;         // action of Stop
    uint16_t ResetPort;        // action of Reset; 0: Reset performs Start
    uint16_t TimeoutPort;      // port that takes the count; 0 = none
    uint16_t StopBeforeReset;  // non-zero: Reset performs Stop first
    uint8_t WdtCount;          // count of the last accepted SetTimeout
};

ZRV_GLOBAL PortWdtStateRecord PortWdtState;

// Performs one port action; `value` is the byte a write action writes.
// I/O port 0 is the DMA controller on a PC, never a watchdog: an action
// whose port is 0 (also 0x8000, a write to port 0) touches nothing.
void PerformAction(uint16_t action, uint8_t value) {
    const uint16_t port = PortActionPort(action);
    if (port == 0) return;
    if ((action & kActionWrite) != 0)
        PlatWritePort(port, value);
    else
        (void)PlatReadPort(port);
}

ZrvStatus WDT_Port_SetTimeout(WdtTimeout* timeout) {
    if (timeout->Unit != ZRV_WDT_UNIT_SECONDS || timeout->Count > kMaxCount)
        return ZRV_STATUS_INVALID_PARAMETER;
    HwLockGuard guard(HW_LOCK_PORT_WDT);
    PortWdtState.WdtCount = static_cast<uint8_t>(timeout->Count);
    if (PortWdtState.TimeoutPort != 0) PlatWritePort(PortWdtState.TimeoutPort, PortWdtState.WdtCount);
    return ZRV_STATUS_SUCCESS;
}

// Without a start action (none configured, a value the registry misspelt,
// or one on port 0) nothing starts this watchdog: the request is refused
// rather than answered as done while nothing counts. The table stays bound,
// as the load binds every port watchdog whose ports it may touch, so that
// its other actions still serve. What a count of 0 does lies with the
// hardware behind the ports, so it is not refused here.
ZrvStatus WDT_Port_Start() {
    HwLockGuard guard(HW_LOCK_PORT_WDT);
    if (PortActionPort(PortWdtState.StartPort) == 0) return ZRV_STATUS_NOT_SUPPORTED;
    PerformAction(PortWdtState.StartPort, PortWdtState.WdtCount);
    return ZRV_STATUS_SUCCESS;
}

// Without a stop action (none configured, or one on port 0) nothing can
// stop this watchdog: the request is refused rather than answered as done
// while the countdown goes on.
int32_t WDT_Port_Stop() {
    HwLockGuard guard(HW_LOCK_PORT_WDT);
    if (PortActionPort(PortWdtState.StopPort) == 0) return -1;
    PerformAction(PortWdtState.StopPort, 0);
    return 0;
}

// A reset action of its own refreshes a countdown that something else (the
// firmware) may have started; without one, Reset is the start action and is
// refused as Start is when there is none, before any port is touched.
ZrvStatus WDT_Port_Reset() {
    HwLockGuard guard(HW_LOCK_PORT_WDT);
    const uint16_t action = PortWdtState.ResetPort != 0 ? PortWdtState.ResetPort : PortWdtState.StartPort;
    if (PortActionPort(action) == 0) return ZRV_STATUS_NOT_SUPPORTED;
    if (PortWdtState.StopBeforeReset != 0) PerformAction(PortWdtState.StopPort, 0);
    PerformAction(action, PortWdtState.WdtCount);
    return ZRV_STATUS_SUCCESS;
}

void WDT_Port_GetTimeout(WdtTimeout* timeout) {
    timeout->Count = kMaxCount;
    timeout->Unit = ZRV_WDT_UNIT_SECONDS;
}

}  // namespace

ZRV_INIT int32_t WDT_Port_LoadConfig() {
    // One query, absent values read 0. The key is optional: without it every
    // value is 0 and the bound watchdog touches no port.
    PortWdtValues v{};
    PlatRegDwordEntry entries[kPortWdtValueCount];
    PortWdtEntries(v, entries);
    if (!ReadPortValues(kSubkeyWdt, entries, kPortWdtValueCount)) return -1;  // the state keeps what it held

    // A watchdog among the PC's own ports is a registry to refuse, not to
    // follow: the state keeps what it held and no port is touched.
    PortReachList reach;
    PortWdtReach(v, reach);
    if (!PortsOnTheBoard(reach, "WDT_Port %s port 0x%X is reserved for the PC, watchdog not bound\n"))
        return -1;

    PortWdtState.StartPort = static_cast<uint16_t>(v.Start);
    PortWdtState.StopPort = static_cast<uint16_t>(v.Stop);
    PortWdtState.ResetPort = static_cast<uint16_t>(v.Reset);
    PortWdtState.TimeoutPort = static_cast<uint16_t>(v.Timeout);
    PortWdtState.StopBeforeReset = static_cast<uint16_t>(v.StopBeforeReset);
    return 0;
}

const WdtOps PortWdtOps = {
    WDT_Port_SetTimeout, WDT_Port_Start, WDT_Port_Stop, WDT_Port_Reset, WDT_Port_GetTimeout,
};
