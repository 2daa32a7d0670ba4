// Windows XP's ntoskrnl has no IoCreateDeviceSecure, so the descriptor is
// built with the Rtl security routines and put on the device through a
// kernel handle to it. Every routine used here is an ntoskrnl export of XP.
#include "platform/kernel/device_security.h"

namespace {

// The two well-known SIDs, laid out as the kernel's SID structure: revision
// 1, the NT authority (5), then the sub-authorities.
struct WellKnownSid {
    UCHAR Revision;
    UCHAR SubAuthorityCount;
    UCHAR IdentifierAuthority[6];
    ULONG SubAuthority[2];
};

ZRV_INIT_DATA const WellKnownSid kLocalSystem = {SID_REVISION, 1, {0, 0, 0, 0, 0, 5}, {18, 0}};  // S-1-5-18
ZRV_INIT_DATA const WellKnownSid kAdministrators = {
    SID_REVISION, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};  // S-1-5-32-544

ULONG SidLength(const WellKnownSid& sid) { return 8 + 4u * sid.SubAuthorityCount; }
PSID AsSid(const WellKnownSid& sid) { return const_cast<WellKnownSid*>(&sid); }

// Header of an access-allowed entry without its SID: header, mask.
constexpr ULONG kAllowedAceHeader = sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG);

}  // namespace

ZRV_INIT NTSTATUS RestrictToAdministratorsAndSystem(PDEVICE_OBJECT device) {
    const ULONG aclBytes = sizeof(ACL) + kAllowedAceHeader + SidLength(kLocalSystem) + kAllowedAceHeader +
                           SidLength(kAdministrators);
    ULONG aclStorage[16];  // 52 bytes needed, ULONG-aligned as an ACL must be
    static_assert(
        sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) - sizeof(ULONG)) + 12 + 16 <= sizeof(aclStorage),
        "the ACL fits its storage");
    PACL acl = reinterpret_cast<PACL>(aclStorage);

    NTSTATUS status = RtlCreateAcl(acl, aclBytes, ACL_REVISION);
    if (!NT_SUCCESS(status)) return status;
    // The device's specific rights, spelt out: a generic right in an entry
    // is mapped only by some of the routines that install a descriptor.
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, AsSid(kLocalSystem));
    if (!NT_SUCCESS(status)) return status;
    status = RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, AsSid(kAdministrators));
    if (!NT_SUCCESS(status)) return status;

    SECURITY_DESCRIPTOR descriptor;
    status = RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION);
    if (!NT_SUCCESS(status)) return status;
    status = RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE);
    if (!NT_SUCCESS(status)) return status;

    // A kernel handle with WRITE_DAC only.
    HANDLE handle = nullptr;
    status =
        ObOpenObjectByPointer(device, OBJ_KERNEL_HANDLE, nullptr, WRITE_DAC, nullptr, KernelMode, &handle);
    if (!NT_SUCCESS(status)) return status;
    status = ZwSetSecurityObject(handle, DACL_SECURITY_INFORMATION, &descriptor);
    ZwClose(handle);
    return status;
}
