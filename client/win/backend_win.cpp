// The Windows back-end: the requests go to "\\.\ZRVDev", the control device
// of the zorvik.sys running on this machine. Board commands need the
// emulated board of the Wine test bench (--board-port); on a real machine
// there is none.
#include <fcntl.h>
#include <io.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <iostream>

#include "client/backend.h"
#include "client/win/board_remote.h"
#include "client/win/device_win.h"

namespace zrvctl {

namespace {

class WinBackend : public Backend {
public:
    void addOptions(CLI::App& app) override {
        app.add_option(
               "--board-port", boardPort_,
               "test bench only: the emulated board's server on 127.0.0.1:PORT, for the board commands")
            ->check(CLI::Range(1, 65535));
    }

    int run(const std::vector<Action>& actions, bool json) override {
        WinDevice device;
        try {
            device.probe();
        } catch (const ClientError& e) {
            std::cerr << "zrvctl: the driver is not there: " << e.message << "\n";
            return 1;
        }
        std::unique_ptr<RemoteBoard> board;
        if (boardPort_ != 0) board = std::make_unique<RemoteBoard>(static_cast<uint16_t>(boardPort_));
        Context ctx{device, board.get(), json};
        for (auto& a : actions) a(ctx);
        std::fflush(stdout);
        std::cout.flush();
        return 0;
    }

private:
    unsigned boardPort_ = 0;
};

}  // namespace

std::unique_ptr<Backend> makeBackend() {
    // Answers are lines ending in "\n" on every system, as on Linux.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    return std::make_unique<WinBackend>();
}

}  // namespace zrvctl
