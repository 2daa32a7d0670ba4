// zrvctl.exe service install|remove|status|run: the watchdog keepalive loop
// as a Windows service, "zrvwdt". install registers it with the service
// control manager (started automatically at boot, after the driver's
// service, the keepalive options stored in its command line) and its event
// source, and starts it; remove stops it and deletes both; status shows its
// state and command line. The service manager starts "zrvctl.exe service
// run --every ... --timeout ...", which runs the loop until the service is
// stopped, and then stops the watchdog unless --leave-running was given.
// The service has no console: what it would print on standard error (its
// errors and warnings) goes to the Application event log, source "zrvwdt".
// It runs the zrvctl.exe that install.cmd put in the system folder when
// there is one, not the copy that installed it (an unpack folder may go).
#include <fmt/format.h>
#include <windows.h>

#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>
#include <streambuf>

#include "client/commands.h"

namespace zrvctl {

namespace {

constexpr const char* kServiceName = "zrvwdt";
constexpr const char* kDisplayName = "Zorvik watchdog keepalive";

struct ServiceArgs {
    std::string action;
    std::string every = fmt::format("{}s", kDefaultEveryMs / 1000);
    std::string timeout = fmt::format("{}s", kDefaultTimeoutMs / 1000);
    bool leaveRunning = false;
    std::string metrics;  // DIR for zorvik.prom, written after every restart
    std::string listen;   // ADDRESS:PORT answering GET /metrics
};

std::string systemError(DWORD error) {
    switch (error) {
        case ERROR_ACCESS_DENIED: return "run as administrator";
        case ERROR_SERVICE_EXISTS: return fmt::format("the service {} is already installed", kServiceName);
        case ERROR_SERVICE_DOES_NOT_EXIST:
            return fmt::format("the service {} is not installed", kServiceName);
        default: return fmt::format("Windows error {}", error);
    }
}

std::string executable() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(nullptr, path, sizeof path);
    return std::string(path, n);
}

// The copy of zrvctl.exe the service runs: install.cmd's, in the system
// folder, else this one.
std::string serviceExecutable() {
    char dir[MAX_PATH];
    const UINT n = GetSystemDirectoryA(dir, sizeof dir);
    if (n > 0 && n < sizeof dir) {
        const std::string installed = std::string(dir, n) + "\\zrvctl.exe";
        if (GetFileAttributesA(installed.c_str()) != INVALID_FILE_ATTRIBUTES) return installed;
    }
    return executable();
}

constexpr const char* kEventSourceKey = "System\\CurrentControlSet\\Services\\Eventlog\\Application\\zrvwdt";

// The event source "zrvwdt": its messages are zrvctl.exe's message table
// (one message, the text as given).
bool registerEventSource(const std::string& exe) {
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kEventSourceKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const DWORD types = EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE;
    const bool ok =
        RegSetValueExA(key, "EventMessageFile", 0, REG_EXPAND_SZ, reinterpret_cast<const BYTE*>(exe.c_str()),
                       static_cast<DWORD>(exe.size() + 1)) == ERROR_SUCCESS &&
        RegSetValueExA(key, "TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                       sizeof types) == ERROR_SUCCESS;
    RegCloseKey(key);
    return ok;
}

// Service handles closed on every path.
struct ScHandle {
    SC_HANDLE h;
    explicit ScHandle(SC_HANDLE handle) : h(handle) {}
    ~ScHandle() {
        if (h != nullptr) CloseServiceHandle(h);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
};

void install(Context& ctx, const ServiceArgs& a) {
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    if (scm.h == nullptr) return fail(ctx, "service", systemError(GetLastError()));
    const std::string exe = serviceExecutable();
    std::string command = fmt::format("\"{}\" service run --every {} --timeout {}{}", exe, a.every, a.timeout,
                                      a.leaveRunning ? " --leave-running" : "");
    if (!a.metrics.empty()) command += fmt::format(" --metrics \"{}\"", a.metrics);
    if (!a.listen.empty()) command += fmt::format(" --listen {}", a.listen);
    // Started after the driver's service, which it needs.
    static const char kDependencies[] = "zorvik\0";
    ScHandle service(CreateServiceA(scm.h, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    command.c_str(), nullptr, nullptr, kDependencies, nullptr, nullptr));
    if (service.h == nullptr) return fail(ctx, "service", systemError(GetLastError()));
    if (!registerEventSource(exe)) warn(ctx, "service", "its errors cannot go to the event log");
    if (!StartServiceA(service.h, 0, nullptr))
        return fail(ctx, "service",
                    fmt::format("installed, but it did not start: {}", systemError(GetLastError())));
    answer(ctx, fmt::format("service {} installed and started: {}", kServiceName, command),
           {{"service", kServiceName}, {"installed", true}, {"command", command}});
}

void remove(Context& ctx) {
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (scm.h == nullptr) return fail(ctx, "service", systemError(GetLastError()));
    ScHandle service(OpenServiceA(scm.h, kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
    if (service.h == nullptr) return fail(ctx, "service", systemError(GetLastError()));
    SERVICE_STATUS status{};
    if (ControlService(service.h, SERVICE_CONTROL_STOP, &status)) {
        // Stopping stops the watchdog; wait for it, up to 30 s.
        for (int i = 0;
             i < 300 && QueryServiceStatus(service.h, &status) && status.dwCurrentState != SERVICE_STOPPED;
             ++i)
            Sleep(100);
    }
    if (!DeleteService(service.h)) return fail(ctx, "service", systemError(GetLastError()));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kEventSourceKey);
    answer(ctx, fmt::format("service {} stopped and removed", kServiceName),
           {{"service", kServiceName}, {"installed", false}});
}

struct StateName {
    DWORD state;
    const char* name;
};
const StateName kStates[] = {
    {SERVICE_STOPPED, "stopped"}, {SERVICE_START_PENDING, "starting"},    {SERVICE_STOP_PENDING, "stopping"},
    {SERVICE_RUNNING, "running"}, {SERVICE_CONTINUE_PENDING, "resuming"}, {SERVICE_PAUSE_PENDING, "pausing"},
    {SERVICE_PAUSED, "paused"},
};

void status(Context& ctx) {
    ScHandle scm(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (scm.h == nullptr) return fail(ctx, "service", systemError(GetLastError()));
    ScHandle service(OpenServiceA(scm.h, kServiceName, SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG));
    if (service.h == nullptr) return fail(ctx, "service", systemError(GetLastError()));
    SERVICE_STATUS state{};
    DWORD needed = 0;
    QueryServiceConfigA(service.h, nullptr, 0, &needed);
    std::vector<uint8_t> buffer(std::max<DWORD>(needed, sizeof(QUERY_SERVICE_CONFIGA)));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceStatus(service.h, &state) ||
        !QueryServiceConfigA(service.h, config, static_cast<DWORD>(buffer.size()), &needed))
        return fail(ctx, "service", systemError(GetLastError()));
    const char* name = "unknown";
    for (const StateName& s : kStates)
        if (s.state == state.dwCurrentState) name = s.name;
    const bool atBoot = config->dwStartType == SERVICE_AUTO_START;
    const std::string command = config->lpBinaryPathName != nullptr ? config->lpBinaryPathName : "";
    answer(ctx,
           fmt::format("service {}: {}, {}: {}", kServiceName, name,
                       atBoot ? "started at boot" : "not started at boot", command),
           {{"service", kServiceName}, {"state", name}, {"at_boot", atBoot}, {"command", command}});
}

// ---- The service itself ------------------------------------------------------

// Standard error of the service, a line an event (std::cerr flushes after
// every insertion, so a line is reported when it ends): warnings as
// warnings, the rest as errors.
class EventLogBuffer : public std::streambuf {
public:
    EventLogBuffer() : source_(RegisterEventSourceA(nullptr, kServiceName)) {}
    ~EventLogBuffer() override {
        report();
        if (source_ != nullptr) DeregisterEventSource(source_);
    }
    EventLogBuffer(const EventLogBuffer&) = delete;
    EventLogBuffer& operator=(const EventLogBuffer&) = delete;

protected:
    int_type overflow(int_type c) override {
        if (c == traits_type::eof()) return traits_type::not_eof(c);
        if (c == '\n')
            report();
        else
            line_ += static_cast<char>(c);
        return c;
    }

private:
    void report() {
        if (line_.empty() || source_ == nullptr) return;
        const char* strings[] = {line_.c_str()};
        const WORD type =
            line_.find(": warning: ") != std::string::npos ? EVENTLOG_WARNING_TYPE : EVENTLOG_ERROR_TYPE;
        ReportEventA(source_, type, 0, kEventText, nullptr, 1, 0, strings, nullptr);
        line_.clear();
    }

    static constexpr DWORD kEventText = 1;  // the message table's one message: the text
    HANDLE source_;
    std::string line_;
};

Context* gContext = nullptr;
Keepalive gKeepalive;
SERVICE_STATUS_HANDLE gStatusHandle = nullptr;

void report(DWORD state, DWORD exitCode = NO_ERROR) {
    SERVICE_STATUS s{};
    s.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    s.dwCurrentState = state;
    s.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    s.dwWin32ExitCode = exitCode;
    s.dwWaitHint = state == SERVICE_STOP_PENDING ? 5000 : 0;
    SetServiceStatus(gStatusHandle, &s);
}

DWORD WINAPI control(DWORD code, DWORD, LPVOID, LPVOID) {
    if (code == SERVICE_CONTROL_STOP || code == SERVICE_CONTROL_SHUTDOWN) {
        report(SERVICE_STOP_PENDING);
        interrupt();  // the loop ends and stops the watchdog
    }
    return NO_ERROR;
}

void WINAPI serviceMain(DWORD, LPSTR*) {
    gStatusHandle = RegisterServiceCtrlHandlerExA(kServiceName, control, nullptr);
    if (gStatusHandle == nullptr) return;
    report(SERVICE_RUNNING);
    try {
        keepalive(*gContext, gKeepalive);
    } catch (const ClientError& e) {
        fail(*gContext, "service", e.message);  // the device is gone
    }
    report(SERVICE_STOPPED, gContext->exitCode == kExitOk ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR);
}

void run(Context& ctx, const ServiceArgs& a) {
    EventLogBuffer events;
    std::streambuf* console = std::cerr.rdbuf(&events);
    struct Restore {
        std::streambuf* buffer;
        ~Restore() { std::cerr.rdbuf(buffer); }
    } restore{console};
    gContext = &ctx;
    gKeepalive = Keepalive{parseDuration(a.every, "every"),
                           parseDuration(a.timeout, "timeout"),
                           a.leaveRunning,
                           0,
                           a.metrics,
                           a.listen};
    static char name[] = "zrvwdt";
    SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table)) {
        std::cerr.rdbuf(console);
        fail(ctx, "service",
             "service run is for the service manager; use wdctl keepalive --every at a prompt");
    }
}

Builder defineService(CLI::App& app) {
    auto a = std::make_shared<ServiceArgs>();
    app.add_option("ACTION", a->action,
                   "install (and start), remove (stop and delete), status, run (the service manager's)")
        ->required()
        ->check(CLI::IsMember({"install", "remove", "status", "run"}));
    app.add_option("--every", a->every, "restart the watchdog every DURATION (default 10s)");
    app.add_option("--timeout", a->timeout, "the watchdog's timeout (default 60s)");
    app.add_flag("--leave-running", a->leaveRunning, "do not stop the watchdog when the service stops");
    app.add_option("--metrics", a->metrics,
                   "write DIR\\zorvik.prom (Prometheus textfile) after every restart")
        ->type_name("DIR");
    app.add_option("--listen", a->listen, "answer Prometheus's GET /metrics at ADDRESS:PORT")
        ->type_name("ADDRESS:PORT");
    return [a] {
        const uint64_t every = parseDuration(a->every, "every"),
                       timeout = parseDuration(a->timeout, "timeout");
        if (every == 0 || every >= timeout)
            throw ClientError{"--every must be above 0 and shorter than --timeout"};
        return [a = *a](Context& ctx) {
            if (a.action == "install")
                install(ctx, a);
            else if (a.action == "remove")
                remove(ctx);
            else if (a.action == "status")
                status(ctx);
            else
                run(ctx, a);
        };
    };
}

}  // namespace

void addServiceCommand(CommandTable& table) {
    table.push_back(
        {"service", "the watchdog keepalive as a Windows service: install, remove, status", defineService});
}

}  // namespace zrvctl
