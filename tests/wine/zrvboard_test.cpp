// zrvboard as the Wine testbed runs it: a process serving a board file on a
// loopback port, several clients, the trace and violations written on quit.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Connection {
public:
    explicit Connection(uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connected_ = ::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~Connection() { ::close(fd_); }
    bool connected() const { return connected_; }
    // Sends one request and returns the first answer line.
    std::string ask(const std::string& request) {
        const std::string line = request + "\n";
        if (::send(fd_, line.data(), line.size(), 0) != static_cast<ssize_t>(line.size()))
            return "<send failed>";
        return readLine();
    }
    std::string readLine() {
        for (;;) {
            if (auto nl = buffer_.find('\n'); nl != std::string::npos) {
                std::string out = buffer_.substr(0, nl);
                buffer_.erase(0, nl + 1);
                return out;
            }
            char b[256];
            const ssize_t n = ::recv(fd_, b, sizeof b, 0);
            if (n <= 0) return "<closed>";
            buffer_.append(b, static_cast<size_t>(n));
        }
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    std::string buffer_;
};

class ZrvBoardProcess : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() / ("zrvboard-test-" + std::to_string(::getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override {
        if (pid > 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, nullptr, 0);
        }
        fs::remove_all(dir);
    }

    void start(const std::string& board) {
        std::vector<std::string> args = {ZRV_ZRVBOARD,
                                         "--board",
                                         board,
                                         "--info",
                                         (dir / "info").string(),
                                         "--trace",
                                         (dir / "trace").string(),
                                         "--violations",
                                         (dir / "violations").string(),
                                         "--idle-exit",
                                         "20"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ASSERT_EQ(::posix_spawn(&pid, ZRV_ZRVBOARD, nullptr, nullptr, argv.data(), environ), 0);
    }

    // The info file's lines, once the server is ready.
    std::string waitForInfo() {
        for (int i = 0; i < 200 && !fs::exists(dir / "info"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        return readFile(dir / "info");
    }

    int waitForExit() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    fs::path dir;
    pid_t pid = -1;
};

TEST_F(ZrvBoardProcess, ServesTheBoardToSeveralClientsAndWritesTheTraceOnQuit) {
    start(std::string(ZRV_SOURCE_DIR) + "/boards/port-plain.json");
    const std::string info = waitForInfo();
    unsigned port = 0;
    ASSERT_EQ(std::sscanf(info.c_str(), "port %u", &port), 1) << info;
    EXPECT_NE(info.find("registry " + (fs::path(ZRV_SOURCE_DIR) / "boards" / "port-plain.reg").string()),
              std::string::npos)
        << info;

    Connection hal(static_cast<uint16_t>(port));
    Connection client(static_cast<uint16_t>(port));
    ASSERT_TRUE(hal.connected());
    ASSERT_TRUE(client.connected());
    // The digital inputs of the board, driven from the board side and read
    // as the driver would read them.
    EXPECT_EQ(client.ask("setpin DI1 1"), "ok 1");
    EXPECT_EQ(hal.ask("in 0x300"), "ok 0x02");
    EXPECT_EQ(hal.ask("out 0x301 0x10"), "ok");
    EXPECT_EQ(client.ask("pin DO0"), "ok 1");
    EXPECT_EQ(client.ask("advance 2500"), "ok");
    EXPECT_EQ(client.ask("now"), "ok 2500");
    EXPECT_EQ(client.ask("bogus"), "err unknown request 'bogus'");
    EXPECT_EQ(client.ask("quit"), "ok");
    EXPECT_EQ(waitForExit(), 0);
    EXPECT_EQ(readFile(dir / "trace"), "in 0x0300 0x02\nout 0x0301 0x10\n");
    EXPECT_EQ(readFile(dir / "violations"), "");
}

TEST_F(ZrvBoardProcess, RefusesABoardFileThatDoesNotLoad) {
    std::ofstream(dir / "bad.json") << "{\"hardware\": [ {\"type\": \"no-such-thing\"} ]}";
    start((dir / "bad.json").string());
    EXPECT_EQ(waitForExit(), 2);
    EXPECT_FALSE(fs::exists(dir / "info"));
}

}  // namespace
