/* Every public header in one unit. With ZRV_CHECK_BROKEN a layout check
 * that is false, which must stop the compiler. */
#include "zorvik/zorvik.h"

ZRV_STATIC_ASSERT(sizeof(FanCtrl) == 8, "FanCtrl is 8 bytes");
#ifdef ZRV_CHECK_BROKEN
ZRV_STATIC_ASSERT(sizeof(FanCtrl) == 9, "a false layout check");
#endif

int main(void) {
    zrv_device *dev = 0;
    HwmData raw;
    int err = zrv_open("", &dev);
    if (err == ZRV_OK) err = zrv_hwm_read(dev, &raw);
    zrv_close(dev);
    return err == ZRV_OK ? 0 : 1;
}
