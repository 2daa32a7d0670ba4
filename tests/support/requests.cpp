#include "tests/support/requests.h"

#include <algorithm>
#include <filesystem>

#include "tests/support/board_files.h"
#include "zorvik/requests.h"

namespace zrvtest {

std::vector<uint8_t> wellFormedRecord(uint32_t code) {
    switch (code) {
        case IOCTL_HWM_FAN_CONTROL: return {0, 1, 0x40, 0, 0, 0, 0, 0};  // fan 1, duty 0x40
        case IOCTL_SPARE_1:
        case IOCTL_SPARE_2: return {0x34, 0x12};
        case IOCTL_DIO_SET_OUTPUT: return {0x05, 0x00};
        case IOCTL_WDT_SET_TIMEOUT: return {30, 0, 1, 0};  // 30 seconds
        case IOCTL_DIO_CD_SET_OUTPUT: return {0x11};       // output 1 on
        case IOCTL_DIO_CD_PULSE_OUTPUT: return {0x01};
        case IOCTL_DIO_SET_SPECIFIC_MASK: return {0x0F};
        default: return {};
    }
}

const std::vector<RequestKind>& requestKinds() {
    static const std::vector<RequestKind> kinds = [] {
        static const ZrvRequestInfo requests[] = {ZRV_REQUESTS(ZRV_REQUEST_INFO)};
        std::vector<RequestKind> out;
        for (const ZrvRequestInfo& q : requests)
            out.push_back(
                {q.Name, q.Code, wellFormedRecord(q.Code), std::max<uint32_t>(q.MinOutput, q.MinInput)});
        return out;
    }();
    return kinds;
}

std::vector<ExampleBoard> exampleBoards(const std::string& sourceDir) {
    std::vector<ExampleBoard> boards;
    for (const auto& path : boardFilesIn(std::filesystem::path(sourceDir) / "boards"))
        boards.push_back({path.stem().string(), path.string()});
    return boards;
}

}  // namespace zrvtest
