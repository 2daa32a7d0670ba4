// What the client talks to: the control device, on the virtual board or on
// a real machine, and, on a virtual board only, the board itself.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zorvik/ioctl.h"
#include "zorvik/reasons.h"
#include "zorvik/zorvik.h"

namespace zrvctl {

enum class HandleAccess { Read, ReadWrite };

// The control device through libzorvik, on the virtual board or on a real
// machine: one library device per handle access mode for the whole run,
// opened at the first request that asks for it, so that the I/O manager
// checks the access field of every request code against the handle.
class Device {
public:
    virtual ~Device() = default;
    // The library's device on a handle opened with `access`. Throws
    // ClientError (kExitNoDriver) when the device cannot be opened.
    virtual zrv_device* open(HandleAccess access) = 0;
};

// The emulated board behind the driver, for the commands that act on the
// hardware itself instead of going through the driver: moving virtual time,
// driving input lines, reading output levels. It is the simulator in this
// process on Linux, or the board server of the Wine testbed for the
// Windows client; a real machine has none. Commands reach it only through
// this interface, never through the simulator's own classes, so that the
// same command code builds into both clients.
class Board {
public:
    virtual ~Board() = default;
    // Moves virtual time; every emulated device sees it.
    virtual void advance(uint64_t ms) = 0;
    virtual uint64_t nowMs() = 0;
    // Drives a line from outside, by the emulated device's own line name.
    // False when no device on the board has that line.
    virtual bool setPin(const std::string& line, bool level) = 0;
    // The level of a line; empty when no device has it.
    virtual std::optional<bool> pin(const std::string& line) = 0;
    // Board resets the hardware caused so far (a watchdog that ran out), at
    // these virtual times in ms.
    virtual std::vector<uint64_t> resets() = 0;
};

// A client failure with a message for standard error.
struct ClientError {
    std::string message;
    int code = 2;  // the run's exit code (ExitCode): a usage error unless said otherwise
};

}  // namespace zrvctl
