/*
 * Zorvik board-support driver: the registry configuration a board's
 * installer writes and the driver reads once at load.
 *
 * Shared by the driver, zrvctl and anyone who writes or checks a board's
 * configuration. Plain C (C89, C++98 and later) with no data of its own:
 * names are narrow string literals (the driver turns them into wide ones by
 * writing u"" in front), the tables are X-macros that each user expands
 * into what it needs.
 */
#ifndef ZORVIK_REGISTRY_H
#define ZORVIK_REGISTRY_H

/* The keys: one subkey per function under the root. */
#define ZRV_REG_ROOT_KERNEL "\\Registry\\Machine\\Software\\Varnel\\Zorvik\\"
#define ZRV_REG_ROOT_USER "Software\\Varnel\\Zorvik\\"
#define ZRV_REG_KEY_HWMON "HWMON"
#define ZRV_REG_KEY_WDT "WDT"
#define ZRV_REG_KEY_DIO "DIO"

/* Value names. */
#define ZRV_REG_SUPERIO "SuperIO"
#define ZRV_REG_DEVICE_TYPE "DeviceType"
/* The port watchdog, under WDT. */
#define ZRV_REG_START "Start"
#define ZRV_REG_STOP "Stop"
#define ZRV_REG_TIMEOUT "Timeout"
#define ZRV_REG_RESET "Reset"
#define ZRV_REG_STOP_BEFORE_RESET "StopBeforeReset"
/* The chip digital I/O's group layout, under DIO. */
#define ZRV_REG_GPIO_GROUP "GPIOGroup"
#define ZRV_REG_GPIO_OUT_GROUP "GPIOOutGroup"
/* Line counts: of the per-line map, and of the port digital I/O's plain layout. */
#define ZRV_REG_IN_BITS "InBits"
#define ZRV_REG_OUT_BITS "OutBits"
/* The per-line map: these stems followed by the line's index in decimal
 * without leading zeros ("InAddr0", "OutMask12"). */
#define ZRV_REG_IN_ADDR "InAddr"
#define ZRV_REG_IN_MASK "InMask"
#define ZRV_REG_OUT_ADDR "OutAddr"
#define ZRV_REG_OUT_MASK "OutMask"
/* The port digital I/O, under DIO ("InMask" and "OutMask" without an index
 * are the plain layout's first port masks). */
#define ZRV_REG_IO_BASE_IN "IOBaseIn"
#define ZRV_REG_IO_BASE_OUT "IOBaseOut"
#define ZRV_REG_IO_BASE_IN2 "IOBaseIn2"
#define ZRV_REG_IO_BASE_OUT2 "IOBaseOut2"
#define ZRV_REG_IN_MASK2 "InMask2"
#define ZRV_REG_OUT_MASK2 "OutMask2"
#define ZRV_REG_CD_PORT "CDPort"
#define ZRV_REG_CD_OUT_PORT "CDOutPort"
#define ZRV_REG_CD_IN_MASK "CDInMask"
#define ZRV_REG_CD_OUT_MASK "CDOutMask"
#define ZRV_REG_CD_IS_OUT_INVERT "CDIsOutInvert"
#define ZRV_REG_CD_IS_IN_INVERT "CDIsInInvert"
#define ZRV_REG_USE_SPECIFIC_SETTING "UseSpecificSetting"
#define ZRV_REG_SPECIFIC_MASK_IO "SpecificMaskIo"
#define ZRV_REG_SPECIFIC_DATA_IO "SpecificDataIo"

/* Every value name the driver reads, by key: X(key, name). */
#define ZRV_REG_VALUES(X)                            \
    X(ZRV_REG_KEY_HWMON, ZRV_REG_SUPERIO)            \
    X(ZRV_REG_KEY_WDT, ZRV_REG_DEVICE_TYPE)          \
    X(ZRV_REG_KEY_WDT, ZRV_REG_SUPERIO)              \
    X(ZRV_REG_KEY_WDT, ZRV_REG_START)                \
    X(ZRV_REG_KEY_WDT, ZRV_REG_STOP)                 \
    X(ZRV_REG_KEY_WDT, ZRV_REG_TIMEOUT)              \
    X(ZRV_REG_KEY_WDT, ZRV_REG_RESET)                \
    X(ZRV_REG_KEY_WDT, ZRV_REG_STOP_BEFORE_RESET)    \
    X(ZRV_REG_KEY_DIO, ZRV_REG_DEVICE_TYPE)          \
    X(ZRV_REG_KEY_DIO, ZRV_REG_SUPERIO)              \
    X(ZRV_REG_KEY_DIO, ZRV_REG_GPIO_GROUP)           \
    X(ZRV_REG_KEY_DIO, ZRV_REG_GPIO_OUT_GROUP)       \
    X(ZRV_REG_KEY_DIO, ZRV_REG_IN_BITS)              \
    X(ZRV_REG_KEY_DIO, ZRV_REG_OUT_BITS)             \
    X(ZRV_REG_KEY_DIO, ZRV_REG_IO_BASE_IN)           \
    X(ZRV_REG_KEY_DIO, ZRV_REG_IO_BASE_OUT)          \
    X(ZRV_REG_KEY_DIO, ZRV_REG_IN_MASK)              \
    X(ZRV_REG_KEY_DIO, ZRV_REG_OUT_MASK)             \
    X(ZRV_REG_KEY_DIO, ZRV_REG_IO_BASE_IN2)          \
    X(ZRV_REG_KEY_DIO, ZRV_REG_IO_BASE_OUT2)         \
    X(ZRV_REG_KEY_DIO, ZRV_REG_IN_MASK2)             \
    X(ZRV_REG_KEY_DIO, ZRV_REG_OUT_MASK2)            \
    X(ZRV_REG_KEY_DIO, ZRV_REG_CD_PORT)              \
    X(ZRV_REG_KEY_DIO, ZRV_REG_CD_OUT_PORT)          \
    X(ZRV_REG_KEY_DIO, ZRV_REG_CD_IN_MASK)           \
    X(ZRV_REG_KEY_DIO, ZRV_REG_CD_OUT_MASK)          \
    X(ZRV_REG_KEY_DIO, ZRV_REG_CD_IS_OUT_INVERT)     \
    X(ZRV_REG_KEY_DIO, ZRV_REG_CD_IS_IN_INVERT)      \
    X(ZRV_REG_KEY_DIO, ZRV_REG_USE_SPECIFIC_SETTING) \
    X(ZRV_REG_KEY_DIO, ZRV_REG_SPECIFIC_MASK_IO)     \
    X(ZRV_REG_KEY_DIO, ZRV_REG_SPECIFIC_DATA_IO)

/* The per-line stems, all under DIO: X(name). */
#define ZRV_REG_LINE_STEMS(X) X(ZRV_REG_IN_ADDR) X(ZRV_REG_IN_MASK) X(ZRV_REG_OUT_ADDR) X(ZRV_REG_OUT_MASK)

/* Every value is a REG_DWORD of exactly four bytes; a value of another type
 * or length reads as 0, and an absent one as 0. */
#define ZRV_REG_TYPE_DWORD 4u
#define ZRV_REG_DWORD_BYTES 4u
/* The configuration reader ("SuperIO", "DeviceType", the groups and the
 * per-line map) queries a value's full information (a 20-byte header, the
 * name in UTF-16, the data at the next 4-byte boundary) into this many
 * bytes: a value whose information does not fit reads as absent. The port
 * back-ends' own values have no such limit. */
#define ZRV_REG_VALUE_INFO_BYTES 58u
#define ZRV_REG_VALUE_INFO_HEADER 20u

/* Chip codes, the values of the three "SuperIO" values. */
#define ZRV_CHIP_IT87XX 0u
#define ZRV_CHIP_W83627 1u
#define ZRV_CHIP_W83627_ALT 2u
#define ZRV_CHIP_F81216 4u
#define ZRV_CHIP_SCH3114 5u
#define ZRV_CHIP_F81865 6u
#define ZRV_CHIP_PORTS 16u /* port back-ends configured in the registry */

/* WDT "DeviceType": the watchdog sits in the chip named by WDT "SuperIO";
 * any other value is the port watchdog. */
#define ZRV_WDT_TYPE_CHIP 1u

/* DIO "DeviceType": the digital-I/O layout. Any other value is the port
 * digital I/O, as 0 is. */
#define ZRV_DIO_TYPE_PORTS 0u     /* port digital I/O */
#define ZRV_DIO_TYPE_GROUPS 1u    /* chip named by DIO "SuperIO", GPIO groups */
#define ZRV_DIO_TYPE_LINES 3u     /* chip named by DIO "SuperIO", per-line map */
#define ZRV_DIO_TYPE_PORTS_MAP 4u /* port digital I/O; the per-line map is loaded and unused */
#define ZRV_DIO_LAYOUT_BIT(type) (1ul << (type))

/* The most lines a line word carries; larger line counts are cut to it
 * (per-line map) or refused (the port digital I/O's plain layout). */
#define ZRV_MAX_LINES 16u

/* A port action of the port watchdog (WDT "Start", "Stop", "Reset"), low 16
 * bits: 0 nothing; bit 15 set: write one byte to the port in bits 0..14;
 * otherwise read the port. An action on port 0 touches nothing. */
#define ZRV_PORT_ACTION_WRITE 0x8000u
#define ZRV_PORT_ACTION_PORT_MASK 0x7FFFu

/* Configuration port pairs a detect routine probes. */
#define ZRV_PAIR_2E 1u /* 0x2E/0x2F */
#define ZRV_PAIR_4E 2u /* 0x4E/0x4F, tried after 0x2E/0x2F */
#define ZRV_PAIRS_BOTH (ZRV_PAIR_2E | ZRV_PAIR_4E)

/* Fan control modes a chip takes, as bits (1 << ZRV_FAN_MODE_* of
 * zorvik/ioctl.h: on/off 0, duty 1, automatic 2). */
#define ZRV_FAN_MODES_ONOFF_DUTY 0x3u
#define ZRV_FAN_MODES_ALL 0x7u

/*
 * One row per chip code, everything the driver, zrvctl, the tests and the
 * virtual board know of the chip family:
 * X(code, name, board type, hwm pairs, wdt pairs, dio pairs, dio layouts,
 *   groups, extra groups, extra groups' chip ID,
 *   fans, fan modes, fewer fans, fixed directions)
 * - board type: the "type" of the chip's emulator in a board file ("" for
 *   the port back-ends, which are hardware of several types);
 * - pairs: the configuration pairs the function's detect routine probes; 0:
 *   no back-end for the function (the port back-ends probe nothing and show
 *   ZRV_PAIRS_BOTH);
 * - dio layouts: the DIO "DeviceType" values the digital I/O serves, as
 *   ZRV_DIO_LAYOUT_BIT bits;
 * - groups: the GPIO group numbers (bit n: group n) the digital I/O serves
 *   on every chip ID, in "GPIOGroup", "GPIOOutGroup" and the per-line map's
 *   group numbers; extra groups are served only on the chip ID that follows.
 *   The W83627 reads only "GPIOGroup"; the SCH3114 only the per-line map;
 * - fans: the most fans any member's fan control serves (0: none), the
 *   modes it takes (ZRV_FAN_MODES_*), and which members serve fewer (a
 *   phrase, or 0);
 * - fixed directions: 1 when the digital I/O reads its lines' directions
 *   once at load and never writes them, so they stay as the board came up.
 */
#define ZRV_CHIP_ROWS(X)                                                                                 \
    X(ZRV_CHIP_IT87XX, "IT87xx", "it87", ZRV_PAIR_2E, ZRV_PAIRS_BOTH, 0u, 0ul, 0ul, 0ul, 0u, 5u,         \
      ZRV_FAN_MODES_ALL, "3 on monitors before version I", 0)                                            \
    X(ZRV_CHIP_W83627, "W83627", "w83627", ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH,               \
      ZRV_DIO_LAYOUT_BIT(ZRV_DIO_TYPE_GROUPS) | ZRV_DIO_LAYOUT_BIT(ZRV_DIO_TYPE_LINES), 0x42ul, 0x04ul,  \
      0xA2u, 4u, ZRV_FAN_MODES_ONOFF_DUTY, "3 or 2 on the older IDs", 1)                                 \
    X(ZRV_CHIP_W83627_ALT, "W83627", "w83627", ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH,           \
      ZRV_DIO_LAYOUT_BIT(ZRV_DIO_TYPE_GROUPS) | ZRV_DIO_LAYOUT_BIT(ZRV_DIO_TYPE_LINES), 0x42ul, 0x04ul,  \
      0xA2u, 4u, ZRV_FAN_MODES_ONOFF_DUTY, "3 or 2 on the older IDs", 1)                                 \
    X(ZRV_CHIP_F81216, "F81216", "f81216", 0u, ZRV_PAIRS_BOTH, 0u, 0ul, 0ul, 0ul, 0u, 0u, 0u, 0, 0)      \
    X(ZRV_CHIP_SCH3114, "SCH3114", "sch3114", ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH,            \
      ZRV_DIO_LAYOUT_BIT(ZRV_DIO_TYPE_LINES), 0x7Eul, 0ul, 0u, 3u, ZRV_FAN_MODES_ONOFF_DUTY, 0, 0)       \
    X(ZRV_CHIP_F81865, "F81865", "f81865", ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH,               \
      ZRV_DIO_LAYOUT_BIT(ZRV_DIO_TYPE_GROUPS) | ZRV_DIO_LAYOUT_BIT(ZRV_DIO_TYPE_LINES), 0x7Ful, 0x180ul, \
      0x1010u, 3u, ZRV_FAN_MODES_ONOFF_DUTY, "2 on ID 0x0704", 0)                                        \
    X(ZRV_CHIP_PORTS, "port back-ends", "", 0u, ZRV_PAIRS_BOTH, ZRV_PAIRS_BOTH, 0ul, 0ul, 0ul, 0u, 0u, 0u, \
      0, 0)

#endif /* ZORVIK_REGISTRY_H */
