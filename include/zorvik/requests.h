/*
 * Zorvik board-support driver: the list of the control device's requests,
 * once, for code that walks all of them (tests, fuzzers, benchmarks, tools).
 *
 * ZRV_REQUESTS(X) expands X(name, function, in, out) once per request, in
 * code order:
 *   name      the request code's macro from ioctl.h (#name gives its text);
 *   function  HWM, WDT, DIO (the back-end the request needs) or NONE;
 *   in, out   the smallest input and output buffer the driver accepts.
 * The access a caller needs is in the code itself: ZRV_CODE_ACCESS(name).
 * Plain C89 and C++98, like ioctl.h.
 */
#ifndef ZORVIK_REQUESTS_H
#define ZORVIK_REQUESTS_H

#include "zorvik/ioctl.h"

#define ZRV_REQUESTS(X)                         \
    X(IOCTL_HWM_GET_DATA, HWM, 0, 36)           \
    X(IOCTL_HWM_FAN_CONTROL, HWM, 8, 0)         \
    X(IOCTL_SPARE_1, NONE, 2, 0)                \
    X(IOCTL_SPARE_2, NONE, 2, 0)                \
    X(IOCTL_DIO_GET_CONFIG, DIO, 0, 2)          \
    X(IOCTL_DIO_GET_INPUT, DIO, 0, 2)           \
    X(IOCTL_DIO_SET_OUTPUT, DIO, 2, 0)          \
    X(IOCTL_DIO_GET_OUTPUT, DIO, 0, 2)          \
    X(IOCTL_WDT_SET_TIMEOUT, WDT, 4, 0)         \
    X(IOCTL_WDT_START, WDT, 0, 0)               \
    X(IOCTL_WDT_STOP, WDT, 0, 0)                \
    X(IOCTL_WDT_RESET, WDT, 0, 0)               \
    X(IOCTL_WDT_GET_TIMEOUT, WDT, 0, 4)         \
    X(IOCTL_DIO_CD_GET_INPUTS, DIO, 0, 1)       \
    X(IOCTL_DIO_CD_PULSE_OUTPUT, DIO, 1, 0)     \
    X(IOCTL_DIO_CD_GET_OUTPUT_COUNT, DIO, 0, 1) \
    X(IOCTL_DIO_SET_SPECIFIC_MASK, DIO, 1, 0)   \
    X(IOCTL_DIO_CD_SET_OUTPUT, DIO, 1, 0)

/* The back-end a request needs. */
#define ZRV_REQUEST_NONE 0
#define ZRV_REQUEST_HWM 1
#define ZRV_REQUEST_WDT 2
#define ZRV_REQUEST_DIO 3

/* One row of a request table:
 *   static const ZrvRequestInfo rows[] = {ZRV_REQUESTS(ZRV_REQUEST_INFO)};
 */
typedef struct ZrvRequestInfo {
    uint32_t Code;
    const char* Name;
    uint8_t Function; /* ZRV_REQUEST_NONE, _HWM, _WDT or _DIO */
    uint8_t MinInput;
    uint8_t MinOutput;
} ZrvRequestInfo;

#define ZRV_REQUEST_INFO(name, function, in, out) {name, #name, ZRV_REQUEST_##function, in, out},

/* The bare codes: static const uint32_t codes[] = {ZRV_REQUESTS(ZRV_REQUEST_CODE)}; */
#define ZRV_REQUEST_CODE(name, function, in, out) name,

#endif /* ZORVIK_REQUESTS_H */
