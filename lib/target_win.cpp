// The Windows build: the control device "\\.\ZRVDev" of zorvik.sys, one
// handle opened for reading and writing per device. The I/O manager checks
// each request's access field against the handle and serialises nothing,
// so concurrent requests on one handle are as safe as the driver makes them.
#include <windows.h>

#include "lib/transport.h"

namespace zorvik {

namespace {

// Win32 errors back to kernel statuses, for a system whose ntdll cannot
// tell the status itself. Only the statuses the driver and the I/O manager
// give are listed.
struct Win32Status {
    DWORD error;
    int32_t status;
};
const Win32Status kWin32Statuses[] = {
    {ERROR_GEN_FAILURE, ZRV_STATUS_UNSUCCESSFUL},
    {ERROR_INVALID_FUNCTION, ZRV_STATUS_NOT_IMPLEMENTED},
    {ERROR_INVALID_PARAMETER, ZRV_STATUS_INVALID_PARAMETER},
    {ERROR_ACCESS_DENIED, ZRV_STATUS_ACCESS_DENIED},
    {ERROR_NO_SYSTEM_RESOURCES, ZRV_STATUS_INSUFFICIENT_RESOURCES},
    {ERROR_NOT_SUPPORTED, ZRV_STATUS_NOT_SUPPORTED},
};

int32_t lastStatus() {
    const DWORD error = GetLastError();
    // Windows XP's ntdll keeps the status a failed call ended with in the
    // thread; the Win32 error maps several statuses to one.
    using GetLastNtStatus = LONG(WINAPI*)();
    static const GetLastNtStatus get = reinterpret_cast<GetLastNtStatus>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetLastNtStatus")));
    if (get != nullptr) {
        const int32_t status = static_cast<int32_t>(get());
        if (status < 0) return status;
    }
    for (const Win32Status& w : kWin32Statuses)
        if (w.error == error) return w.status;
    return ZRV_STATUS_UNSUCCESSFUL;
}

class DeviceTransport : public Transport {
public:
    explicit DeviceTransport(HANDLE h) : handle_(h) {}
    ~DeviceTransport() override { CloseHandle(handle_); }
    DeviceTransport(const DeviceTransport&) = delete;
    DeviceTransport& operator=(const DeviceTransport&) = delete;

    int32_t request(uint32_t code, const void* in, size_t inLen, void* out, size_t outLen,
                    size_t* returned) override {
        DWORD n = 0;
        const BOOL ok = DeviceIoControl(handle_, code, const_cast<void*>(in), static_cast<DWORD>(inLen), out,
                                        static_cast<DWORD>(outLen), &n, nullptr);
        *returned = n;
        return ok ? ZRV_STATUS_SUCCESS : lastStatus();
    }

private:
    HANDLE handle_;
};

}  // namespace

int openTarget(const char* target, std::unique_ptr<Transport>& out) {
    if (target != nullptr && *target != '\0') return ZRV_ENODEV;  // the machine's own device only
    HANDLE h =
        CreateFileA(ZRV_USER_DEVICE_NAME, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED ? ZRV_EACCES : ZRV_ENODEV;
    out = std::make_unique<DeviceTransport>(h);
    return ZRV_OK;
}

}  // namespace zorvik
