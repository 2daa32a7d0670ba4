// One lock per piece of hardware whose access is a sequence that must not
// interleave with another: a configuration port pair (enter, select, access,
// leave), a monitor index/data pair, a runtime register block, the CD port.
// The helpers that open such a sequence take the lock; back-end code goes
// through those helpers and never names a lock by itself.
#pragma once

#include "platform/platform.h"

enum HwLockId : uint32_t {
    HW_LOCK_CONFIG_2E,  // Super I/O configuration pair 0x2E/0x2F
    HW_LOCK_CONFIG_4E,  // Super I/O configuration pair 0x4E/0x4F
    HW_LOCK_MONITOR,    // hardware-monitor index/data pair (base + 5, base + 6)
    HW_LOCK_RUNTIME,    // runtime register block of the chip
    HW_LOCK_PORT_DIO,   // registry-given digital-I/O ports (read-modify-write)
    HW_LOCK_CD_PORT,    // the CD port
    HW_LOCK_PORT_WDT,   // registry-given watchdog ports and the count they take
    HW_LOCK_COUNT
};

void InitHwLocks();
PlatLock* HwLock(HwLockId id);

// Holds one hardware lock for the lifetime of the object.
class HwLockGuard {
public:
    explicit HwLockGuard(HwLockId id) : lock_(HwLock(id)) { PlatLockAcquire(lock_); }
    ~HwLockGuard() { PlatLockRelease(lock_); }
    HwLockGuard(const HwLockGuard&) = delete;
    HwLockGuard& operator=(const HwLockGuard&) = delete;

private:
    PlatLock* lock_;
};
