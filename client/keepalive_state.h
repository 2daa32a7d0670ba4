// What the keepalive loop (wdctl keepalive --every, the Windows service)
// last knew of the watchdog, kept in a small file so that other runs of the
// client, which cannot ask the chip, can tell it: wdctl shows it, the
// metrics exporter publishes the time of the last keepalive.
//
// The file is one "key value" pair a line (text, LF line ends):
//
//   device sim:/home/ops/boards/line3.json
//   timeout_seconds 60
//   running 1
//   last_keepalive 1765170000
//   period_seconds 10
//   pid 4711
//   ended 0
//   written 1765170000
//
// A state belongs to one device: an emulated board by the full path of its
// board file, or the control device of the machine's driver. Each device's
// state has a file of its own, and a reader takes only the state of the
// device it asks about. While the loop runs, `pid` names its process and
// `ended` is 0; a loop that ends writes the time it ended. A state whose
// loop has neither ended nor still runs is that of a loop that died.
//
// Unknown keys are skipped, so later writers may add some. Each writer
// writes the whole file to a temporary file of its own beside it and renames
// that over the old one, so a reader sees either the old state or the new
// one, however many keepalive loops write at once.
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

namespace zrvctl {

struct KeepaliveState {
    std::string device;           // whose state it is (see keepaliveDevice)
    uint32_t timeoutSeconds = 0;  // the timeout the loop set; 0 when it set none
    bool running = false;         // the watchdog was left running (counting down)
    int64_t lastKeepalive = 0;    // the last start or restart, seconds since the epoch; 0 unknown
    uint32_t periodSeconds = 0;   // the keepalive period, rounded up to whole seconds
    int64_t written = 0;          // when the file was written, seconds since the epoch
    int64_t pid = 0;              // the loop's process (set by the writer)
    int64_t ended = 0;            // when the loop ended, seconds since the epoch; 0 while it runs
};

// What became of the loop that wrote a state.
enum class KeepaliveLife {
    Running,  // not ended, and its process is still there
    Ended,    // it ended and said so (interrupt, --count, a refused restart)
    Died,     // its process is gone without saying it ended (killed, crashed)
};
KeepaliveLife keepaliveLife(const KeepaliveState& s);

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
// device then shares that one file, and a reader still takes only its own
// device's state from it); else on Windows, where there is one device,
// "%ALLUSERSPROFILE%\Application Data\Zorvik\keepalive.state" (the common
// application data folder of XP); elsewhere
// "$XDG_RUNTIME_DIR/zorvik-keepalive-HASH.state", or
// "/tmp/zorvik-UID/keepalive-HASH.state" in a folder of the caller's own
// (made with mode 0700), HASH naming the device.
std::string keepaliveStatePath(const std::string& device);

// Writes `s` (its `written` member is set to now, its `pid` to this
// process). Returns false with `why` set when the file could not be written
// whole; the old file then stays as it was, and nothing of the attempt is
// left beside it.
bool writeKeepaliveState(KeepaliveState s, std::string& why, const std::string& path);
inline bool writeKeepaliveState(const KeepaliveState& s, std::string& why) {
    return writeKeepaliveState(s, why, keepaliveStatePath(s.device));
}

// The state last written. Empty with `why` empty when there is none; empty
// with `why` set when the file or its folder is refused (above) or is not a
// state. Never waits. A last keepalive outside 1970..9999 reads as 0.
std::optional<KeepaliveState> readKeepaliveState(std::string& why, const std::string& path);
// The state of `device`, from its file; empty (and `why` empty) when the
// file holds no state or another device's.
std::optional<KeepaliveState> readDeviceKeepaliveState(const std::string& device, std::string& why);

}  // namespace zrvctl
