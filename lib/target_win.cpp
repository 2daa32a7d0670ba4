// The Windows build: the control device "\\.\ZRVDev" of zorvik.sys, one
// handle per device, opened for reading and writing, or for reading only
// (ZRV_OPEN_READ_ONLY). There is no virtual board here. The I/O manager checks
// each request's access field against the handle and serialises nothing,
// so concurrent requests on one handle are as safe as the driver makes them.
#include <windows.h>

#include "lib/last_status.h"
#include "lib/transport.h"

namespace zorvik {

namespace {

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
        return ok ? ZRV_STATUS_SUCCESS : lastKernelStatus();
    }

private:
    HANDLE handle_;
};

}  // namespace

int openTarget(const char* target, unsigned flags, std::unique_ptr<Transport>& out) {
    if (target != nullptr && *target != '\0') return ZRV_ENODEV;  // the machine's own device only
    // The I/O manager checks each request's access field against the handle.
    const DWORD access = (flags & ZRV_OPEN_READ_ONLY) != 0 ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    HANDLE h = CreateFileA(ZRV_USER_DEVICE_NAME, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_ACCESS_DENIED ? ZRV_EACCES : ZRV_ENODEV;
    out = std::make_unique<DeviceTransport>(h);
    return ZRV_OK;
}

int openBoard(const char*, std::unique_ptr<Transport>&, int32_t*, std::string&) { return ZRV_ENOTSUP; }
int boardFiles(const char*, const char*) { return ZRV_ENOTSUP; }

}  // namespace zorvik
