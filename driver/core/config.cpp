#include "core/config.h"

#include "core/config_values.h"
#include "core/report.h"
#include "core/rows.h"
#include "core/wstr.h"

ZRV_GLOBAL BoardConfigRecord BoardConfig;
ZRV_GLOBAL uint8_t ConfigLoaded;

const ZrvWChar kRegistryPrefix[] = ZRV_WIDE(ZRV_REG_ROOT_KERNEL);

namespace {

// Room for the full information of every value this driver reads: header,
// the longest value name and four bytes of data.
constexpr uint32_t kValueInfoBytes = ZRV_REG_VALUE_INFO_BYTES;

uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The 32-bit number in a full-information record, read as every reader of
// the configuration reads a value.
uint32_t DwordFromFullInfo(const uint8_t* info) {
    const uint32_t offset = ReadLe32(info + 8);
    if (offset > kValueInfoBytes - ZRV_REG_DWORD_BYTES) return 0;
    return DwordOfValue(ReadLe32(info + 4), info + offset, ReadLe32(info + 12));
}

}  // namespace

ZrvWChar* AllocRegistryPath(const ZrvWChar* subkey) {
    const uint32_t chars = WstrLength(kRegistryPrefix) + WstrLength(subkey) + 1;
    ZrvWChar* path = static_cast<ZrvWChar*>(PlatAllocPaged(chars * sizeof(ZrvWChar)));
    if (path == nullptr) return nullptr;
    path[0] = 0;
    WstrAppend(path, chars, kRegistryPrefix);
    WstrAppend(path, chars, subkey);
    return path;
}

ZrvStatus ReadRegistryDword(const ZrvWChar* subkey, const ZrvWChar* valueName, uint32_t* result) {
    ZrvWChar* path = AllocRegistryPath(subkey);
    uint8_t* info = static_cast<uint8_t*>(PlatAllocPaged(kValueInfoBytes));
    if (path == nullptr || info == nullptr) {
        if (path != nullptr) PlatFree(path);
        if (info != nullptr) PlatFree(info);
        return ZRV_STATUS_INSUFFICIENT_RESOURCES;
    }

    PlatKey key = nullptr;
    ZrvStatus status = PlatRegOpenKey(path, ZRV_KEY_ALL_ACCESS, &key);
    if (ZRV_SUCCESS(status)) {
        MemZero(info, kValueInfoBytes);
        uint32_t needed = 0;
        status = PlatRegQueryValueFull(key, valueName, info, kValueInfoBytes, &needed);
        if (ZRV_SUCCESS(status)) *result = DwordFromFullInfo(info);
        PlatRegCloseKey(key);
    }
    PlatFree(info);
    PlatFree(path);
    return status;
}

ZRV_INIT bool ReadPortValues(const ZrvWChar* subkey, const PlatRegDwordEntry* entries, uint32_t count) {
    ZrvWChar* path = AllocRegistryPath(subkey);
    if (path == nullptr) {
        LoadRefused(ZRV_REASON_NO_MEMORY);
        return false;
    }
    // One query, absent values read 0; the key is optional.
    const ZrvStatus status = PlatRegQueryDwords(path, entries, count, true);
    PlatFree(path);
    if (ZRV_SUCCESS(status)) return true;
    LoadRefused(status == ZRV_STATUS_INSUFFICIENT_RESOURCES ? ZRV_REASON_NO_MEMORY
                                                            : ZRV_REASON_VALUE_UNREADABLE);
    return false;
}

ZRV_INIT bool PortsOnTheBoard(const PortReachList& list, const char* refusal) {
    const PortReach* pc = FirstPcPortReached(list);
    if (pc == nullptr) return true;
    DbgPrint(refusal, pc->Value, static_cast<unsigned>(pc->Port));
    LoadRefused(ZRV_REASON_PC_PORT);
    return false;
}

namespace {

// The kernel registry through the configuration reader, the per-line map
// in paged pool. Resident: the map is freed at unload.
ZrvStatus KernelRead(void*, const ZrvWChar* subkey, const ZrvWChar* name, uint32_t* value) {
    return ReadRegistryDword(subkey, name, value);
}
void* KernelAlloc(void*, uint32_t bytes) { return PlatAllocPaged(bytes); }
void KernelFree(void*, void* block) { PlatFree(block); }
const ConfigReader kKernelConfig = {nullptr, KernelRead, KernelAlloc, KernelFree};

}  // namespace

void FreeLineMap() { FreeLineMapOf(kKernelConfig, BoardConfig); }

ZRV_INIT ZrvStatus LoadLineMap() { return LoadLineMapFrom(kKernelConfig, BoardConfig); }

ZRV_INIT bool LoadBoardConfig() { return LoadConfigFrom(kKernelConfig, BoardConfig); }

void SetLineBit(uint16_t* word, uint32_t registerValue, uint32_t bit, uint32_t mask) {
    if (bit >= ZRV_MAX_LINES) return;  // a line word has 16 lines
    const uint16_t b = static_cast<uint16_t>(1u << bit);
    if (((registerValue & mask) & 0xFFFFu) != 0)
        *word = static_cast<uint16_t>(*word | b);
    else
        *word = static_cast<uint16_t>(*word & ~b);
}

void SetMaskBits(uint8_t* registerByte, uint32_t state, uint8_t mask) {
    if ((state & 0xFFu) != 0)
        *registerByte = static_cast<uint8_t>(*registerByte | mask);
    else
        *registerByte = static_cast<uint8_t>(*registerByte & ~mask);
}
