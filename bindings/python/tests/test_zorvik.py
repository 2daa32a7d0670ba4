"""The Python binding on the virtual boards (ZORVIK_LIBRARY names the
library of the build, ZRV_SOURCE_DIR the source tree)."""

import os

import pytest

import zorvik

BOARDS = os.path.join(os.environ["ZRV_SOURCE_DIR"], "boards")


def board(name):
    return "sim:" + os.path.join(BOARDS, name)


def test_default_board_in_volts_watchdog_and_lines():
    with zorvik.Device(board("default.json")) as b:
        assert b.wdt_range() == 255 * 60
        assert b.wdt_limits() == (255, 3)
        sensors = b.sensors(os.path.join(BOARDS, "default.profile.json"))
        vcore = [s for s in sensors if s.label == "Vcore"][0]
        assert (vcore.value, vcore.unit, vcore.min, vcore.max, vcore.alarm) == (1.12, "V", 0.8, 1.4, False)
        assert sensors[0].value == b.hwm_read().Fan1 == 2400
        b.wdt_set_timeout(5)
        b.wdt_start()
        b.board_advance(4000)
        b.wdt_kick()
        b.board_advance(4900)
        assert b.board_resets() == 0
        b.board_advance(200)
        assert b.board_resets() == 1
        b.wdt_stop()
        assert b.dio_lines() == (8, 8)
        b.dio_write(0)
        b.dio_set_line(3, True)
        b.dio_set_line(5, True)
        b.dio_set_line(3, False)
        assert b.dio_read_outputs() == 1 << 5
        assert b.ioctl(0x88202010, b"\x34\x12", 2) == b"\x34\x12"


@pytest.mark.parametrize("call, code, status", [
    (lambda b: b.cd_outputs(), -4, 0xC00000BB),        # no CD port: not supported
    (lambda b: b.fan_set(0, 1, 128), -3, 0),           # duty out of range: refused before sending
    (lambda b: b.fan_auto(0, 40, 60), -5, 0xC0000001),  # no automatic mode on this chip
    (lambda b: b.wdt_set_timeout(0), -6, 0),
    (lambda b: b.wdt_set(10, 3), -3, 0),                # no unit 3
    (lambda b: b.dio_set_direction(0x0F), -4, 0xC00000BB),  # no direction register on this board
])
def test_failures_raise_with_code_and_status(call, code, status):
    with zorvik.Device(board("default.json")) as b:
        b.dio_lines()  # a successful request first: the status below is the failed one's
        with pytest.raises(zorvik.ZorvikError) as e:
            call(b)
        assert e.value.code == code
        if status:
            assert e.value.status == status


def test_no_board():
    with pytest.raises(zorvik.ZorvikError) as e:
        zorvik.Device(board("missing.json"))
    assert e.value.code == -1
    assert zorvik.version()[0] == 1
