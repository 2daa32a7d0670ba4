// The Linux back-end: the driver loaded on a virtual board in this process.
// The board is loaded from its board file, the driver is loaded once, the
// commands run in order, the driver is unloaded, and what the hardware saw
// is written out on request.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <map>
#include <mutex>

#include "client/backend.h"
#include "sim/board.h"
#include "sim/machine.h"

namespace zrvctl {

namespace {

// The control device on the virtual board, with one handle per access mode
// for the whole run, opened at its first request.
class SimDevice : public Device {
public:
    explicit SimDevice(sim::Machine& m) : machine_(m) {}
    ~SimDevice() override {
        for (auto& [_, handle] : handles_) machine_.close(handle);
    }
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    Reply ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                HandleAccess access) override {
        auto it = handles_.find(access);
        if (it == handles_.end()) {
            int handle = 0;
            const auto a = access == HandleAccess::Read ? sim::Access::Read : sim::Access::ReadWrite;
            const int32_t status = machine_.open(ZRV_USER_DEVICE_NAME, a, &handle);
            if (status != ZRV_STATUS_SUCCESS)
                throw ClientError{
                    fmt::format("cannot open {}: {}", ZRV_USER_DEVICE_NAME, statusName(status))};
            it = handles_.emplace(access, handle).first;
        }
        sim::IoResult r = machine_.ioctl(it->second, code, input, outputLength);
        return Reply{r.status, r.bytes, r.data};
    }

private:
    sim::Machine& machine_;
    std::map<HandleAccess, int> handles_;
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

// The board's .reg file, as the virtual registry holds it.
class SimConfig : public ConfigSource {
public:
    SimConfig(const sim::Registry& registry, std::string file)
        : registry_(registry), file_(std::move(file)) {}
    std::string where() override { return file_.empty() ? "the board file (no registry file)" : file_; }
    std::optional<std::vector<RegistryEntry>> values(const std::string& subkey) override {
        const std::string path = std::string(kConfigRoot) + subkey;
        if (!registry_.keyExists(path)) return std::nullopt;
        std::vector<RegistryEntry> out;
        for (const sim::RegValue& v : registry_.values(path)) out.push_back({v.name, v.type, v.data});
        return out;
    }

private:
    const sim::Registry& registry_;
    std::string file_;
};

class SimBackend : public Backend {
public:
    void addOptions(CLI::App& app, RunOptions&) override {
        app.add_option("--sim", board_, "board file of the virtual board (default: the bundled board)");
        app.add_option("--trace", traceFile_, "write every port access of the driver to FILE");
        app.add_option("--dbg", dbgFile_, "write the driver's debugger output to FILE");
    }

    std::string profileHint() const override { return "NAME.profile.json beside the board's NAME.reg"; }

    int run(const std::vector<Action>& actions, const RunOptions& options) override {
        sim::Machine machine;
        sim::BoardInfo info;
        try {
            info = sim::loadBoard(machine, board_);
        } catch (const std::exception& e) {
            throw ClientError{e.what()};
        }
        // What the hardware saw streams to its files as it happens.
        if (!traceFile_.empty() && !machine.bus().traceToFile(traceFile_))
            throw ClientError{fmt::format("{}: cannot write", traceFile_)};
        if (!dbgFile_.empty() && !machine.debugToFile(dbgFile_))
            throw ClientError{fmt::format("{}: cannot write", dbgFile_)};
        const Profile profile =
            chooseProfile(options.profile, info.registryFile.empty() ? "" : profileBeside(info.registryFile));
        const int32_t loadStatus = machine.load();
        int rc = kExitOk;
        if (loadStatus != ZRV_STATUS_SUCCESS) {
            std::cerr << fmt::format("zrvctl: the driver did not load: 0x{:08x} ({})\n",
                                     static_cast<uint32_t>(loadStatus), statusName(loadStatus));
            rc = kExitRefused;
        } else {
            MachineBoard board(machine);
            BoardClock clock(board);
            SimConfig config(machine.registry(), info.registryFile);
            {
                SimDevice device(machine);
                Context ctx{device, &board, clock, profile, &config, options.json, kExitOk, {}};
                for (auto& a : actions) {
                    if (interrupted()) break;
                    a(ctx);
                }
                rc = ctx.exitCode;
            }
            std::cout.flush();
            std::fflush(stdout);
            machine.unload();
        }

        machine.bus().closeTraceFile();
        machine.closeDebugFile();
        for (auto& v : machine.ioViolations()) {
            std::cerr << "zrvctl: driver broke a platform rule: " << v << "\n";
            rc = kExitBrokenRule;
        }
        for (auto& v : machine.deviceViolations()) {
            std::cerr << "zrvctl: hardware protocol violation: " << v << "\n";
            rc = kExitBrokenRule;
        }
        // Beside the trace: the ports the driver touched that nothing answered at.
        if (!traceFile_.empty())
            for (const auto& u : machine.unclaimedAccesses())
                std::cerr << fmt::format(
                    "zrvctl: unclaimed port 0x{:04x}: {} {} time(s), no device decodes it\n", u.port,
                    u.write ? "written" : "read", u.count);
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
