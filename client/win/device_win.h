// The control device of the machine the Windows client runs on.
#pragma once

#include <windows.h>

#include "client/session.h"

namespace zrvctl {

// "\\.\ZRVDev" with one handle per access mode (read, or read and write)
// for the whole run, opened at the first request that asks for it, so that
// the I/O manager checks the access field of every request code against
// the handle, as the Linux client's simulator does.
class WinDevice : public Device {
public:
    WinDevice() = default;
    ~WinDevice() override;
    WinDevice(const WinDevice&) = delete;
    WinDevice& operator=(const WinDevice&) = delete;

    Reply ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                HandleAccess access) override;
    // Opens the device for reading; throws ClientError saying whether the
    // driver is not installed or the caller lacks the rights.
    void probe();

private:
    HANDLE handle(HandleAccess access);
    HANDLE read_ = INVALID_HANDLE_VALUE;
    HANDLE readWrite_ = INVALID_HANDLE_VALUE;
};

}  // namespace zrvctl
