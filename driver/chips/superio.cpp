#include "chips/superio.h"

#include "core/pc_ports.h"
#include "core/report.h"

const SioPortPair kSioConfigPairs[] = {
    {0x2E, 0x2F, HW_LOCK_CONFIG_2E},
    {0x4E, 0x4F, HW_LOCK_CONFIG_4E},
};
const uint32_t kSioConfigPairCount = sizeof(kSioConfigPairs) / sizeof(kSioConfigPairs[0]);

SioIndexData::SioIndexData(const SioPortPair& pair) : pair_(pair) { PlatLockAcquire(HwLock(pair_.Lock)); }

SioIndexData::~SioIndexData() { PlatLockRelease(HwLock(pair_.Lock)); }

uint8_t SioIndexData::ReadReg(uint8_t reg) const {
    PlatWritePort(pair_.IndexPort, reg);
    return PlatReadPort(pair_.DataPort);
}

void SioIndexData::WriteReg(uint8_t reg, uint8_t value) const {
    PlatWritePort(pair_.IndexPort, reg);
    PlatWritePort(pair_.DataPort, value);
}

void SioIndexData::WriteKeys(const SioKeyWrite* writes, uint32_t count) const {
    for (uint32_t i = 0; i < count; ++i)
        PlatWritePort(writes[i].To == SIO_KEY_TO_DATA ? pair_.DataPort : pair_.IndexPort, writes[i].Value);
}

SioConfigBracket::SioConfigBracket(const SioPortPair& pair, const SioKeys& keys)
    : SioIndexData(pair), keys_(keys) {
    WriteKeys(keys_.Enter, keys_.EnterCount);
}

// The exit keys go out while the base still holds the lock.
SioConfigBracket::~SioConfigBracket() { WriteKeys(keys_.Exit, keys_.ExitCount); }

uint16_t SioConfigBracket::ReadChipId() const {
    const uint8_t high = ReadReg(SIO_REG_ID_HIGH);
    const uint8_t low = ReadReg(SIO_REG_ID_LOW);
    return static_cast<uint16_t>(high << 8 | low);
}

uint16_t SioConfigBracket::ReadBase() const {
    const uint8_t high = ReadReg(SIO_REG_BASE_HIGH);
    const uint8_t low = ReadReg(SIO_REG_BASE_LOW);
    return static_cast<uint16_t>(high << 8 | low);
}

ZRV_INIT bool SioProbe(const SioProbeKeys& keys, SioAcceptRule accept, SioProbeStep* found, uint32_t pairs) {
    for (uint32_t p = 0; p < pairs; ++p) {
        const uint32_t first = keys.OnePerPair ? p : 0;
        const uint32_t end = keys.OnePerPair ? p + 1 : keys.Count;
        for (uint32_t k = first; k < end; ++k) {
            const SioProbeStep step = {&kSioConfigPairs[p], p, k};
            SioConfigBracket bracket(*step.Pair, keys.Keys[k]);
            if (!accept(bracket, step)) continue;
            *found = step;
            return true;
        }
    }
    return false;
}

ZRV_INIT bool SioMonitorPair(uint16_t base, uint16_t indexOffset, uint16_t dataOffset, const char* refusal,
                             SioPortPair* pair) {
    // The block from its base to the data port, the last register a back-end
    // uses in it.
    if (ReachesPcPort(base, uint32_t{base} + dataOffset)) {
        DbgPrint(refusal, static_cast<unsigned>(base));
        LoadRefused(ZRV_REASON_REFUSED_BASE);
        return false;
    }
    pair->IndexPort = static_cast<uint16_t>(base + indexOffset);
    pair->DataPort = static_cast<uint16_t>(base + dataOffset);
    pair->Lock = HW_LOCK_MONITOR;
    return true;
}

ZRV_INIT int32_t SioDetectAndSetUp(bool (*present)(), void (*setUp)()) {
    if (!present()) return -1;
    setUp();
    return 0;
}
