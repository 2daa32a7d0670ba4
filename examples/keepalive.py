#!/usr/bin/env python3
"""keepalive.py: the watchdog kept alive from Python, with the board's
readings every round, as wdt_keepalive.c does.

    keepalive.py [PROFILE [ROUNDS [INTERVAL]]]

The board: zorvik.sys on Windows; on Linux the board file in ZORVIK_BOARD,
else the default board installed with the library.
"""
import sys
import time

import zorvik

profile = sys.argv[1] if len(sys.argv) > 1 and sys.argv[1] != "-" else None
rounds = int(sys.argv[2]) if len(sys.argv) > 2 else 3
interval = float(sys.argv[3]) if len(sys.argv) > 3 else 10

with zorvik.Device() as board:
    board.wdt_set_timeout(30)
    board.wdt_start()
    print("watchdog: up to %d s, set to 30 s and started" % board.wdt_range())
    try:
        for n in range(1, rounds + 1):
            print("round %d:" % n)
            for s in board.sensors(profile):
                limits = "".join("  %s %.2f" % (k, v) for k, v in (("min", s.min), ("max", s.max)) if v is not None)
                print("  %-12s %9.2f %s%s%s" % (s.label, s.value, s.unit, limits, "  ALARM" if s.alarm else ""))
            board.wdt_kick()
            if n < rounds:
                time.sleep(interval)
    finally:
        board.wdt_stop()
        print("watchdog stopped")
