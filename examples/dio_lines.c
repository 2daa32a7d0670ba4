/*
 * dio_lines: the digital I/O of a board. Prints the line counts and the
 * inputs, walks one high output across the output lines (each set by itself,
 * the others kept, and read back), then puts the outputs back as they were.
 *
 *   dio_lines
 *
 * The board: the control device of zorvik.sys on Windows; on Linux the
 * virtual board of the board file in ZORVIK_BOARD, else of the default
 * board installed with the library.
 */
#include <stdio.h>

#include "zorvik/zorvik.h"

/* What to do when there is no board to open. */
#ifdef _WIN32
#define NO_BOARD "zorvik.sys is not running (install.cmd, or sc start zorvik)"
#else
#define NO_BOARD "set ZORVIK_BOARD to a board file (no default board is installed with the library)"
#endif

static int report(int err, const char *what) {
    if (err != ZRV_OK) fprintf(stderr, "dio_lines: %s: %s\n", what, zrv_strerror(err));
    return err;
}

int main(void) {
    zrv_device *dev = NULL;
    unsigned inputs = 0, outputs = 0, line;
    uint16_t in = 0, saved = 0, back = 0;
    int err = zrv_open(NULL, &dev);

    if (err != ZRV_OK) {
        fprintf(stderr, "dio_lines: cannot open the board: %s%s%s\n", zrv_strerror(err),
                err == ZRV_ENODEV ? ": " : "", err == ZRV_ENODEV ? NO_BOARD : "");
        return 1;
    }
    if (report(zrv_dio_lines(dev, &inputs, &outputs), "line counts") != ZRV_OK ||
        report(zrv_dio_read(dev, &in), "inputs") != ZRV_OK ||
        report(zrv_dio_read_outputs(dev, &saved), "outputs") != ZRV_OK) {
        zrv_close(dev);
        return 1;
    }
    printf("%u inputs, %u outputs\n", inputs, outputs);
    printf("inputs:  0x%04x\n", (unsigned)in);
    printf("outputs: 0x%04x\n", (unsigned)saved);
    err = zrv_dio_write(dev, 0);
    for (line = 0; err == ZRV_OK && line < outputs; ++line) {
        err = zrv_dio_set_line(dev, line, 1);
        if (err == ZRV_OK) err = zrv_dio_read_outputs(dev, &back);
        if (err == ZRV_OK) printf("line %2u high: outputs 0x%04x\n", line, (unsigned)back);
        if (err == ZRV_OK) err = zrv_dio_set_line(dev, line, 0);
    }
    if (err == ZRV_OK) err = zrv_dio_write(dev, saved);
    report(err, "outputs");
    if (err == ZRV_OK) printf("outputs back to 0x%04x\n", (unsigned)saved);
    zrv_close(dev);
    return err == ZRV_OK ? 0 : 1;
}
