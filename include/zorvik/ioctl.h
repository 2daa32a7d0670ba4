/*
 * Zorvik board-support driver: the control device's request interface.
 *
 * Shared by the driver, zrvctl and any management software. Plain C so that
 * it can be included from C or C++, user or kernel mode. Every request uses
 * buffered transfer; the records below are the wire format of the request
 * buffers and their offsets are fixed.
 */
#ifndef ZORVIK_IOCTL_H
#define ZORVIK_IOCTL_H

/* Compilers of the XP era (Visual C++ before 2010) have no <stdint.h>. */
#if defined(_MSC_VER) && _MSC_VER < 1600
typedef signed __int8 int8_t;
typedef unsigned __int8 uint8_t;
typedef signed __int16 int16_t;
typedef unsigned __int16 uint16_t;
typedef signed __int32 int32_t;
typedef unsigned __int32 uint32_t;
#else
#include <stdint.h>
#endif
#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* User-mode name of the control device ("\\.\ZRVDev"), and the kernel names. */
#define ZRV_USER_DEVICE_NAME "\\\\.\\ZRVDev"
#define ZRV_KERNEL_DEVICE_NAME "\\Device\\ZRV0"
#define ZRV_KERNEL_LINK_NAME "\\DosDevices\\ZRVDev"

#define ZRV_DEVICE_TYPE 0x8820u

#define ZRV_METHOD_BUFFERED 0u
#define ZRV_ANY_ACCESS 0u
#define ZRV_WRITE_ACCESS 2u

/* Device type in bits 16..31, access in 14..15, function in 2..13, method in 0..1. */
#define ZRV_CTL_CODE(devtype, function, method, access)                                \
    ((uint32_t)(((uint32_t)(devtype) << 16) | ((uint32_t)(access) << 14) |            \
                ((uint32_t)(function) << 2) | (uint32_t)(method)))

#define ZRV_CODE_ACCESS(code) (((uint32_t)(code) >> 14) & 3u)
#define ZRV_CODE_FUNCTION(code) (((uint32_t)(code) >> 2) & 0xFFFu)
#define ZRV_CODE_DEVTYPE(code) ((uint32_t)(code) >> 16)

#define ZRV_READ_IOCTL(fn) ZRV_CTL_CODE(ZRV_DEVICE_TYPE, fn, ZRV_METHOD_BUFFERED, ZRV_ANY_ACCESS)
#define ZRV_WRITE_IOCTL(fn) ZRV_CTL_CODE(ZRV_DEVICE_TYPE, fn, ZRV_METHOD_BUFFERED, ZRV_WRITE_ACCESS)

#define IOCTL_HWM_GET_DATA ZRV_READ_IOCTL(0x800)            /* 0x88202000 */
#define IOCTL_HWM_FAN_CONTROL ZRV_READ_IOCTL(0x801)         /* 0x88202004 */
#define IOCTL_SPARE_1 ZRV_READ_IOCTL(0x804)                 /* 0x88202010 */
#define IOCTL_SPARE_2 ZRV_READ_IOCTL(0x805)                 /* 0x88202014 */
#define IOCTL_DIO_GET_CONFIG ZRV_READ_IOCTL(0x809)          /* 0x88202024 */
#define IOCTL_DIO_GET_INPUT ZRV_READ_IOCTL(0x80A)           /* 0x88202028 */
#define IOCTL_DIO_SET_OUTPUT ZRV_READ_IOCTL(0x80B)          /* 0x8820202C */
#define IOCTL_DIO_GET_OUTPUT ZRV_READ_IOCTL(0x80C)          /* 0x88202030 */
#define IOCTL_WDT_SET_TIMEOUT ZRV_WRITE_IOCTL(0x810)        /* 0x8820A040 */
#define IOCTL_WDT_START ZRV_WRITE_IOCTL(0x811)              /* 0x8820A044 */
#define IOCTL_WDT_STOP ZRV_WRITE_IOCTL(0x812)               /* 0x8820A048 */
#define IOCTL_WDT_RESET ZRV_WRITE_IOCTL(0x813)              /* 0x8820A04C */
#define IOCTL_WDT_GET_TIMEOUT ZRV_WRITE_IOCTL(0x814)        /* 0x8820A050 */
#define IOCTL_DIO_CD_GET_INPUTS ZRV_WRITE_IOCTL(0x815)      /* 0x8820A054 */
#define IOCTL_DIO_CD_PULSE_OUTPUT ZRV_WRITE_IOCTL(0x816)    /* 0x8820A058 */
#define IOCTL_DIO_CD_GET_OUTPUT_COUNT ZRV_WRITE_IOCTL(0x817) /* 0x8820A05C */
#define IOCTL_DIO_SET_SPECIFIC_MASK ZRV_WRITE_IOCTL(0x818)  /* 0x8820A060 */
#define IOCTL_DIO_CD_SET_OUTPUT ZRV_WRITE_IOCTL(0x819)      /* 0x8820A064 */

/* Completion statuses the driver returns (the kernel's NTSTATUS values). */
#define ZRV_STATUS_SUCCESS ((int32_t)0x00000000)
#define ZRV_STATUS_UNSUCCESSFUL ((int32_t)0xC0000001)
#define ZRV_STATUS_NOT_IMPLEMENTED ((int32_t)0xC0000002)
#define ZRV_STATUS_INVALID_PARAMETER ((int32_t)0xC000000D)
#define ZRV_STATUS_ACCESS_DENIED ((int32_t)0xC0000022)
#define ZRV_STATUS_INSUFFICIENT_RESOURCES ((int32_t)0xC000009A)
#define ZRV_STATUS_NOT_SUPPORTED ((int32_t)0xC00000BB)
/* Watchdog Start or Reset with a count of 0: the countdown does not run. */
#define ZRV_STATUS_INVALID_DEVICE_STATE ((int32_t)0xC0000184)

/* Watchdog time base codes; GetTimeout answers a set of them as bits. */
#define ZRV_WDT_UNIT_SECONDS 1u
#define ZRV_WDT_UNIT_MINUTES 2u

/* Fan control modes. */
#define ZRV_FAN_MODE_ONOFF 0u
#define ZRV_FAN_MODE_DUTY 1u
#define ZRV_FAN_MODE_AUTO 2u

#pragma pack(push, 1)

/* IOCTL_WDT_SET_TIMEOUT input, IOCTL_WDT_GET_TIMEOUT output. */
typedef struct WdtTimeout {
    uint16_t Count; /* timeout in units of Unit */
    uint16_t Unit;  /* 1 seconds, 2 minutes (GetTimeout: accepted codes as bits) */
} WdtTimeout;

/* IOCTL_HWM_GET_DATA output. Voltages and temperatures are raw chip readings. */
typedef struct HwmData {
    uint32_t Fan1; /* rpm, 0 when there is no reading */
    uint32_t Fan2;
    uint32_t Fan3;
    uint32_t Fan4;
    uint32_t Fan5;
    uint8_t Volt[10];
    uint8_t Temp1;
    uint8_t Temp2;
    uint8_t Temp3;
    uint8_t Reserved[3];
} HwmData;

/* IOCTL_HWM_FAN_CONTROL input; comes back unchanged when applied. */
typedef struct FanCtrl {
    uint8_t Fan;       /* fan index from 0 */
    uint8_t Mode;      /* ZRV_FAN_MODE_* */
    uint8_t Data;      /* on/off: 0 off, else full on; duty: 0..127 */
    uint8_t Limit1;    /* automatic mode: first temperature limit */
    uint8_t Limit2;    /* automatic mode: second temperature limit */
    uint8_t Reserved;
    uint8_t StartDuty; /* automatic mode: start duty, low 7 bits */
    uint8_t Slope;     /* automatic mode: control code, low 3 bits */
} FanCtrl;

/* IOCTL_DIO_GET_CONFIG output. */
typedef struct DioConfig {
    uint8_t InBits;  /* number of input lines */
    uint8_t OutBits; /* number of output lines */
} DioConfig;

#pragma pack(pop)

/* The digital-I/O line word: little-endian 16 bits, bit i for line i. */
typedef uint16_t DioLineWord;

#ifdef __cplusplus
}
#endif

/* Layout checks at compile time: the language's own assertion where the
 * compiler has one, else an array type of negative size on failure, which
 * every C89 and C++98 compiler rejects. */
#if defined(__cplusplus) && (__cplusplus >= 201103L || (defined(_MSC_VER) && _MSC_VER >= 1600))
#define ZRV_STATIC_ASSERT(c, m) static_assert(c, m)
#elif !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ZRV_STATIC_ASSERT(c, m) _Static_assert(c, m)
#else
#define ZRV_ASSERT_NAME2(line) zrv_layout_check_##line
#define ZRV_ASSERT_NAME(line) ZRV_ASSERT_NAME2(line)
#define ZRV_STATIC_ASSERT(c, m) typedef char ZRV_ASSERT_NAME(__LINE__)[(c) ? 1 : -1]
#endif

ZRV_STATIC_ASSERT(sizeof(WdtTimeout) == 4, "WdtTimeout is 4 bytes");
ZRV_STATIC_ASSERT(offsetof(WdtTimeout, Unit) == 2, "WdtTimeout.Unit at 2");
ZRV_STATIC_ASSERT(sizeof(HwmData) == 36, "HwmData is 36 bytes");
ZRV_STATIC_ASSERT(offsetof(HwmData, Fan5) == 16, "HwmData.Fan5 at 16");
ZRV_STATIC_ASSERT(offsetof(HwmData, Volt) == 20, "HwmData.Volt at 20");
ZRV_STATIC_ASSERT(offsetof(HwmData, Temp1) == 30, "HwmData.Temp1 at 30");
ZRV_STATIC_ASSERT(offsetof(HwmData, Temp3) == 32, "HwmData.Temp3 at 32");
ZRV_STATIC_ASSERT(offsetof(HwmData, Reserved) == 33, "HwmData.Reserved at 33");
ZRV_STATIC_ASSERT(sizeof(FanCtrl) == 8, "FanCtrl is 8 bytes");
ZRV_STATIC_ASSERT(offsetof(FanCtrl, Data) == 2, "FanCtrl.Data at 2");
ZRV_STATIC_ASSERT(offsetof(FanCtrl, StartDuty) == 6, "FanCtrl.StartDuty at 6");
ZRV_STATIC_ASSERT(offsetof(FanCtrl, Slope) == 7, "FanCtrl.Slope at 7");
ZRV_STATIC_ASSERT(sizeof(DioConfig) == 2, "DioConfig is 2 bytes");
ZRV_STATIC_ASSERT(offsetof(DioConfig, OutBits) == 1, "DioConfig.OutBits at 1");
ZRV_STATIC_ASSERT(IOCTL_HWM_GET_DATA == 0x88202000u, "request code");
ZRV_STATIC_ASSERT(IOCTL_DIO_GET_OUTPUT == 0x88202030u, "request code");
ZRV_STATIC_ASSERT(IOCTL_WDT_SET_TIMEOUT == 0x8820A040u, "request code");
ZRV_STATIC_ASSERT(IOCTL_DIO_CD_SET_OUTPUT == 0x8820A064u, "request code");

#endif /* ZORVIK_IOCTL_H */
