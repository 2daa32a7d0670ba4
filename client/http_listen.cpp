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
#include <fcntl.h>
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

// Milliseconds of the steady clock: every deadline is one of these.
uint64_t steadyMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool setNonBlocking(SOCKET s) {
#ifdef _WIN32
    u_long on = 1;
    return ioctlsocket(s, FIONBIO, &on) == 0;
#else
    const int flags = fcntl(s, F_GETFL, 0);
    return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
#endif
}

// The last call on a non-blocking socket found nothing to do yet.
bool wouldBlock() {
#ifdef _WIN32
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
#else
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
#endif
}

const char* kBadRequest = "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";

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
    // The root gets a small page that leads to the metrics, as exporters do.
    if (head.path == "/")
        return reply("200 OK", "text/html; charset=utf-8",
                     "<html><head><title>Zorvik board</title></head><body><h1>Zorvik board</h1>"
                     "<p><a href=\"/metrics\">Metrics</a></p></body></html>\n");
    if (head.path != "/metrics") return reply("404 Not Found", "text/plain", "not found: try /metrics\n");
    return reply("200 OK", "text/plain; version=0.0.4; charset=utf-8", metrics());
}

bool splitListenAddress(const std::string& where, std::string& host, uint16_t& port, std::string& error) {
    const size_t colon = where.rfind(':');
    host = colon == std::string::npos ? std::string() : where.substr(0, colon);
    uint32_t n = 0;
    bool portOk = colon != std::string::npos && colon + 1 < where.size() && where.size() - colon <= 6;
    for (size_t i = colon + 1; portOk && i < where.size(); ++i) {
        portOk = where[i] >= '0' && where[i] <= '9';
        n = n * 10 + static_cast<uint32_t>(where[i] - '0');
    }
    if (host.empty() || !portOk || n > 65535) {
        error = fmt::format("'{}': give ADDRESS:PORT, as 192.168.10.5:9101", where);
        return false;
    }
    port = static_cast<uint16_t>(n);
    return true;
}

MetricsListener::~MetricsListener() {
    for (const Client& c : clients_) closeSocket(static_cast<SOCKET>(c.socket));
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
    std::string host;
    uint16_t port = 0;
    if (!splitListenAddress(where, host, port, error)) return false;
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
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(s, static_cast<int>(kMaxHttpClients)) != 0 || !setNonBlocking(s)) {
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

void MetricsListener::drop(size_t index) {
    closeSocket(static_cast<SOCKET>(clients_[index].socket));
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
}

void MetricsListener::accept(uint64_t now) {
    // What is waiting, but no more than the endpoint holds: a flood of
    // connections does not keep the loop from the clients it has.
    for (size_t n = 0; n < kMaxHttpClients; ++n) {
        const SOCKET c = ::accept(static_cast<SOCKET>(socket_), nullptr, nullptr);
        if (c == INVALID_SOCKET) return;  // none waiting, or gone again
#ifndef _WIN32
        // select() cannot watch a descriptor past its set.
        if (c >= FD_SETSIZE) {
            closeSocket(c);
            continue;
        }
#endif
        if (!setNonBlocking(c)) {
            closeSocket(c);
            continue;
        }
        if (clients_.size() >= kMaxHttpClients) {
            // Full: the oldest client that has not sent its request makes
            // room (see kMaxHttpClients); with none, the new one is closed.
            const auto idle =
                std::find_if(clients_.begin(), clients_.end(), [](const Client& k) { return !k.answering; });
            if (idle == clients_.end()) {
                closeSocket(c);
                continue;
            }
            drop(static_cast<size_t>(idle - clients_.begin()));
        }
        clients_.push_back(Client{static_cast<uintptr_t>(c), now + clientMs_, {}, 0, false});
    }
}

namespace {

// Sends what the socket takes now; false when the client is done with
// (all sent, or gone).
bool sendSome(SOCKET s, const std::string& answer, size_t& sent) {
    while (sent < answer.size()) {
        const size_t chunk = std::min<size_t>(answer.size() - sent, 1 << 20);
        const int n = static_cast<int>(send(s, answer.data() + sent, static_cast<int>(chunk), kSendFlags));
        if (n <= 0) return n < 0 && wouldBlock();
        sent += static_cast<size_t>(n);
    }
    return false;
}

}  // namespace

void MetricsListener::receive(Client& c, uint64_t now, const std::function<std::string()>& metrics) {
    char buffer[1024];
    const SOCKET s = static_cast<SOCKET>(c.socket);
    const int n = static_cast<int>(recv(s, buffer, sizeof buffer, 0));
    if (n <= 0) {
        // Closed before its request was whole (or failed): nothing to answer.
        if (n == 0 || !wouldBlock()) c.deadline = now;
        return;
    }
    c.bytes.append(buffer, static_cast<size_t>(n));
    HttpHead head;
    const HttpParse parsed = parseHttpHead(c.bytes, head);
    if (parsed == HttpParse::Incomplete) return;
    // The board is read here, by this one thread, for one answer at a time.
    c.bytes = parsed == HttpParse::Complete ? httpAnswer(head, metrics) : std::string(kBadRequest);
    c.answering = true;
    c.sent = 0;
    c.deadline = steadyMs() + clientMs_;
    if (!sendSome(s, c.bytes, c.sent)) c.deadline = 0;  // all sent at once: done
}

void MetricsListener::serveFor(uint64_t ms, const std::function<std::string()>& metrics) {
    const uint64_t start = steadyMs();
    const uint64_t until = ms > ~uint64_t{0} - start ? ~uint64_t{0} : start + ms;
    const SOCKET listening = static_cast<SOCKET>(socket_);
    // Whoever's time ran out, or who is done, is closed, answered or not.
    const auto sweep = [this](uint64_t now) {
        for (size_t i = clients_.size(); i-- > 0;)
            if (clients_[i].deadline <= now) drop(i);
    };
    while (!interrupted() && !stop_) {
        uint64_t now = steadyMs();
        sweep(now);
        if (now >= until) break;
        fd_set reads, writes;
        FD_ZERO(&reads);
        FD_ZERO(&writes);
        FD_SET(listening, &reads);
        SOCKET highest = listening;
        // Wake at least every 200 ms to see an interruption.
        uint64_t wake = std::min(until, now + 200);
        for (const Client& c : clients_) {
            const SOCKET s = static_cast<SOCKET>(c.socket);
            FD_SET(s, c.answering ? &writes : &reads);
            highest = std::max(highest, s);
            wake = std::min(wake, c.deadline);
        }
        const uint64_t left = wake - now;
        timeval tv{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
        if (select(static_cast<int>(highest) + 1, &reads, &writes, nullptr, &tv) <= 0) continue;
        now = steadyMs();
        for (Client& c : clients_) {
            const SOCKET s = static_cast<SOCKET>(c.socket);
            if (c.answering && FD_ISSET(s, &writes)) {
                if (!sendSome(s, c.bytes, c.sent)) c.deadline = 0;
            } else if (!c.answering && FD_ISSET(s, &reads)) {
                receive(c, now, metrics);
            }
        }
        sweep(now);
        if (FD_ISSET(listening, &reads)) accept(now);
    }
}

}  // namespace zrvctl
