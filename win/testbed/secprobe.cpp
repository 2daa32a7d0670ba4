// zrvsecprobe.sys: a testbed-only driver that looks at the control device
// from inside the kernel, where its security descriptor lives, and prints
// what it finds with DbgPrint:
//
//   zrvsecprobe: type 0x8820
//   zrvsecprobe: characteristics 0x00000100
//   zrvsecprobe: allow S-1-5-18 0x001f01ff
//   zrvsecprobe: allow S-1-5-32-544 0x001f01ff
//
// Under Wine a user-mode open does not reach the device's own descriptor,
// so the Wine suite loads this probe into the same driver host as
// zorvik.sys (same service group) after it. Never installed on a machine.
#include "platform/kernel/kernel.h"

namespace {

// The SIDs of interest have one or two sub-authorities.
void PrintSid(const char* kind, PSID sid, ACCESS_MASK mask) {
    const SID* s = static_cast<const SID*>(sid);
    ULONG authority = 0;
    for (int i = 2; i < 6; ++i) authority = authority << 8 | s->IdentifierAuthority.Value[i];
    if (s->SubAuthorityCount == 1)
        DbgPrint("zrvsecprobe: %s S-%u-%lu-%lu 0x%08lx\n", kind, s->Revision, authority, s->SubAuthority[0],
                 mask);
    else if (s->SubAuthorityCount == 2)
        DbgPrint("zrvsecprobe: %s S-%u-%lu-%lu-%lu 0x%08lx\n", kind, s->Revision, authority,
                 s->SubAuthority[0], s->SubAuthority[1], mask);
    else
        DbgPrint("zrvsecprobe: %s a SID with %u sub-authorities 0x%08lx\n", kind, s->SubAuthorityCount, mask);
}

void Report(PDEVICE_OBJECT device) {
    DbgPrint("zrvsecprobe: type 0x%04lx\n", device->DeviceType);
    DbgPrint("zrvsecprobe: characteristics 0x%08lx\n", device->Characteristics);
    HANDLE handle = nullptr;
    NTSTATUS status =
        ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, READ_CONTROL, nullptr, KernelMode, &handle);
    if (!NT_SUCCESS(status)) {
        DbgPrint("zrvsecprobe: cannot open the device object: 0x%08lx\n", status);
        return;
    }
    static ULONG buffer[256];
    ULONG needed = 0;
    status = ZwQuerySecurityObject(handle, DACL_SECURITY_INFORMATION, buffer, sizeof buffer, &needed);
    ZwClose(handle);
    if (!NT_SUCCESS(status)) {
        DbgPrint("zrvsecprobe: cannot read the security: 0x%08lx\n", status);
        return;
    }
    BOOLEAN present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    status = RtlGetDaclSecurityDescriptor(buffer, &present, &dacl, &defaulted);
    if (!NT_SUCCESS(status) || !present || dacl == nullptr) {
        DbgPrint("zrvsecprobe: no dacl\n");
        return;
    }
    for (ULONG i = 0; i < dacl->AceCount; ++i) {
        PACE_HEADER ace = nullptr;
        if (!NT_SUCCESS(RtlGetAce(dacl, i, reinterpret_cast<PVOID*>(&ace)))) break;
        if (ace->AceType == ACCESS_ALLOWED_ACE_TYPE) {
            auto* allowed = reinterpret_cast<PACCESS_ALLOWED_ACE>(ace);
            PrintSid("allow", &allowed->SidStart, allowed->Mask);
        } else if (ace->AceType == ACCESS_DENIED_ACE_TYPE) {
            auto* denied = reinterpret_cast<PACCESS_DENIED_ACE>(ace);
            PrintSid("deny", &denied->SidStart, denied->Mask);
        } else {
            DbgPrint("zrvsecprobe: entry of type %u\n", ace->AceType);
        }
    }
}

VOID NTAPI Unload(PDRIVER_OBJECT) {}

}  // namespace

// Not declared by the toolchain's headers.
extern "C" __declspec(dllimport) POBJECT_TYPE* IoDriverObjectType;

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    driver->DriverUnload = Unload;
    // The control device through its driver object: the driver's only device.
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, const_cast<PWSTR>(L"\\Driver\\zorvik"));
    PVOID object = nullptr;
    NTSTATUS status = ObReferenceObjectByName(&name, OBJ_CASE_INSENSITIVE, nullptr, 0, *IoDriverObjectType,
                                              KernelMode, nullptr, &object);
    if (!NT_SUCCESS(status)) {
        DbgPrint("zrvsecprobe: no \\Driver\\zorvik: 0x%08lx\n", status);
        return STATUS_SUCCESS;
    }
    PDRIVER_OBJECT zorvik = static_cast<PDRIVER_OBJECT>(object);
    if (zorvik->DeviceObject == nullptr)
        DbgPrint("zrvsecprobe: \\Driver\\zorvik has no device\n");
    else
        Report(zorvik->DeviceObject);
    ObDereferenceObject(object);
    return STATUS_SUCCESS;
}
