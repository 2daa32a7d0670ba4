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
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <thread>

#include "client/backend.h"

namespace zrvctl {

namespace {

// A text the library fills in a buffer of the caller's, grown while it
// does not fit.
template <typename F>
std::string libraryText(F&& fill) {
    for (size_t size = 256;; size *= 4) {
        std::string text(size, '\0');
        const int err = fill(text.data(), text.size());
        if (err == ZRV_ERANGE && size < (size_t{1} << 24)) continue;
        text.resize(err == ZRV_OK || err == ZRV_ERANGE ? std::strlen(text.c_str()) : 0);
        return text;
    }
}

// The bundled board: the one installed beside this zrvctl (cmake --install),
// else the source tree's it was built from.
std::string bundledBoard() {
    std::error_code ec;
    const std::filesystem::path installed =
        std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / ZRV_INSTALLED_BOARD;
    if (!ec && std::filesystem::is_regular_file(installed, ec)) return installed.lexically_normal().string();
    return ZRV_DEFAULT_BOARD;
}

// The virtual board itself, through the library's device on it.
class LibBoard : public Board {
public:
    explicit LibBoard(zrv_device* dev) : dev_(dev) {}
    void advance(uint64_t ms) override { zrv_board_advance_ms(dev_, ms); }
    uint64_t nowMs() override {
        uint64_t ms = 0;
        zrv_board_now(dev_, &ms);
        return ms;
    }
    bool setPin(const std::string& line, bool level) override {
        return zrv_board_set_pin(dev_, line.c_str(), level ? 1 : 0) == ZRV_OK;
    }
    std::optional<bool> pin(const std::string& line) override {
        int level = 0;
        if (zrv_board_pin(dev_, line.c_str(), &level) != ZRV_OK) return std::nullopt;
        return level != 0;
    }
    std::vector<uint64_t> resets() override {
        size_t count = 0;
        std::vector<uint64_t> at;
        while (zrv_board_reset_times(dev_, at.data(), at.size(), &count) == ZRV_ERANGE) at.resize(count);
        at.resize(count);
        return at;
    }

private:
    zrv_device* dev_;
};

// The board's .reg file, as the virtual registry holds it.
class SimConfig : public ConfigSource {
public:
    SimConfig(zrv_device* dev, std::string file) : dev_(dev), file_(std::move(file)) {}
    std::string where() override { return file_.empty() ? "the board file (no registry file)" : file_; }
    std::optional<std::vector<RegistryEntry>> values(const std::string& subkey) override {
        unsigned count = 0;
        if (zrv_board_reg_count(dev_, subkey.c_str(), &count) != ZRV_OK) return std::nullopt;
        std::vector<RegistryEntry> out;
        for (unsigned i = 0; i < count; ++i) {
            RegistryEntry e;
            size_t length = 0;
            zrv_board_reg_value(dev_, subkey.c_str(), i, nullptr, 0, &e.type, nullptr, 0, &length);
            e.data.resize(length);
            // With room for the data, ZRV_ERANGE says only that the name was cut.
            e.name = libraryText([&](char* name, size_t len) {
                return zrv_board_reg_value(dev_, subkey.c_str(), i, name, len, nullptr, e.data.data(),
                                           e.data.size(), nullptr);
            });
            out.push_back(std::move(e));
        }
        return out;
    }

private:
    zrv_device* dev_;
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

// The wall clock an emulated board's time follows between the rounds of a
// loop (outside --instant); rounds are stamped with the board's own time.
class SimWallClock : public WallClock {
public:
    std::string stamp() override { return ""; }
    double seconds() override { return 0; }

private:
    void pause(uint64_t ms) override { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
};

class SimBackend : public Backend {
public:
    void addOptions(CLI::App& app, RunOptions&) override {
        app.add_option("--sim", board_, "board file of the virtual board (default: the bundled board)");
        app.add_option("--trace", traceFile_,
                       "write every port access of the driver to FILE (when the run ends)");
        app.add_option("--dbg", dbgFile_, "write the driver's debugger output to FILE (when the run ends)");
        app.add_flag("--instant", instant_,
                     "loops (--watch, keepalive, --listen) move the board's time at once instead of "
                     "following the wall clock (tests and scripts)");
    }

    std::string profileHint() const override { return "NAME.profile.json beside the board's NAME.reg"; }
    std::string driverVersion() const override {
        return "driver: the virtual board's, built into this zrvctl";
    }

    int run(const std::vector<Action>& actions, const RunOptions& options) override {
        // What the hardware saw streams to a temporary file as it happens and
        // is copied to the caller's file at the end, where a write error
        // (a full disk) is seen and reported instead of lost.
        Spool trace(traceFile_), dbg(dbgFile_);
        zrv_board_files(trace.spool().c_str(), dbg.spool().c_str());
        // The board and the driver on it, loaded for this run.
        zrv_device* opened = nullptr;
        int32_t loadStatus = ZRV_STATUS_SUCCESS;
        char why[4096];
        if (zrv_board_open(board_.c_str(), &opened, &loadStatus, why, sizeof why) != ZRV_OK &&
            loadStatus == ZRV_STATUS_SUCCESS)
            throw ClientError{why[0] != '\0' ? why : fmt::format("{}: cannot load the board", board_)};
        TargetDevice device("sim:" + board_, opened);
        const std::string registryFile = opened == nullptr ? "" : libraryText([&](char* path, size_t len) {
            return zrv_board_registry_file(opened, path, len);
        });
        const Profile profile =
            chooseProfile(options.profile, registryFile.empty() ? "" : profileBeside(registryFile));
        int rc = kExitOk;
        if (opened == nullptr) {
            std::cerr << fmt::format("zrvctl: the driver did not load: 0x{:08x} ({})\n",
                                     static_cast<uint32_t>(loadStatus), statusName(loadStatus));
            rc = kExitNoDriver;
        } else {
            LibBoard board(opened);
            SimWallClock wall;
            BoardClock clock(board, instant_ ? nullptr : &wall);
            SimConfig config(opened, registryFile);
            Context ctx{device, &board, clock, profile, &config, options.json, kExitOk, {}};
            // The driver was loaded for this run: the direction register
            // holds the board's power-up mask.
            ctx.run.direction = profile.direction;
            ctx.run.device = keepaliveDevice(board_);
            for (auto& a : actions) {
                if (interrupted()) break;
                a(ctx);
            }
            rc = ctx.exitCode;
            std::cout.flush();
            std::fflush(stdout);
            device.close(HandleAccess::Read);
            zrv_board_unload(opened);
        }

        for (Spool* f : {&trace, &dbg}) {
            if (const std::string error = f->deliver(); !error.empty()) {
                std::cerr << "zrvctl: " << error << "\n";
                if (rc == kExitOk || rc == kExitAlarm) rc = kExitRefused;
            }
        }
        if (opened == nullptr) return rc;
        // What the driver and the hardware broke, and beside the trace the
        // ports the driver touched that nothing answered at.
        const struct {
            unsigned kind;
            const char* words;
            bool shown;
            bool broken;  // the run ends with kExitBrokenRule
        } kBreaches[] = {
            {ZRV_BREACH_PLATFORM, "driver broke a platform rule: {}", true, true},
            {ZRV_BREACH_HARDWARE, "hardware protocol violation: {}", true, true},
            {ZRV_BREACH_UNCLAIMED, "unclaimed port {}, no device decodes it", !traceFile_.empty(), false},
        };
        for (const auto& b : kBreaches) {
            unsigned count = 0;
            if (!b.shown || zrv_board_breach_count(opened, b.kind, &count) != ZRV_OK) continue;
            for (unsigned i = 0; i < count; ++i) {
                const std::string text = libraryText(
                    [&](char* line, size_t len) { return zrv_board_breach(opened, b.kind, i, line, len); });
                std::cerr << "zrvctl: " << fmt::format(fmt::runtime(b.words), text) << "\n";
                if (b.broken) rc = kExitBrokenRule;
            }
        }
        return rc;
    }

private:
    std::string board_ = bundledBoard();
    std::string traceFile_;
    std::string dbgFile_;
    bool instant_ = false;
};

}  // namespace

std::unique_ptr<Backend> makeBackend() { return std::make_unique<SimBackend>(); }

}  // namespace zrvctl
