// The board server's requests: one emulated board (a sim::Machine with its
// devices, no driver) answering port accesses and board commands, one
// request line at a time. zrvboard puts it on a loopback TCP port for the
// Wine testbed, where the stand-in hal.dll sends the driver's port
// accesses and zrvctl.exe its board commands.
//
// Requests and answers (numbers in decimal or 0x-hex; answers "ok ..." or
// "err WHAT"):
//   in PORT               ok 0xVV        a read, as the driver's: traced
//   out PORT VALUE        ok             a write, traced
//   advance MS            ok             move virtual time
//   now                   ok MS
//   setpin LINE 0|1       ok 1 | ok 0    drive a line; 0 when no device has it
//   pin LINE              ok 0|1|none
//   resets                ok [MS ...]    board resets the hardware caused
//   trace                 ok N, then N trace lines ("out 0x002e 0x87"): the
//                         most recent accesses, as many as the bus's trace
//                         ring holds
//   violations            ok N, then N lines ("TYPE: what")
//   unclaimed             ok N, then N lines ("in 0x0300 2"): ports the driver
//                         touched that no device decodes, with how often
//   quit                  ok             the server stops
#pragma once

#include <string>

#include "sim/machine.h"

namespace sim {

class BoardServer {
public:
    explicit BoardServer(Machine& machine) : machine_(machine) {}
    // The answer to one request line (without its newline), every line of
    // it ending in "\n".
    std::string handle(const std::string& request);
    bool quitRequested() const { return quit_; }

private:
    Machine& machine_;
    bool quit_ = false;
};

}  // namespace sim
