#include "core/hwlock.h"

namespace {
ZRV_GLOBAL PlatLock HwLocks[HW_LOCK_COUNT];
}

ZRV_INIT void InitHwLocks() {
    for (uint32_t i = 0; i < HW_LOCK_COUNT; ++i) PlatLockInit(&HwLocks[i]);
}

PlatLock* HwLock(HwLockId id) { return &HwLocks[id < HW_LOCK_COUNT ? static_cast<uint32_t>(id) : 0u]; }
