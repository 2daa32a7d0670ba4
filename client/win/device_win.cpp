#include "client/win/device_win.h"

#include <fmt/format.h>
#include <windows.h>

#include "client/commands.h"
#include "lib/last_status.h"

namespace zrvctl {

namespace {

HANDLE OpenDevice(HandleAccess access) {
    const DWORD desired = access == HandleAccess::Read ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    return CreateFileA(ZRV_USER_DEVICE_NAME, desired, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

// Why the device cannot be opened, in the words an operator acts on.
static std::string openFailure(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return fmt::format(
                "zorvik is not installed or not running (no {}): run install.cmd, or sc start zorvik",
                ZRV_USER_DEVICE_NAME);
        case ERROR_ACCESS_DENIED:
            return fmt::format("run as administrator: only Administrators and the local system may open {}",
                               ZRV_USER_DEVICE_NAME);
        default:
            return fmt::format("cannot open {}: {}", ZRV_USER_DEVICE_NAME,
                               statusName(zorvik::lastKernelStatus()));
    }
}

WinDevice::~WinDevice() {
    for (HANDLE h : {read_, readWrite_})
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

HANDLE WinDevice::handle(HandleAccess access) {
    HANDLE& h = access == HandleAccess::Read ? read_ : readWrite_;
    if (h == INVALID_HANDLE_VALUE) {
        h = OpenDevice(access);
        if (h == INVALID_HANDLE_VALUE) throw ClientError{openFailure(GetLastError()), kExitNoDriver};
    }
    return h;
}

Reply WinDevice::ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                       HandleAccess access) {
    HANDLE device = handle(access);
    std::vector<uint8_t> in = input;
    std::vector<uint8_t> out(outputLength);
    DWORD returned = 0;
    const BOOL ok =
        DeviceIoControl(device, code, in.empty() ? nullptr : in.data(), static_cast<DWORD>(in.size()),
                        out.empty() ? nullptr : out.data(), outputLength, &returned, nullptr);
    const int32_t status = ok ? ZRV_STATUS_SUCCESS : zorvik::lastKernelStatus();
    if (returned > outputLength) returned = outputLength;
    return Reply{status, static_cast<uint32_t>(returned),
                 std::vector<uint8_t>(out.begin(), out.begin() + returned)};
}

void WinDevice::probe() { handle(HandleAccess::Read); }

}  // namespace zrvctl
