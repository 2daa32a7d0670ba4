"""Zorvik boards from Python: ctypes over libzorvik (no compiled extension).

    import zorvik
    with zorvik.Device() as board:          # Linux: ZORVIK_BOARD, else the installed default board
        print(board.wdt_range())
        for s in board.sensors("boards/default.profile.json"):
            print(s.label, s.value, s.unit)

The library is looked up as ZORVIK_LIBRARY (a path), else as the system
finds libzorvik.so.1 or zorvik.dll, else where cmake --install puts it by
default (/usr/local/lib, before ldconfig has run); an OSError that cannot
find it names ZORVIK_LIBRARY. On Linux Device() opens the board file
ZORVIK_BOARD names, else the default board installed with the library
(PREFIX/share/zorvik/boards/default.json). Every failure the library reports raises
ZorvikError with the library's error code and the driver's status. Before
anything is sent: an integer that does not fit the C argument raises
OverflowError, a bool, float or str where an integer is wanted TypeError,
and a call on a closed device or profile ValueError.

A Device or Profile may be used from several threads; close() waits for the
calls that are running to return, and later calls raise ValueError. One
dropped without close() is closed when it is collected, or at exit.
"""

import contextlib
import ctypes
import ctypes.util
import operator
import os
import sys
import threading
import weakref
from collections import namedtuple

__all__ = ["Device", "Profile", "ZorvikError", "Sensor", "HwmData", "FAN_ONOFF", "FAN_DUTY", "WDT_SECONDS",
           "WDT_MINUTES", "IOCTL_HWM_GET_DATA", "library", "version", "strerror", "sensors_of", "wdt_choose",
           "dio_pin_line", "reason_text", "FUNCTIONS"]

FAN_ONOFF = 0
FAN_DUTY = 1
WDT_SECONDS = 1
WDT_MINUTES = 2
IOCTL_HWM_GET_DATA = 0x88202000
_ENODEV = -1
_ERANGE = -6
_UNITS = {0: "rpm", 1: "V", 2: "°C", 3: "raw"}
_KINDS = {0: "fan", 1: "voltage", 2: "temperature", 3: "raw"}


# Where cmake --install puts the library without --prefix: the system's
# loader finds it there only once ldconfig has run.
_INSTALLED = ["/usr/local/lib/libzorvik.so.1"]


def _load():
    path = os.environ.get("ZORVIK_LIBRARY")
    if path:
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            raise OSError("ZORVIK_LIBRARY=%s cannot be loaded: %s" % (path, e)) from None
    if sys.platform == "win32":
        names = ["zorvik.dll"]
    else:
        names = [ctypes.util.find_library("zorvik") or "libzorvik.so.1"] + _INSTALLED
    for name in names:
        try:
            return ctypes.CDLL(name)
        except OSError:
            pass
    raise OSError("libzorvik not found (tried %s): set ZORVIK_LIBRARY to the library's path "
                  "(PREFIX/lib/libzorvik.so.1 after cmake --install --prefix PREFIX)" % ", ".join(names))


# ---- The records, as include/zorvik/ioctl.h and zorvik.h lay them out

class HwmData(ctypes.Structure):
    """The hardware monitor's raw record, as the driver returns it."""
    _pack_ = 1
    _fields_ = [("Fan1", ctypes.c_uint32), ("Fan2", ctypes.c_uint32), ("Fan3", ctypes.c_uint32),
                ("Fan4", ctypes.c_uint32), ("Fan5", ctypes.c_uint32), ("Volt", ctypes.c_uint8 * 10),
                ("Temp1", ctypes.c_uint8), ("Temp2", ctypes.c_uint8), ("Temp3", ctypes.c_uint8),
                ("Reserved", ctypes.c_uint8 * 3)]


class _WdtTimeout(ctypes.Structure):
    _pack_ = 1
    _fields_ = [("Count", ctypes.c_uint16), ("Unit", ctypes.c_uint16)]


class _Sensor(ctypes.Structure):
    _fields_ = [("key", ctypes.c_char * 8), ("label", ctypes.c_char * 48), ("kind", ctypes.c_int),
                ("index", ctypes.c_uint), ("raw", ctypes.c_uint32), ("value", ctypes.c_double),
                ("min", ctypes.c_double), ("max", ctypes.c_double), ("has_min", ctypes.c_int),
                ("has_max", ctypes.c_int), ("alarm", ctypes.c_int)]


assert ctypes.sizeof(HwmData) == 36 and ctypes.sizeof(_WdtTimeout) == 4

Sensor = namedtuple("Sensor", "key label kind value unit min max alarm raw")

# The record holds 5 fans, 10 voltages and 3 temperatures: no profile lists more.
_MAX_SENSORS = 18


def _text(raw):
    """A string the library gave: UTF-8, with whatever does not decode replaced."""
    return None if raw is None else raw.decode("utf-8", "replace")


def _sensor(s):
    return Sensor(_text(s.key), _text(s.label), _KINDS.get(s.kind, "raw"), s.value, _UNITS.get(s.kind, "raw"),
                  s.min if s.has_min else None, s.max if s.has_max else None, bool(s.alarm), s.raw)


# ---- The functions: argument names and C types, the result's type

_lib = None
_U = ctypes.c_uint
_I = ctypes.c_int
_PU = ctypes.POINTER(ctypes.c_uint)
_PI = ctypes.POINTER(ctypes.c_int)
_PS = ctypes.POINTER(_Sensor)
_PSIZE = ctypes.POINTER(ctypes.c_size_t)
_DEV = ctypes.c_void_p
_PROF = ctypes.c_void_p
# A caller's own transport (zrv_open_transport): the request and release
# callbacks, for a Python test double of the control device.
REQUEST_FN = ctypes.CFUNCTYPE(ctypes.c_int32, ctypes.c_void_p, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_size_t,
                              ctypes.c_void_p, ctypes.c_size_t, _PSIZE)
RELEASE_FN = ctypes.CFUNCTYPE(None, ctypes.c_void_p)
_SIGNATURES = {
    "zrv_version": ("", [], _U),
    "zrv_open_transport": ("request release context dev", [REQUEST_FN, RELEASE_FN, ctypes.c_void_p,
                                                           ctypes.POINTER(_DEV)], _I),
    "zrv_sensors": ("dev profile out cap count", [_DEV, ctypes.c_char_p, _PS, ctypes.c_size_t, _PSIZE], _I),
    "zrv_strerror": ("err", [_I], ctypes.c_char_p),
    "zrv_open": ("target dev", [ctypes.c_char_p, ctypes.POINTER(_DEV)], _I),
    "zrv_close": ("dev", [_DEV], None),
    "zrv_last_status": ("dev", [_DEV], ctypes.c_int32),
    "zrv_last_returned": ("dev", [_DEV], ctypes.c_size_t),
    "zrv_ioctl": ("dev code in in_len out out_len returned", [_DEV, ctypes.c_uint32, ctypes.c_void_p,
                                                              ctypes.c_size_t, ctypes.c_void_p,
                                                              ctypes.c_size_t, _PSIZE], _I),
    "zrv_wdt_range": ("dev max_seconds", [_DEV, _PU], _I),
    "zrv_wdt_limits": ("dev max_count unit_bits", [_DEV, _PU, _PU], _I),
    "zrv_wdt_choose": ("max_count unit_bits seconds timeout", [_U, _U, _U, ctypes.POINTER(_WdtTimeout)], _I),
    "zrv_wdt_set": ("dev count unit", [_DEV, _U, _U], _I),
    "zrv_wdt_set_timeout": ("dev seconds", [_DEV, _U], _I),
    "zrv_wdt_start": ("dev", [_DEV], _I),
    "zrv_wdt_kick": ("dev", [_DEV], _I),
    "zrv_wdt_stop": ("dev", [_DEV], _I),
    "zrv_hwm_read": ("dev raw", [_DEV, ctypes.POINTER(HwmData)], _I),
    "zrv_profile_load": ("file profile why why_len", [ctypes.c_char_p, ctypes.POINTER(_PROF), ctypes.c_char_p,
                                                      ctypes.c_size_t], _I),
    "zrv_profile_free": ("profile", [_PROF], None),
    "zrv_profile_chip": ("profile", [_PROF], ctypes.c_char_p),
    "zrv_profile_adapter": ("profile", [_PROF], ctypes.c_char_p),
    "zrv_profile_line_count": ("profile outputs", [_PROF, _I], _U),
    "zrv_profile_line_name": ("profile outputs line", [_PROF, _I, _U], ctypes.c_char_p),
    "zrv_profile_find_line": ("profile outputs text line", [_PROF, _I, ctypes.c_char_p, _PU], _I),
    "zrv_profile_pin_count": ("profile", [_PROF], _U),
    "zrv_profile_pin_name": ("profile pin", [_PROF, _U], ctypes.c_char_p),
    "zrv_profile_direction": ("profile mask", [_PROF, _PU], _I),
    "zrv_dio_pin_line": ("mask pin outputs line", [_U, _U, _PI, _PU], _I),
    "zrv_sensors_profile": ("dev profile out cap count", [_DEV, _PROF, _PS, ctypes.c_size_t, _PSIZE], _I),
    "zrv_sensors_of": ("profile raw out cap count", [_PROF, ctypes.POINTER(HwmData), _PS, ctypes.c_size_t,
                                                     _PSIZE], _I),
    "zrv_fan_set": ("dev fan mode data", [_DEV, _U, _U, _U], _I),
    "zrv_fan_auto": ("dev fan limit1 limit2 start_duty slope", [_DEV, _U, _U, _U, _U, _U], _I),
    "zrv_dio_lines": ("dev inputs outputs", [_DEV, _PU, _PU], _I),
    "zrv_dio_read": ("dev inputs", [_DEV, ctypes.POINTER(ctypes.c_uint16)], _I),
    "zrv_dio_read_outputs": ("dev outputs", [_DEV, ctypes.POINTER(ctypes.c_uint16)], _I),
    "zrv_dio_write": ("dev outputs", [_DEV, ctypes.c_uint16], _I),
    "zrv_dio_write_back": ("dev outputs read_back", [_DEV, ctypes.c_uint16, ctypes.POINTER(ctypes.c_uint16)], _I),
    "zrv_dio_set_line": ("dev line level", [_DEV, _U, _I], _I),
    "zrv_dio_assume_direction": ("dev mask", [_DEV, _U], _I),
    "zrv_dio_line_bits": ("dev outputs bits", [_DEV, _I, ctypes.POINTER(ctypes.c_uint16)], _I),
    "zrv_dio_set_direction": ("dev mask", [_DEV, _U], _I),
    "zrv_cd_inputs": ("dev inputs", [_DEV, ctypes.POINTER(ctypes.c_uint8)], _I),
    "zrv_cd_outputs": ("dev count", [_DEV, _PU], _I),
    "zrv_cd_pulse": ("dev output", [_DEV, _U], _I),
    "zrv_cd_set": ("dev output level", [_DEV, _U, _I], _I),
    "zrv_board_advance": ("dev ms", [_DEV, _U], _I),
    "zrv_board_resets": ("dev resets", [_DEV, _PU], _I),
    "zrv_load_reason": ("dev function reason", [_DEV, _U, _PU], _I),
    "zrv_reason_text": ("reason", [_U], ctypes.c_char_p),
    "zrv_open_ex": ("target flags dev", [ctypes.c_char_p, _U, ctypes.POINTER(_DEV)], _I),
    "zrv_board_files": ("trace_file dbg_file", [ctypes.c_char_p, ctypes.c_char_p], _I),
    "zrv_board_open": ("board_file dev load_status why why_len", [ctypes.c_char_p, ctypes.POINTER(_DEV),
                                                                  ctypes.POINTER(ctypes.c_int32),
                                                                  ctypes.c_char_p, ctypes.c_size_t], _I),
    "zrv_board_now": ("dev ms", [_DEV, ctypes.POINTER(ctypes.c_uint64)], _I),
    "zrv_board_advance_ms": ("dev ms", [_DEV, ctypes.c_uint64], _I),
    "zrv_board_reset_times": ("dev at cap count", [_DEV, ctypes.POINTER(ctypes.c_uint64), ctypes.c_size_t,
                                                   _PSIZE], _I),
    "zrv_board_set_pin": ("dev line level", [_DEV, ctypes.c_char_p, _I], _I),
    "zrv_board_pin": ("dev line level", [_DEV, ctypes.c_char_p, _PI], _I),
    "zrv_board_registry_file": ("dev path len", [_DEV, ctypes.c_char_p, ctypes.c_size_t], _I),
    "zrv_board_reg_count": ("dev subkey count", [_DEV, ctypes.c_char_p, _PU], _I),
    "zrv_board_reg_value": ("dev subkey index name name_len type data data_cap data_len",
                            [_DEV, ctypes.c_char_p, _U, ctypes.c_char_p, ctypes.c_size_t,
                             ctypes.POINTER(ctypes.c_uint32), ctypes.c_void_p, ctypes.c_size_t, _PSIZE], _I),
    "zrv_board_unload": ("dev", [_DEV], _I),
    "zrv_board_breach_count": ("dev kind count", [_DEV, _U, _PU], _I),
    "zrv_board_breach": ("dev kind index text len", [_DEV, _U, _U, ctypes.c_char_p, ctypes.c_size_t], _I),
}


def _int_range(ctype):
    """(lowest, highest) a ctypes integer type holds, or None for any other type."""
    code = getattr(ctype, "_type_", None)
    if not isinstance(code, str) or len(code) != 1 or code not in "bBhHiIlLqQ":
        return None
    bits = 8 * ctypes.sizeof(ctype)
    return (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if code.islower() else (0, (1 << bits) - 1)


def _fit(what, name, ctype, value):
    """`value` as a plain int when it fits the C integer type `ctype`; a
    bool, float or str raises TypeError, an int that does not fit OverflowError."""
    if isinstance(value, bool):
        raise TypeError("%s: %s must be an integer, not bool" % (what, name))
    try:
        value = operator.index(value)
    except TypeError:
        raise TypeError("%s: %s must be an integer, not %s" % (what, name, type(value).__name__)) from None
    low, high = _int_range(ctype)
    if not low <= value <= high:
        raise OverflowError("%s: %s %d is outside %d..%d" % (what, name, value, low, high))
    return value


# Per function: the ctypes function, and (position, name, C type) of each integer argument.
_FUNCTIONS = {}
_loading = threading.Lock()


def library():
    """The loaded libzorvik, with the argument types of every function set."""
    global _lib
    if _lib is None:
        with _loading:
            if _lib is None:
                lib = _load()
                for fname, (names, args, result) in _SIGNATURES.items():
                    f = getattr(lib, fname)
                    f.argtypes = args
                    f.restype = result
                    ints = [(i, n, t) for i, (n, t) in enumerate(zip(names.split(), args)) if _int_range(t)]
                    _FUNCTIONS[fname] = (f, ints)
                _lib = lib
    return _lib


def _c(what, fname, *args):
    """Calls the library's `fname` once its integer arguments are known to
    fit their C types (ctypes would cut them down silently)."""
    library()
    f, ints = _FUNCTIONS[fname]
    if ints:
        args = list(args)
        for i, name, ctype in ints:
            args[i] = _fit(what, name, ctype, args[i])
    return f(*args)


def _path(what, value):
    """A file name or target for the library: str, bytes or os.PathLike."""
    if not isinstance(value, (str, bytes, os.PathLike)):
        raise TypeError("%s: a path must be str, bytes or os.PathLike, not %s" % (what, type(value).__name__))
    raw = os.fsencode(value)
    if b"\0" in raw:
        raise ValueError("%s: embedded null byte" % what)
    return raw


class ZorvikError(OSError):
    """A failed call: `code` is the library's ZRV_E* code (negative), `status`
    the driver's completion status of the request, when one was sent."""

    def __init__(self, code, what, status=0, hint=""):
        self.code = code
        self.status = status & 0xFFFFFFFF
        super().__init__(code, "%s: %s (status 0x%08x)%s" % (what, strerror(code), self.status,
                                                             hint and ": " + hint))


def strerror(code):
    """The library's short English text for a ZRV_E* code."""
    return _text(_c("strerror", "zrv_strerror", code))


FUNCTIONS = ("hwm", "wdt", "dio")


def reason_text(reason):
    """The words for a reason code of the driver's load (0: bound)."""
    return _text(_c("reason_text", "zrv_reason_text", reason))


def version():
    """The library's version as (major, minor, patch)."""
    v = _c("version", "zrv_version")
    return (v >> 16, (v >> 8) & 0xFF, v & 0xFF)


def _check(what, err, status=0):
    if err:
        raise ZorvikError(err, what, status)


def wdt_choose(max_count, unit_bits, seconds):
    """(count, unit): the record a timeout of `seconds` takes on a watchdog of
    these limits (wdt_limits()); unit WDT_SECONDS or WDT_MINUTES. Sends nothing."""
    t = _WdtTimeout()
    _check("wdt_choose", _c("wdt_choose", "zrv_wdt_choose", max_count, unit_bits, seconds, ctypes.byref(t)))
    return t.Count, t.Unit


def dio_pin_line(mask, pin):
    """(is an output, line): the line pin `pin` is under direction mask `mask`
    (set bits are inputs). Sends nothing."""
    outputs, line = ctypes.c_int(), ctypes.c_uint()
    _check("dio_pin_line", _c("dio_pin_line", "zrv_dio_pin_line", mask, pin, ctypes.byref(outputs),
                              ctypes.byref(line)))
    return bool(outputs.value), line.value


def _read_sensors(what, fname, *args, dev=None):
    """The sensors the library's `fname` fills in after `args`: once more
    with room for all when the first buffer was too small."""
    cap = _MAX_SENSORS
    while True:
        out, count = (_Sensor * cap)(), ctypes.c_size_t()
        err = _c(what, fname, *args, out, cap, ctypes.byref(count))
        if err == _ERANGE and count.value > cap:
            cap = count.value
            continue
        _check(what, err, _c(what, "zrv_last_status", dev) if err and dev else 0)
        return [_sensor(s) for s in out[:count.value]]


def sensors_of(raw, profile=None):
    """The sensors of a record already read (Device.hwm_read(), or its 36
    bytes): with a Profile or a profile file in volts and degrees with
    limits, without one every channel, raw. Sends nothing."""
    if not isinstance(raw, HwmData):
        raw = HwmData.from_buffer_copy(bytes(raw))
    with _profile_handle(profile) as p:
        return _read_sensors("sensors_of", "zrv_sensors_of", p, ctypes.byref(raw))


class _Handle:
    """A library object shared by threads: calls borrow it while it is open;
    close() refuses new calls, waits for those running to return, then
    frees it. ctypes lets go of the interpreter lock during a call, so
    freeing it under a running call would pull the memory from under it."""

    def __init__(self, ptr, free, closed_text):
        self._ptr = ptr
        self._free = free
        self._closed_text = closed_text
        self._cond = threading.Condition(threading.Lock())
        self._running = 0
        self._closing = False

    @contextlib.contextmanager
    def use(self):
        with self._cond:
            if self._closing:
                raise ValueError(self._closed_text)
            self._running += 1
        try:
            yield self._ptr
        finally:
            with self._cond:
                self._running -= 1
                if self._running == 0:
                    self._cond.notify_all()

    def close(self):
        with self._cond:
            self._closing = True
            self._cond.wait_for(lambda: self._running == 0)
            ptr, self._ptr = self._ptr, None
            if ptr:
                self._free(ptr)


class _Owner:
    """What the library made for us: closed once, by close(), by the end of a
    with block, or when collected."""

    def _own(self, pointer, free, closed):
        self._h = _Handle(pointer, _FUNCTIONS[free][0], closed)
        weakref.finalize(self, self._h.close)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        """Waits for the calls running in other threads; later calls raise ValueError."""
        self._h.close()


class Profile(_Owner):
    """A board profile (a JSON file): labels, scaling to volts and degrees,
    limits and line names. A context manager; close() is also fine."""

    def __init__(self, file):
        raw = _path("profile_load", file)
        ptr, why = _PROF(), ctypes.create_string_buffer(512)
        err = _c("profile_load", "zrv_profile_load", raw, ctypes.byref(ptr), why, len(why))
        if err:
            raise ZorvikError(err, "profile_load: %s" % (_text(why.value) or _text(raw)))
        self._own(ptr, "zrv_profile_free", "the profile is closed")

    def _get(self, what, fname, *args):
        with self._h.use() as p:
            return _c(what, fname, p, *args)

    @property
    def chip(self):
        return _text(self._get("chip", "zrv_profile_chip"))

    @property
    def adapter(self):
        return _text(self._get("adapter", "zrv_profile_adapter"))

    def lines(self, outputs=False):
        """The names of the inputs, or with outputs=True of the outputs."""
        side = 1 if outputs else 0
        return [_text(self._get("lines", "zrv_profile_line_name", side, i))
                for i in range(self._get("lines", "zrv_profile_line_count", side))]

    def find_line(self, text, outputs=False):
        """A line by the profile's name or by its number (0..99)."""
        line = ctypes.c_uint()
        _check("find_line", self._get("find_line", "zrv_profile_find_line", 1 if outputs else 0,
                                      _path("find_line", str(text)), ctypes.byref(line)))
        return line.value

    def pins(self):
        """The names of the pins by their bit (None where a bit has none);
        empty when lines are named by line."""
        return [_text(self._get("pins", "zrv_profile_pin_name", i))
                for i in range(self._get("pins", "zrv_profile_pin_count"))]

    def direction(self):
        """The direction mask the board comes up with, or None when the profile gives none."""
        mask = ctypes.c_uint()
        return mask.value if self._get("direction", "zrv_profile_direction", ctypes.byref(mask)) == 0 else None


@contextlib.contextmanager
def _profile_handle(profile):
    """The library's profile pointer for a Profile, a profile file (loaded
    for the call) or None (raw readings)."""
    if profile is None:
        yield None
    elif isinstance(profile, Profile):
        with profile._h.use() as p:
            yield p
    else:
        with Profile(profile) as loaded, loaded._h.use() as p:
            yield p


def _open_hint(err, target):
    """What to do when Device() found no board: the variable to set."""
    if err != _ENODEV or target:
        return ""
    if sys.platform == "win32":
        return "zorvik.sys is not running (install.cmd, or sc start zorvik)"
    if os.environ.get("ZORVIK_BOARD"):
        return "ZORVIK_BOARD=%s is no board file that loads" % os.environ["ZORVIK_BOARD"]
    return ("set ZORVIK_BOARD to a board file: no default board is installed with %s "
            "(PREFIX/share/zorvik/boards/default.json)" % library()._name)


class Device(_Owner):
    """One board: the control device, or with target "sim:BOARD.json" a
    virtual board (Linux). A context manager; close() is also fine."""

    def __init__(self, target=None):
        # A bare os.PathLike is refused: a target is "" or "sim:" and a path, not a path.
        if target is not None and not isinstance(target, (str, bytes)):
            raise TypeError("open: the target must be str, bytes or None, not %s" % type(target).__name__)
        raw = _path("open", target) if target else None
        dev = _DEV()
        err = _c("open", "zrv_open", raw, ctypes.byref(dev))
        if err:
            raise ZorvikError(err, "open", hint=_open_hint(err, raw))
        self._own(dev, "zrv_close", "the device is closed")

    def _call(self, what, fname, *args):
        with self._h.use() as dev:
            err = _c(what, fname, dev, *args)
            if err:
                raise ZorvikError(err, what, _c(what, "zrv_last_status", dev))
            return err

    def _out(self, what, fname, ctype, *args):
        """A call whose last argument is one value it gives back."""
        value = ctype()
        self._call(what, fname, *args, ctypes.byref(value))
        return value.value

    def last_status(self):
        """The driver's status of this thread's last request on the device."""
        with self._h.use() as dev:
            return _c("last_status", "zrv_last_status", dev) & 0xFFFFFFFF

    def last_returned(self):
        """The number of bytes this thread's last request on the device returned."""
        with self._h.use() as dev:
            return _c("last_returned", "zrv_last_returned", dev)

    # ---- Watchdog
    def wdt_range(self):
        """The longest timeout the watchdog takes, in seconds."""
        v = ctypes.c_uint()
        self._call("wdt_range", "zrv_wdt_range", ctypes.byref(v))
        return v.value

    def wdt_limits(self):
        """(largest count, accepted units as bits: 1 seconds, 2 minutes)."""
        count, units = ctypes.c_uint(), ctypes.c_uint()
        self._call("wdt_limits", "zrv_wdt_limits", ctypes.byref(count), ctypes.byref(units))
        return count.value, units.value

    def wdt_set(self, count, unit):
        """The timeout record as given: unit 1 seconds, 2 minutes."""
        self._call("wdt_set", "zrv_wdt_set", count, unit)

    def wdt_set_timeout(self, seconds):
        self._call("wdt_set_timeout", "zrv_wdt_set_timeout", seconds)

    def wdt_start(self):
        self._call("wdt_start", "zrv_wdt_start")

    def wdt_kick(self):
        self._call("wdt_kick", "zrv_wdt_kick")

    def wdt_stop(self):
        self._call("wdt_stop", "zrv_wdt_stop")

    # ---- Hardware monitor
    def hwm_read(self):
        raw = HwmData()
        self._call("hwm_read", "zrv_hwm_read", ctypes.byref(raw))
        return raw

    def sensors(self, profile=None):
        """The channels as `sensors` shows them: with a Profile or a profile
        file in volts and degrees with limits; without one every channel, raw."""
        with _profile_handle(profile) as p, self._h.use() as dev:
            return _read_sensors("sensors", "zrv_sensors_profile", dev, p, dev=dev)

    def fan_set(self, fan, mode, data):
        self._call("fan_set", "zrv_fan_set", fan, mode, data)

    def fan_auto(self, fan, limit1, limit2, start_duty=0, slope=0):
        self._call("fan_auto", "zrv_fan_auto", fan, limit1, limit2, start_duty, slope)

    # ---- Digital I/O
    def dio_lines(self):
        """(inputs, outputs): the number of lines."""
        i, o = ctypes.c_uint(), ctypes.c_uint()
        self._call("dio_lines", "zrv_dio_lines", ctypes.byref(i), ctypes.byref(o))
        return i.value, o.value

    def dio_read(self):
        return self._out("dio_read", "zrv_dio_read", ctypes.c_uint16)

    def dio_read_outputs(self):
        return self._out("dio_read_outputs", "zrv_dio_read_outputs", ctypes.c_uint16)

    def dio_write(self, word):
        """Writes the output word and reads it back: every bit must take its
        level (ZorvikError with ZRV_EIO otherwise; bits beyond the board's
        output lines read back 0). Returns the word read back."""
        back = ctypes.c_uint16()
        self._call("dio_write", "zrv_dio_write_back", word, ctypes.byref(back))
        return back.value

    def dio_assume_direction(self, mask):
        """The direction mask the lines are split by, as the caller knows it; sends nothing."""
        self._call("dio_assume_direction", "zrv_dio_assume_direction", mask)

    def dio_line_bits(self, outputs=False):
        """The bits of the line word that are lines of one side."""
        return self._out("dio_line_bits", "zrv_dio_line_bits", ctypes.c_uint16, 1 if outputs else 0)

    def dio_set_line(self, line, level):
        self._call("dio_set_line", "zrv_dio_set_line", line, 1 if level else 0)

    def dio_set_direction(self, mask):
        """The direction mask of a board with a direction register (set bits are inputs)."""
        self._call("dio_set_direction", "zrv_dio_set_direction", mask)

    def cd_inputs(self):
        return self._out("cd_inputs", "zrv_cd_inputs", ctypes.c_uint8)

    def cd_outputs(self):
        return self._out("cd_outputs", "zrv_cd_outputs", ctypes.c_uint)

    def cd_pulse(self, output):
        self._call("cd_pulse", "zrv_cd_pulse", output)

    def cd_set(self, output, level):
        self._call("cd_set", "zrv_cd_set", output, 1 if level else 0)

    def ioctl(self, code, data=b"", out_len=0):
        """Any request, raw: the bytes it returned."""
        out_len = _fit("ioctl", "out_len", ctypes.c_size_t, out_len)
        data = bytes(memoryview(data))
        inbuf = ctypes.create_string_buffer(data, len(data)) if data else None
        outbuf = ctypes.create_string_buffer(out_len) if out_len else None
        returned = ctypes.c_size_t()
        self._call("ioctl", "zrv_ioctl", code, inbuf, len(data), outbuf, out_len, ctypes.byref(returned))
        return outbuf.raw[:returned.value] if outbuf else b""

    # ---- Virtual board only
    def board_advance(self, ms):
        """Moves the virtual board's time."""
        self._call("board_advance", "zrv_board_advance", ms)

    def board_resets(self):
        n = ctypes.c_uint()
        self._call("board_resets", "zrv_board_resets", ctypes.byref(n))
        return n.value

    # ---- The driver's load
    def load_reasons(self):
        """{"hwm": code, "wdt": code, "dio": code}: what the driver's load made
        of each function, 0 when bound (reason_text() gives the words)."""
        out = {}
        for index, name in enumerate(FUNCTIONS):
            r = ctypes.c_uint()
            self._call("load_reasons", "zrv_load_reason", index, ctypes.byref(r))
            out[name] = r.value
        return out
