// The Linux back-end: the driver loaded on a virtual board in this process.
// The board is loaded from its board file, the driver is loaded once, the
// commands run in order, the driver is unloaded, and what the hardware saw
// is written out on request.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <mutex>

#include "client/backend.h"
#include "sim/board.h"
#include "sim/machine.h"

namespace zrvctl {

namespace {

// The control device on the virtual board; each request goes through a
// handle opened for it with the access it asks for.
class SimDevice : public Device {
public:
    explicit SimDevice(sim::Machine& m) : machine_(m) {}
    Reply ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                HandleAccess access) override {
        int handle = 0;
        const auto a = access == HandleAccess::Read ? sim::Access::Read : sim::Access::ReadWrite;
        int32_t status = machine_.open(ZRV_USER_DEVICE_NAME, a, &handle);
        if (status != ZRV_STATUS_SUCCESS)
            throw ClientError{fmt::format("cannot open {}: {}", ZRV_USER_DEVICE_NAME, statusName(status))};
        sim::IoResult r = machine_.ioctl(handle, code, input, outputLength);
        machine_.close(handle);
        return Reply{r.status, r.bytes, r.data};
    }

private:
    sim::Machine& machine_;
};

// The virtual board itself.
class MachineBoard : public Board {
public:
    explicit MachineBoard(sim::Machine& m) : machine_(m) {}
    void advance(uint64_t ms) override { machine_.advance(ms); }
    uint64_t nowMs() override { return machine_.clock().nowMs(); }
    bool setPin(const std::string& line, bool level) override {
        std::lock_guard lock(machine_.bus().mutex());
        for (auto& d : machine_.bus().devices())
            if (d->setPin(line, level)) return true;
        return false;
    }
    std::optional<bool> pin(const std::string& line) override {
        std::lock_guard lock(machine_.bus().mutex());
        for (auto& d : machine_.bus().devices())
            if (auto level = d->pin(line)) return level;
        return std::nullopt;
    }
    std::vector<uint64_t> resets() override {
        std::lock_guard lock(machine_.bus().mutex());
        std::vector<uint64_t> all;
        for (auto& d : machine_.bus().devices())
            for (uint64_t at : d->resets()) all.push_back(at);
        return all;
    }

private:
    sim::Machine& machine_;
};

class SimBackend : public Backend {
public:
    void addOptions(CLI::App& app) override {
        app.add_option("--sim", board_, "board file of the virtual board (default: the bundled board)");
        app.add_option("--trace", traceFile_, "write every port access of the driver to FILE");
        app.add_option("--dbg", dbgFile_, "write the driver's debugger output to FILE");
    }

    int run(const std::vector<Action>& actions, bool json) override {
        sim::Machine machine;
        try {
            sim::loadBoard(machine, board_);
        } catch (const sim::BoardError& e) {
            throw ClientError{e.what()};
        }
        // What the hardware saw streams to its files as it happens.
        if (!traceFile_.empty() && !machine.bus().traceToFile(traceFile_))
            throw ClientError{fmt::format("{}: cannot write", traceFile_)};
        if (!dbgFile_.empty() && !machine.debugToFile(dbgFile_))
            throw ClientError{fmt::format("{}: cannot write", dbgFile_)};
        const int32_t loadStatus = machine.load();
        int rc = 0;
        if (loadStatus != ZRV_STATUS_SUCCESS) {
            std::cerr << fmt::format("zrvctl: the driver did not load: 0x{:08x} ({})\n",
                                     static_cast<uint32_t>(loadStatus), statusName(loadStatus));
            rc = 1;
        } else {
            SimDevice device(machine);
            MachineBoard board(machine);
            Context ctx{device, &board, json};
            for (auto& a : actions) a(ctx);
            std::cout.flush();
            machine.unload();
        }

        machine.bus().closeTraceFile();
        machine.closeDebugFile();
        for (auto& v : machine.ioViolations()) {
            std::cerr << "zrvctl: driver broke a platform rule: " << v << "\n";
            rc = 3;
        }
        for (auto& v : machine.deviceViolations()) {
            std::cerr << "zrvctl: hardware protocol violation: " << v << "\n";
            rc = 3;
        }
        return rc;
    }

private:
    std::string board_ = ZRV_DEFAULT_BOARD;
    std::string traceFile_;
    std::string dbgFile_;
};

}  // namespace

std::unique_ptr<Backend> makeBackend() { return std::make_unique<SimBackend>(); }

}  // namespace zrvctl
