// How a device reaches its driver: the control device of zorvik.sys, the
// driver on a virtual board in this process, or a caller's own transport.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "zorvik/zorvik.h"

namespace zorvik {

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
    virtual int advance(unsigned) { return ZRV_ENOTSUP; }
    virtual int resets(unsigned*) { return ZRV_ENOTSUP; }
};

// The platform's own target (zrv_open): 0 or a ZRV_E* code.
int openTarget(const char* target, std::unique_ptr<Transport>& out);

}  // namespace zorvik
