/*
 * wdt_keepalive: a watchdog keepalive with readings, the loop of a
 * management service. Sets a 30-second timeout, starts the watchdog, and
 * every INTERVAL seconds prints the board's readings and restarts it; after
 * ROUNDS rounds it stops the watchdog and exits.
 *
 *   wdt_keepalive [PROFILE [ROUNDS [INTERVAL]]]
 *
 * PROFILE is the board profile (labels, volts, limits), "-" for raw
 * readings. The board: the control device of zorvik.sys on Windows; on
 * Linux the virtual board of the board file in ZORVIK_BOARD, else of the
 * default board installed with the library.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#ifdef _WIN32
#include <windows.h>
#define sleep_seconds(s) Sleep((s)*1000u)
#else
#include <unistd.h>
#define sleep_seconds(s) sleep(s)
#endif

#include "zorvik/zorvik.h"

/* What to do when there is no board to open. */
#ifdef _WIN32
#define NO_BOARD "zorvik.sys is not running (install.cmd, or sc start zorvik)"
#else
#define NO_BOARD "set ZORVIK_BOARD to a board file (no default board is installed with the library)"
#endif

/* By sensor kind: fan, voltage, temperature, raw. */
static const char *const unit_names[] = {" RPM", " V", " C", " (raw)"};
static const int decimals[] = {0, 3, 1, 0};

static int check(int err, const char *what) {
    if (err != ZRV_OK) fprintf(stderr, "wdt_keepalive: %s: %s\n", what, zrv_strerror(err));
    return err == ZRV_OK;
}

static void print_readings(zrv_device *dev, const char *profile) {
    zrv_sensor sensors[18];
    size_t count = 0, i;
    int err = zrv_sensors(dev, profile, sensors, 18, &count);
    if (err == ZRV_ENOTSUP) {
        printf("  no hardware monitor\n");
        return;
    }
    if (!check(err, "sensors")) return;
    for (i = 0; i < count; ++i) {
        const zrv_sensor *s = &sensors[i];
        int d = decimals[s->kind];
        printf("  %-12s %9.*f%s", s->label, d, s->value, unit_names[s->kind]);
        if (s->has_min) printf("  min %.*f", d, s->min);
        if (s->has_max) printf("  max %.*f", d, s->max);
        printf("%s\n", s->alarm ? "  ALARM" : "");
    }
}

int main(int argc, char **argv) {
    const char *profile = argc > 1 && strcmp(argv[1], "-") != 0 ? argv[1] : NULL;
    unsigned rounds = argc > 2 ? (unsigned)atoi(argv[2]) : 3;
    unsigned interval = argc > 3 ? (unsigned)atoi(argv[3]) : 10;
    unsigned max_seconds = 0, round;
    zrv_device *dev = NULL;
    int err = zrv_open(NULL, &dev);

    if (err != ZRV_OK) {
        fprintf(stderr, "wdt_keepalive: cannot open the board: %s%s%s\n", zrv_strerror(err),
                err == ZRV_ENODEV ? ": " : "", err == ZRV_ENODEV ? NO_BOARD : "");
        return 1;
    }
    if (!check(zrv_wdt_range(dev, &max_seconds), "watchdog range") ||
        !check(zrv_wdt_set_timeout(dev, 30), "timeout") || !check(zrv_wdt_start(dev), "start")) {
        zrv_close(dev);
        return 1;
    }
    printf("watchdog: up to %u s, set to 30 s and started\n", max_seconds);
    for (round = 1; round <= rounds; ++round) {
        printf("round %u:\n", round);
        print_readings(dev, profile);
        if (!check(zrv_wdt_kick(dev), "restart")) break;
        if (round < rounds) sleep_seconds(interval);
    }
    err = zrv_wdt_stop(dev);
    printf("watchdog %s\n", err == ZRV_OK ? "stopped" : "left running");
    zrv_close(dev);
    return err == ZRV_OK ? 0 : 1;
}
