// The Windows build: the control device "\\.\ZRVDev" of zorvik.sys, one
// handle per device, opened for reading and writing, or for reading only
// (ZRV_OPEN_READ_ONLY), and the load's report the driver leaves in the
// registry. There is no virtual board here. The I/O manager checks
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

    // The report the driver's last load left under its service key
    // (zorvik/reasons.h); not there from a driver older than the report.
    int loadReason(unsigned function, unsigned* reason) override {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, ZRV_SERVICE_KEY_USER "\\" ZRV_LOAD_REPORT_KEY, 0,
                          KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
            return ZRV_ENOTSUP;
        BYTE reasons[64];
        DWORD type = 0, length = sizeof reasons;
        const LONG read = RegQueryValueExA(key, ZRV_LOAD_REPORT_VALUE, nullptr, &type, reasons, &length);
        RegCloseKey(key);
        if (read != ERROR_SUCCESS || type != REG_BINARY || length <= function) return ZRV_ENOTSUP;
        if (reason != nullptr) *reason = reasons[function];
        return ZRV_OK;
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
