// The board's own scrape endpoint: answers `GET /metrics` over HTTP/1.x,
// for boards whose Windows is too old for any exporter. One connection at a
// time, each closed after its answer, so concurrent scrapes are served one
// after the other and never interleave their requests to the driver. A
// client gets a few seconds to send its request head; one that is slower,
// sends more than kMaxHttpHead bytes or anything that is not a request is
// closed. No authentication: it belongs on the management network, bound to
// that network's address.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zrvctl {

constexpr size_t kMaxHttpHead = 8192;
constexpr uint64_t kHttpClientMs = 3000;  // the most a client may take to send its head

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

class MetricsListener {
public:
    MetricsListener() = default;
    ~MetricsListener();
    MetricsListener(const MetricsListener&) = delete;
    MetricsListener& operator=(const MetricsListener&) = delete;

    // Listens at "ADDRESS:PORT" (IPv4 address or host name; port 0 takes a
    // free one). False with `error` set when it cannot.
    bool open(const std::string& where, std::string& error);
    uint16_t port() const { return port_; }
    // Answers requests for `ms` milliseconds of wall time, or until the run
    // is interrupted; `metrics` makes each answer's text.
    void serveFor(uint64_t ms, const std::function<std::string()>& metrics);
    // Ends serveFor() from another thread within a fraction of a second.
    void stop() { stop_ = true; }

private:
    void serveOne(uintptr_t client, const std::function<std::string()>& metrics);
    uintptr_t socket_ = ~uintptr_t{0};
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
};

}  // namespace zrvctl
