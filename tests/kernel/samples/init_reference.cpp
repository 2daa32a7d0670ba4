// A driver image whose resident code calls a routine of its INIT section and
// whose resident table holds that routine's address, both of which would
// reach freed memory once the entry has returned: tools/check_sys.py must
// refuse it.
#include "platform/kernel/kernel.h"

namespace {
volatile ULONG seed = 7;
__attribute__((noinline)) ZRV_INIT ULONG LoadOnly(ULONG v) { return v * seed + 1; }
__attribute__((noinline)) ULONG Resident(ULONG v) { return LoadOnly(v) + 2; }
}  // namespace

extern "C" __attribute__((used)) ULONG (*const LoadOnlyTable[])(ULONG) = {LoadOnly};

extern "C" ZRV_INIT NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT, PUNICODE_STRING) {
    return Resident(seed) + LoadOnlyTable[seed & 0](seed) == 0 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}
