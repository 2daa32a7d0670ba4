// Table rows over whole boards: the hardware as a board file gives it, the
// driver loaded on it with some registry text, then requests. Each row checks
// the port accesses and debugger lines of the load, what each request
// answers (and touched), and the board resets a watchdog caused.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/harness.h"

namespace zrvtest {

using Lines = std::vector<std::string>;

inline const Lines kAny = {"*"};  // not compared
constexpr ZrvStatus kOk = ZRV_STATUS_SUCCESS;
constexpr ZrvStatus kNotBound = ZRV_STATUS_NOT_SUPPORTED;

struct RowRequest {
    uint32_t code;
    std::vector<uint8_t> input;
    uint32_t outLen;
    ZrvStatus status;
    std::vector<uint8_t> reply = {};  // the answer's first bytes
    Lines trace = kAny;
};
struct BoardRow {
    std::string what;
    std::string hardware;  // board-file hardware entries
    std::string registry;
    Lines loadTrace;
    Lines loadDebug;
    std::vector<RowRequest> requests;
    uint64_t runMs = 0;  // virtual time after the requests
    size_t resets = 0;   // board resets by then, none a millisecond earlier
};

// Loads the row's board on a virtual board of its own and checks it; the
// driver is unloaded at the end and no rule may have been broken.
void run(const BoardRow& row);

// A board-file hardware entry of `type` at `port` with this chip ID and
// more of the entry's members (`body`, without braces).
std::string chip(const char* type, uint32_t id, const std::string& body, uint16_t port = 0x2E);

// A board of its own with one emulated device, for table rows that need a
// fresh load each: it ends unloaded, with no rule broken.
template <typename Device>
struct OneDevice {
    template <typename... Args>
    explicit OneDevice(Args&&... args)
        : device(board.attach(std::make_unique<Device>(std::forward<Args>(args)...))) {}
    ~OneDevice() {
        board.unload();
        const auto v = board.violations();
        EXPECT_TRUE(v.empty()) << v.front();
    }
    SimBoard board;
    Device& device;
};

// The emulator that one board-file hardware entry makes, as its own type.
template <typename Chip>
std::unique_ptr<Chip> fromEntry(const std::string& entry) {
    auto device = Chip::fromBoard(nlohmann::json::parse(entry), "b.json: hardware[0]");
    return std::unique_ptr<Chip>(static_cast<Chip*>(device.release()));
}

}  // namespace zrvtest
