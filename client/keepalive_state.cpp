#include "client/keepalive_state.h"

#include <fmt/format.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <vector>

#include "client/prom.h"
#include "zorvik/ioctl.h"
#ifdef _WIN32
#include <windows.h>
// windows.h first: these need its types.
#include <aclapi.h>
#include <shlobj.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace zrvctl {

namespace {

// A record is a few lines, and a file holds a record for each device of
// the machine; anything longer is not a state.
constexpr size_t kMaxStateBytes = 64 * 1024;

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr ? v : "";
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A string value, quoted: one line, read back byte for byte.
std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '"')
            out += {'\\', c};
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (u < 0x20 || u == 0x7F)
            out += fmt::format("\\x{:02x}", u);
        else
            out += c;
    }
    return out + "\"";
}

// A quoted value back; a value without quotes (the files of older writers)
// is taken as it stands.
std::string unquoted(const std::string& text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return text;
    std::string out;
    for (size_t i = 1; i + 1 < text.size(); ++i) {
        if (text[i] != '\\' || i + 2 >= text.size()) {
            out += text[i];
            continue;
        }
        const char e = text[++i];
        if (e == 't')
            out += '\t';
        else if (e == 'n')
            out += '\n';
        else if (e == 'x' && i + 3 < text.size() && std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
                 std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
            out += static_cast<char>(std::strtoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
            i += 2;
        } else
            out += e;
    }
    return out;
}

std::string recordText(const KeepaliveState& s) {
    return fmt::format(
        "device {}\nwriter {}\ntimeout_seconds {}\nrunning {}\nlast_keepalive {}\nperiod_seconds {}\npid "
        "{}\npid_start {}\nended {}\nwritten {}\n",
        quoted(s.device), quoted(s.writer), s.timeoutSeconds, s.running ? 1 : 0, s.lastKeepalive,
        s.periodSeconds, s.pid, s.pidStart, s.ended, s.written);
}

// FNV-1a, 64 bits: a short file name for a device.
[[maybe_unused]] uint64_t nameHash(const std::string& text) {
    uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) h = (h ^ c) * 1099511628211ull;
    return h;
}

// The numeric keys of a record and where their values go.
struct NumberKey {
    const char* key;
    void (*set)(KeepaliveState&, uint64_t);
};
const NumberKey kNumberKeys[] = {
    {"timeout_seconds",
     [](KeepaliveState& s, uint64_t v) {
         s.timeoutSeconds = v <= 0xFFFFFFFFu ? static_cast<uint32_t>(v) : 0;
     }},
    {"running", [](KeepaliveState& s, uint64_t v) { s.running = v != 0; }},
    {"last_keepalive",
     [](KeepaliveState& s, uint64_t v) {
         s.lastKeepalive = knownTime(static_cast<int64_t>(v)) ? static_cast<int64_t>(v) : 0;
     }},
    {"period_seconds", [](KeepaliveState& s,
                          uint64_t v) { s.periodSeconds = v <= 0xFFFFFFFFu ? static_cast<uint32_t>(v) : 0; }},
    {"pid", [](KeepaliveState& s, uint64_t v) { s.pid = v <= 0x7FFFFFFFu ? static_cast<int64_t>(v) : 0; }},
    {"pid_start", [](KeepaliveState& s, uint64_t v) { s.pidStart = v; }},
    {"ended", [](KeepaliveState& s,
                 uint64_t v) { s.ended = knownTime(static_cast<int64_t>(v)) ? static_cast<int64_t>(v) : 0; }},
    {"written", [](KeepaliveState& s,
                   uint64_t v) { s.written = static_cast<int64_t>(std::min<uint64_t>(v, INT64_MAX)); }},
};

// The records of a file; one without its `written` line is no record. A
// file of an older writer (one record, its device unquoted, maybe not on
// the first line) reads as that record.
std::vector<KeepaliveState> parseStates(const std::string& text) {
    std::vector<KeepaliveState> records;
    std::vector<bool> complete, named;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t space = line.find(' ');
        if (space == std::string::npos) continue;
        const std::string key = line.substr(0, space), value = line.substr(space + 1);
        // Each device line starts a record, but for one whose lines came
        // before its device (an older writer's).
        if (records.empty() || (key == "device" && named.back()))
            records.emplace_back(), complete.push_back(false), named.push_back(false);
        KeepaliveState& s = records.back();
        if (key == "device") {
            s.device = unquoted(value);
            named.back() = true;
        } else if (key == "writer") {
            s.writer = unquoted(value);
        } else {
            char* end = nullptr;
            errno = 0;
            const unsigned long long v = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || value[0] == '-' || *end != '\0' || errno != 0) continue;
            for (const NumberKey& k : kNumberKeys)
                if (key == k.key) k.set(s, v);
            if (key == "written") complete.back() = true;
        }
    }
    std::vector<KeepaliveState> whole;
    for (size_t i = 0; i < records.size(); ++i)
        if (complete[i]) whole.push_back(records[i]);
    return whole;
}

#ifdef _WIN32

std::string lastError() { return fmt::format("Windows error {}", GetLastError()); }

// Whether `owner` is an account whose file may be believed: this one, the
// Administrators (the default owner of what an administrator creates) or
// the system (the service's account). Anyone else could have planted it.
bool trustedOwner(PSID owner) {
    if (IsWellKnownSid(owner, WinBuiltinAdministratorsSid) || IsWellKnownSid(owner, WinLocalSystemSid))
        return true;
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<ULONGLONG> buffer(size / sizeof(ULONGLONG) + 1);  // aligned for the record
    bool same = false;
    if (size != 0 && GetTokenInformation(token, TokenUser, buffer.data(),
                                         static_cast<DWORD>(buffer.size() * sizeof(ULONGLONG)), &size))
        same = EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid) != 0;
    CloseHandle(token);
    return same;
}

#else

std::string lastError() { return std::strerror(errno); }

#endif

// The writers' lock on a state file, FILE.lock beside it, held while this
// lives. Only the account itself (or the Administrators and the system on
// Windows, by the folder's rights) may open that file, so no other account
// can hold the lock; and a writer never waits long for it: a keepalive loop
// that stalled here would let the watchdog reset the board. Readers take
// none: the rename gives them a whole file either way.
class WriterLock {
public:
    explicit WriterLock(const std::string& path) {
        const std::string name = path + ".lock";
#ifdef _WIN32
        h_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        bool locked = false;
        for (int tries = 0; h_ != INVALID_HANDLE_VALUE && !locked && tries < kTries; ++tries) {
            OVERLAPPED whole{};
            locked =
                LockFileEx(h_, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole) != 0;
            if (!locked) Sleep(kTryMs);
        }
        if (!locked) why_ = fmt::format("{}: {}", name, lastError());
#else
        fd_ = ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
        struct stat st {};
        if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
            why_ = fmt::format("{}: {}", name, lastError());
            return;
        }
        if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
            why_ = fmt::format("{}: not this user's own regular file: refused", name);
            return;
        }
        bool locked = false;
        for (int tries = 0; !locked && tries < kTries; ++tries) {
            locked = ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
            if (!locked && errno != EWOULDBLOCK && errno != EINTR) break;
            if (!locked) ::usleep(kTryMs * 1000);
        }
        if (!locked) why_ = fmt::format("{}: {}", name, lastError());
#endif
    }
    ~WriterLock() {
#ifdef _WIN32
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
#else
        if (fd_ >= 0) ::close(fd_);
#endif
    }
    WriterLock(const WriterLock&) = delete;
    WriterLock& operator=(const WriterLock&) = delete;
    const std::string& why() const { return why_; }

private:
    // Another writer holds the lock for one read and one write of a few
    // lines: two seconds of tries are plenty, and short of any timeout.
    static constexpr int kTries = 200;
    static constexpr unsigned kTryMs = 10;
#ifdef _WIN32
    HANDLE h_ = INVALID_HANDLE_VALUE;
#else
    int fd_ = -1;
#endif
    std::string why_;
};

// The folder of a state file, made when missing (one level: the parent is
// the system's, or the caller's where the variable moved the file); "" when
// it may hold the state, else why not.
std::string stateFolder(const std::string& path) {
    const std::string folder = folderOf(path);
#ifdef _WIN32
    CreateDirectoryA(folder.c_str(), nullptr);
    return "";
#else
    bool missing = false;
    std::string problem = unsafeFolder(folder, missing);
    if (problem.empty() && missing) {
        if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
            return fmt::format("{}: {}", folder, lastError());
        problem = unsafeFolder(folder, missing);  // made by someone else meanwhile?
    }
    if (problem.empty() && missing) problem = fmt::format("{}: no such folder", folder);
    return problem;
#endif
}

// Under the writers' lock: the file's records, `change`d, written back (the
// file removed when none is left).
template <typename Change>
bool rewriteStates(const std::string& path, std::string& why, Change change) {
    why = stateFolder(path);
    if (!why.empty()) return false;
    const WriterLock lock(path);
    if (!lock.why().empty()) {
        why = lock.why();
        return false;
    }
    std::vector<KeepaliveState> records = readKeepaliveStates(why, path);
    // A file that holds no state (broken, cut short) is replaced; one that is
    // refused (another's, a link) is left alone.
    if (!why.empty() && why.find("not a keepalive state") == std::string::npos) return false;
    change(records);
    std::string text;
    for (const KeepaliveState& r : records) text += (text.empty() ? "" : "\n") + recordText(r);
    if (text.empty()) {
        why.clear();
        if (std::remove(path.c_str()) != 0 && errno != ENOENT) why = fmt::format("{}: {}", path, lastError());
        return why.empty();
    }
    return replaceFile(folderOf(path), nameOf(path), text, why, 0600);
}

}  // namespace

std::string keepaliveDevice(const std::string& boardFile) {
    if (boardFile.empty()) return ZRV_USER_DEVICE_NAME;
    std::error_code error;
    const std::filesystem::path full = std::filesystem::weakly_canonical(boardFile, error);
    return "sim:" + (error ? boardFile : full.string());
}

uint64_t processStart(int64_t pid) {
#ifdef _WIN32
    const HANDLE h = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    const bool ok = GetProcessTimes(h, &created, &exited, &kernel, &user) != 0;
    CloseHandle(h);
    return ok ? (uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime : 0;
#else
    std::FILE* f = std::fopen(fmt::format("/proc/{}/stat", pid).c_str(), "r");
    if (f == nullptr) return 0;
    char line[1024] = {};
    const size_t n = std::fread(line, 1, sizeof line - 1, f);
    std::fclose(f);
    // "PID (COMM) STATE ...": COMM may hold anything, ')' too; the fields
    // after its last ')' are the 3rd on, so the start time is the 20th there.
    const char* rest = std::strrchr(line, ')');
    if (n == 0 || rest == nullptr) return 0;
    std::istringstream fields(rest + 1);
    std::string field;
    for (int i = 3; i <= 22 && fields >> field; ++i)
        if (i == 22) return std::strtoull(field.c_str(), nullptr, 10);
    return 0;
#endif
}

KeepaliveLife keepaliveLife(const KeepaliveState& s) {
    if (s.ended != 0) return KeepaliveLife::Ended;
    if (s.pid <= 0 || s.pid > 0x7FFFFFFF) return KeepaliveLife::Died;
#ifdef _WIN32
    // The service's process is the system's: a caller may not open it, but
    // "access denied" still says it is there (and its start cannot be told).
    const HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(s.pid));
    if (h == nullptr && GetLastError() != ERROR_ACCESS_DENIED) return KeepaliveLife::Died;
    const bool gone = h != nullptr && WaitForSingleObject(h, 0) != WAIT_TIMEOUT;
    if (h != nullptr) CloseHandle(h);
    if (gone) return KeepaliveLife::Died;
#else
    if (::kill(static_cast<pid_t>(s.pid), 0) != 0 && errno != EPERM) return KeepaliveLife::Died;
#endif
    // The pid may since have been given to another process: then it started
    // at another time than the loop's.
    const uint64_t start = s.pidStart != 0 ? processStart(s.pid) : 0;
    return start != 0 && start != s.pidStart ? KeepaliveLife::Died : KeepaliveLife::Running;
}

int64_t watchdogDeadline(const KeepaliveState& s) {
    if (!knownTime(s.lastKeepalive) || s.timeoutSeconds == 0) return 0;
    return s.lastKeepalive + s.timeoutSeconds;
}

bool watchdogMayRun(const KeepaliveState& s, KeepaliveLife life, int64_t now) {
    if (!s.running || life == KeepaliveLife::Running) return s.running;
    const int64_t deadline = watchdogDeadline(s);
    return deadline == 0 || now < deadline;
}

std::string keepaliveStatePath([[maybe_unused]] const std::string& device) {
    if (std::string p = environment(kKeepaliveStateVariable); !p.empty()) return p;
#ifdef _WIN32
    // The machine's common application data folder as the shell names it:
    // "All Users\Application Data" on XP, ProgramData on later systems,
    // where the old name is a junction that refuses new files.
    char folder[MAX_PATH] = {};
    std::string base;
    if (SUCCEEDED(SHGetFolderPathA(nullptr, CSIDL_COMMON_APPDATA, nullptr, 0, folder))) base = folder;
    if (base.empty()) {
        base = environment("ALLUSERSPROFILE");
        if (base.empty()) base = "C:\\Documents and Settings\\All Users";
        base += "\\Application Data";
    }
    return base + "\\Zorvik\\keepalive.state";
#else
    const std::string name = fmt::format("keepalive-{:016x}.state", nameHash(device));
    // Only an absolute XDG_RUNTIME_DIR counts: a relative one would name a
    // folder of whatever the working folder is.
    if (std::string run = environment("XDG_RUNTIME_DIR"); run.starts_with("/"))
        return run + "/zorvik-" + name;
    // /tmp itself is everyone's: the file goes in a folder of the user's own.
    return "/tmp/zorvik-" + std::to_string(::geteuid()) + "/" + name;
#endif
}

bool writeKeepaliveState(KeepaliveState s, std::string& why, const std::string& path) {
    s.written = static_cast<int64_t>(std::time(nullptr));
#ifdef _WIN32
    s.pid = static_cast<int64_t>(GetCurrentProcessId());
#else
    s.pid = static_cast<int64_t>(::getpid());
#endif
    s.pidStart = processStart(s.pid);
    return rewriteStates(path, why, [&s](std::vector<KeepaliveState>& records) {
        std::erase_if(records, [&s](const KeepaliveState& r) { return r.device == s.device; });
        records.push_back(s);
    });
}

bool forgetKeepaliveState(const std::string& device, std::string& why, const std::string& path) {
    return rewriteStates(path, why, [&device](std::vector<KeepaliveState>& records) {
        std::erase_if(records, [&device](const KeepaliveState& r) { return r.device == device; });
    });
}

std::vector<KeepaliveState> readKeepaliveStates(std::string& why, const std::string& path) {
    why.clear();
    std::string text(kMaxStateBytes + 1, '\0');
    size_t got = 0;
#ifdef _WIN32
    // The reparse point itself, not what it names; a handle that lets the
    // keepalive go on replacing the file meanwhile.
    const HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            why = fmt::format("{}: Windows error {}", path, error);
        return {};
    }
    BY_HANDLE_FILE_INFORMATION info{};
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        why = fmt::format("{}: not a plain file: refused", path);
    } else if (GetSecurityInfo(h, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                               nullptr, &descriptor) == ERROR_SUCCESS &&
               owner != nullptr && !trustedOwner(owner)) {
        // (A file system without owners, FAT, protects nothing anyway: its
        // files are taken as they are.)
        why = fmt::format(
            "{}: belongs to another account, not this one, the Administrators or the system: "
            "refused",
            path);
    } else {
        DWORD n = 0;
        while (got < text.size() &&
               ReadFile(h, text.data() + got, static_cast<DWORD>(text.size() - got), &n, nullptr) && n > 0)
            got += n;
    }
    if (descriptor != nullptr) LocalFree(descriptor);
    CloseHandle(h);
    if (!why.empty()) return {};
#else
    bool missing = false;
    why = unsafeFolder(folderOf(path), missing);
    if (!why.empty() || missing) return {};
    // Never follows a link, never waits for a FIFO's writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP)
            why = fmt::format("{}: a symbolic link, not a keepalive state: refused", path);
        else if (errno != ENOENT)
            why = fmt::format("{}: {}", path, lastError());
        return {};
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        why = fmt::format("{}: {}", path, lastError());
    else if (!S_ISREG(st.st_mode))
        why = fmt::format("{}: not a regular file: refused", path);
    else if (st.st_uid != ::geteuid())
        why = fmt::format("{}: belongs to user {}, not to this one ({}): refused", path, st.st_uid,
                          ::geteuid());
    while (why.empty() && got < text.size()) {
        const ssize_t n = ::read(fd, text.data() + got, text.size() - got);
        if (n == 0) break;
        if (n > 0)
            got += static_cast<size_t>(n);
        else if (errno != EINTR)
            why = fmt::format("{}: {}", path, lastError());
    }
    ::close(fd);
    if (!why.empty()) return {};
#endif
    if (got > kMaxStateBytes) {
        why = fmt::format("{}: larger than {} bytes, not a keepalive state", path, kMaxStateBytes);
        return {};
    }
    text.resize(got);
    std::vector<KeepaliveState> records = parseStates(text);
    if (records.empty()) why = fmt::format("{}: not a keepalive state", path);
    return records;
}

std::optional<KeepaliveState> readDeviceKeepaliveState(const std::string& device, std::string& why) {
    for (KeepaliveState& s : readKeepaliveStates(why, keepaliveStatePath(device)))
        if (s.device == device) return std::move(s);
    return std::nullopt;
}

}  // namespace zrvctl
