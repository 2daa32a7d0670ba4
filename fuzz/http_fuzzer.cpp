// The scrape endpoint's request parser: any bytes a client sends end as an
// answer or a closed connection, never as a crash, and what it accepts is a
// well-formed request whose answer carries the length it says.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/http_listen.h"

// The listener's loop asks this; the parser never does.
namespace zrvctl {
bool interrupted() { return false; }
}  // namespace zrvctl

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    zrvctl::HttpHead head;
    const zrvctl::HttpParse parsed = zrvctl::parseHttpHead(bytes, head);
    if (parsed == zrvctl::HttpParse::Incomplete && size >= zrvctl::kMaxHttpHead) {
        std::fprintf(stderr, "finding: %zu bytes still incomplete\n", size);
        std::abort();
    }
    if (parsed != zrvctl::HttpParse::Complete) return 0;
    if (head.method.empty() || head.path.empty() || head.path[0] != '/') {
        std::fprintf(stderr, "finding: accepted method '%s' path '%s'\n", head.method.c_str(),
                     head.path.c_str());
        std::abort();
    }
    const std::string answer = zrvctl::httpAnswer(head, [] { return std::string("zorvik_up 1\n"); });
    const size_t split = answer.find("\r\n\r\n");
    const size_t at = answer.find("Content-Length: ");
    if (answer.rfind("HTTP/1.1 ", 0) != 0 || split == std::string::npos || at == std::string::npos)
        std::abort();
    const size_t length = std::strtoul(answer.c_str() + at + 16, nullptr, 10);
    const size_t body = answer.size() - split - 4;
    if (head.method != "HEAD" && length != body) {
        std::fprintf(stderr, "finding: Content-Length %zu for a body of %zu\n", length, body);
        std::abort();
    }
    return 0;
}
