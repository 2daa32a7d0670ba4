// The virtual-board build: the driver loaded on the emulated board of a
// board file, in this process. Devices opened on the same board file share
// the board, as handles share the control device of a real machine; the
// board is unloaded when the last of them closes. Only one board can be
// loaded in a process at a time.
//
// ZORVIK_TRACE and ZORVIK_DBG, when set, name files that receive every port
// access of the driver and its debugger output.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>

#include "lib/transport.h"
#include "sim/board.h"
#include "sim/machine.h"

namespace zorvik {

namespace {

struct SharedBoard {
    std::string path;
    sim::Machine machine;
    int users = 0;
};

std::mutex gBoardLock;
SharedBoard* gBoard = nullptr;  // guarded by gBoardLock

class SimTransport : public Transport {
public:
    SimTransport(SharedBoard& board, int handle) : board_(board), handle_(handle) {}
    ~SimTransport() override {
        std::lock_guard<std::mutex> hold(gBoardLock);
        board_.machine.close(handle_);
        if (--board_.users == 0) {
            board_.machine.unload();
            board_.machine.bus().closeTraceFile();
            board_.machine.closeDebugFile();
            delete gBoard;
            gBoard = nullptr;
        }
    }
    SimTransport(const SimTransport&) = delete;
    SimTransport& operator=(const SimTransport&) = delete;

    int32_t request(uint32_t code, const void* in, size_t inLen, void* out, size_t outLen,
                    size_t* returned) override {
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
    int advance(unsigned ms) override {
        board_.machine.advance(ms);
        return ZRV_OK;
    }
    int resets(unsigned* count) override {
        std::lock_guard lock(board_.machine.bus().mutex());
        size_t n = 0;
        for (auto& d : board_.machine.bus().devices()) n += d->resets().size();
        if (count != nullptr) *count = static_cast<unsigned>(n);
        return ZRV_OK;
    }

private:
    SharedBoard& board_;
    int handle_;
};

std::string canonical(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path p = std::filesystem::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

// Loads the board and the driver; the caller holds gBoardLock.
int loadBoard(const std::string& file) {
    auto board = std::make_unique<SharedBoard>();
    board->path = canonical(file);
    try {
        sim::loadBoard(board->machine, file);
    } catch (const std::exception&) {
        return ZRV_ENODEV;
    }
    if (const char* trace = std::getenv("ZORVIK_TRACE"); trace != nullptr && *trace != '\0')
        board->machine.bus().traceToFile(trace);
    if (const char* dbg = std::getenv("ZORVIK_DBG"); dbg != nullptr && *dbg != '\0')
        board->machine.debugToFile(dbg);
    if (board->machine.load() != ZRV_STATUS_SUCCESS) return ZRV_ENODEV;
    gBoard = board.release();
    return ZRV_OK;
}

}  // namespace

int openTarget(const char* target, std::unique_ptr<Transport>& out) {
    std::string file;
    if (target == nullptr || *target == '\0') {
        const char* env = std::getenv("ZORVIK_BOARD");
        if (env == nullptr || *env == '\0') return ZRV_ENODEV;
        file = env;
    } else if (std::string(target).rfind("sim:", 0) == 0) {
        file = target + 4;
    } else {
        return ZRV_ENODEV;  // no other device on this build
    }
    std::lock_guard<std::mutex> hold(gBoardLock);
    if (gBoard != nullptr && gBoard->path != canonical(file)) return ZRV_EBUSY;
    if (gBoard == nullptr) {
        const int err = loadBoard(file);
        if (err != ZRV_OK) return err;
    }
    int handle = 0;
    const int32_t status = gBoard->machine.open(ZRV_USER_DEVICE_NAME, sim::Access::ReadWrite, &handle);
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

}  // namespace zorvik
