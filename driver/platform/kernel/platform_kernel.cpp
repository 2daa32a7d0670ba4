// The platform layer in the Windows kernel. Every operation of
// platform/platform.h maps onto one or a few routines that the ntoskrnl.exe
// and hal.dll of Windows XP export; tools/check_sys.py checks the image's
// import table against that list. The driver imports nothing from the HAL
// but the two byte-port routines.
//
// Kernel entry points run at PASSIVE_LEVEL: DriverEntry and DriverUnload in
// the system process, the dispatch in the requesting thread.
#include "platform/kernel/device_security.h"
#include "platform/kernel/kernel.h"
#include "zorvik/reasons.h"

namespace {

// The core's routines, registered by PlatSetDriverRoutines during DriverEntry
// and only read afterwards.
ZRV_GLOBAL ZrvDispatchRoutine CoreDispatch;
ZRV_GLOBAL ZrvUnloadRoutine CoreUnload;
// The service key DriverEntry was given, while it runs: the kernel's string
// is only valid until DriverEntry returns, and nothing after uses it.
ZRV_GLOBAL PUNICODE_STRING ServiceKeyPath;

PDRIVER_OBJECT KernelDriver(PlatDriver* driver) { return reinterpret_cast<PDRIVER_OBJECT>(driver); }
PDEVICE_OBJECT KernelDevice(PlatDevice* device) { return reinterpret_cast<PDEVICE_OBJECT>(device); }

// Create, close and device control of the control device: the request as
// the core sees it, built from the IRP. Every request code of the driver uses
// buffered transfer, so the one system buffer holds the input and receives
// the output; a code with another transfer method is not in the core's table
// and is refused without the buffer being touched.
NTSTATUS NTAPI DispatchIrp(PDEVICE_OBJECT device, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    ZrvRequest request;
    request.Major = stack->MajorFunction;
    request.Code = 0;
    request.InputLength = 0;
    request.OutputLength = 0;
    request.Buffer = nullptr;
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        request.Code = stack->Parameters.DeviceIoControl.IoControlCode;
        request.InputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
        request.OutputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
        request.Buffer = static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer);
    }
    request.Status = STATUS_UNSUCCESSFUL;
    request.Information = 0;
    request.PlatformRequest = irp;
    // The core completes the IRP before it returns; it must not be touched
    // after that.
    return CoreDispatch(reinterpret_cast<PlatDevice*>(device), &request);
}

VOID NTAPI UnloadDriver(PDRIVER_OBJECT driver) { CoreUnload(reinterpret_cast<PlatDriver*>(driver)); }

// Value reader for PlatRegQueryDwords: the kernel hands over each value of
// the query table with its real type and length, and only a 4-byte REG_DWORD
// becomes a number. A direct store (RTL_QUERY_REGISTRY_DIRECT) would write a
// string or binary value of any length over the 32-bit target, because
// Windows XP ignores the type-check flag of the query table.
NTSTATUS NTAPI StoreDwordValue(PWSTR, ULONG type, PVOID data, ULONG length, PVOID, PVOID target) {
    uint32_t value = 0;
    if (type == REG_DWORD && length == sizeof(ULONG) && data != nullptr) {
        const UCHAR* b = static_cast<const UCHAR*>(data);
        value = static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 |
                static_cast<uint32_t>(b[2]) << 16 | static_cast<uint32_t>(b[3]) << 24;
    }
    *static_cast<uint32_t*>(target) = value;
    return STATUS_SUCCESS;
}

}  // namespace

// ---- Entry ------------------------------------------------------------------

extern "C" ZRV_INIT NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
    // The configuration lives under \Registry\Machine\Software\Varnel\Zorvik;
    // the service key only receives the load's report (PlatPublishLoadReport).
    ServiceKeyPath = registryPath;
    const NTSTATUS status = ZrvDriverEntry(reinterpret_cast<PlatDriver*>(driver));
    ServiceKeyPath = nullptr;
    return status;
}

ZRV_INIT void PlatSetDriverRoutines(PlatDriver* driver, ZrvDispatchRoutine dispatch,
                                    ZrvUnloadRoutine unload) {
    CoreDispatch = dispatch;
    CoreUnload = unload;
    PDRIVER_OBJECT d = KernelDriver(driver);
    d->MajorFunction[IRP_MJ_CREATE] = DispatchIrp;
    d->MajorFunction[IRP_MJ_CLOSE] = DispatchIrp;
    d->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchIrp;
    d->DriverUnload = UnloadDriver;
}

// ---- Control device, link, completion ------------------------------------

ZRV_INIT ZrvStatus PlatCreateDevice(PlatDriver* driver, const ZrvWChar* name, uint32_t deviceType,
                                    uint32_t extensionSize, uint32_t characteristics, bool exclusive,
                                    PlatDevice** device) {
    UNICODE_STRING deviceName;
    RtlInitUnicodeString(&deviceName, KernelString(name));
    PDEVICE_OBJECT created = nullptr;
    // Secure open: the device's security also guards opens of names below
    // the device ("\Device\ZRV0\anything"), which would otherwise reach the
    // dispatch unchecked.
    NTSTATUS status =
        IoCreateDevice(KernelDriver(driver), extensionSize, &deviceName, deviceType,
                       characteristics | FILE_DEVICE_SECURE_OPEN, exclusive ? TRUE : FALSE, &created);
    if (!NT_SUCCESS(status)) return status;
    // Nobody can open the device before DriverEntry returns (it is still
    // initialising), so the restricted descriptor is in place before the
    // first open. A device that cannot be restricted is not left behind.
    status = RestrictToAdministratorsAndSystem(created);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(created);
        return status;
    }
    *device = reinterpret_cast<PlatDevice*>(created);
    return STATUS_SUCCESS;
}

void* PlatDeviceExtension(PlatDevice* device) { return KernelDevice(device)->DeviceExtension; }

void PlatDeleteDevice(PlatDevice* device) { IoDeleteDevice(KernelDevice(device)); }

ZRV_INIT ZrvStatus PlatCreateLink(const ZrvWChar* link, const ZrvWChar* target) {
    UNICODE_STRING linkName;
    UNICODE_STRING targetName;
    RtlInitUnicodeString(&linkName, KernelString(link));
    RtlInitUnicodeString(&targetName, KernelString(target));
    return IoCreateSymbolicLink(&linkName, &targetName);
}

ZrvStatus PlatDeleteLink(const ZrvWChar* link) {
    UNICODE_STRING linkName;
    RtlInitUnicodeString(&linkName, KernelString(link));
    return IoDeleteSymbolicLink(&linkName);
}

void PlatCompleteRequest(ZrvRequest* request) {
    PIRP irp = static_cast<PIRP>(request->PlatformRequest);
    ULONG information = request->Information;
    // The I/O manager copies Information bytes of the system buffer to the
    // caller's buffer without checking them against its length; never let it
    // run past the caller's buffer.
    if (request->Major == IRP_MJ_DEVICE_CONTROL && information > request->OutputLength)
        information = request->OutputLength;
    irp->IoStatus.Status = request->Status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
}

// ---- Port access ----------------------------------------------------------

// The HAL's byte-port routines. The x64 DDK headers expand READ_PORT_UCHAR
// and WRITE_PORT_UCHAR inline into in/out instructions; the driver calls the
// exports of the x64 hal.dll instead (win/hal-x64.def), as on x86, so that
// every port access goes through the HAL.
#if defined(_WIN64)
extern "C" __declspec(dllimport) UCHAR HalReadPortUchar(PUCHAR port) __asm__("READ_PORT_UCHAR");
extern "C" __declspec(dllimport) VOID HalWritePortUchar(PUCHAR port, UCHAR value) __asm__("WRITE_PORT_UCHAR");
#else
#define HalReadPortUchar READ_PORT_UCHAR
#define HalWritePortUchar WRITE_PORT_UCHAR
#endif

uint8_t PlatReadPort(uint16_t port) {
    return HalReadPortUchar(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(port)));
}

void PlatWritePort(uint16_t port, uint8_t value) {
    HalWritePortUchar(reinterpret_cast<PUCHAR>(static_cast<ULONG_PTR>(port)), value);
}

// ---- Pool -------------------------------------------------------------------

void* PlatAllocPaged(uint32_t bytes) { return ExAllocatePoolWithTag(PagedPool, bytes, ZRV_POOL_TAG); }

void PlatFree(void* block) { ExFreePool(block); }

// ---- Registry -------------------------------------------------------------

ZrvStatus PlatRegOpenKey(const ZrvWChar* path, uint32_t desiredAccess, PlatKey* key) {
    UNICODE_STRING keyName;
    RtlInitUnicodeString(&keyName, KernelString(path));
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &keyName, OBJ_CASE_INSENSITIVE, nullptr, nullptr);
    HANDLE handle = nullptr;
    NTSTATUS status = ZwOpenKey(&handle, desiredAccess, &attributes);
    if (NT_SUCCESS(status)) *key = handle;
    return status;
}

ZrvStatus PlatRegQueryValueFull(PlatKey key, const ZrvWChar* name, void* buffer, uint32_t length,
                                uint32_t* resultLength) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, KernelString(name));
    ULONG needed = 0;
    NTSTATUS status = ZwQueryValueKey(static_cast<HANDLE>(key), &valueName, KeyValueFullInformation, buffer,
                                      length, &needed);
    if (resultLength != nullptr) *resultLength = needed;
    return status;
}

void PlatRegCloseKey(PlatKey key) { ZwClose(static_cast<HANDLE>(key)); }

ZrvStatus PlatRegQueryDwords(const ZrvWChar* path, const PlatRegDwordEntry* entries, uint32_t count,
                             bool keyOptional) {
    // One query table entry per value plus the all-zero end, and the values
    // as read; the targets are written only when the whole query succeeded.
    const uint32_t tableBytes = (count + 1) * sizeof(RTL_QUERY_REGISTRY_TABLE);
    uint8_t* block = static_cast<uint8_t*>(PlatAllocPaged(tableBytes + count * sizeof(uint32_t)));
    if (block == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RTL_QUERY_REGISTRY_TABLE* table = reinterpret_cast<RTL_QUERY_REGISTRY_TABLE*>(block);
    uint32_t* values = reinterpret_cast<uint32_t*>(block + tableBytes);
    RtlZeroMemory(block, tableBytes + count * sizeof(uint32_t));
    for (uint32_t i = 0; i < count; ++i) {
        // No default: an absent value does not call the reader and keeps 0.
        // NOEXPAND hands a string list or an expandable string over once,
        // as it is stored.
        table[i].QueryRoutine = StoreDwordValue;
        table[i].Flags = RTL_QUERY_REGISTRY_NOEXPAND;
        table[i].Name = KernelString(entries[i].Name);
        table[i].EntryContext = &values[i];
        table[i].DefaultType = REG_NONE;
    }
    ULONG relativeTo = RTL_REGISTRY_ABSOLUTE;
    if (keyOptional) relativeTo |= RTL_REGISTRY_OPTIONAL;
    NTSTATUS status = RtlQueryRegistryValues(relativeTo, KernelString(path), table, nullptr, nullptr);
    // Kernels differ in what an absent optional key gives: success with no
    // value read, or "not found". Both mean every value reads 0.
    if (keyOptional && (status == STATUS_OBJECT_NAME_NOT_FOUND || status == STATUS_OBJECT_PATH_NOT_FOUND)) {
        RtlZeroMemory(values, count * sizeof(uint32_t));
        status = STATUS_SUCCESS;
    }
    if (NT_SUCCESS(status))
        for (uint32_t i = 0; i < count; ++i) *entries[i].Target = values[i];
    PlatFree(block);
    return status;
}

// ---- The load's report ------------------------------------------------------

// The packet and its strings right behind it: the strings' largest total
// always fits an entry.
static_assert(sizeof(IO_ERROR_LOG_PACKET) + ZRV_EVENT_STRINGS * ZRV_EVENT_STRING_UNITS * sizeof(WCHAR) <=
                  ERROR_LOG_MAXIMUM_SIZE,
              "the insertion strings fit one error log entry");

ZRV_INIT void PlatLogEvent(PlatDriver* driver, uint32_t code, const ZrvWChar* const* strings,
                           uint32_t count) {
    if (count > ZRV_EVENT_STRINGS) count = ZRV_EVENT_STRINGS;
    ULONG lengths[ZRV_EVENT_STRINGS];  // in units, the terminating 0 included
    ULONG size = sizeof(IO_ERROR_LOG_PACKET);
    for (ULONG i = 0; i < count; ++i) {
        ULONG n = 0;
        while (n + 1 < ZRV_EVENT_STRING_UNITS && strings[i][n] != 0) ++n;
        lengths[i] = n + 1;
        size += lengths[i] * sizeof(WCHAR);
    }
    PIO_ERROR_LOG_PACKET entry = static_cast<PIO_ERROR_LOG_PACKET>(
        IoAllocateErrorLogEntry(KernelDriver(driver), static_cast<UCHAR>(size)));
    if (entry == nullptr) return;
    RtlZeroMemory(entry, sizeof(IO_ERROR_LOG_PACKET));
    entry->ErrorCode = static_cast<NTSTATUS>(code);
    entry->FinalStatus = STATUS_SUCCESS;
    entry->NumberOfStrings = static_cast<USHORT>(count);
    entry->StringOffset = static_cast<USHORT>(sizeof(IO_ERROR_LOG_PACKET));
    PWCHAR out = reinterpret_cast<PWCHAR>(reinterpret_cast<PUCHAR>(entry) + sizeof(IO_ERROR_LOG_PACKET));
    for (ULONG i = 0; i < count; ++i) {
        // Cut at the unit limit like the length above, always terminated.
        for (ULONG u = 0; u + 1 < lengths[i]; ++u) *out++ = strings[i][u];
        *out++ = 0;
    }
    IoWriteErrorLogEntry(entry);
}

ZRV_INIT void PlatPublishLoadReport(const uint8_t* bytes, uint32_t count) {
    if (ServiceKeyPath == nullptr) return;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, ServiceKeyPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                               nullptr);
    HANDLE service = nullptr;
    if (!NT_SUCCESS(ZwOpenKey(&service, KEY_CREATE_SUB_KEY, &attributes))) return;
    static const ZrvWChar kReportKey[] = u"" ZRV_LOAD_REPORT_KEY;
    static const ZrvWChar kReportValue[] = u"" ZRV_LOAD_REPORT_VALUE;
    UNICODE_STRING keyName;
    RtlInitUnicodeString(&keyName, KernelString(kReportKey));
    InitializeObjectAttributes(&attributes, &keyName, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, service,
                               nullptr);
    // Volatile: the key lives in memory only, so a report never outlives
    // the boot of the load that wrote it.
    HANDLE report = nullptr;
    ULONG disposition = 0;
    const NTSTATUS created =
        ZwCreateKey(&report, KEY_SET_VALUE, &attributes, 0, nullptr, REG_OPTION_VOLATILE, &disposition);
    ZwClose(service);
    if (!NT_SUCCESS(created)) return;
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, KernelString(kReportValue));
    ZwSetValueKey(report, &valueName, 0, REG_BINARY, const_cast<uint8_t*>(bytes), count);
    ZwClose(report);
}

// ---- Wait -------------------------------------------------------------------

void PlatWaitOneSecond() {
    // A timer that is never set is never signalled: the wait always ends by
    // its timeout, one second (relative, in 100 ns units).
    KTIMER timer;
    KeInitializeTimer(&timer);
    LARGE_INTEGER timeout;
    timeout.QuadPart = -1000LL * 10000LL;
    KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, &timeout);
}

// ---- Locks ------------------------------------------------------------------

// A kernel mutex: the holder may wait (the CD pulse holds its lock across
// the one-second wait), and it comes from ntoskrnl, so the HAL imports stay
// the two port routines.
static_assert(sizeof(KMUTEX) <= sizeof(PlatLock::Opaque), "a kernel mutex fits the lock's storage");
static_assert(alignof(KMUTEX) <= alignof(PlatLock), "the lock's storage is aligned for a kernel mutex");

namespace {
PKMUTEX KernelMutex(PlatLock* lock) { return reinterpret_cast<PKMUTEX>(lock->Opaque); }
}  // namespace

void PlatLockInit(PlatLock* lock) { KeInitializeMutex(KernelMutex(lock), 0); }

void PlatLockAcquire(PlatLock* lock) {
    KeWaitForSingleObject(KernelMutex(lock), Executive, KernelMode, FALSE, nullptr);
}

void PlatLockRelease(PlatLock* lock) { KeReleaseMutex(KernelMutex(lock), FALSE); }
