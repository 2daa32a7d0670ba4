// Driver entry and unload: the control device, its link and the three
// back-end selections.
#include "core/config.h"
#include "core/dispatch.h"
#include "core/hwlock.h"
#include "core/report.h"

namespace {

ZRV_INIT_DATA const ZrvWChar kDeviceName[] = ZRV_WIDE(ZRV_KERNEL_DEVICE_NAME);
const ZrvWChar kLinkName[] = ZRV_WIDE(ZRV_KERNEL_LINK_NAME);

ZRV_GLOBAL PlatDevice* ControlDevice;

void ZrvUnload(PlatDriver*) {
    // Touches no hardware: a running watchdog keeps counting and outputs
    // keep their levels.
    PlatDeleteLink(kLinkName);
    if (ControlDevice != nullptr) PlatDeleteDevice(ControlDevice);
    ControlDevice = nullptr;
    // No request can run any more: give the per-line arrays back to the pool.
    FreeLineMap();
}

}  // namespace

ZRV_INIT ZrvStatus ZrvDriverEntry(PlatDriver* driver) {
    PlatSetDriverRoutines(driver, ZrvDispatch, ZrvUnload);

    PlatDevice* device = nullptr;
    ZrvStatus status =
        PlatCreateDevice(driver, kDeviceName, ZRV_DEVICE_TYPE, sizeof(PlatDevice*), 0, false, &device);
    if (!ZRV_SUCCESS(status)) return status;
    status = PlatCreateLink(kLinkName, kDeviceName);
    if (!ZRV_SUCCESS(status)) {
        PlatDeleteDevice(device);
        return status;
    }
    *static_cast<PlatDevice**>(PlatDeviceExtension(device)) = device;
    ControlDevice = device;

    // Detect routines may already open hardware sequences.
    InitHwLocks();

    BoundHwmOps = nullptr;
    BoundWdtOps = nullptr;
    BoundDioOps = nullptr;
    BoundHwmOps = SelectHwmOps();
    BoundWdtOps = SelectWdtOps();
    BoundDioOps = SelectDioOps();
    PublishLoadReport(driver);
    return ZRV_STATUS_SUCCESS;
}
