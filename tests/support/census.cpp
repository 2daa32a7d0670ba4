#include "tests/support/census.h"

namespace zrvtest {

RequestCost measureRequest(sim::Machine& machine, int handle, const RequestKind& kind) {
    const uint64_t ports = machine.bus().accessCount();
    const uint64_t locks = machine.lockAcquisitions();
    const uint64_t releases = machine.lockReleases();
    const uint32_t allocations = machine.allocationCount();
    const sim::IoResult r = machine.ioctl(handle, kind.code, kind.input, kind.outputLength);
    return RequestCost{r.status, machine.bus().accessCount() - ports, machine.lockAcquisitions() - locks,
                       machine.lockReleases() - releases, machine.allocationCount() - allocations};
}

}  // namespace zrvtest
