// The emulated board of the Wine testbed, reached through its board
// server (zrvboard) on a loopback port: the client's Board over the
// testbed's wire protocol (win/testbed/board_link.h). Built into
// zrvctl-testbed.exe only.
#pragma once

#include <memory>

#include "client/session.h"

namespace zrvctl {

class RemoteBoard : public Board {
public:
    // Connects to 127.0.0.1:port; throws ClientError when nobody answers.
    explicit RemoteBoard(uint16_t port);
    ~RemoteBoard() override;
    RemoteBoard(const RemoteBoard&) = delete;
    RemoteBoard& operator=(const RemoteBoard&) = delete;

    void advance(uint64_t ms) override;
    uint64_t nowMs() override;
    bool setPin(const std::string& line, bool level) override;
    std::optional<bool> pin(const std::string& line) override;
    std::vector<uint64_t> resets() override;

private:
    // Sends one request and returns what follows "ok" in the answer.
    std::string request(const std::string& line);

    struct Link;
    std::unique_ptr<Link> link_;
};

}  // namespace zrvctl
