/*
 * libzorvik: the library management software uses to reach a Zorvik board.
 *
 * One device handle (zrv_device) serves the watchdog, the hardware monitor
 * and the digital I/O of one board. On Windows the library opens the control
 * device of zorvik.sys; on Linux it loads the driver on a virtual board of
 * a board file, so that the same program can be developed and tested
 * without the hardware.
 *
 * Every function that can fail returns 0 or a negative ZRV_E* code; what
 * the driver answered the calling thread's last request with is
 * zrv_last_status(). A device may be used from several threads at once,
 * but not closed while another thread uses it; a profile likewise. No C++
 * exception leaves the library. Plain C (C89 and C++98); no
 * compiler-specific type crosses the interface.
 *
 * Strings the library returns: those of zrv_strerror and zrv_reason_text
 * are static; those of a profile (chip, adapter, line and pin names) live
 * until zrv_profile_free of that profile. Records the caller passes in or
 * gets back (zrv_sensor and the request records of zorvik/ioctl.h) keep
 * their layout within a major version: fields are only ever added in a new
 * function, never to an existing record.
 *
 * Each function carries the version of the release that added it (1.0
 * unless it says otherwise): a program that uses a newer one fails to load
 * against an older library, not at its first call.
 */
#ifndef ZORVIK_ZORVIK_H
#define ZORVIK_ZORVIK_H

#include <stddef.h>

#include "zorvik/ioctl.h"
#include "zorvik/reasons.h"

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define ZRV_API __cdecl
#else
#define ZRV_API
#endif
#if defined(_WIN32) && defined(ZRV_USE_DLLIMPORT)
#define ZRV_EXTERN __declspec(dllimport)
#elif defined(__GNUC__) && !defined(_WIN32)
#define ZRV_EXTERN __attribute__((visibility("default")))
#else
#define ZRV_EXTERN
#endif

/* ---- Version ------------------------------------------------------------ */
/* The interface's version. Programs built against 1.x run with any later 1.y. */
#define ZRV_VERSION_MAJOR 1
#define ZRV_VERSION_MINOR 2
#define ZRV_VERSION_PATCH 0
#define ZRV_VERSION ((ZRV_VERSION_MAJOR << 16) | (ZRV_VERSION_MINOR << 8) | ZRV_VERSION_PATCH)

/* The loaded library's version, as ZRV_VERSION. */
ZRV_EXTERN unsigned ZRV_API zrv_version(void);

/* ---- Errors ------------------------------------------------------------- */
#define ZRV_OK 0
#define ZRV_ENODEV (-1)  /* no driver, no control device, or no board */
#define ZRV_EACCES (-2)  /* the caller lacks the rights */
#define ZRV_EINVAL (-3)  /* a bad argument, or the driver refused the request as invalid */
#define ZRV_ENOTSUP (-4) /* the board has no such function */
#define ZRV_EIO (-5)     /* the driver or the hardware failed the request */
#define ZRV_ERANGE (-6)  /* a value outside what the board takes, or a buffer too small */
#define ZRV_ENOMEM (-7)  /* out of memory, here or in the driver */
/* the driver or the hardware broke a rule: a short answer, or on a virtual
 * board a platform or port-protocol violation made by this very request */
#define ZRV_EPROTO (-8)
#define ZRV_EBUSY (-9) /* virtual board: another board is open in this process */

/* A short English text for every code, never NULL. */
ZRV_EXTERN const char *ZRV_API zrv_strerror(int err);

/* ---- Opening a board ---------------------------------------------------- */
typedef struct zrv_device zrv_device;

/*
 * target NULL or "": the control device; on the virtual-board build, the
 * board named by the environment variable ZORVIK_BOARD (a board file), or
 * where it is unset or empty the default board installed with the library
 * (PREFIX/share/zorvik/boards/default.json beside PREFIX/lib); ZRV_ENODEV
 * when there is neither.
 * "sim:PATH": the virtual board of board file PATH (Linux build only).
 * Devices opened on the same board file share one virtual board; one board
 * file at a time per process (ZRV_EBUSY otherwise).
 */
ZRV_EXTERN int ZRV_API zrv_open(const char *target, zrv_device **dev);
/* NULL is allowed. */
ZRV_EXTERN void ZRV_API zrv_close(zrv_device *dev);

/* 1.2: zrv_open with flags. ZRV_OPEN_READ_ONLY opens the handle for
 * reading only: the I/O manager refuses every request whose code asks for
 * write access (ZRV_WRITE_ACCESS) with ZRV_STATUS_ACCESS_DENIED, before the
 * driver sees it, and the library refuses the same way, before anything is
 * sent, every request that changes the hardware whatever its code's access
 * field: a fan, the outputs, the watchdog's timeout, start, stop and
 * restart, the CD outputs and the direction mask (ZRV_EACCES, and
 * zrv_last_status() ZRV_STATUS_ACCESS_DENIED). Another bit in `flags` is
 * ZRV_EINVAL. */
#define ZRV_OPEN_READ_ONLY 1u
ZRV_EXTERN int ZRV_API zrv_open_ex(const char *target, unsigned flags, zrv_device **dev);

/*
 * A device over the caller's own transport (a test double, a remote board):
 * `request` sends one request and returns its completion status, with the
 * number of output bytes in *returned; `release` (may be NULL) is called
 * with `context` by zrv_close.
 */
typedef int32_t(ZRV_API *zrv_request_fn)(void *context, uint32_t code, const void *in, size_t in_len,
                                         void *out, size_t out_len, size_t *returned);
typedef void(ZRV_API *zrv_release_fn)(void *context);
ZRV_EXTERN int ZRV_API zrv_open_transport(zrv_request_fn request, zrv_release_fn release, void *context,
                                          zrv_device **dev);

/* The driver's completion status (ZRV_STATUS_*) of the calling thread's last
 * request on `dev`, and the number of bytes it returned: another thread's
 * requests on the same device, and the thread's own on other devices, do
 * not change them; they are kept until `dev` is closed. Before the
 * thread's first request on `dev`: ZRV_STATUS_SUCCESS and 0. */
ZRV_EXTERN int32_t ZRV_API zrv_last_status(const zrv_device *dev);
ZRV_EXTERN size_t ZRV_API zrv_last_returned(const zrv_device *dev);

/* Any request, raw. Fails with the mapped status; *returned may be NULL. */
ZRV_EXTERN int ZRV_API zrv_ioctl(zrv_device *dev, uint32_t code, const void *in, size_t in_len, void *out,
                                 size_t out_len, size_t *returned);

/* ---- The driver's load (1.2) -------------------------------------------- */
/* What the driver's load made of a function (ZRV_FUNCTION_*): *reason is
 * ZRV_REASON_BOUND or why it was not bound (zorvik/reasons.h). On Windows
 * it is read from the report zorvik.sys leaves in the registry at load;
 * ZRV_ENOTSUP where there is none (a driver older than the report) and on
 * a caller's own transport. */
ZRV_EXTERN int ZRV_API zrv_load_reason(zrv_device *dev, unsigned function, unsigned *reason);
/* The words for a reason code: a static string, never NULL. */
ZRV_EXTERN const char *ZRV_API zrv_reason_text(unsigned reason);

/* ---- Watchdog ----------------------------------------------------------- */
/* The longest timeout the watchdog takes, in seconds. */
ZRV_EXTERN int ZRV_API zrv_wdt_range(zrv_device *dev, unsigned *max_seconds);
/* The watchdog's own answer: the largest count and the accepted units as
 * bits (1 seconds, 2 minutes). */
ZRV_EXTERN int ZRV_API zrv_wdt_limits(zrv_device *dev, unsigned *max_count, unsigned *unit_bits);
/* The record for a timeout of `seconds` on a watchdog of these limits:
 * seconds where the count fits, otherwise whole minutes rounded up;
 * ZRV_ERANGE when neither fits or seconds is 0. Sends nothing. */
ZRV_EXTERN int ZRV_API zrv_wdt_choose(unsigned max_count, unsigned unit_bits, unsigned seconds,
                                      WdtTimeout *timeout);
/* Asks the limits, then sets the timeout as zrv_wdt_choose picks it. */
ZRV_EXTERN int ZRV_API zrv_wdt_set_timeout(zrv_device *dev, unsigned seconds);
/* Sets the record as given: unit ZRV_WDT_UNIT_* (else ZRV_EINVAL), count
 * 1..65535 (else ZRV_ERANGE: a count of 0 is no timeout: zrv_wdt_stop stops
 * the watchdog). */
ZRV_EXTERN int ZRV_API zrv_wdt_set(zrv_device *dev, unsigned count, unsigned unit);
/* Starts the watchdog; ZRV_EIO with the status
 * ZRV_STATUS_INVALID_DEVICE_STATE while its count is 0 (no timeout set since
 * the driver loaded): the watchdog does not count then, on any chip. */
ZRV_EXTERN int ZRV_API zrv_wdt_start(zrv_device *dev);
ZRV_EXTERN int ZRV_API zrv_wdt_kick(zrv_device *dev); /* restart from the full count */
ZRV_EXTERN int ZRV_API zrv_wdt_stop(zrv_device *dev);

/* ---- Hardware monitor --------------------------------------------------- */
ZRV_EXTERN int ZRV_API zrv_hwm_read(zrv_device *dev, HwmData *raw);

/* A board profile: labels, scaling to volts and degrees, limits, line
 * names (a JSON file; docs/boards.md). */
typedef struct zrv_profile zrv_profile;
/* On failure, `why` (may be NULL) receives the file and entry at fault. */
ZRV_EXTERN int ZRV_API zrv_profile_load(const char *file, zrv_profile **profile, char *why, size_t why_len);
ZRV_EXTERN void ZRV_API zrv_profile_free(zrv_profile *profile);
/* With NULL: the raw layout's "zorvik" and "no board profile, raw readings". */
ZRV_EXTERN const char *ZRV_API zrv_profile_chip(const zrv_profile *profile);
ZRV_EXTERN const char *ZRV_API zrv_profile_adapter(const zrv_profile *profile);
/* Named lines: `outputs` 0 for the inputs, 1 for the outputs. */
ZRV_EXTERN unsigned ZRV_API zrv_profile_line_count(const zrv_profile *profile, int outputs);
ZRV_EXTERN const char *ZRV_API zrv_profile_line_name(const zrv_profile *profile, int outputs, unsigned line);
/* A line by the profile's name or by its number (0..99); ZRV_EINVAL when
 * it is neither. */
ZRV_EXTERN int ZRV_API zrv_profile_find_line(const zrv_profile *profile, int outputs, const char *text,
                                             unsigned *line);
/* Pins named by their bit in the data port or register (0..7) where the
 * direction mask decides which pin is which line: the number of bits
 * named (0 when lines are named by line), the name at a bit (NULL where
 * none), and the direction mask the board comes up with (ZRV_EINVAL when
 * the profile gives none). */
ZRV_EXTERN unsigned ZRV_API zrv_profile_pin_count(const zrv_profile *profile);
ZRV_EXTERN const char *ZRV_API zrv_profile_pin_name(const zrv_profile *profile, unsigned pin);
ZRV_EXTERN int ZRV_API zrv_profile_direction(const zrv_profile *profile, unsigned *mask);
/* The line a pin is under direction mask `mask` (set bits are inputs), as
 * the driver packs the line word: *outputs 1 for an output; the line is
 * the pin's bit less the lowest bit of its side. ZRV_EINVAL for a pin
 * beyond bit 7 of the mask. */
ZRV_EXTERN int ZRV_API zrv_dio_pin_line(unsigned mask, unsigned pin, int *outputs, unsigned *line);

#define ZRV_SENSOR_FAN 0         /* value in rpm */
#define ZRV_SENSOR_VOLTAGE 1     /* value in volts */
#define ZRV_SENSOR_TEMPERATURE 2 /* value in degrees Celsius */
#define ZRV_SENSOR_RAW 3         /* no profile: the chip's raw voltage or temperature byte */

/* The caller allocates these records in arrays, so their layout and size
 * hold for every 1.x release. A release that
 * needs more fields adds new functions that take the record's size, and
 * these functions keep filling this layout. */
typedef struct zrv_sensor {
    char key[8];    /* "fan1".."fan5", "in0".."in9", "temp1".."temp3" */
    char label[48]; /* the profile's label, else the key: UTF-8, cut where a
                       character starts to at most 47 bytes */
    int kind;       /* ZRV_SENSOR_* */
    unsigned index; /* within its kind, from 0 */
    uint32_t raw;   /* the record's reading */
    double value;   /* rounded as shown: volts to 0.001, others to 0.1 */
    double min, max;
    int has_min, has_max;
    int alarm; /* the value is outside min or max */
} zrv_sensor;

/* The channels as `sensors` shows them: those the profile lists, or with
 * `profile` NULL every channel of the record, raw. *count is the number of
 * channels even when `cap` is too small (ZRV_ERANGE then). */
ZRV_EXTERN int ZRV_API zrv_sensors(zrv_device *dev, const char *profile, zrv_sensor *out, size_t cap,
                                   size_t *count);
ZRV_EXTERN int ZRV_API zrv_sensors_profile(zrv_device *dev, const zrv_profile *profile, zrv_sensor *out,
                                           size_t cap, size_t *count);
/* The same for a record already read (zrv_hwm_read); sends nothing. */
ZRV_EXTERN int ZRV_API zrv_sensors_of(const zrv_profile *profile, const HwmData *raw, zrv_sensor *out,
                                      size_t cap, size_t *count);

/* Fan control, fans counted from 0 as the record counts them (sensors'
 * fan1 is 0). zrv_fan_set: mode ZRV_FAN_MODE_ONOFF (data 0 off, else on) or
 * ZRV_FAN_MODE_DUTY (data 0..127). zrv_fan_auto: the chip's automatic mode
 * with temperature limits 0..255, start duty 0..127 and slope code 0..7.
 * Out-of-range arguments are ZRV_EINVAL before anything is sent. */
ZRV_EXTERN int ZRV_API zrv_fan_set(zrv_device *dev, unsigned fan, unsigned mode, unsigned data);
ZRV_EXTERN int ZRV_API zrv_fan_auto(zrv_device *dev, unsigned fan, unsigned limit1, unsigned limit2,
                                    unsigned start_duty, unsigned slope);

/* ---- Digital I/O -------------------------------------------------------- */
/* Bit n of a line word is line n. The counts are the number of lines of
 * each side. Most boards pack their lines from bit 0, so a side's lines
 * are the word's low `count` bits. Where a mask splits the data bits into
 * inputs and outputs (a W83627 GPIO group's I/O-selection byte, a data
 * port with a direction register), each side keeps its gaps, and only its
 * lowest bit moves to bit 0 (see zrv_dio_pin_line). Direction mask 0xa5,
 * for example, gives input lines 0, 2, 5 and 7, and output lines 0, 2, 3
 * and 5. The driver does not report that mask. A caller that knows it (a
 * profile's "direction" for a back-end that never changes it, or the mask
 * it set) gives it with zrv_dio_assume_direction. zrv_dio_set_direction
 * records what it sets. */
ZRV_EXTERN int ZRV_API zrv_dio_lines(zrv_device *dev, unsigned *inputs, unsigned *outputs);
/* 1.2: the direction mask the lines are split by (set bits are inputs).
 * Sends nothing; a mask above 0xff is ZRV_EINVAL. */
ZRV_EXTERN int ZRV_API zrv_dio_assume_direction(zrv_device *dev, unsigned mask);
/* 1.2: the bits of the line word that are lines of a side (`outputs` 0
 * for the inputs, 1 for the outputs). Under a known direction mask, these
 * are the side's bits shifted down by its lowest. Without one, they are
 * the low `count` bits, as zrv_dio_lines reports the count. */
ZRV_EXTERN int ZRV_API zrv_dio_line_bits(zrv_device *dev, int outputs, uint16_t *bits);
/* The words as the driver reads them: input bits that are no lines read 0. */
ZRV_EXTERN int ZRV_API zrv_dio_read(zrv_device *dev, uint16_t *inputs);
ZRV_EXTERN int ZRV_API zrv_dio_read_outputs(zrv_device *dev, uint16_t *outputs);
/* The writes read the outputs back: ZRV_EIO, with zrv_last_status()
 * ZRV_STATUS_SUCCESS, when a bit did not take its level (a bit beyond the
 * board's output lines reads back 0; the board does not wire the line, or
 * it is an input now). zrv_dio_write_back (1.2) also gives the word read
 * back (may be NULL), set whenever the read-back was made. */
ZRV_EXTERN int ZRV_API zrv_dio_write(zrv_device *dev, uint16_t outputs);
ZRV_EXTERN int ZRV_API zrv_dio_write_back(zrv_device *dev, uint16_t outputs, uint16_t *read_back);
/* One output line to `level` (0 or not), the others kept: read back, change,
 * write, under the device's lock; only this line's bit is checked after.
 * ZRV_EINVAL for a line that zrv_dio_line_bits does not give, before
 * anything is written. */
ZRV_EXTERN int ZRV_API zrv_dio_set_line(zrv_device *dev, unsigned line, int level);
/* The direction mask of boards that have one (set bits are inputs). */
ZRV_EXTERN int ZRV_API zrv_dio_set_direction(zrv_device *dev, unsigned mask);

/* CD port: the input bits (bit 0 input 1), the number of outputs, a
 * one-second pulse of output 1..255, and output 1..15 set to `level`. */
ZRV_EXTERN int ZRV_API zrv_cd_inputs(zrv_device *dev, uint8_t *inputs);
ZRV_EXTERN int ZRV_API zrv_cd_outputs(zrv_device *dev, unsigned *count);
ZRV_EXTERN int ZRV_API zrv_cd_pulse(zrv_device *dev, unsigned output);
ZRV_EXTERN int ZRV_API zrv_cd_set(zrv_device *dev, unsigned output, int level);

/* ---- Virtual board only ------------------------------------------------- */
/* Moves the virtual board's time (a watchdog left alone runs out); the
 * number of board resets so far. ZRV_ENOTSUP on a real machine. */
ZRV_EXTERN int ZRV_API zrv_board_advance(zrv_device *dev, unsigned ms);
ZRV_EXTERN int ZRV_API zrv_board_resets(zrv_device *dev, unsigned *resets);

/*
 * 1.2: the virtual board as a program that runs it sees it (zrvctl --sim).
 * Each function is ZRV_ENOTSUP on a device that has no virtual board
 * behind it (the control device on Windows, a caller's own transport),
 * and ZRV_EINVAL for a NULL device. They may be called from any thread;
 * each one acts on the board at once, between two of the driver's port
 * accesses, as hardware changes under a running driver.
 *
 * Times are virtual: milliseconds since the board was powered on (the
 * board file loaded). A compiler without uint64_t (Visual C++ before 2010)
 * gets it as unsigned __int64 from this header.
 */
#if defined(_MSC_VER) && _MSC_VER < 1600
typedef unsigned __int64 uint64_t;
#endif

/* The files the next virtual board loaded in this process writes as it
 * runs: every port access of the driver (the trace, from the driver's load
 * on) and the driver's debugger output. NULL or "" for none. Once called,
 * ZORVIK_TRACE and ZORVIK_DBG are no longer looked at; a board loaded
 * already keeps its files. ZRV_ENOTSUP where there is no virtual board. */
ZRV_EXTERN int ZRV_API zrv_board_files(const char *trace_file, const char *dbg_file);
/* zrv_open("sim:" board_file), telling why it failed: *load_status (may be
 * NULL) is the status the driver's load returned (ZRV_STATUS_SUCCESS when
 * it loaded or was never loaded); on a board file at fault, or a file of
 * zrv_board_files that cannot be written, `why` (may be NULL) receives the
 * file and the problem, cut to why_len - 1 bytes. ZRV_ENODEV for either
 * failure, ZRV_EBUSY for another board of this process. */
ZRV_EXTERN int ZRV_API zrv_board_open(const char *board_file, zrv_device **dev, int32_t *load_status,
                                      char *why, size_t why_len);
/* The board's time now; moving it by `ms` (as zrv_board_advance, with the
 * whole 64-bit range). Every emulated device sees the time move. Time never
 * runs backwards: it stops at 2^64 - 1 ms, and an advance beyond that moves
 * it there (and succeeds). */
ZRV_EXTERN int ZRV_API zrv_board_now(zrv_device *dev, uint64_t *ms);
ZRV_EXTERN int ZRV_API zrv_board_advance_ms(zrv_device *dev, uint64_t ms);
/* The times of the board resets so far (a watchdog that ran out), device
 * by device in the board file's order. *count is their number even when
 * `cap` is too small (ZRV_ERANGE then); `at` may be NULL with cap 0. */
ZRV_EXTERN int ZRV_API zrv_board_reset_times(zrv_device *dev, uint64_t *at, size_t cap, size_t *count);
/* A line of an emulated device by the device's own name for it: driven from outside to `level` (0 or not),
 * or read (*level 0 or 1). ZRV_EINVAL when no device of the board has the
 * line (for zrv_board_set_pin: no input line of that name). */
ZRV_EXTERN int ZRV_API zrv_board_set_pin(zrv_device *dev, const char *line, int level);
ZRV_EXTERN int ZRV_API zrv_board_pin(zrv_device *dev, const char *line, int *level);
/* The registry export (.reg file) the board file names, as loaded into the
 * board's registry; "" when the board file carries the values itself.
 * ZRV_ERANGE when it does not fit in `len` bytes with its NUL (`path` then
 * holds as much as fits). */
ZRV_EXTERN int ZRV_API zrv_board_registry_file(zrv_device *dev, char *path, size_t len);
/* The values of a key of the board's registry under the driver's root
 * (ZRV_REG_ROOT_KERNEL of zorvik/registry.h; `subkey` "HWMON", "WDT",
 * "DIO"), as the driver reads them at load: their number, then one by its
 * index (0..count-1): its name (cut to name_len - 1 bytes), its type
 * (4 REG_DWORD, ...) and its data (*data_len is the whole length even when
 * data_cap is too small: ZRV_ERANGE then). `name` may be NULL with
 * name_len 0 for the type and data alone. ZRV_EINVAL for a key the
 * registry does not have, or an index beyond the last value. */
ZRV_EXTERN int ZRV_API zrv_board_reg_count(zrv_device *dev, const char *subkey, unsigned *count);
ZRV_EXTERN int ZRV_API zrv_board_reg_value(zrv_device *dev, const char *subkey, unsigned index, char *name,
                                           size_t name_len, uint32_t *type, void *data, size_t data_cap,
                                           size_t *data_len);
/* Unloads the driver now, as closing the board's last device would, and
 * closes the files of zrv_board_files; the board itself (time, lines,
 * resets, breaches) stays readable through `dev` until it is closed, and
 * every request on it fails. ZRV_EBUSY while another device is open on the
 * board: the driver unloads only with its handles closed. A request
 * another thread has in flight on `dev` runs to its end first: the unload
 * waits for it. */
ZRV_EXTERN int ZRV_API zrv_board_unload(zrv_device *dev);
/* The rules broken on the board so far, of a kind: their number, and one
 * as a line of text (cut to len - 1 bytes, ZRV_ERANGE then); ZRV_EINVAL for
 * another kind or an index beyond the last. A platform rule is one of the
 * I/O manager's and the kernel's the driver broke (bytes returned beyond
 * the output, objects left at unload); a hardware rule is a protocol an
 * emulated device saw broken; an unclaimed port is an access no device of
 * the board decodes, "0x0300: written 2 time(s)". Read them after
 * zrv_board_unload for those of the unload too. */
#define ZRV_BREACH_PLATFORM 0u
#define ZRV_BREACH_HARDWARE 1u
#define ZRV_BREACH_UNCLAIMED 2u
ZRV_EXTERN int ZRV_API zrv_board_breach_count(zrv_device *dev, unsigned kind, unsigned *count);
ZRV_EXTERN int ZRV_API zrv_board_breach(zrv_device *dev, unsigned kind, unsigned index, char *text,
                                        size_t len);

#ifdef __cplusplus
}
#endif

#endif /* ZORVIK_ZORVIK_H */
