// The kernel status behind the calling thread's last failed call, for the
// user-mode programs on the control device (zorvik.dll and zrvctl.exe both
// include it). Header-only: each image keeps its own copy.
#pragma once

#include <windows.h>

#include <cstdint>

#include "zorvik/ioctl.h"

namespace zorvik {

// Win32 errors back to kernel statuses, for a system whose ntdll cannot
// tell the status itself. Only the statuses the driver and the I/O manager
// give are listed; a failed call never maps to success.
struct Win32Status {
    DWORD error;
    int32_t status;
};
inline constexpr Win32Status kWin32Statuses[] = {
    {ERROR_GEN_FAILURE, ZRV_STATUS_UNSUCCESSFUL},
    {ERROR_INVALID_FUNCTION, ZRV_STATUS_NOT_IMPLEMENTED},
    {ERROR_INVALID_PARAMETER, ZRV_STATUS_INVALID_PARAMETER},
    {ERROR_ACCESS_DENIED, ZRV_STATUS_ACCESS_DENIED},
    {ERROR_NO_SYSTEM_RESOURCES, ZRV_STATUS_INSUFFICIENT_RESOURCES},
    {ERROR_NOT_SUPPORTED, ZRV_STATUS_NOT_SUPPORTED},
    {ERROR_BAD_COMMAND, ZRV_STATUS_INVALID_DEVICE_STATE},       // a watchdog with no count
    {ERROR_FILE_NOT_FOUND, static_cast<int32_t>(0xC0000034u)},  // object name not found
};

// Call right after the failed call, before anything else sets the error.
inline int32_t lastKernelStatus() {
    const DWORD error = GetLastError();
    // Windows XP's ntdll keeps the status a failed call ended with in the
    // thread (RtlGetLastNtStatus); the Win32 error maps several statuses to
    // one, so use it only when the status is not to be had.
    using GetLastNtStatus = LONG(WINAPI*)();
    static const GetLastNtStatus get = reinterpret_cast<GetLastNtStatus>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetLastNtStatus")));
    if (get != nullptr) {
        const int32_t status = static_cast<int32_t>(get());
        if (status < 0) return status;
    }
    for (const Win32Status& w : kWin32Statuses)
        if (w.error == error) return w.status;
    if (error == ERROR_SUCCESS) return ZRV_STATUS_UNSUCCESSFUL;
    return static_cast<int32_t>(0xC0070000u | (error & 0xFFFFu));  // a Win32 error as a status
}

}  // namespace zorvik
