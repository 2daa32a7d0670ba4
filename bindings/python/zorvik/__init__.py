"""Zorvik boards from Python: ctypes over libzorvik (no compiled extension).

    import zorvik
    with zorvik.Device() as board:          # ZORVIK_BOARD on Linux, zorvik.sys on Windows
        print(board.wdt_range())
        for s in board.sensors("boards/default.profile.json"):
            print(s.label, s.value, s.unit)

The library is looked up as ZORVIK_LIBRARY (a path), else as the system
finds libzorvik.so.1 or zorvik.dll. Every failure raises ZorvikError with the
library's error code and the driver's status.
"""

import ctypes
import ctypes.util
import os
import sys
from collections import namedtuple

__all__ = ["Device", "ZorvikError", "Sensor", "FAN_ONOFF", "FAN_DUTY"]

FAN_ONOFF = 0
FAN_DUTY = 1
_UNITS = {0: "rpm", 1: "V", 2: "°C", 3: "raw"}
_KINDS = {0: "fan", 1: "voltage", 2: "temperature", 3: "raw"}


def _load():
    path = os.environ.get("ZORVIK_LIBRARY")
    if not path:
        path = "zorvik.dll" if sys.platform == "win32" else (ctypes.util.find_library("zorvik") or "libzorvik.so.1")
    loader = ctypes.CDLL
    return loader(path)


class _Sensor(ctypes.Structure):
    _fields_ = [("key", ctypes.c_char * 8), ("label", ctypes.c_char * 48), ("kind", ctypes.c_int),
                ("index", ctypes.c_uint), ("raw", ctypes.c_uint32), ("value", ctypes.c_double),
                ("min", ctypes.c_double), ("max", ctypes.c_double), ("has_min", ctypes.c_int),
                ("has_max", ctypes.c_int), ("alarm", ctypes.c_int)]


class HwmData(ctypes.Structure):
    """The hardware monitor's raw record, as the driver returns it."""
    _pack_ = 1
    _fields_ = [("Fan1", ctypes.c_uint32), ("Fan2", ctypes.c_uint32), ("Fan3", ctypes.c_uint32),
                ("Fan4", ctypes.c_uint32), ("Fan5", ctypes.c_uint32), ("Volt", ctypes.c_uint8 * 10),
                ("Temp1", ctypes.c_uint8), ("Temp2", ctypes.c_uint8), ("Temp3", ctypes.c_uint8),
                ("Reserved", ctypes.c_uint8 * 3)]


Sensor = namedtuple("Sensor", "key label kind value unit min max alarm raw")

_lib = None
_U = ctypes.c_uint
_PU = ctypes.POINTER(ctypes.c_uint)
_DEV = ctypes.c_void_p
_SIGNATURES = {
    "zrv_version": ([], _U),
    "zrv_strerror": ([ctypes.c_int], ctypes.c_char_p),
    "zrv_open": ([ctypes.c_char_p, ctypes.POINTER(_DEV)], ctypes.c_int),
    "zrv_close": ([_DEV], None),
    "zrv_last_status": ([_DEV], ctypes.c_int32),
    "zrv_ioctl": ([_DEV, ctypes.c_uint32, ctypes.c_void_p, ctypes.c_size_t, ctypes.c_void_p, ctypes.c_size_t,
                   ctypes.POINTER(ctypes.c_size_t)], ctypes.c_int),
    "zrv_last_returned": ([_DEV], ctypes.c_size_t),
    "zrv_wdt_range": ([_DEV, _PU], ctypes.c_int),
    "zrv_wdt_limits": ([_DEV, _PU, _PU], ctypes.c_int),
    "zrv_wdt_set": ([_DEV, _U, _U], ctypes.c_int),
    "zrv_wdt_set_timeout": ([_DEV, _U], ctypes.c_int),
    "zrv_wdt_start": ([_DEV], ctypes.c_int),
    "zrv_wdt_kick": ([_DEV], ctypes.c_int),
    "zrv_wdt_stop": ([_DEV], ctypes.c_int),
    "zrv_hwm_read": ([_DEV, ctypes.POINTER(HwmData)], ctypes.c_int),
    "zrv_sensors": ([_DEV, ctypes.c_char_p, ctypes.POINTER(_Sensor), ctypes.c_size_t,
                     ctypes.POINTER(ctypes.c_size_t)], ctypes.c_int),
    "zrv_fan_set": ([_DEV, _U, _U, _U], ctypes.c_int),
    "zrv_fan_auto": ([_DEV, _U, _U, _U, _U, _U], ctypes.c_int),
    "zrv_dio_lines": ([_DEV, _PU, _PU], ctypes.c_int),
    "zrv_dio_read": ([_DEV, ctypes.POINTER(ctypes.c_uint16)], ctypes.c_int),
    "zrv_dio_read_outputs": ([_DEV, ctypes.POINTER(ctypes.c_uint16)], ctypes.c_int),
    "zrv_dio_write": ([_DEV, ctypes.c_uint16], ctypes.c_int),
    "zrv_dio_set_line": ([_DEV, _U, ctypes.c_int], ctypes.c_int),
    "zrv_dio_set_direction": ([_DEV, _U], ctypes.c_int),
    "zrv_cd_inputs": ([_DEV, ctypes.POINTER(ctypes.c_uint8)], ctypes.c_int),
    "zrv_cd_outputs": ([_DEV, _PU], ctypes.c_int),
    "zrv_cd_pulse": ([_DEV, _U], ctypes.c_int),
    "zrv_cd_set": ([_DEV, _U, ctypes.c_int], ctypes.c_int),
    "zrv_board_advance": ([_DEV, _U], ctypes.c_int),
    "zrv_board_resets": ([_DEV, _PU], ctypes.c_int),
}


def library():
    """The loaded libzorvik, with the argument types of every function set."""
    global _lib
    if _lib is None:
        lib = _load()
        for name, (args, result) in _SIGNATURES.items():
            f = getattr(lib, name)
            f.argtypes = args
            f.restype = result
        _lib = lib
    return _lib


class ZorvikError(OSError):
    """A failed call: `code` is the library's ZRV_E* code (negative), `status`
    the driver's completion status of the request, when one was sent."""

    def __init__(self, code, what, status=0):
        self.code = code
        self.status = status & 0xFFFFFFFF
        text = library().zrv_strerror(code).decode()
        super().__init__(code, "%s: %s (status 0x%08x)" % (what, text, self.status))


def version():
    """The library's version as (major, minor, patch)."""
    v = library().zrv_version()
    return (v >> 16, (v >> 8) & 0xFF, v & 0xFF)


class Device:
    """One board: the control device, or with target "sim:BOARD.json" a
    virtual board (Linux). A context manager; close() is also fine."""

    def __init__(self, target=None):
        self._lib = library()
        self._dev = _DEV()
        err = self._lib.zrv_open(target.encode() if target else None, ctypes.byref(self._dev))
        if err:
            raise ZorvikError(err, "open")

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        if self._dev:
            self._lib.zrv_close(self._dev)
            self._dev = _DEV()

    def _call(self, what, name, *args):
        if not self._dev:
            raise ValueError("the device is closed")
        err = getattr(self._lib, name)(self._dev, *args)
        if err:
            raise ZorvikError(err, what, self._lib.zrv_last_status(self._dev))

    def last_status(self):
        return self._lib.zrv_last_status(self._dev) & 0xFFFFFFFF

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
        """The channels as `sensors` shows them: with a profile in volts and
        degrees with limits; without one every channel, raw."""
        out = (_Sensor * 18)()
        count = ctypes.c_size_t()
        self._call("sensors", "zrv_sensors", profile.encode() if profile else None, out, 18,
                   ctypes.byref(count))
        return [Sensor(s.key.decode(), s.label.decode(), _KINDS[s.kind], s.value, _UNITS[s.kind],
                       s.min if s.has_min else None, s.max if s.has_max else None, bool(s.alarm), s.raw)
                for s in out[:count.value]]

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
        w = ctypes.c_uint16()
        self._call("dio_read", "zrv_dio_read", ctypes.byref(w))
        return w.value

    def dio_read_outputs(self):
        w = ctypes.c_uint16()
        self._call("dio_read_outputs", "zrv_dio_read_outputs", ctypes.byref(w))
        return w.value

    def dio_write(self, word):
        self._call("dio_write", "zrv_dio_write", word)

    def dio_set_line(self, line, level):
        self._call("dio_set_line", "zrv_dio_set_line", line, 1 if level else 0)

    def dio_set_direction(self, mask):
        """The direction mask of a board with a direction register (set bits are inputs)."""
        self._call("dio_set_direction", "zrv_dio_set_direction", mask)

    def cd_inputs(self):
        b = ctypes.c_uint8()
        self._call("cd_inputs", "zrv_cd_inputs", ctypes.byref(b))
        return b.value

    def cd_outputs(self):
        n = ctypes.c_uint()
        self._call("cd_outputs", "zrv_cd_outputs", ctypes.byref(n))
        return n.value

    def cd_pulse(self, output):
        self._call("cd_pulse", "zrv_cd_pulse", output)

    def cd_set(self, output, level):
        self._call("cd_set", "zrv_cd_set", output, 1 if level else 0)

    def ioctl(self, code, data=b"", out_len=0):
        """Any request, raw: the bytes it returned."""
        inbuf = ctypes.create_string_buffer(bytes(data), len(data)) if data else None
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
