#include "client/win/board_remote.h"

#include <fmt/format.h>

#include <sstream>

#include "win/testbed/board_link.h"

namespace zrvctl {

struct RemoteBoard::Link {
    ZrvBoardLink link;
};

namespace {

void CheckLineName(const std::string& line) {
    if (line.empty() || line.find_first_of(" \t\r\n") != std::string::npos)
        throw ClientError{fmt::format("'{}' is not a line name", line)};
}

uint64_t ParseCount(const std::string& text, const std::string& what) {
    try {
        size_t used = 0;
        const uint64_t v = std::stoull(text, &used, 10);
        if (used == text.size()) return v;
    } catch (const std::exception&) {
    }
    throw ClientError{fmt::format("board server: bad {} '{}'", what, text)};
}

}  // namespace

RemoteBoard::RemoteBoard(uint16_t port) : link_(std::make_unique<Link>()) {
    if (ZrvLinkOpen(&link_->link, port) != 0)
        throw ClientError{fmt::format("no board server on 127.0.0.1:{}", port)};
}

RemoteBoard::~RemoteBoard() { ZrvLinkClose(&link_->link); }

std::string RemoteBoard::request(const std::string& line) {
    char answer[4096];
    if (ZrvLinkRequest(&link_->link, line.c_str(), answer, sizeof answer) != 0)
        throw ClientError{fmt::format("board server: no answer to '{}'", line)};
    const std::string text = answer;
    if (text == "ok") return {};
    if (text.rfind("ok ", 0) == 0) return text.substr(3);
    throw ClientError{fmt::format("board server: {}", text.rfind("err ", 0) == 0 ? text.substr(4) : text)};
}

void RemoteBoard::advance(uint64_t ms) { request(fmt::format("advance {}", ms)); }

uint64_t RemoteBoard::nowMs() { return ParseCount(request("now"), "time"); }

bool RemoteBoard::setPin(const std::string& line, bool level) {
    CheckLineName(line);
    return request(fmt::format("setpin {} {}", line, level ? 1 : 0)) == "1";
}

std::optional<bool> RemoteBoard::pin(const std::string& line) {
    CheckLineName(line);
    const std::string level = request(fmt::format("pin {}", line));
    if (level == "none") return std::nullopt;
    if (level == "0" || level == "1") return level == "1";
    throw ClientError{fmt::format("board server: bad level '{}'", level)};
}

std::vector<uint64_t> RemoteBoard::resets() {
    std::istringstream in(request("resets"));
    std::vector<uint64_t> at;
    for (std::string word; in >> word;) at.push_back(ParseCount(word, "reset time"));
    return at;
}

}  // namespace zrvctl
