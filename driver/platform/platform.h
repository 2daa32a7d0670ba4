// The driver's only way out: port access, registry, pool, the one-second wait,
// the debugger print, the control device and its link, request completion,
// the load's report (event log, service key) and a lock for hardware
// sequences. Each operation maps onto one or two kernel
// routines in the kernel build (platform/kernel) and onto the virtual board in
// the simulator build (sim/platform_sim.cpp, which belongs to the simulator:
// the driver includes nothing of it). Everything above this header is written
// once for both.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "zorvik/ioctl.h"

typedef int32_t ZrvStatus;
typedef char16_t ZrvWChar;

#define ZRV_SUCCESS(status) ((ZrvStatus)(status) >= 0)

// Statuses the platform may hand back beyond those of the request interface.
#define ZRV_STATUS_BUFFER_OVERFLOW ((ZrvStatus)0x80000005)
#define ZRV_STATUS_BUFFER_TOO_SMALL ((ZrvStatus)0xC0000023)
#define ZRV_STATUS_OBJECT_NAME_NOT_FOUND ((ZrvStatus)0xC0000034)
#define ZRV_STATUS_OBJECT_NAME_COLLISION ((ZrvStatus)0xC0000035)
#define ZRV_STATUS_OBJECT_PATH_NOT_FOUND ((ZrvStatus)0xC000003A)

// Driver-global variables carry ZRV_GLOBAL. A kernel image starts with its
// data zeroed; the simulator loads the driver many times in one process and
// zeroes the section that holds these variables before every load. Constant
// tables do not carry it.
#if defined(ZRV_KERNEL)
#define ZRV_GLOBAL
#else
#define ZRV_GLOBAL __attribute__((section("zrvstate")))
#endif

// Code and constant data used only while the driver loads (entry,
// configuration load, selection, detection and one-time set-up) carry
// ZRV_INIT and ZRV_INIT_DATA. In the kernel build they go into the image's
// INIT sections, which the kernel frees once the entry has returned, so
// nothing that runs later may call them or hold their addresses
// (tools/check_sys.py checks the image). A routine that a back-end may also
// call after load (the registry readers, the bracket helpers) stays
// resident. No effect in the simulator build.
#if defined(ZRV_KERNEL)
#define ZRV_INIT __attribute__((section("INIT")))
#define ZRV_INIT_DATA __attribute__((section("INITDATA")))
#else
#define ZRV_INIT
#define ZRV_INIT_DATA
#endif

// ---- Byte port access (HAL) ----------------------------------------------
uint8_t PlatReadPort(uint16_t port);
void PlatWritePort(uint16_t port, uint8_t value);

// ---- Paged pool, tag "Wdm " ---------------------------------------------
#define ZRV_POOL_TAG 0x206D6457u  // 'W' 'd' 'm' ' ' in memory order
void* PlatAllocPaged(uint32_t bytes);
void PlatFree(void* block);

// ---- Registry -------------------------------------------------------------
// Absolute kernel paths ("\Registry\Machine\..."), case-insensitive.
typedef void* PlatKey;
#define ZRV_KEY_ALL_ACCESS 0xF003Fu
// The full-information answer of a value query (class 1): title index,
// type, data offset (from the record's start), data length and name length
// (bytes), each 32 bits little-endian, then the name; the data at its offset.
#define ZRV_KEY_VALUE_FULL_HEADER 20u

ZrvStatus PlatRegOpenKey(const ZrvWChar* path, uint32_t desiredAccess, PlatKey* key);
// Fills `buffer` with the full information of value `name`. When the record
// does not fit in `length` bytes the query fails (BUFFER_OVERFLOW when the
// fixed header fits, BUFFER_TOO_SMALL when not); `resultLength` then says how
// much was needed.
ZrvStatus PlatRegQueryValueFull(PlatKey key, const ZrvWChar* name, void* buffer, uint32_t length,
                                uint32_t* resultLength);
void PlatRegCloseKey(PlatKey key);

// One call reading several 32-bit values of one key straight into variables.
// Each target receives the value when it is a REG_DWORD, and 0 when the value
// is absent or of any other type: never more than 32 bits. With `keyOptional`
// an absent key is no failure and every target reads 0.
struct PlatRegDwordEntry {
    const ZrvWChar* Name;
    uint32_t* Target;
};
ZrvStatus PlatRegQueryDwords(const ZrvWChar* path, const PlatRegDwordEntry* entries, uint32_t count,
                             bool keyOptional);

// ---- Wait -------------------------------------------------------------------
// Blocks the calling thread for one second (a never-signalled timer).
void PlatWaitOneSecond();

// ---- Debugger print -----------------------------------------------------------
// The kernel's own routine, declared here so that the simulator can provide it.
// %ld is a 32-bit long on the target.
extern "C" unsigned long DbgPrint(const char* format, ...);

// ---- Control device and requests ----------------------------------------
struct PlatDriver;  // the driver object
struct PlatDevice;  // a device object

#define ZRV_IRP_MJ_CREATE 0u
#define ZRV_IRP_MJ_CLOSE 2u
#define ZRV_IRP_MJ_DEVICE_CONTROL 14u

// A request as the dispatch sees it: buffered transfer, one shared buffer of
// at least the larger of the two lengths holding the input on arrival.
struct ZrvRequest {
    uint32_t Major;
    uint32_t Code;
    uint32_t InputLength;
    uint32_t OutputLength;
    uint8_t* Buffer;
    ZrvStatus Status;
    uint32_t Information;  // bytes returned
    void* PlatformRequest;
};

typedef ZrvStatus (*ZrvDispatchRoutine)(PlatDevice* device, ZrvRequest* request);
typedef void (*ZrvUnloadRoutine)(PlatDriver* driver);

// One dispatch routine for create, close and device control, and the unload.
void PlatSetDriverRoutines(PlatDriver* driver, ZrvDispatchRoutine dispatch, ZrvUnloadRoutine unload);
// In the kernel the device is created for secure open, and only the local
// system and Administrators may open it; a device whose security cannot be
// set is deleted again and its status returned.
ZrvStatus PlatCreateDevice(PlatDriver* driver, const ZrvWChar* name, uint32_t deviceType,
                           uint32_t extensionSize, uint32_t characteristics, bool exclusive,
                           PlatDevice** device);
void* PlatDeviceExtension(PlatDevice* device);
void PlatDeleteDevice(PlatDevice* device);
ZrvStatus PlatCreateLink(const ZrvWChar* link, const ZrvWChar* target);
ZrvStatus PlatDeleteLink(const ZrvWChar* link);
// Hands Status and Information back to the platform and completes the
// request at once, with no priority boost.
void PlatCompleteRequest(ZrvRequest* request);

// ---- The load's report ------------------------------------------------------
// Both are called only from the driver's entry, and neither can fail the
// load: what cannot be written is left out.
//
// One entry in the System event log through the kernel's error log, on
// behalf of the driver object: `code` is the NTSTATUS-style code of a
// message in the driver's message table, `strings` its insertion strings
// %2, %3, ... (at most ZRV_EVENT_STRINGS, each with its terminating 0 at
// most ZRV_EVENT_STRING_UNITS units). An entry the kernel cannot allocate
// is not written.
#define ZRV_EVENT_STRINGS 2u
#define ZRV_EVENT_STRING_UNITS 26u
void PlatLogEvent(PlatDriver* driver, uint32_t code, const ZrvWChar* const* strings, uint32_t count);
// `count` bytes as the REG_BINARY value ZRV_LOAD_REPORT_VALUE of the volatile
// key ZRV_LOAD_REPORT_KEY (zorvik/reasons.h) under the driver's own service
// key, created or rewritten.
void PlatPublishLoadReport(const uint8_t* bytes, uint32_t count);

// ---- Locks ------------------------------------------------------------------
// Serialises a hardware sequence between requesting threads. Initialised once
// at load, before the device exists; held only across port accesses and, for
// the CD pulse, the one-second wait.
struct PlatLock {
    alignas(8) unsigned char Opaque[64];
};
void PlatLockInit(PlatLock* lock);
void PlatLockAcquire(PlatLock* lock);
void PlatLockRelease(PlatLock* lock);

// The driver's entry and unload, called by the platform.
ZrvStatus ZrvDriverEntry(PlatDriver* driver);
