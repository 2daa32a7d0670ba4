// The scrape endpoint over loopback: what each kind of request gets, a
// client that sends nothing holding the next scrape only for the few seconds
// it is given, and the endpoint answering on after every bad request.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include "client/http_listen.h"

namespace {

using zrvctl::MetricsListener;

const char* kMetrics = "zorvik_up 1\n";

int connectTo(uint16_t port) {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
}

// Sends `request`, then reads until the endpoint closes.
std::string exchange(uint16_t port, const std::string& request) {
    const int s = connectTo(port);
    send(s, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;)
        answer.append(buffer, static_cast<size_t>(n));
    close(s);
    return answer;
}

struct Served {
    MetricsListener listener;
    std::thread thread;
    explicit Served(uint64_t ms, std::string metrics = kMetrics, uint64_t clientMs = zrvctl::kHttpClientMs)
        : listener(clientMs) {
        std::string error;
        EXPECT_TRUE(listener.open("127.0.0.1:0", error)) << error;
        thread = std::thread([this, ms, metrics] { listener.serveFor(ms, [&metrics] { return metrics; }); });
    }
    ~Served() {
        listener.stop();
        thread.join();
    }
};

TEST(MetricsListener, AnswersEachRequestAsItDeservesAndGoesOn) {
    struct Row {
        std::string request;
        std::string statusLine;      // empty: closed without an answer
        bool body;                   // the metrics follow the head
        const char* page = nullptr;  // or a page with this in it
    };
    const std::string endless = "GET /metrics HTTP/1.1\r\nX-Padding: " + std::string(9000, 'a');
    const Row rows[] = {
        {"GET /metrics HTTP/1.1\r\nHost: board\r\n\r\n", "HTTP/1.1 200 OK", true},
        {"GET /metrics?debug=1 HTTP/1.0\n\n", "HTTP/1.1 200 OK", true},
        {"HEAD /metrics HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", false},
        {"GET / HTTP/1.1\r\n\r\n", "HTTP/1.1 200 OK", false, "<a href=\"/metrics\">"},
        {"GET /favicon.ico HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found", false},
        {"POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", "HTTP/1.1 405 Method Not Allowed", false},
        {"GET /metrics\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
        {"GET /metrics HTTP/2.0\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
        {"GET /met rics HTTP/1.1\r\n\r\n", "HTTP/1.1 400 Bad Request", false},
        {std::string("GET /metrics HTTP/1.1\r\nX: \x01\r\n\r\n"), "HTTP/1.1 400 Bad Request", false},
        {endless, "HTTP/1.1 400 Bad Request", false},
        {"GET /metrics HTTP/1.1\r\n", "", false},  // never finished: closed after the client's time
    };
    Served served(60000);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.request.substr(0, 40));
        if (r.statusLine.empty()) {
            const int s = connectTo(served.listener.port());
            send(s, r.request.data(), r.request.size(), MSG_NOSIGNAL);
            shutdown(s, SHUT_WR);
            char c;
            EXPECT_EQ(recv(s, &c, 1, 0), 0);
            close(s);
            continue;
        }
        const std::string answer = exchange(served.listener.port(), r.request);
        EXPECT_EQ(answer.substr(0, answer.find("\r\n")), r.statusLine);
        EXPECT_NE(answer.find("Connection: close\r\n"), std::string::npos);
        const std::string body = answer.substr(answer.find("\r\n\r\n") + 4);
        if (r.body) {
            EXPECT_EQ(body, kMetrics);
            EXPECT_NE(answer.find("Content-Type: text/plain; version=0.0.4"), std::string::npos);
        } else if (r.page != nullptr) {
            EXPECT_NE(body.find(r.page), std::string::npos) << body;
        } else if (r.statusLine.find("200") != std::string::npos) {
            EXPECT_EQ(body, "");
        }
    }
    EXPECT_EQ(exchange(served.listener.port(), "GET /metrics HTTP/1.1\r\n\r\n").substr(0, 15),
              "HTTP/1.1 200 OK");
}

// A client that says nothing neither holds a scrape behind it nor is held on
// to for ever: the scrape is answered while it is still held, and it is
// closed unanswered once its time is up.
TEST(MetricsListener, ASilentClientHoldsNoScrapeAndIsClosedInTime) {
    Served served(60000, kMetrics, 2000);
    const int silent = connectTo(served.listener.port());
    const std::string answer = exchange(served.listener.port(), "GET /metrics HTTP/1.1\r\n\r\n");
    EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
    char c;
    EXPECT_EQ(recv(silent, &c, 1, 0), 0);  // closed unanswered
    close(silent);
}

// Reads what has arrived on a held connection: its byte count, and whether
// the endpoint has closed it (false: still open, nothing more to read yet).
size_t drain(int s, bool& closed) {
    char buffer[65536];
    size_t got = 0;
    for (ssize_t n; (n = recv(s, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) got += static_cast<size_t>(n);
    closed = !(errno == EAGAIN || errno == EWOULDBLOCK);
    return got;
}

// Clients that connect and say nothing, and clients that ask and never
// read their answer, held all at once: a scrape behind them is answered
// while they are all still held (the endpoint gives each a long time here,
// so a scrape that waited for any of them would come only after it was
// dropped); past the endpoint's room the oldest silent ones go. How fast
// the answer comes is the benchmark's figure (bench/), not a check here.
TEST(MetricsListener, AScrapeIsAnsweredWhileTheOtherClientsAreHeld) {
    const struct {
        size_t silent, unread;
    } rows[] = {{1, 0}, {2, 0}, {4, 0}, {8, 0}, {zrvctl::kMaxHttpClients + 4, 0}, {0, 1}, {8, 2}};
    const std::string big(16u << 20, '#');  // more than a socket takes: its sender waits
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::Message() << row.silent << " silent, " << row.unread << " unread");
        Served served(600000, big, 120000);
        std::vector<int> held;
        for (size_t i = 0; i < row.silent + row.unread; ++i) {
            held.push_back(connectTo(served.listener.port()));
            if (i < row.silent) continue;
            const int small = 4096;
            setsockopt(held.back(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            const std::string request = "GET /metrics HTTP/1.1\r\n\r\n";
            send(held.back(), request.data(), request.size(), MSG_NOSIGNAL);
        }
        const std::string answer = exchange(served.listener.port(), "GET /metrics HTTP/1.1\r\n\r\n");
        EXPECT_EQ(answer.substr(0, 15), "HTTP/1.1 200 OK");
        EXPECT_EQ(answer.substr(answer.find("\r\n\r\n") + 4), big);
        // The scrape's own connection made room too.
        const size_t all = held.size() + 1;
        const size_t dropped = all > zrvctl::kMaxHttpClients ? all - zrvctl::kMaxHttpClients : 0;
        for (size_t i = 0; i < held.size(); ++i) {
            SCOPED_TRACE(testing::Message() << "client " << i);
            bool closed = false;
            errno = 0;
            const size_t got = drain(held[i], closed);
            if (i < dropped) {
                EXPECT_TRUE(closed && got == 0) << "closed unanswered for room";
            } else if (i < row.silent) {
                EXPECT_FALSE(closed) << "still held";
            } else {
                EXPECT_TRUE(!closed || got == answer.size())
                    << "still held, or closed after its whole answer";
            }
        }
        for (int s : held) close(s);
    }
}

}  // namespace
