"""The Python binding on the virtual boards: ZORVIK_LIBRARY names the library (unset: the system's, else
skipped), ZRV_SOURCE_DIR the source tree (unset: the one this file is in)."""

import functools
import os
import pathlib
import subprocess
import sys

import pytest

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent))
import zorvik  # noqa: E402

if not os.environ.get("ZORVIK_LIBRARY"):
    try:
        zorvik.library()
    except OSError as e:
        pytest.skip("set ZORVIK_LIBRARY to the build's libzorvik.so.1 (%s)" % e, allow_module_level=True)

BOARDS = os.path.join(os.environ.get("ZRV_SOURCE_DIR") or str(HERE.parents[2]), "boards")
PROFILE = os.path.join(BOARDS, "default.profile.json")


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


def session(tmp_path, monkeypatch, call):
    """The port trace and the resets of: watchdog at 30 s started, `call`, 20 s of board time."""
    monkeypatch.setenv("ZORVIK_TRACE", str(tmp_path / "trace"))
    with zorvik.Device(board("default.json")) as b:
        b.wdt_set_timeout(30)
        b.wdt_start()
        call(b)
        b.board_advance(20000)
        resets = b.board_resets()
    return (tmp_path / "trace").read_text(), resets


@pytest.mark.parametrize("call, error", [
    (lambda b: b.dio_write(0x10001), OverflowError),
    (lambda b: b.dio_set_line(2**32, 1), OverflowError),
    (lambda b: b.fan_set(2**32, zorvik.FAN_DUTY, 0), OverflowError),
    (lambda b: b.board_advance(-1), OverflowError),
    (lambda b: b.wdt_set_timeout(2**32 + 5), OverflowError),
    (lambda b: b.wdt_set_timeout(-1), OverflowError),
    (lambda b: b.dio_write(True), TypeError),
    (lambda b: b.board_advance(1.5), TypeError),
    (lambda b: b.fan_set("1", zorvik.FAN_DUTY, 0), TypeError),
    (lambda b: zorvik.Device(123), TypeError),
    (lambda b: zorvik.Device(pathlib.Path(BOARDS, "default.json")), TypeError),
    (lambda b: zorvik.Device(board("default.json\0.x")), ValueError),
    (lambda b: b.sensors(123), TypeError),
])
def test_bad_arguments_raise_before_anything_is_sent(tmp_path, monkeypatch, call, error):
    refused = session(tmp_path, monkeypatch, lambda b: pytest.raises(error, call, b))
    assert refused == session(tmp_path, monkeypatch, lambda b: None)


# Two threads call until the device, closed under them, refuses them thrice (last_status() too); 5 rounds.
RACE = """
def run(call, got):
    while got.count("ValueError") < 3 and len(got) < 100000:
        try:
            got.append(type(call()).__name__)
        except (ValueError, zorvik.ZorvikError) as e:
            got.append(type(e).__name__)
def race():
    d, runs = zorvik.Device(B("default.json")), [[], []]
    threads = [threading.Thread(target=run, args=c) for c in zip((d.dio_read_outputs, d.sensors), runs)]
    [t.start() for t in threads]
    while min(map(len, runs)) < 100:  # the subprocess's timeout bounds it
        time.sleep(0.001)
    d.close()
    [t.join() for t in threads]
    runs.append([])
    run(d.last_status, runs[-1])
    return [[k for k, _ in itertools.groupby(got)] for got in runs]
print(*{str(race()) for _ in range(5)})
"""


@pytest.mark.parametrize("script, printed", [
    (RACE, "[['int', 'ValueError'], ['list', 'ValueError'], ['ValueError']]"),
    ("zorvik.Device(B('default.json'))\nprint(zorvik.Device(B('it8712f-d.json')).wdt_range())", "15300"),
    ("atexit.register(lambda: print(zorvik.Device(B('it8712f-d.json')).wdt_range()))\n"
     "d = zorvik.Device(B('default.json'))\nd.wdt_set_timeout(30)\nd.wdt_kick()", "15300"),
], ids=["close-during-calls", "dropped", "left-open-at-exit"])
def test_closed_when_closed_collected_or_at_exit(script, printed):
    prelude = "import atexit, itertools, os, sys, threading, time, zorvik\n" \
              "B = lambda name: 'sim:' + os.path.join(sys.argv[1], name)\n"
    r = subprocess.run([sys.executable, "-c", prelude + script, BOARDS], capture_output=True, text=True,
                       env=dict(os.environ, PYTHONPATH=str(HERE.parent)), timeout=60)
    assert (r.returncode, r.stdout.strip(), r.stderr) == (0, printed, "")


error = functools.partial(pytest.raises, zorvik.ZorvikError)  # error(call).value: what call raised


def written(tmp_path, name, text):
    path = os.path.join(type(name)(tmp_path), name)  # str or bytes, as the name
    pathlib.Path(os.fsdecode(path)).write_text(text, encoding="utf-8")
    return path


@pytest.mark.parametrize("call, expected", [
    (lambda b, t: b.sensors(written(t, "cut.json", '{"channels": {"fan1": {"label": "%s\u00e9"}}}' % ("x" * 46)))
     [0].label.rstrip("\ufffd"), "x" * 46),
    (lambda b, t: error(lambda: zorvik.Profile(written(t, b"\xff.json", "{"))).value.strerror.split("/")[-1][:22],
     "\ufffd.json: malformed JSON"),
    (lambda b, t: (zorvik.sensors_of(b.hwm_read(), zorvik.Profile(PROFILE)) == b.sensors(PROFILE),
                   zorvik.sensors_of(b.ioctl(zorvik.IOCTL_HWM_GET_DATA, out_len=36))[0][:4]),
     (True, ("fan1", "fan1", "fan", 2400))),
    (lambda b, t: [(p.chip, p.adapter, p.lines(True)[3], p.find_line("DO3", True), p.find_line("12"), p.pins(),
                    p.direction(), error(lambda: p.find_line("x")).value.code) for p in [zorvik.Profile(PROFILE)]],
     [("f81865-isa-0a00", "ISA adapter", "DO3", 3, 12, [], None, -3)]),
    (lambda b, t: [(p.pins()[5], p.direction(), zorvik.dio_pin_line(p.direction(), 5))
                   for p in [zorvik.Profile(os.path.join(BOARDS, "port-specific.profile.json"))]],
     [("GPIO5", 0x0F, (True, 1))]),
    (lambda b, t: (zorvik.wdt_choose(255, 3, 300), error(lambda: zorvik.wdt_choose(255, 1, 300)).value.code,
                   zorvik.strerror(5), b.ioctl(0x88202010, b"\x34\x12", 2), b.last_returned()),
     ((5, 2), -6, "unknown error", b"\x34\x12", 2)),
    (lambda b, t: (b.load_reasons(), zorvik.reason_text(0), zorvik.reason_text(1000)),
     ({"hwm": 0, "wdt": 0, "dio": 0}, "bound", "unknown reason")),
])
def test_texts_records_and_profiles(tmp_path, call, expected):
    with zorvik.Device(board("default.json")) as b:
        assert call(b, tmp_path) == expected


def test_every_export_has_a_signature():
    source = pathlib.Path(BOARDS).parent
    exports = [w for w in (source / "lib" / "zorvik.def").read_text().split() if w.startswith("zrv_")]
    assert len(exports) > 40
    assert sorted(set(exports) - set(zorvik._SIGNATURES)) == []


# Device() with nothing found says which variable to set. The build's
# library has no default board installed beside it.
@pytest.mark.parametrize("env, words", [
    ({"ZORVIK_LIBRARY": "/nonexistent/libzorvik.so.1"},
     "OSError: ZORVIK_LIBRARY=/nonexistent/libzorvik.so.1 cannot be loaded"),
    ({"ZORVIK_BOARD": ""}, "no driver or board (status 0x00000000): set ZORVIK_BOARD to a board file"),
    ({"ZORVIK_BOARD": "/nonexistent.json"}, "ZORVIK_BOARD=/nonexistent.json is no board file that loads"),
])
def test_what_to_set_when_nothing_is_found(env, words):
    r = subprocess.run([sys.executable, "-c", "import zorvik; zorvik.Device()"], capture_output=True, text=True,
                       env=dict(os.environ, PYTHONPATH=str(HERE.parent), **env), timeout=60)
    assert r.returncode == 1 and words in r.stderr, r.stderr
