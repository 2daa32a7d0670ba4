#include "core/config_model.h"

#include "core/rows.h"
#include "core/wstr.h"

namespace {

// Per-line value names ("OutMask15" and shorter), terminator included.
constexpr uint32_t kLineNameChars = 10;

// Statuses of a read that found no value to take: the key or the value is
// absent, or the value does not fit the reader's buffer. Any other failure
// (the pool, the registry itself) says nothing about the board.
const ZrvStatus kValueMissing[] = {
    ZRV_STATUS_OBJECT_NAME_NOT_FOUND,
    ZRV_STATUS_OBJECT_PATH_NOT_FOUND,
    ZRV_STATUS_BUFFER_OVERFLOW,
    ZRV_STATUS_BUFFER_TOO_SMALL,
};

bool ValueMissing(ZrvStatus status) { return InList(kValueMissing, status); }

ZRV_INIT ZrvStatus ReadLineValue(const ConfigReader& source, const ZrvWChar* stem, uint32_t index,
                                 uint32_t* value) {
    ZrvWChar name[kLineNameChars];
    name[0] = 0;
    // A name that does not fit names no value.
    if (!WstrAppend(name, kLineNameChars, stem) || !WstrAppendDecimal(name, kLineNameChars, index))
        return ZRV_STATUS_OBJECT_NAME_NOT_FOUND;
    return source.Read(source.Context, kSubkeyDio, name, value);
}

// Group and mask of `count` lines, from the values "<addrStem><n>" and
// "<maskStem><n>", line by line.
ZRV_INIT ZrvStatus ReadLines(const ConfigReader& source, const ZrvWChar* addrStem, const ZrvWChar* maskStem,
                             uint32_t count, uint16_t* group, uint8_t* mask, uint8_t* linesRead) {
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t addr = 0, bits = 0;
        ZrvStatus status = ReadLineValue(source, addrStem, i, &addr);
        if (!ZRV_SUCCESS(status)) return status;
        group[i] = static_cast<uint16_t>(addr);
        status = ReadLineValue(source, maskStem, i, &bits);
        if (!ZRV_SUCCESS(status)) return status;
        mask[i] = static_cast<uint8_t>(bits);
        ++*linesRead;
    }
    return ZRV_STATUS_SUCCESS;
}

// Reads a line count; counts above the 16 lines of a line word are kept at 16.
ZRV_INIT ZrvStatus ReadLineCount(const ConfigReader& source, const ZrvWChar* name, uint8_t* count) {
    uint32_t value = 0;
    const ZrvStatus status = source.Read(source.Context, kSubkeyDio, name, &value);
    if (!ZRV_SUCCESS(status)) return status;
    *count = LineMapCount(value);
    return status;
}

// The outcome of the configuration load so far. A value the load needs and
// does not find clears Complete; a read that fails for any other reason than
// a missing value sets Failed, which fails the whole load: taking such a
// failure for an absent value would bind other back-ends than the board has
// (an absent "DIO" "DeviceType" is the port digital I/O).
struct ConfigLoad {
    const ConfigReader& Source;
    BoardConfigRecord& Config;
    bool Complete = true;
    bool Failed = false;

    // Returns whether the value was read; a needed one not read is named
    // by `missing`.
    bool Take(ZrvStatus status, uint8_t missing) {
        if (ZRV_SUCCESS(status)) return true;
        if (missing != 0) {
            Complete = false;
            Config.Missing = static_cast<uint8_t>(Config.Missing | missing);
        }
        if (!ValueMissing(status)) Failed = true;
        return false;
    }
    bool Read(const ZrvWChar* subkey, const ZrvWChar* name, uint32_t* target, uint8_t missing) {
        return Take(Source.Read(Source.Context, subkey, name, target), missing);
    }
};

template <typename T>
void FreeArray(const ConfigReader& source, T*& array) {
    if (array != nullptr) source.Free(source.Context, array);
    array = nullptr;
}

}  // namespace

void FreeLineMapOf(const ConfigReader& source, BoardConfigRecord& config) {
    FreeArray(source, config.InAddr);
    FreeArray(source, config.OutAddr);
    FreeArray(source, config.InMask);
    FreeArray(source, config.OutMask);
}

ZRV_INIT ZrvStatus LoadLineMapFrom(const ConfigReader& source, BoardConfigRecord& config) {
    // The counts are stored only together with arrays of that size, so that
    // no count ever promises entries that were not allocated.
    config.LinesRead = 0;
    uint8_t inCount = 0, outCount = 0;
    ZrvStatus status = ReadLineCount(source, ZRV_WIDE(ZRV_REG_IN_BITS), &inCount);
    if (!ZRV_SUCCESS(status)) return status;
    status = ReadLineCount(source, ZRV_WIDE(ZRV_REG_OUT_BITS), &outCount);
    if (!ZRV_SUCCESS(status)) return status;

    // A repeated load (the previous one failed, so nothing uses the old
    // arrays) starts from new arrays.
    FreeLineMapOf(source, config);
    config.InBits = 0;
    config.OutBits = 0;
    const uint32_t in = inCount;
    const uint32_t out = outCount;
    // At least one entry each, so that a count of 0 still leaves valid arrays.
    const auto alloc = [&](uint32_t bytes) { return source.Alloc(source.Context, bytes); };
    config.InAddr = static_cast<uint16_t*>(alloc((in ? in : 1) * sizeof(uint16_t)));
    config.OutAddr = static_cast<uint16_t*>(alloc((out ? out : 1) * sizeof(uint16_t)));
    config.InMask = static_cast<uint8_t*>(alloc(in ? in : 1));
    config.OutMask = static_cast<uint8_t*>(alloc(out ? out : 1));
    if (config.InAddr == nullptr || config.OutAddr == nullptr || config.InMask == nullptr ||
        config.OutMask == nullptr) {
        // Without the arrays there are no lines to serve.
        FreeLineMapOf(source, config);
        return ZRV_STATUS_INSUFFICIENT_RESOURCES;
    }
    MemZero(config.InAddr, (in ? in : 1) * sizeof(uint16_t));
    MemZero(config.OutAddr, (out ? out : 1) * sizeof(uint16_t));
    MemZero(config.InMask, in ? in : 1);
    MemZero(config.OutMask, out ? out : 1);
    config.InBits = inCount;
    config.OutBits = outCount;

    status = ReadLines(source, ZRV_WIDE(ZRV_REG_IN_ADDR), ZRV_WIDE(ZRV_REG_IN_MASK), in, config.InAddr,
                       config.InMask, &config.LinesRead);
    if (!ZRV_SUCCESS(status)) return status;
    return ReadLines(source, ZRV_WIDE(ZRV_REG_OUT_ADDR), ZRV_WIDE(ZRV_REG_OUT_MASK), out, config.OutAddr,
                     config.OutMask, &config.LinesRead);
}

ZRV_INIT bool LoadConfigFrom(const ConfigReader& source, BoardConfigRecord& config) {
    ConfigLoad load{source, config};
    config.Missing = 0;
    load.Read(kSubkeyHwmon, ZRV_WIDE(ZRV_REG_SUPERIO), &config.HwmChip, kMissingHwmChip);
    load.Read(kSubkeyWdt, ZRV_WIDE(ZRV_REG_DEVICE_TYPE), &config.WdtDeviceType, kMissingWdtType);
    if (config.WdtDeviceType == ZRV_WDT_TYPE_CHIP) {
        load.Read(kSubkeyWdt, ZRV_WIDE(ZRV_REG_SUPERIO), &config.WdtChip, kMissingWdtChip);
    } else {
        config.WdtChip = ZRV_CHIP_PORTS;
    }
    load.Read(kSubkeyDio, ZRV_WIDE(ZRV_REG_DEVICE_TYPE), &config.DioDeviceType, kMissingDioType);

    // The digital I/O's chip, line map and groups are not needed: a missing
    // one leaves the digital I/O without lines or without a back-end.
    const uint32_t dioType = config.DioDeviceType;
    if (dioType == ZRV_DIO_TYPE_GROUPS || dioType == ZRV_DIO_TYPE_LINES) {
        load.Read(kSubkeyDio, ZRV_WIDE(ZRV_REG_SUPERIO), &config.DioChip, 0);
    } else {
        config.DioChip = ZRV_CHIP_PORTS;
    }
    if (dioType == ZRV_DIO_TYPE_LINES || dioType == ZRV_DIO_TYPE_PORTS_MAP)
        load.Take(LoadLineMapFrom(source, config), 0);
    if (dioType == ZRV_DIO_TYPE_GROUPS) {
        uint32_t group = config.GPIOGroup;
        if (load.Read(kSubkeyDio, ZRV_WIDE(ZRV_REG_GPIO_GROUP), &group, 0))
            config.GPIOGroup = static_cast<uint8_t>(group);
        uint32_t outGroup = config.GPIOOutGroup;
        if (load.Read(kSubkeyDio, ZRV_WIDE(ZRV_REG_GPIO_OUT_GROUP), &outGroup, 0))
            config.GPIOOutGroup = static_cast<uint8_t>(outGroup);
    }
    if (load.Failed) return false;
    return dioType == ZRV_DIO_TYPE_PORTS ? true : load.Complete;
}

ZRV_INIT void PortWdtEntries(PortWdtValues& v, PlatRegDwordEntry (&e)[kPortWdtValueCount]) {
    const PlatRegDwordEntry entries[] = {
        {ZRV_WIDE(ZRV_REG_START), &v.Start},
        {ZRV_WIDE(ZRV_REG_STOP), &v.Stop},
        {ZRV_WIDE(ZRV_REG_TIMEOUT), &v.Timeout},
        {ZRV_WIDE(ZRV_REG_RESET), &v.Reset},
        {ZRV_WIDE(ZRV_REG_STOP_BEFORE_RESET), &v.StopBeforeReset},
    };
    static_assert(sizeof(entries) / sizeof(entries[0]) == kPortWdtValueCount, "every value once");
    for (uint32_t i = 0; i < kPortWdtValueCount; ++i) e[i] = entries[i];
}

ZRV_INIT void PortDioEntries(PortDioValues& v, PlatRegDwordEntry (&e)[kPortDioValueCount]) {
    const PlatRegDwordEntry entries[] = {
        {ZRV_WIDE(ZRV_REG_IO_BASE_IN), &v.IOBaseIn},
        {ZRV_WIDE(ZRV_REG_IO_BASE_OUT), &v.IOBaseOut},
        {ZRV_WIDE(ZRV_REG_IN_MASK), &v.InMask},
        {ZRV_WIDE(ZRV_REG_OUT_MASK), &v.OutMask},
        {ZRV_WIDE(ZRV_REG_IN_BITS), &v.InBits},
        {ZRV_WIDE(ZRV_REG_OUT_BITS), &v.OutBits},
        {ZRV_WIDE(ZRV_REG_IO_BASE_IN2), &v.IOBaseIn2},
        {ZRV_WIDE(ZRV_REG_IO_BASE_OUT2), &v.IOBaseOut2},
        {ZRV_WIDE(ZRV_REG_IN_MASK2), &v.InMask2},
        {ZRV_WIDE(ZRV_REG_OUT_MASK2), &v.OutMask2},
        {ZRV_WIDE(ZRV_REG_CD_PORT), &v.Cd.CDPort},
        {ZRV_WIDE(ZRV_REG_CD_OUT_PORT), &v.Cd.CDOutPort},
        {ZRV_WIDE(ZRV_REG_CD_IN_MASK), &v.Cd.CDInMask},
        {ZRV_WIDE(ZRV_REG_CD_OUT_MASK), &v.Cd.CDOutMask},
        {ZRV_WIDE(ZRV_REG_CD_IS_OUT_INVERT), &v.Cd.CDIsOutInvert},
        {ZRV_WIDE(ZRV_REG_CD_IS_IN_INVERT), &v.CDIsInInvert},
        {ZRV_WIDE(ZRV_REG_USE_SPECIFIC_SETTING), &v.UseSpecificSetting},
        {ZRV_WIDE(ZRV_REG_SPECIFIC_MASK_IO), &v.SpecificMaskIo},
        {ZRV_WIDE(ZRV_REG_SPECIFIC_DATA_IO), &v.SpecificDataIo},
    };
    static_assert(sizeof(entries) / sizeof(entries[0]) == kPortDioValueCount, "every value once");
    for (uint32_t i = 0; i < kPortDioValueCount; ++i) e[i] = entries[i];
}

namespace {

// A port is 16 bits of its value; 0 is no port.
ZRV_INIT void Reach(PortReachList& list, uint32_t value, const char* name) {
    const uint16_t port = static_cast<uint16_t>(value);
    if (port == 0 || list.Count >= sizeof(list.Ports) / sizeof(list.Ports[0])) return;
    list.Ports[list.Count++] = {port, name};
}

}  // namespace

// Start and Stop (Stop also before a restart), Reset where its low 16 bits
// are an action, and the timeout port.
ZRV_INIT void PortWdtReach(const PortWdtValues& v, PortReachList& list) {
    list.Count = 0;
    Reach(list, PortActionPort(static_cast<uint16_t>(v.Start)), ZRV_REG_START);
    Reach(list, PortActionPort(static_cast<uint16_t>(v.Stop)), ZRV_REG_STOP);
    Reach(list, PortActionPort(static_cast<uint16_t>(v.Reset)), ZRV_REG_RESET);
    Reach(list, v.Timeout, ZRV_REG_TIMEOUT);
}

// The plain layout's ports (a second port only beside a first one); the CD
// port and its write port; and, in either layout, the direction register
// (a direction mask switches to the specific layout) with its data port.
ZRV_INIT void PortDioReach(const PortDioValues& v, PortReachList& list) {
    list.Count = 0;
    if (v.UseSpecificSetting == 0) {
        Reach(list, v.IOBaseIn, ZRV_REG_IO_BASE_IN);
        Reach(list, v.IOBaseOut, ZRV_REG_IO_BASE_OUT);
        if (static_cast<uint16_t>(v.IOBaseIn) != 0) Reach(list, v.IOBaseIn2, ZRV_REG_IO_BASE_IN2);
        if (static_cast<uint16_t>(v.IOBaseOut) != 0) Reach(list, v.IOBaseOut2, ZRV_REG_IO_BASE_OUT2);
    }
    Reach(list, v.Cd.CDPort, ZRV_REG_CD_PORT);
    if (v.Cd.CDOutPort != 0) Reach(list, v.Cd.CDOutPort, ZRV_REG_CD_OUT_PORT);
    if (static_cast<uint16_t>(v.SpecificMaskIo) != 0) {
        Reach(list, v.SpecificMaskIo, ZRV_REG_SPECIFIC_MASK_IO);
        Reach(list, v.SpecificDataIo, ZRV_REG_SPECIFIC_DATA_IO);
    }
}

ZRV_INIT const PortReach* FirstPcPortReached(const PortReachList& list) {
    for (uint32_t i = 0; i < list.Count; ++i)
        if (IsPcPort(list.Ports[i].Port)) return &list.Ports[i];
    return nullptr;
}
