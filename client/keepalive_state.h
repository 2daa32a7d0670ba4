// What the keepalive loop (wdctl keepalive --every, the Windows service)
// and the one-off wdctl start, stop and keepalive last knew of the watchdog,
// kept in a small file so that other runs of the client, which cannot ask
// the chip, can tell it: wdctl shows it, the metrics exporter publishes it.
//
// The file holds one record per device, each a block of "key value" lines
// (text, LF line ends) that starts with its `device` line:
//
//   device "sim:/home/ops/boards/line3.json"
//   writer "keepalive"
//   timeout_seconds 60
//   running 1
//   last_keepalive 1765170000
//   period_seconds 10
//   pid 4711
//   pid_start 90210
//   ended 0
//   written 1765170000
//
// String values are quoted, with backslash, double quote and every control
// byte escaped (\\, \", \t, \n, \xHH), so a board file's path reads back
// as it was written whatever it holds. A record belongs to one device: an
// emulated board by the full path of its board file, or the control device
// of the machine's driver. While a loop runs, `pid` and `pid_start` (when
// the process started: /proc/PID/stat's start time on Linux, the creation
// time on Windows) name its process and `ended` is 0; a loop that ends, and
// a one-off wdctl command, write the time they ended. A record whose loop
// has neither ended nor still runs (its pid gone, or taken by a process
// that started at another time) is that of a loop that died.
//
// Unknown keys are skipped, so later writers may add some. A writer takes
// the file's lock (FILE.lock beside it, the account's own), reads the
// records, replaces its own device's, writes them all to a new temporary
// file beside it and renames that over the old one: several devices share
// one file without losing each other's record, and a reader, which takes
// no lock, sees either the old file or the new one.
//
// What is read is published (zorvik_watchdog_running), so it must come from
// the caller itself. On Linux the file must be the caller's own regular file
// (opened without following a link and without waiting: a FIFO or a device
// planted in its place is refused, never read), in a folder no other user
// may write in (the caller's or root's, not a link); anything else is
// refused with the reason. On Windows the file must be a plain disk file
// owned by the caller, the Administrators or the system.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zrvctl {

// Who wrote a record: the keepalive loop, or a one-off wdctl command.
constexpr const char* kLoopWriter = "keepalive";

struct KeepaliveState {
    std::string device;                // whose state it is (see keepaliveDevice)
    std::string writer = kLoopWriter;  // kLoopWriter, or "wdctl start", "wdctl stop", "wdctl keepalive"
    uint32_t timeoutSeconds = 0;       // the timeout set; 0 when unknown
    bool running = false;              // the watchdog was left running (counting down)
    int64_t lastKeepalive = 0;         // the last start or restart, seconds since the epoch; 0 unknown
    uint32_t periodSeconds = 0;        // the keepalive period, rounded up to whole seconds
    int64_t written = 0;               // when the record was written, seconds since the epoch
    int64_t pid = 0;                   // the writer's process (set by the writer)
    uint64_t pidStart = 0;             // when that process started (set by the writer); 0 unknown
    int64_t ended = 0;                 // when the loop ended, seconds since the epoch; 0 while it runs
};

// What became of the loop that wrote a state.
enum class KeepaliveLife {
    Running,  // not ended, and its process is still there
    Ended,    // it ended and said so (interrupt, --count, a refused restart, a one-off wdctl)
    Died,     // its process is gone without saying it ended (killed, crashed)
};
KeepaliveLife keepaliveLife(const KeepaliveState& s);

// When a process started, in the system's own count (Linux: clock ticks
// since boot, /proc/PID/stat's 22nd field; Windows: the creation time);
// 0 when it cannot be told.
uint64_t processStart(int64_t pid);

// When the watchdog resets the board unless restarted: the last keepalive
// plus the timeout; 0 when either is unknown.
int64_t watchdogDeadline(const KeepaliveState& s);
// Whether the watchdog may still count at `now`: it was left running, and
// unless a loop that still runs keeps it so, its timeout has not yet run
// out since the last keepalive (after that it has reset the board, or was
// stopped by something that did not say so).
bool watchdogMayRun(const KeepaliveState& s, KeepaliveLife life, int64_t now);

// The name of a device for its state: "sim:" and the full path of an
// emulated board's file, or the machine's control device.
std::string keepaliveDevice(const std::string& boardFile);

// The last second a keepalive time may name: 9999-12-31T23:59:59Z, the end
// of the four-digit years that ISO 8601 dates (wdctl) and every time stamp
// consumer take. Anything later, or before 1970, is a broken clock or a
// broken file: read as unknown.
constexpr int64_t kLatestKeepaliveTime = 253402300799;
constexpr bool knownTime(int64_t t) { return t > 0 && t <= kLatestKeepaliveTime; }

// The environment variable that moves the file (tests point it into a
// temporary directory).
constexpr const char* kKeepaliveStateVariable = "ZRV_KEEPALIVE_STATE";

// The file of a device's state: $ZRV_KEEPALIVE_STATE when set (every
// device then keeps its record in that one file); else on Windows, where
// there is one device, "%ALLUSERSPROFILE%\Application Data\Zorvik\keepalive.state"
// (the common application data folder of XP); elsewhere
// "$XDG_RUNTIME_DIR/zorvik-keepalive-HASH.state" where that variable names
// an absolute path (a relative one is ignored, as the XDG rules say), else
// "/tmp/zorvik-UID/keepalive-HASH.state" in a folder of the caller's own
// (made with mode 0700), HASH naming the device.
std::string keepaliveStatePath(const std::string& device);

// Writes `s` as its device's record (its `written` member is set to now,
// `pid` and `pidStart` to this process), keeping the other devices'
// records. Returns false with `why` set when the file could not be written
// whole; the old file then stays as it was, and nothing of the attempt is
// left beside it.
bool writeKeepaliveState(KeepaliveState s, std::string& why, const std::string& path);
inline bool writeKeepaliveState(const KeepaliveState& s, std::string& why) {
    return writeKeepaliveState(s, why, keepaliveStatePath(s.device));
}
// Removes `device`'s record (the file with it when it was the last). True
// when there is none left, also when there was none; false with `why` set
// when the file could not be rewritten or is refused.
bool forgetKeepaliveState(const std::string& device, std::string& why, const std::string& path);

// Every record of the file. Empty with `why` empty when there is none;
// empty with `why` set when the file or its folder is refused (above) or is
// not a state. Never waits. A last keepalive outside 1970..9999 reads as 0.
std::vector<KeepaliveState> readKeepaliveStates(std::string& why, const std::string& path);
// The record of `device`, from its file; empty (and `why` empty) when the
// file holds none of it.
std::optional<KeepaliveState> readDeviceKeepaliveState(const std::string& device, std::string& why);

}  // namespace zrvctl
