/*
 * What the driver's load made of each function: bound, or the reason it was
 * not, one code per refusal the back-ends make. The driver records the code
 * where it refuses (beside the debugger line that says so); libzorvik and
 * zrvctl give the words below for it. Plain C, shared by all of them.
 */
#ifndef ZORVIK_REASONS_H
#define ZORVIK_REASONS_H

/* The functions, in the order the load selects them. */
#define ZRV_FUNCTION_HWM 0u
#define ZRV_FUNCTION_WDT 1u
#define ZRV_FUNCTION_DIO 2u
#define ZRV_FUNCTIONS 3u

/* X(code, NAME, words): the codes never change meaning; new ones are added
 * at the end. */
#define ZRV_REASON_ROWS(X)                                                                                   \
    X(0, BOUND, "bound")                                                                                     \
    X(1, LOAD_FAILED, "the configuration load failed on a missing or unreadable value, so nothing is bound") \
    X(2, NO_BACKEND, "the chip code has no back-end for this function")                                      \
    X(3, NOT_FOUND, "not found: no chip of the family answered its probe")                                   \
    X(4, DEVICE_INACTIVE, "the monitor's logical device 4 is not active")                                    \
    X(5, REFUSED_BASE,                                                                                       \
      "refused base: the register block the chip reports is below 0x100, on the PCI configuration ports or " \
      "too high")                                                                                            \
    X(6, MONITOR_NOT_SET_UP,                                                                                 \
      "the monitor is not set up: its base is 0 or logical device 0x0B does not decode")                     \
    X(7, GROUP_OUT_OF_RANGE,                                                                                 \
      "the GPIO group the registry names is no group the back-end serves on this chip")                      \
    X(8, GROUP_NOT_ENABLED, "the GPIO group is not enabled on the chip (its set-up test failed)")            \
    X(9, GROUP_NO_DATA, "the GPIO group has no data register the back-end can serve on this chip")           \
    X(10, IN_BITS_TOO_LARGE, "\"InBits\" is more than the 16 lines of a line word")                          \
    X(11, OUT_BITS_TOO_LARGE, "\"OutBits\" is more than the 16 lines of a line word")                        \
    X(12, LINE_GROUP, "a line names a GPIO group the chip does not have")                                    \
    X(13, LAYOUT_NOT_SERVED, "the DIO \"DeviceType\" names a layout this chip's digital I/O does not take")  \
    X(14, VALUE_UNREADABLE, "a registry value of the port back-end could not be read")                       \
    X(15, NO_MEMORY, "the driver ran out of pool memory while it loaded")                                    \
    X(16, PC_PORT,                                                                                           \
      "a port the registry names is one of the PC's own (below 0x100, or PCI configuration 0xCF8-0xCFF)")

#define ZRV_REASON_CODE(code, name, words) ZRV_REASON_##name = code,
enum zrv_reason { ZRV_REASON_ROWS(ZRV_REASON_CODE) ZRV_REASONS };
#undef ZRV_REASON_CODE

/* On Windows the driver's load leaves its report in two places:
 *  - for people, one System event log entry (source "zorvik") per function
 *    the configuration names a back-end for that did not bind. Its event
 *    code is ZRV_REASON_EVENT_BASE + the reason code (severity warning,
 *    customer bit, facility 0x5A); zorvik.sys carries one message per
 *    reason, made from the rows above at build time (tools/reasons.py),
 *    with the function as %2 and the configured back-end as %3;
 *  - for programs, the REG_BINARY value ZRV_LOAD_REPORT_VALUE of the volatile
 *    key ZRV_LOAD_REPORT_KEY under the driver's service key: one reason code
 *    a byte, by ZRV_FUNCTION_*. Rewritten at every load, gone at a restart. */
#define ZRV_REASON_EVENT_BASE 0xA05A0000u
#define ZRV_LOAD_REPORT_KEY "LoadReport"
#define ZRV_LOAD_REPORT_VALUE "Reasons"
/* The service key of the driver as the installers register it. */
#define ZRV_SERVICE_KEY_KERNEL "\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zorvik"
#define ZRV_SERVICE_KEY_USER "System\\CurrentControlSet\\Services\\zorvik"

#endif /* ZORVIK_REASONS_H */
