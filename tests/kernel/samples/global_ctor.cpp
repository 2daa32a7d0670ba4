// A driver image with a global constructor, which no kernel would ever run:
// tools/check_sys.py must refuse it.
#include "platform/kernel/kernel.h"

namespace {
volatile ULONG seed = 7;
struct Counter {
    Counter() : value(seed * 3) {}
    ULONG value;
};
Counter counter;
}  // namespace

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT, PUNICODE_STRING) {
    return counter.value == 0 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}
