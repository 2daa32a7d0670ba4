// The Linux back-end: the driver loaded on a virtual board in this process.
// The board is loaded from its board file, the driver is loaded once, the
// commands run in order, the driver is unloaded, and what the hardware saw
// is written out on request.
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
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
                throw ClientError{fmt::format("cannot open {}: {}", ZRV_USER_DEVICE_NAME, statusName(status)),
                                  kExitNoDriver};
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
    std::optional<std::array<uint8_t, ZRV_FUNCTIONS>> loadReasons() override {
        return machine_.loadReasons();
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

// An output file of the run written through a temporary one: made before
// the run (so an unwritable name stops it before any request), filled by the
// virtual board, copied to its place at the end with every write checked.
class Spool {
public:
    explicit Spool(std::string target) : target_(std::move(target)) {
        if (target_.empty()) return;
        // --trace /dev/stdout: written through the run's own standard output,
        // after what the commands printed.
        struct stat file {
        }, out{};
        toStdout_ = ::stat(target_.c_str(), &file) == 0 && ::fstat(STDOUT_FILENO, &out) == 0 &&
                    file.st_dev == out.st_dev && file.st_ino == out.st_ino;
        std::FILE* probe = toStdout_ ? nullptr : std::fopen(target_.c_str(), "wb");
        if (toStdout_) {
        } else if (probe == nullptr)
            throw ClientError{fmt::format("{}: cannot write ({})", target_, std::strerror(errno))};
        else
            std::fclose(probe);
        std::string pattern = (std::filesystem::temp_directory_path() / "zrvctl-XXXXXX").string();
        const int fd = ::mkstemp(pattern.data());
        if (fd < 0) throw ClientError{fmt::format("{}: cannot write ({})", pattern, std::strerror(errno))};
        ::close(fd);
        spool_ = pattern;
    }
    ~Spool() {
        if (!spool_.empty()) std::remove(spool_.c_str());
    }
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;

    bool wanted() const { return !target_.empty(); }
    const std::string& spool() const { return spool_; }
    // Copies the spool to the target; the error, or empty.
    std::string deliver() const {
        if (target_.empty()) return "";
        int error = 0;
        std::FILE* in = std::fopen(spool_.c_str(), "rb");
        if (in == nullptr) error = errno;
        std::FILE* out = in == nullptr ? nullptr : toStdout_ ? stdout : std::fopen(target_.c_str(), "wb");
        if (in != nullptr && out == nullptr) error = errno;
        char buffer[65536];
        for (size_t n = sizeof buffer; out != nullptr && error == 0 && n == sizeof buffer;) {
            n = std::fread(buffer, 1, sizeof buffer, in);
            if (std::ferror(in) || (n > 0 && std::fwrite(buffer, 1, n, out) != n))
                error = errno != 0 ? errno : EIO;
        }
        if (in != nullptr) std::fclose(in);
        if (out != nullptr && (toStdout_ ? std::fflush(out) : std::fclose(out)) != 0 && error == 0)
            error = errno != 0 ? errno : EIO;
        if (error == 0) return "";
        return fmt::format("{}: cannot write ({}): its contents are lost", target_, std::strerror(error));
    }

private:
    std::string target_, spool_;
    bool toStdout_ = false;
};

class SimBackend : public Backend {
public:
    void addOptions(CLI::App& app, RunOptions&) override {
        app.add_option("--sim", board_, "board file of the virtual board (default: the bundled board)");
        app.add_option("--trace", traceFile_,
                       "write every port access of the driver to FILE (when the run ends)");
        app.add_option("--dbg", dbgFile_, "write the driver's debugger output to FILE (when the run ends)");
    }

    std::string profileHint() const override { return "NAME.profile.json beside the board's NAME.reg"; }
    std::string driverVersion() const override {
        return "driver: the virtual board's, built into this zrvctl";
    }

    int run(const std::vector<Action>& actions, const RunOptions& options) override {
        sim::Machine machine;
        sim::BoardInfo info;
        try {
            info = sim::loadBoard(machine, board_);
        } catch (const std::exception& e) {
            throw ClientError{e.what()};
        }
        // What the hardware saw streams to a temporary file as it happens and
        // is copied to the caller's file at the end, where a write error
        // (a full disk) is seen and reported instead of lost.
        Spool trace(traceFile_), dbg(dbgFile_);
        if (trace.wanted() && !machine.bus().traceToFile(trace.spool()))
            throw ClientError{fmt::format("{}: cannot write", trace.spool())};
        if (dbg.wanted() && !machine.debugToFile(dbg.spool()))
            throw ClientError{fmt::format("{}: cannot write", dbg.spool())};
        const Profile profile =
            chooseProfile(options.profile, info.registryFile.empty() ? "" : profileBeside(info.registryFile));
        const int32_t loadStatus = machine.load();
        int rc = kExitOk;
        if (loadStatus != ZRV_STATUS_SUCCESS) {
            std::cerr << fmt::format("zrvctl: the driver did not load: 0x{:08x} ({})\n",
                                     static_cast<uint32_t>(loadStatus), statusName(loadStatus));
            rc = kExitNoDriver;
        } else {
            MachineBoard board(machine);
            BoardClock clock(board);
            SimConfig config(machine.registry(), info.registryFile);
            {
                SimDevice device(machine);
                Context ctx{device, &board, clock, profile, &config, options.json, kExitOk, {}};
                // The driver was loaded for this run: the direction register
                // holds the board's power-up mask.
                ctx.run.direction = profile.direction;
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
        for (Spool* f : {&trace, &dbg}) {
            if (const std::string error = f->deliver(); !error.empty()) {
                std::cerr << "zrvctl: " << error << "\n";
                if (rc == kExitOk || rc == kExitAlarm) rc = kExitRefused;
            }
        }
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
