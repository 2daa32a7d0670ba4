#include "tests/support/requests.h"

#include <algorithm>
#include <filesystem>

#include "tests/support/board_files.h"
#include "zorvik/ioctl.h"

namespace zrvtest {

const std::vector<RequestKind>& requestKinds() {
    static const std::vector<RequestKind> kinds = {
        {"IOCTL_HWM_GET_DATA", IOCTL_HWM_GET_DATA, {}, 36},
        {"IOCTL_HWM_FAN_CONTROL", IOCTL_HWM_FAN_CONTROL, {0, 1, 0x40, 0, 0, 0, 0, 0}, 8},
        {"IOCTL_SPARE_1", IOCTL_SPARE_1, {0x34, 0x12}, 2},
        {"IOCTL_SPARE_2", IOCTL_SPARE_2, {0x34, 0x12}, 2},
        {"IOCTL_DIO_GET_CONFIG", IOCTL_DIO_GET_CONFIG, {}, 2},
        {"IOCTL_DIO_GET_INPUT", IOCTL_DIO_GET_INPUT, {}, 2},
        {"IOCTL_DIO_SET_OUTPUT", IOCTL_DIO_SET_OUTPUT, {0x05, 0x00}, 0},
        {"IOCTL_DIO_GET_OUTPUT", IOCTL_DIO_GET_OUTPUT, {}, 2},
        {"IOCTL_WDT_SET_TIMEOUT", IOCTL_WDT_SET_TIMEOUT, {30, 0, 1, 0}, 0},
        {"IOCTL_WDT_GET_TIMEOUT", IOCTL_WDT_GET_TIMEOUT, {}, 4},
        {"IOCTL_WDT_START", IOCTL_WDT_START, {}, 0},
        {"IOCTL_WDT_RESET", IOCTL_WDT_RESET, {}, 0},
        {"IOCTL_WDT_STOP", IOCTL_WDT_STOP, {}, 0},
        {"IOCTL_DIO_CD_GET_INPUTS", IOCTL_DIO_CD_GET_INPUTS, {}, 1},
        {"IOCTL_DIO_CD_GET_OUTPUT_COUNT", IOCTL_DIO_CD_GET_OUTPUT_COUNT, {}, 1},
        {"IOCTL_DIO_CD_SET_OUTPUT", IOCTL_DIO_CD_SET_OUTPUT, {0x11}, 0},
        {"IOCTL_DIO_CD_PULSE_OUTPUT", IOCTL_DIO_CD_PULSE_OUTPUT, {0x01}, 0},
        {"IOCTL_DIO_SET_SPECIFIC_MASK", IOCTL_DIO_SET_SPECIFIC_MASK, {0x0F}, 0},
    };
    return kinds;
}

std::vector<ExampleBoard> exampleBoards(const std::string& sourceDir) {
    std::vector<ExampleBoard> boards;
    for (const auto& path : boardFilesIn(std::filesystem::path(sourceDir) / "boards"))
        boards.push_back({path.stem().string(), path.string()});
    return boards;
}

}  // namespace zrvtest
