// zrvctl.exe service install|remove|run: the watchdog keepalive loop as a
// Windows service, "zrvwdt". install registers it with the service control
// manager (started automatically at boot, after the driver's service, the
// keepalive options stored in its command line) and starts it; remove stops
// it and deletes it. The service manager starts "zrvctl.exe service run
// --every ... --timeout ...", which runs the loop until the service is
// stopped, and then stops the watchdog unless --leave-running was given.
#include <fmt/format.h>
#include <windows.h>

#include <CLI/CLI.hpp>
#include <memory>

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
    std::string command = fmt::format("\"{}\" service run --every {} --timeout {}{}", executable(), a.every,
                                      a.timeout, a.leaveRunning ? " --leave-running" : "");
    if (!a.metrics.empty()) command += fmt::format(" --metrics \"{}\"", a.metrics);
    if (!a.listen.empty()) command += fmt::format(" --listen {}", a.listen);
    // Started after the driver's service, which it needs.
    static const char kDependencies[] = "zorvik\0";
    ScHandle service(CreateServiceA(scm.h, kServiceName, kDisplayName, SERVICE_ALL_ACCESS,
                                    SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                    command.c_str(), nullptr, nullptr, kDependencies, nullptr, nullptr));
    if (service.h == nullptr) return fail(ctx, "service", systemError(GetLastError()));
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
    answer(ctx, fmt::format("service {} stopped and removed", kServiceName),
           {{"service", kServiceName}, {"installed", false}});
}

// ---- The service itself ------------------------------------------------------

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
    gContext = &ctx;
    gKeepalive = Keepalive{parseDuration(a.every, "every"),
                           parseDuration(a.timeout, "timeout"),
                           a.leaveRunning,
                           0,
                           a.metrics,
                           a.listen};
    static char name[] = "zrvwdt";
    SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
    if (!StartServiceCtrlDispatcherA(table))
        fail(ctx, "service",
             "service run is for the service manager; use wdctl keepalive --every at a prompt");
}

Builder defineService(CLI::App& app) {
    auto a = std::make_shared<ServiceArgs>();
    app.add_option("ACTION", a->action,
                   "install (and start), remove (stop and delete), run (the service manager's)")
        ->required()
        ->check(CLI::IsMember({"install", "remove", "run"}));
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
            else
                run(ctx, a);
        };
    };
}

}  // namespace

void addPlatformCommands(CommandTable& table) {
    table.push_back(
        {"service", "the watchdog keepalive as a Windows service: install, remove", defineService});
}

}  // namespace zrvctl
