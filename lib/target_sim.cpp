// The virtual-board build: the driver loaded on the emulated board of a
// board file, in this process. Devices opened on the same board file share
// the board, as handles share the control device of a real machine; the
// board is unloaded when the last of them closes (or at zrv_board_unload).
// Only one board can be loaded in a process at a time.
//
// zrv_open(NULL) takes the board file ZORVIK_BOARD names, else the default
// board installed with the library.
//
// ZORVIK_TRACE and ZORVIK_DBG, when set, name files that receive every port
// access of the driver and its debugger output, until zrv_board_files
// names them instead.
#include <dlfcn.h>
#include <fmt/format.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>

#include "lib/transport.h"
#include "sim/board.h"
#include "sim/machine.h"
#include "zorvik/registry.h"

namespace zorvik {

namespace {

struct SharedBoard {
    std::string path;
    std::string registryFile;
    sim::Machine machine;
    int users = 0;
    bool unloaded = false;  // zrv_board_unload: the board stays, the driver is gone
};

std::mutex gBoardLock;
SharedBoard* gBoard = nullptr;  // guarded by gBoardLock
// zrv_board_files: the files of the next board loaded, once named.
std::optional<std::string> gTraceFile, gDbgFile;  // guarded by gBoardLock

// Unloads the driver and closes the board's files; the caller holds
// gBoardLock.
void unloadDriver(SharedBoard& board) {
    if (board.unloaded) return;
    board.machine.unload();
    board.machine.bus().closeTraceFile();
    board.machine.closeDebugFile();
    board.unloaded = true;
}

class SimTransport : public Transport {
public:
    SimTransport(SharedBoard& board, int handle) : board_(board), handle_(handle) {}
    ~SimTransport() override {
        std::lock_guard<std::mutex> hold(gBoardLock);
        if (handle_ != 0) board_.machine.close(handle_);
        if (--board_.users == 0) {
            unloadDriver(board_);
            delete gBoard;
            gBoard = nullptr;
        }
    }
    SimTransport(const SimTransport&) = delete;
    SimTransport& operator=(const SimTransport&) = delete;

    int32_t request(uint32_t code, const void* in, size_t inLen, void* out, size_t outLen,
                    size_t* returned) override {
        *returned = 0;
        if (handle_ == 0) return kInvalidHandle;  // the driver was unloaded
        if (inLen > 0xFFFFFFFFu || outLen > 0xFFFFFFFFu) return ZRV_STATUS_INVALID_PARAMETER;
        const auto* bytes = static_cast<const uint8_t*>(in);
        const std::vector<uint8_t> input(bytes, bytes + inLen);
        const sim::IoResult r = board_.machine.ioctl(handle_, code, input, static_cast<uint32_t>(outLen));
        const size_t n = std::min<size_t>({r.bytes, r.data.size(), outLen});
        if (n > 0) std::memcpy(out, r.data.data(), n);
        *returned = n;
        return r.status;
    }
    // Counted for the calling thread: the driver runs in it, so another
    // device's request on the same board, in another thread, neither adds
    // nor hides one.
    uint64_t brokenRules() override { return sim::rulesBrokenHere(); }
    int loadReason(unsigned function, unsigned* reason) override {
        const auto reasons = board_.machine.loadReasons();
        if (reason != nullptr) *reason = reasons[function];
        return ZRV_OK;
    }

    int advance(uint64_t ms) override {
        board_.machine.advance(ms);
        return ZRV_OK;
    }
    int now(uint64_t* ms) override {
        if (ms != nullptr) *ms = board_.machine.clock().nowMs();
        return ZRV_OK;
    }
    int resets(std::vector<uint64_t>& at) override {
        at = board_.machine.resets();
        return ZRV_OK;
    }
    int setPin(const std::string& line, bool level) override {
        std::lock_guard lock(board_.machine.bus().mutex());
        for (auto& d : board_.machine.bus().devices())
            if (d->setPin(line, level)) return ZRV_OK;
        return ZRV_EINVAL;
    }
    int pin(const std::string& line, bool* level) override {
        std::lock_guard lock(board_.machine.bus().mutex());
        for (auto& d : board_.machine.bus().devices())
            if (const std::optional<bool> l = d->pin(line)) {
                if (level != nullptr) *level = *l;
                return ZRV_OK;
            }
        return ZRV_EINVAL;
    }
    int registryFile(std::string& file) override {
        file = board_.registryFile;
        return ZRV_OK;
    }
    int registryValues(const std::string& subkey, std::vector<RegValue>& out) override {
        const std::string path = std::string(ZRV_REG_ROOT_KERNEL) + subkey;
        const sim::Registry& registry = board_.machine.registry();
        if (!registry.keyExists(path)) return ZRV_EINVAL;
        out.clear();
        for (const sim::RegValue& v : registry.values(path)) out.push_back({v.name, v.type, v.data});
        return ZRV_OK;
    }
    // The driver is unloaded only when no other device holds a handle on
    // it, as the I/O manager unloads a driver only with its handles closed.
    int unload() override {
        std::lock_guard<std::mutex> hold(gBoardLock);
        if (board_.users > 1) return ZRV_EBUSY;
        if (handle_ != 0) board_.machine.close(handle_);
        handle_ = 0;
        unloadDriver(board_);
        return ZRV_OK;
    }
    int breaches(unsigned kind, std::vector<std::string>& out) override {
        switch (kind) {
            case ZRV_BREACH_PLATFORM: out = board_.machine.ioViolations(); return ZRV_OK;
            case ZRV_BREACH_HARDWARE: out = board_.machine.deviceViolations(); return ZRV_OK;
            case ZRV_BREACH_UNCLAIMED:
                out.clear();
                for (const auto& u : board_.machine.unclaimedAccesses())
                    out.push_back(fmt::format("0x{:04x}: {} {} time(s)", u.port, u.write ? "written" : "read",
                                              u.count));
                return ZRV_OK;
            default: return ZRV_EINVAL;
        }
    }

private:
    static constexpr int32_t kInvalidHandle = static_cast<int32_t>(0xC0000008u);
    SharedBoard& board_;
    int handle_;  // 0 once the driver is unloaded
};

std::string canonical(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

// The file a board's output goes to: the one zrv_board_files named, else
// the environment's.
std::string outputFile(const std::optional<std::string>& named, const char* variable) {
    if (named) return *named;
    const char* env = std::getenv(variable);
    return env != nullptr ? env : "";
}

// Loads the board and the driver; the caller holds gBoardLock.
int loadBoard(const std::string& file, int32_t* loadStatus, std::string& why) {
    auto board = std::make_unique<SharedBoard>();
    board->path = canonical(file);
    try {
        board->registryFile = sim::loadBoard(board->machine, file).registryFile;
    } catch (const std::exception& e) {
        why = e.what();
        return ZRV_ENODEV;
    }
    const std::string trace = outputFile(gTraceFile, "ZORVIK_TRACE");
    const std::string dbg = outputFile(gDbgFile, "ZORVIK_DBG");
    if (!trace.empty() && !board->machine.bus().traceToFile(trace) && gTraceFile) {
        why = trace + ": cannot write";
        return ZRV_ENODEV;
    }
    if (!dbg.empty() && !board->machine.debugToFile(dbg) && gDbgFile) {
        why = dbg + ": cannot write";
        return ZRV_ENODEV;
    }
    const int32_t status = board->machine.load();
    if (loadStatus != nullptr) *loadStatus = status;
    if (status != ZRV_STATUS_SUCCESS) return ZRV_ENODEV;
    gBoard = board.release();
    return ZRV_OK;
}

int openFile(const std::string& file, unsigned flags, std::unique_ptr<Transport>& out, int32_t* loadStatus,
             std::string& why) {
    std::lock_guard<std::mutex> hold(gBoardLock);
    if (gBoard != nullptr && gBoard->path != canonical(file)) return ZRV_EBUSY;
    if (gBoard != nullptr && gBoard->unloaded) return ZRV_ENODEV;
    if (gBoard == nullptr) {
        const int err = loadBoard(file, loadStatus, why);
        if (err != ZRV_OK) return err;
    }
    int handle = 0;
    const auto access = (flags & ZRV_OPEN_READ_ONLY) != 0 ? sim::Access::Read : sim::Access::ReadWrite;
    const int32_t status = gBoard->machine.open(ZRV_USER_DEVICE_NAME, access, &handle);
    if (status != ZRV_STATUS_SUCCESS) {
        if (gBoard->users == 0) {
            delete gBoard;
            gBoard = nullptr;
        }
        return ZRV_ENODEV;
    }
    ++gBoard->users;
    out = std::make_unique<SimTransport>(*gBoard, handle);
    return ZRV_OK;
}

// The default board cmake --install puts beside the library (ZRV_LIB_TO_BOARDS:
// from the library's folder to the boards'), found from where this library
// was loaded; empty where there is none, as in the build tree.
std::string installedBoard() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&openTarget), &info) == 0 || info.dli_fname == nullptr) return "";
    const std::filesystem::path board =
        std::filesystem::path(info.dli_fname).parent_path() / ZRV_LIB_TO_BOARDS / "default.json";
    std::error_code ec;
    return std::filesystem::is_regular_file(board, ec) ? board.lexically_normal().string() : "";
}

}  // namespace

int openTarget(const char* target, unsigned flags, std::unique_ptr<Transport>& out) {
    std::string file;
    if (target == nullptr || *target == '\0') {
        const char* env = std::getenv("ZORVIK_BOARD");
        file = env != nullptr && *env != '\0' ? env : installedBoard();
        if (file.empty()) return ZRV_ENODEV;
    } else if (std::string(target).rfind("sim:", 0) == 0) {
        file = target + 4;
    } else {
        return ZRV_ENODEV;  // no other device on this build
    }
    std::string why;
    return openFile(file, flags, out, nullptr, why);
}

int openBoard(const char* file, std::unique_ptr<Transport>& out, int32_t* loadStatus, std::string& why) {
    if (loadStatus != nullptr) *loadStatus = ZRV_STATUS_SUCCESS;
    return openFile(file, 0, out, loadStatus, why);
}

int boardFiles(const char* trace, const char* dbg) {
    std::lock_guard<std::mutex> hold(gBoardLock);
    gTraceFile = trace != nullptr ? trace : "";
    gDbgFile = dbg != nullptr ? dbg : "";
    return ZRV_OK;
}

}  // namespace zorvik
