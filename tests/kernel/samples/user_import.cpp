// A driver image that imports from a user-mode DLL (kernel32.dll), which the
// kernel's loader cannot resolve: tools/check_sys.py must refuse it.
#include "platform/kernel/kernel.h"

extern "C" __declspec(dllimport) void __stdcall Sleep(ULONG milliseconds);

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT, PUNICODE_STRING) {
    Sleep(1);
    return STATUS_SUCCESS;
}
