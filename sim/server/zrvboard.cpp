// zrvboard: serves one emulated board on a loopback TCP port, for the Wine
// testbed (win/wine-run). The board file is the one zrvctl --sim takes;
// its registry export is not applied here (wine-run imports it into the
// Wine registry) but its path is reported.
//
//   zrvboard --board BOARD.json --info FILE [--trace FILE] [--violations FILE]
//            [--idle-exit SECONDS]
//
// Listens on 127.0.0.1 at a port of the system's choosing and writes
// "port N" and "registry PATH" lines to the info file once it accepts
// connections. Any number of clients; requests are served one at a time
// in arrival order (see board_server.h). On "quit" it writes the port trace
// and the device violations to their files and exits 0. With no request for
// --idle-exit seconds (default 600) it gives up and exits 3, so that a
// crashed testbed run leaves no server behind.
#include <arpa/inet.h>
#include <fmt/format.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>

#include "sim/board.h"
#include "sim/server/board_server.h"

namespace {

struct Client {
    std::string pending;
};

void writeFileAtomically(const std::string& path, const std::string& text) {
    const std::string temp = path + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary);
        if (!out) throw std::runtime_error(fmt::format("{}: cannot write", temp));
        out << text;
    }
    std::filesystem::rename(temp, path);
}

bool sendAll(int fd, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

int listenLoopback(uint16_t* port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) throw std::runtime_error(fmt::format("socket: {}", std::strerror(errno)));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0)
        throw std::runtime_error(fmt::format("cannot listen on 127.0.0.1: {}", std::strerror(errno)));
    socklen_t length = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    *port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zrvboard: one emulated Zorvik board on a loopback port, for the Wine testbed"};
    std::string boardFile, infoFile, traceFile, violationsFile;
    int idleExit = 600;
    app.add_option("--board", boardFile, "board file (as zrvctl --sim takes)")->required();
    app.add_option("--info", infoFile, "write 'port N' and 'registry PATH' here when ready")->required();
    app.add_option("--trace", traceFile, "on quit, write the port trace to FILE");
    app.add_option("--violations", violationsFile, "on quit, write the devices' rule violations to FILE");
    app.add_option("--idle-exit", idleExit, "give up after this many seconds without a request")
        ->check(CLI::Range(1, 86400));
    CLI11_PARSE(app, argc, argv);
    std::signal(SIGPIPE, SIG_IGN);

    try {
        sim::Machine machine;
        sim::BoardInfo info = sim::loadBoard(machine, boardFile);
        sim::BoardServer server(machine);

        uint16_t port = 0;
        const int listener = listenLoopback(&port);
        std::string registry = info.registryFile.empty()
                                   ? std::string()
                                   : std::filesystem::absolute(info.registryFile).lexically_normal().string();
        // The trace streams to a temporary file beside the one asked for,
        // renamed on quit, so the server's memory stays flat however long it
        // runs.
        const std::string traceTemp = traceFile.empty() ? std::string() : traceFile + ".tmp";
        if (!traceTemp.empty() && !machine.bus().traceToFile(traceTemp))
            throw std::runtime_error(fmt::format("{}: cannot write", traceTemp));
        writeFileAtomically(infoFile, fmt::format("port {}\nregistry {}\n", port, registry));

        std::map<int, Client> clients;
        while (!server.quitRequested()) {
            std::vector<pollfd> fds{{listener, POLLIN, 0}};
            for (auto& [fd, _] : clients) fds.push_back({fd, POLLIN, 0});
            const int ready = ::poll(fds.data(), fds.size(), idleExit * 1000);
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) throw std::runtime_error(fmt::format("poll: {}", std::strerror(errno)));
            if (ready == 0) {
                std::cerr << fmt::format("zrvboard: no request for {} s, giving up\n", idleExit);
                machine.bus().closeTraceFile();
                if (!traceTemp.empty()) std::filesystem::remove(traceTemp);
                return 3;
            }
            if (fds[0].revents & POLLIN) {
                const int fd = ::accept(listener, nullptr, nullptr);
                if (fd >= 0) {
                    const int one = 1;
                    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
                    clients[fd] = Client{};
                }
            }
            for (size_t i = 1; i < fds.size() && !server.quitRequested(); ++i) {
                if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
                const int fd = fds[i].fd;
                char buffer[4096];
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0) {
                    ::close(fd);
                    clients.erase(fd);
                    continue;
                }
                std::string& pending = clients[fd].pending;
                pending.append(buffer, static_cast<size_t>(n));
                for (size_t nl; !server.quitRequested() && (nl = pending.find('\n')) != std::string::npos;) {
                    std::string request = pending.substr(0, nl);
                    pending.erase(0, nl + 1);
                    if (!request.empty() && request.back() == '\r') request.pop_back();
                    if (!sendAll(fd, server.handle(request))) break;
                }
            }
        }

        machine.bus().closeTraceFile();
        if (!traceTemp.empty()) std::filesystem::rename(traceTemp, traceFile);
        if (!violationsFile.empty()) {
            std::string text;
            for (const auto& v : machine.deviceViolations()) text += v + "\n";
            writeFileAtomically(violationsFile, text);
        }
        // Beside the trace, as zrvctl lists them: ports nothing answered at.
        if (!traceFile.empty())
            for (const auto& u : machine.unclaimedAccesses())
                std::cerr << fmt::format(
                    "zrvboard: unclaimed port 0x{:04x}: {} {} time(s), no device decodes it\n", u.port,
                    u.write ? "written" : "read", u.count);
        for (auto& [fd, _] : clients) ::close(fd);
        ::close(listener);
        return 0;
    } catch (const sim::BoardError& e) {
        std::cerr << "zrvboard: " << e.what() << "\n";
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "zrvboard: " << e.what() << "\n";
        return 2;
    }
}
