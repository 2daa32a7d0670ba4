// The board's own scrape endpoint: answers `GET /metrics` over HTTP/1.x,
// for boards whose Windows is too old for any exporter. It holds several
// connections at once in one select() loop (Windows XP has no poll), each
// with its own few seconds to send its request head and as many to take its
// answer, so an idle or slow client never holds a scrape. The answers are
// made one at a time, by the one thread that serves, so two scrapes never
// interleave their requests to the driver; each connection is closed after
// its answer. A client that is too slow, sends more than kMaxHttpHead bytes
// or anything that is not a request is closed. No authentication: it
// belongs on the management network, bound to that network's address.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace zrvctl {

constexpr size_t kMaxHttpHead = 8192;
// The most a client may take to send its head, and again to take its answer
// (the listener's default; a test may give its own).
constexpr uint64_t kHttpClientMs = 3000;
// Connections held at once. When all are held, the oldest one that has not
// sent its request yet is dropped for the new one rather than the new one
// refused: refusing would let a few idle clients lock Prometheus out until
// their time ran out, while dropping the oldest idle one costs a real
// scraper nothing, since it sends its request as soon as it connects. When
// every held connection is being answered, the new one is closed.
constexpr size_t kMaxHttpClients = 16;

struct HttpHead {
    std::string method;
    std::string path;  // the target without its query
};
enum class HttpParse { Incomplete, Complete, Bad };
// The request head at the start of `bytes`: its request line parsed once
// the blank line that ends it has arrived.
HttpParse parseHttpHead(const std::string& bytes, HttpHead& head);
// The whole answer to a parsed request: status line, headers, body.
std::string httpAnswer(const HttpHead& head, const std::function<std::string()>& metrics);

// "ADDRESS:PORT" taken apart (the address not yet looked up); false with
// `error` set when it is not of that form.
bool splitListenAddress(const std::string& where, std::string& host, uint16_t& port, std::string& error);

class MetricsListener {
public:
    explicit MetricsListener(uint64_t clientMs = kHttpClientMs) : clientMs_(clientMs) {}
    ~MetricsListener();
    MetricsListener(const MetricsListener&) = delete;
    MetricsListener& operator=(const MetricsListener&) = delete;

    // Listens at "ADDRESS:PORT" (IPv4 address or host name; port 0 takes a
    // free one). False with `error` set when it cannot.
    bool open(const std::string& where, std::string& error);
    uint16_t port() const { return port_; }
    // Answers requests for `ms` milliseconds of wall time, or until the run
    // is interrupted; `metrics` makes each answer's text. Connections not
    // done by then are held on to for the next call.
    void serveFor(uint64_t ms, const std::function<std::string()>& metrics);
    // Ends serveFor() from another thread within a fraction of a second.
    void stop() { stop_ = true; }

private:
    struct Client {
        uintptr_t socket;
        uint64_t deadline;  // steady-clock ms: its head, then its answer
        std::string bytes;  // the head so far, then the answer
        size_t sent = 0;
        bool answering = false;
    };
    void accept(uint64_t now);
    void receive(Client& c, uint64_t now, const std::function<std::string()>& metrics);
    void drop(size_t index);
    const uint64_t clientMs_;
    uintptr_t socket_ = ~uintptr_t{0};
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::vector<Client> clients_;  // oldest first
};

}  // namespace zrvctl
