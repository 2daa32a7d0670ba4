// A driver image that calls a kernel routine Windows XP does not have
// (KeQueryActiveProcessorCount came with Vista): tools/check_sys.py must
// refuse it.
#include "platform/kernel/kernel.h"

extern "C" __declspec(dllimport) ULONG NTAPI KeQueryActiveProcessorCount(PKAFFINITY ActiveProcessors);

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT, PUNICODE_STRING) {
    return KeQueryActiveProcessorCount(nullptr) > 0 ? STATUS_SUCCESS : STATUS_UNSUCCESSFUL;
}
