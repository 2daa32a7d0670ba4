// How a device reaches its driver: the control device of zorvik.sys, the
// driver on a virtual board in this process, or a caller's own transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zorvik/zorvik.h"

namespace zorvik {

// A value of the board's registry configuration, as the driver reads it.
struct RegValue {
    std::string name;
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

class Transport {
public:
    virtual ~Transport() = default;
    // One request; the completion status, with the bytes returned.
    virtual int32_t request(uint32_t code, const void* in, size_t inLen, void* out, size_t outLen,
                            size_t* returned) = 0;
    // The number of platform or port-protocol rules the calling thread's
    // requests have broken so far; only a virtual board can tell.
    virtual uint64_t brokenRules() { return 0; }
    // What the driver's load recorded of a function (ZRV_REASON_*).
    virtual int loadReason(unsigned, unsigned*) { return ZRV_ENOTSUP; }

    // ---- The virtual board behind the driver; ZRV_ENOTSUP elsewhere -------
    virtual int advance(uint64_t) { return ZRV_ENOTSUP; }
    virtual int now(uint64_t*) { return ZRV_ENOTSUP; }
    // The times of the board resets so far, in ms, device by device.
    virtual int resets(std::vector<uint64_t>&) { return ZRV_ENOTSUP; }
    // ZRV_EINVAL when no device of the board has the line.
    virtual int setPin(const std::string&, bool) { return ZRV_ENOTSUP; }
    virtual int pin(const std::string&, bool*) { return ZRV_ENOTSUP; }
    virtual int registryFile(std::string&) { return ZRV_ENOTSUP; }
    // ZRV_EINVAL when the key is absent.
    virtual int registryValues(const std::string&, std::vector<RegValue>&) { return ZRV_ENOTSUP; }
    virtual int unload() { return ZRV_ENOTSUP; }
    virtual int breaches(unsigned, std::vector<std::string>&) { return ZRV_ENOTSUP; }
};

// The platform's own target (zrv_open, zrv_open_ex): 0 or a ZRV_E* code.
int openTarget(const char* target, unsigned flags, std::unique_ptr<Transport>& out);
// A virtual board by its board file (zrv_board_open): on failure the
// driver's load status, or why the board file was refused.
int openBoard(const char* file, std::unique_ptr<Transport>& out, int32_t* loadStatus, std::string& why);
// The files the next virtual board loaded writes (zrv_board_files).
int boardFiles(const char* trace, const char* dbg);

}  // namespace zorvik
