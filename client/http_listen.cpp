// The scrape endpoint on BSD sockets and on Winsock 2 as Windows XP has it
// (select, no poll; inet_addr and gethostbyname, no inet_pton).
#include "client/http_listen.h"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "client/commands.h"

#ifdef _WIN32
#include <winsock2.h>
using SocketLength = int;
constexpr int kSendFlags = 0;
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>
using SOCKET = int;
using SocketLength = socklen_t;
constexpr SOCKET INVALID_SOCKET = -1;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a client gone is no reason to die
#endif

namespace zrvctl {

namespace {

bool tokenChar(char c) { return c >= 'A' && c <= 'Z'; }
bool targetChar(char c) { return c > 0x20 && c < 0x7F; }

void closeSocket(SOCKET s) {
#ifdef _WIN32
    closesocket(s);
#else
    close(s);
#endif
}

#ifdef _WIN32
std::string socketError() { return fmt::format("Winsock error {}", WSAGetLastError()); }
struct Winsock {
    bool ok;
    Winsock() {
        WSADATA data;
        ok = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
};
#else
std::string socketError() { return std::strerror(errno); }
#endif

using Steady = std::chrono::steady_clock;

// Waits until `s` can be read (or written) or `deadline` passes.
bool ready(SOCKET s, bool write, Steady::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Steady::now()).count();
    if (left <= 0) return false;
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{static_cast<long>(left / 1000000), static_cast<long>(left % 1000000)};
    const int n =
        select(static_cast<int>(s) + 1, write ? nullptr : &set, write ? &set : nullptr, nullptr, &tv);
    return n > 0;
}

}  // namespace

HttpParse parseHttpHead(const std::string& bytes, HttpHead& head) {
    size_t end = bytes.find("\r\n\r\n");
    if (end == std::string::npos) end = bytes.find("\n\n");
    if (end == std::string::npos || end > kMaxHttpHead)
        return bytes.size() >= kMaxHttpHead ? HttpParse::Bad : HttpParse::Incomplete;
    // Header lines are not needed, but must be text.
    for (size_t i = 0; i < end; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if ((c < 0x20 && c != '\r' && c != '\n' && c != '\t') || c == 0x7F) return HttpParse::Bad;
    }
    const std::string line = bytes.substr(0, bytes.find_first_of("\r\n"));
    const size_t sp1 = line.find(' ');
    const size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string::npos || line.find(' ', sp2 + 1) != std::string::npos) return HttpParse::Bad;
    const std::string method = line.substr(0, sp1), target = line.substr(sp1 + 1, sp2 - sp1 - 1),
                      version = line.substr(sp2 + 1);
    if (method.empty() || method.size() > 16) return HttpParse::Bad;
    for (char c : method)
        if (!tokenChar(c)) return HttpParse::Bad;
    if (target.empty() || target[0] != '/') return HttpParse::Bad;
    for (char c : target)
        if (!targetChar(c)) return HttpParse::Bad;
    if (version != "HTTP/1.0" && version != "HTTP/1.1") return HttpParse::Bad;
    head.method = method;
    head.path = target.substr(0, target.find('?'));
    return HttpParse::Complete;
}

std::string httpAnswer(const HttpHead& head, const std::function<std::string()>& metrics) {
    const auto reply = [&](const char* status, const char* type, const std::string& body,
                           const char* extra = "") {
        return fmt::format(
            "HTTP/1.1 {}\r\nContent-Type: {}\r\nContent-Length: {}\r\n{}Connection: close\r\n\r\n{}", status,
            type, body.size(), extra, head.method == "HEAD" ? std::string() : body);
    };
    if (head.method != "GET" && head.method != "HEAD")
        return reply("405 Method Not Allowed", "text/plain", "GET /metrics only\n", "Allow: GET, HEAD\r\n");
    if (head.path != "/metrics") return reply("404 Not Found", "text/plain", "not found: try /metrics\n");
    return reply("200 OK", "text/plain; version=0.0.4; charset=utf-8", metrics());
}

MetricsListener::~MetricsListener() {
    if (socket_ != ~uintptr_t{0}) closeSocket(static_cast<SOCKET>(socket_));
}

bool MetricsListener::open(const std::string& where, std::string& error) {
#ifdef _WIN32
    static Winsock winsock;
    if (!winsock.ok) {
        error = "Winsock did not start";
        return false;
    }
#endif
    const size_t colon = where.rfind(':');
    const std::string host = colon == std::string::npos ? std::string() : where.substr(0, colon);
    uint32_t port = 0;
    bool portOk = colon != std::string::npos && colon + 1 < where.size() && where.size() - colon <= 6;
    for (size_t i = colon + 1; portOk && i < where.size(); ++i) {
        portOk = where[i] >= '0' && where[i] <= '9';
        port = port * 10 + static_cast<uint32_t>(where[i] - '0');
    }
    if (host.empty() || !portOk || port > 65535) {
        error = fmt::format("'{}': give ADDRESS:PORT, as 192.168.10.5:9101", where);
        return false;
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = inet_addr(host.c_str());
    if (addr.sin_addr.s_addr == INADDR_NONE && host != "255.255.255.255") {
        const hostent* h = gethostbyname(host.c_str());
        if (!h || h->h_addrtype != AF_INET || !h->h_addr_list[0]) {
            error = fmt::format("'{}': no IPv4 address of that name", host);
            return false;
        }
        std::memcpy(&addr.sin_addr, h->h_addr_list[0], sizeof addr.sin_addr);
    }
    const SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == INVALID_SOCKET) {
        error = "socket: " + socketError();
        return false;
    }
#ifndef _WIN32
    // A restarted service takes its port back at once. (On Windows this
    // option would let another program take it over, and is left off.)
    const int on = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 8) != 0) {
        error = fmt::format("{}: {}", where, socketError());
        closeSocket(s);
        return false;
    }
    SocketLength len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    socket_ = static_cast<uintptr_t>(s);
    return true;
}

void MetricsListener::serveOne(uintptr_t client, const std::function<std::string()>& metrics) {
    const SOCKET c = static_cast<SOCKET>(client);
    const auto deadline = Steady::now() + std::chrono::milliseconds(kHttpClientMs);
    std::string bytes;
    HttpHead head;
    HttpParse parsed = HttpParse::Incomplete;
    char buffer[1024];
    while (parsed == HttpParse::Incomplete && ready(c, false, deadline)) {
        const int n = static_cast<int>(recv(c, buffer, sizeof buffer, 0));
        if (n <= 0) break;
        bytes.append(buffer, static_cast<size_t>(n));
        parsed = parseHttpHead(bytes, head);
    }
    std::string answer;
    if (parsed == HttpParse::Complete)
        answer = httpAnswer(head, metrics);
    else if (parsed == HttpParse::Bad)
        answer = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    // A client gone or too slow gets nothing; the rest is sent within the
    // same few seconds or dropped.
    for (size_t sent = 0; sent < answer.size() && ready(c, true, deadline);) {
        const int n = static_cast<int>(
            send(c, answer.data() + sent, static_cast<int>(answer.size() - sent), kSendFlags));
        if (n <= 0) break;
        sent += static_cast<size_t>(n);
    }
    closeSocket(c);
}

void MetricsListener::serveFor(uint64_t ms, const std::function<std::string()>& metrics) {
    const auto until = Steady::now() + std::chrono::milliseconds(ms);
    const SOCKET s = static_cast<SOCKET>(socket_);
    while (!interrupted() && !stop_ && Steady::now() < until) {
        // Wake at least every 200 ms to see an interruption.
        const auto step = std::min(until, Steady::now() + std::chrono::milliseconds(200));
        if (!ready(s, false, step)) continue;
        const SOCKET c = accept(s, nullptr, nullptr);
        if (c != INVALID_SOCKET) serveOne(static_cast<uintptr_t>(c), metrics);
    }
}

}  // namespace zrvctl
