// The control device of the machine the Windows client runs on.
#pragma once

#include "client/session.h"

namespace zrvctl {

// Each request opens "\\.\ZRVDev" with the access it asks for (read, or
// read and write), sends one DeviceIoControl and closes the handle again,
// so that the I/O manager checks the access field of every request code
// against the handle, as the Linux client's simulator does.
class WinDevice : public Device {
public:
    Reply ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                HandleAccess access) override;
    // Opens and closes the device once; throws ClientError when it cannot.
    void probe();
};

// The kernel status behind the calling thread's last failed call.
int32_t lastKernelStatus();

}  // namespace zrvctl
