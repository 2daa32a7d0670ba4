// The hardware cost of every request kind on every example board: port
// accesses, hardware-lock acquisitions and pool allocations, exactly, against
// the table below. A change in any of them is a change in what the driver
// does to the hardware, and must show up here. A board or request kind with
// no row fails and prints the rows it measured, ready to paste.
#include "tests/support/census.h"

#include <fmt/format.h>
#include <gtest/gtest.h>

#include <set>

#include "sim/board.h"
#include "tests/support/harness.h"

namespace {

struct Row {
    const char* board;
    const char* kind;
    uint32_t status;
    uint64_t ports;
    uint64_t locks;
    uint64_t allocations;
};

// clang-format off
// board, request kind, status, port accesses, lock acquisitions, pool allocations
const std::vector<Row> kCensus = {
    {"default", "IOCTL_HWM_GET_DATA", 0x00000000, 34, 1, 0},
    {"default", "IOCTL_HWM_FAN_CONTROL", 0x00000000, 6, 1, 0},
    {"default", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"default", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"default", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 0, 0},
    {"default", "IOCTL_DIO_GET_INPUT", 0x00000000, 7, 1, 0},
    {"default", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 7, 1, 0},
    {"default", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 7, 1, 0},
    {"default", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 7, 1, 0},
    {"default", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"default", "IOCTL_WDT_START", 0x00000000, 11, 1, 0},
    {"default", "IOCTL_WDT_RESET", 0x00000000, 11, 1, 0},
    {"default", "IOCTL_WDT_STOP", 0x00000000, 9, 1, 0},
    {"default", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"default", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"default", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"default", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"default", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_HWM_GET_DATA", 0x00000000, 26, 1, 0},
    {"f81865-0704-lines", "IOCTL_HWM_FAN_CONTROL", 0x00000000, 6, 1, 0},
    {"f81865-0704-lines", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_DIO_GET_INPUT", 0x00000000, 13, 1, 0},
    {"f81865-0704-lines", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 21, 1, 0},
    {"f81865-0704-lines", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 13, 1, 0},
    {"f81865-0704-lines", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 7, 1, 0},
    {"f81865-0704-lines", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_WDT_START", 0x00000000, 11, 1, 0},
    {"f81865-0704-lines", "IOCTL_WDT_RESET", 0x00000000, 11, 1, 0},
    {"f81865-0704-lines", "IOCTL_WDT_STOP", 0x00000000, 9, 1, 0},
    {"f81865-0704-lines", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"f81865-0704-lines", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_HWM_GET_DATA", 0x00000000, 34, 1, 0},
    {"f81865-1010-groups", "IOCTL_HWM_FAN_CONTROL", 0x00000000, 6, 1, 0},
    {"f81865-1010-groups", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_DIO_GET_INPUT", 0x00000000, 7, 1, 0},
    {"f81865-1010-groups", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 7, 1, 0},
    {"f81865-1010-groups", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 7, 1, 0},
    {"f81865-1010-groups", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 7, 1, 0},
    {"f81865-1010-groups", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_WDT_START", 0x00000000, 11, 1, 0},
    {"f81865-1010-groups", "IOCTL_WDT_RESET", 0x00000000, 11, 1, 0},
    {"f81865-1010-groups", "IOCTL_WDT_STOP", 0x00000000, 9, 1, 0},
    {"f81865-1010-groups", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"f81865-1010-groups", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"port-plain", "IOCTL_HWM_GET_DATA", 0xc00000bb, 0, 0, 0},
    {"port-plain", "IOCTL_HWM_FAN_CONTROL", 0xc00000bb, 0, 0, 0},
    {"port-plain", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"port-plain", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"port-plain", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 1, 0},
    {"port-plain", "IOCTL_DIO_GET_INPUT", 0x00000000, 2, 1, 0},
    {"port-plain", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 2, 1, 0},
    {"port-plain", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 2, 1, 0},
    {"port-plain", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 0, 1, 0},
    {"port-plain", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"port-plain", "IOCTL_WDT_START", 0x00000000, 1, 1, 0},
    {"port-plain", "IOCTL_WDT_RESET", 0x00000000, 1, 1, 0},
    {"port-plain", "IOCTL_WDT_STOP", 0x00000000, 1, 1, 0},
    {"port-plain", "IOCTL_DIO_CD_GET_INPUTS", 0x00000000, 1, 0, 0},
    {"port-plain", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0x00000000, 0, 0, 0},
    {"port-plain", "IOCTL_DIO_CD_SET_OUTPUT", 0x00000000, 2, 1, 0},
    {"port-plain", "IOCTL_DIO_CD_PULSE_OUTPUT", 0x00000000, 3, 1, 0},
    {"port-plain", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 1, 0},
    {"port-regtypes", "IOCTL_HWM_GET_DATA", 0xc00000bb, 0, 0, 0},
    {"port-regtypes", "IOCTL_HWM_FAN_CONTROL", 0xc00000bb, 0, 0, 0},
    {"port-regtypes", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"port-regtypes", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"port-regtypes", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 1, 0},
    {"port-regtypes", "IOCTL_DIO_GET_INPUT", 0x00000000, 0, 1, 0},
    {"port-regtypes", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 1, 1, 0},
    {"port-regtypes", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 1, 1, 0},
    {"port-regtypes", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 0, 1, 0},
    {"port-regtypes", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"port-regtypes", "IOCTL_WDT_START", 0x00000000, 1, 1, 0},
    {"port-regtypes", "IOCTL_WDT_RESET", 0x00000000, 1, 1, 0},
    {"port-regtypes", "IOCTL_WDT_STOP", 0xc00000bb, 0, 1, 0},
    {"port-regtypes", "IOCTL_DIO_CD_GET_INPUTS", 0x00000000, 1, 0, 0},
    {"port-regtypes", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0x00000000, 0, 0, 0},
    {"port-regtypes", "IOCTL_DIO_CD_SET_OUTPUT", 0x00000000, 1, 1, 0},
    {"port-regtypes", "IOCTL_DIO_CD_PULSE_OUTPUT", 0x00000000, 1, 1, 0},
    {"port-regtypes", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 1, 0},
    {"port-specific", "IOCTL_HWM_GET_DATA", 0xc00000bb, 0, 0, 0},
    {"port-specific", "IOCTL_HWM_FAN_CONTROL", 0xc00000bb, 0, 0, 0},
    {"port-specific", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"port-specific", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"port-specific", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 1, 0},
    {"port-specific", "IOCTL_DIO_GET_INPUT", 0x00000000, 1, 1, 0},
    {"port-specific", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 1, 1, 0},
    {"port-specific", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 1, 1, 0},
    {"port-specific", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 1, 1, 0},
    {"port-specific", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"port-specific", "IOCTL_WDT_START", 0x00000000, 1, 1, 0},
    {"port-specific", "IOCTL_WDT_RESET", 0x00000000, 2, 1, 0},
    {"port-specific", "IOCTL_WDT_STOP", 0x00000000, 1, 1, 0},
    {"port-specific", "IOCTL_DIO_CD_GET_INPUTS", 0x00000000, 1, 0, 0},
    {"port-specific", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0x00000000, 0, 0, 0},
    {"port-specific", "IOCTL_DIO_CD_SET_OUTPUT", 0x00000000, 2, 1, 0},
    {"port-specific", "IOCTL_DIO_CD_PULSE_OUTPUT", 0x00000000, 3, 1, 0},
    {"port-specific", "IOCTL_DIO_SET_SPECIFIC_MASK", 0x00000000, 1, 1, 0},
    {"unconfigured", "IOCTL_HWM_GET_DATA", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_HWM_FAN_CONTROL", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"unconfigured", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_GET_CONFIG", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_GET_INPUT", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_GET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_WDT_SET_TIMEOUT", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_WDT_GET_TIMEOUT", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_WDT_START", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_WDT_RESET", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_WDT_STOP", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"unconfigured", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_HWM_GET_DATA", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_HWM_FAN_CONTROL", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"f81216-87", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"f81216-87", "IOCTL_DIO_GET_CONFIG", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_DIO_GET_INPUT", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_DIO_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_DIO_GET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 9, 1, 0},
    {"f81216-87", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"f81216-87", "IOCTL_WDT_START", 0x00000000, 9, 1, 0},
    {"f81216-87", "IOCTL_WDT_RESET", 0x00000000, 9, 1, 0},
    {"f81216-87", "IOCTL_WDT_STOP", 0x00000000, 7, 1, 0},
    {"f81216-87", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"f81216-87", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_HWM_GET_DATA", 0x00000000, 36, 1, 0},
    {"it8712f-d", "IOCTL_HWM_FAN_CONTROL", 0x00000000, 6, 1, 0},
    {"it8712f-d", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"it8712f-d", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"it8712f-d", "IOCTL_DIO_GET_CONFIG", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_DIO_GET_INPUT", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_DIO_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_DIO_GET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 16, 1, 0},
    {"it8712f-d", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"it8712f-d", "IOCTL_WDT_START", 0x00000000, 14, 1, 0},
    {"it8712f-d", "IOCTL_WDT_RESET", 0x00000000, 18, 1, 0},
    {"it8712f-d", "IOCTL_WDT_STOP", 0x00000000, 12, 1, 0},
    {"it8712f-d", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8712f-d", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_HWM_GET_DATA", 0x00000000, 44, 1, 0},
    {"it8718f", "IOCTL_HWM_FAN_CONTROL", 0x00000000, 6, 1, 0},
    {"it8718f", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"it8718f", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"it8718f", "IOCTL_DIO_GET_CONFIG", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_DIO_GET_INPUT", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_DIO_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_DIO_GET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 16, 1, 0},
    {"it8718f", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"it8718f", "IOCTL_WDT_START", 0x00000000, 16, 1, 0},
    {"it8718f", "IOCTL_WDT_RESET", 0x00000000, 20, 1, 0},
    {"it8718f", "IOCTL_WDT_STOP", 0x00000000, 12, 1, 0},
    {"it8718f", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8718f", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_HWM_GET_DATA", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_HWM_FAN_CONTROL", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"it8783f-4e", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"it8783f-4e", "IOCTL_DIO_GET_CONFIG", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_DIO_GET_INPUT", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_DIO_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_DIO_GET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 16, 1, 0},
    {"it8783f-4e", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"it8783f-4e", "IOCTL_WDT_START", 0x00000000, 16, 1, 0},
    {"it8783f-4e", "IOCTL_WDT_RESET", 0x00000000, 20, 1, 0},
    {"it8783f-4e", "IOCTL_WDT_STOP", 0x00000000, 12, 1, 0},
    {"it8783f-4e", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"it8783f-4e", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"sch3114", "IOCTL_HWM_GET_DATA", 0x00000000, 32, 1, 0},
    {"sch3114", "IOCTL_HWM_FAN_CONTROL", 0x00000000, 6, 1, 0},
    {"sch3114", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"sch3114", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"sch3114", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 0, 0},
    {"sch3114", "IOCTL_DIO_GET_INPUT", 0x00000000, 4, 1, 0},
    {"sch3114", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 8, 1, 0},
    {"sch3114", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 4, 1, 0},
    {"sch3114", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 1, 1, 0},
    {"sch3114", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"sch3114", "IOCTL_WDT_START", 0x00000000, 1, 1, 0},
    {"sch3114", "IOCTL_WDT_RESET", 0x00000000, 1, 1, 0},
    {"sch3114", "IOCTL_WDT_STOP", 0x00000000, 1, 1, 0},
    {"sch3114", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"sch3114", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"sch3114", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"sch3114", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"sch3114", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"w83627-60", "IOCTL_HWM_GET_DATA", 0x00000000, 38, 1, 0},
    {"w83627-60", "IOCTL_HWM_FAN_CONTROL", 0x00000000, 6, 1, 0},
    {"w83627-60", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"w83627-60", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"w83627-60", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 0, 0},
    {"w83627-60", "IOCTL_DIO_GET_INPUT", 0x00000000, 7, 1, 0},
    {"w83627-60", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 7, 1, 0},
    {"w83627-60", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 7, 1, 0},
    {"w83627-60", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 11, 1, 0},
    {"w83627-60", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"w83627-60", "IOCTL_WDT_START", 0x00000000, 7, 1, 0},
    {"w83627-60", "IOCTL_WDT_RESET", 0x00000000, 7, 1, 0},
    {"w83627-60", "IOCTL_WDT_STOP", 0x00000000, 7, 1, 0},
    {"w83627-60", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"w83627-60", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"w83627-60", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"w83627-60", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"w83627-60", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
    {"w83627-88", "IOCTL_HWM_GET_DATA", 0x00000000, 48, 1, 0},
    {"w83627-88", "IOCTL_HWM_FAN_CONTROL", 0x00000000, 6, 1, 0},
    {"w83627-88", "IOCTL_SPARE_1", 0x00000000, 0, 0, 0},
    {"w83627-88", "IOCTL_SPARE_2", 0x00000000, 0, 0, 0},
    {"w83627-88", "IOCTL_DIO_GET_CONFIG", 0x00000000, 0, 0, 0},
    {"w83627-88", "IOCTL_DIO_GET_INPUT", 0x00000000, 7, 1, 0},
    {"w83627-88", "IOCTL_DIO_SET_OUTPUT", 0x00000000, 7, 1, 0},
    {"w83627-88", "IOCTL_DIO_GET_OUTPUT", 0x00000000, 7, 1, 0},
    {"w83627-88", "IOCTL_WDT_SET_TIMEOUT", 0x00000000, 11, 1, 0},
    {"w83627-88", "IOCTL_WDT_GET_TIMEOUT", 0x00000000, 0, 0, 0},
    {"w83627-88", "IOCTL_WDT_START", 0x00000000, 7, 1, 0},
    {"w83627-88", "IOCTL_WDT_RESET", 0x00000000, 7, 1, 0},
    {"w83627-88", "IOCTL_WDT_STOP", 0x00000000, 7, 1, 0},
    {"w83627-88", "IOCTL_DIO_CD_GET_INPUTS", 0xc00000bb, 0, 0, 0},
    {"w83627-88", "IOCTL_DIO_CD_GET_OUTPUT_COUNT", 0xc00000bb, 0, 0, 0},
    {"w83627-88", "IOCTL_DIO_CD_SET_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"w83627-88", "IOCTL_DIO_CD_PULSE_OUTPUT", 0xc00000bb, 0, 0, 0},
    {"w83627-88", "IOCTL_DIO_SET_SPECIFIC_MASK", 0xc00000bb, 0, 0, 0},
};
// clang-format on

std::string rowText(const std::string& board, const char* kind, const zrvtest::RequestCost& c) {
    return fmt::format("    {{\"{}\", \"{}\", 0x{:08x}, {}, {}, {}}},", board, kind,
                       static_cast<uint32_t>(c.status), c.ports, c.locks, c.allocations);
}

const Row* findRow(const std::string& board, const std::string& kind) {
    for (const Row& row : kCensus)
        if (board == row.board && kind == row.kind) return &row;
    return nullptr;
}

TEST(Census, EveryRequestOnEveryExampleBoardCostsWhatTheTableSays) {
    std::string missing;
    std::set<std::pair<std::string, std::string>> measured;
    for (const auto& example : zrvtest::exampleBoards(ZRV_SOURCE_DIR)) {
        SCOPED_TRACE(example.name);
        zrvtest::SimBoard board;
        sim::loadBoard(board.machine(), example.path);
        ASSERT_EQ(board.load(), ZRV_STATUS_SUCCESS);
        int handle = 0;
        ASSERT_EQ(board.machine().open(ZRV_USER_DEVICE_NAME, sim::Access::ReadWrite, &handle),
                  ZRV_STATUS_SUCCESS);
        for (const auto& kind : zrvtest::requestKinds()) {
            const zrvtest::RequestCost cost = zrvtest::measureRequest(board.machine(), handle, kind);
            measured.insert({example.name, kind.name});
            // Rules that hold whatever the table says.
            EXPECT_EQ(cost.allocations, 0u) << kind.name << ": a request takes no pool memory";
            EXPECT_EQ(cost.locks, cost.releases) << kind.name << ": every lock taken is released";
            const Row* row = findRow(example.name, kind.name);
            if (row == nullptr) {
                missing += rowText(example.name, kind.name, cost) + "\n";
                continue;
            }
            const std::string got = rowText(example.name, kind.name, cost);
            EXPECT_EQ(static_cast<uint32_t>(cost.status), row->status) << got;
            EXPECT_EQ(cost.ports, row->ports) << kind.name << ": port accesses\n" << got;
            EXPECT_EQ(cost.locks, row->locks) << kind.name << ": lock acquisitions\n" << got;
            EXPECT_EQ(cost.allocations, row->allocations) << kind.name << ": pool allocations\n" << got;
        }
        board.machine().close(handle);
        board.unload();
        EXPECT_TRUE(board.violations().empty()) << board.violations().front();
    }
    EXPECT_TRUE(missing.empty()) << "boards or request kinds with no row in the census; measured:\n"
                                 << missing;
    for (const Row& row : kCensus)
        EXPECT_TRUE(measured.count({row.board, row.kind}) != 0)
            << "row for a board or request kind that no longer exists: " << row.board << " " << row.kind;
}

}  // namespace
