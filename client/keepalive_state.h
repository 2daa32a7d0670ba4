// What the keepalive loop (wdctl keepalive --every, the Windows service)
// last knew of the watchdog, kept in a small file so that other runs of the
// client, which cannot ask the chip, can tell it: wdctl shows it, the
// metrics exporter publishes the time of the last keepalive.
//
// The file is one "key value" pair a line (text, ASCII, LF line ends):
//
//   timeout_seconds 60
//   running 1
//   last_keepalive 1765170000
//   period_seconds 10
//   written 1765170000
//
// Unknown keys are skipped, so later writers may add some. The file is
// written whole to a temporary beside it and renamed over the old one, so a
// reader sees either the old state or the new one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zrvctl {

struct KeepaliveState {
    uint32_t timeoutSeconds = 0;  // the timeout the loop set; 0 when it set none
    bool running = false;         // the watchdog was left running (counting down)
    int64_t lastKeepalive = 0;    // the last start or restart, seconds since the epoch
    uint32_t periodSeconds = 0;   // the keepalive period, rounded up to whole seconds
    int64_t written = 0;          // when the file was written, seconds since the epoch
};

// The environment variable that moves the file (tests point it into a
// temporary directory).
constexpr const char* kKeepaliveStateVariable = "ZRV_KEEPALIVE_STATE";

// The file: $ZRV_KEEPALIVE_STATE when set; else on Windows
// "%ALLUSERSPROFILE%\Application Data\Zorvik\keepalive.state" (the common
// application data folder of XP, readable by every account); elsewhere
// "$XDG_RUNTIME_DIR/zorvik-keepalive.state", or "/tmp/zorvik-keepalive-UID.state".
std::string keepaliveStatePath();

// Writes `s` (its `written` member is set to now). Returns false when the
// file could not be written whole; the old file then stays as it was.
bool writeKeepaliveState(KeepaliveState s, const std::string& path = keepaliveStatePath());

// The state last written; empty when there is no file or it is not one.
std::optional<KeepaliveState> readKeepaliveState(const std::string& path = keepaliveStatePath());

}  // namespace zrvctl
