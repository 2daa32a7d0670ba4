// What the client talks to: the control device, on the virtual board or on
// a real machine, and, on the virtual board only, the board itself.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zorvik/ioctl.h"

namespace zrvctl {

struct Reply {
    int32_t status = 0;
    uint32_t bytes = 0;
    std::vector<uint8_t> data;
};

enum class HandleAccess { Read, ReadWrite };

class Device {
public:
    virtual ~Device() = default;
    // One request on a handle opened with `access` for it.
    virtual Reply ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                        HandleAccess access) = 0;
};

// A client failure with a message for standard error.
struct ClientError {
    std::string message;
};

}  // namespace zrvctl
