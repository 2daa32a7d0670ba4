// zrvctl: the command-line client of the Zorvik control device.
//
//   zrvctl [--sim BOARD.json] [--trace FILE] [--dbg FILE] [--json]
//          (--script FILE | COMMAND [ARGS...] [';' COMMAND ...])
//
// On Linux the driver runs on a virtual board: it is loaded once, the
// commands run in order, and it is unloaded.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <sstream>

#include "client/commands.h"
#include "sim/board.h"
#include "sim/machine.h"

namespace {

using namespace zrvctl;

// The control device on the virtual board; each request goes through a
// handle opened for it with the access it asks for.
class SimDevice : public Device {
public:
    explicit SimDevice(sim::Machine& m) : machine_(m) {}
    Reply ioctl(uint32_t code, const std::vector<uint8_t>& input, uint32_t outputLength,
                HandleAccess access) override {
        int handle = 0;
        const auto a = access == HandleAccess::Read ? sim::Access::Read : sim::Access::ReadWrite;
        int32_t status = machine_.open(ZRV_USER_DEVICE_NAME, a, &handle);
        if (status != ZRV_STATUS_SUCCESS)
            throw ClientError{fmt::format("cannot open {}: {}", ZRV_USER_DEVICE_NAME, statusName(status))};
        sim::IoResult r = machine_.ioctl(handle, code, input, outputLength);
        machine_.close(handle);
        return Reply{r.status, r.bytes, r.data};
    }

private:
    sim::Machine& machine_;
};

struct Line {
    std::string where;  // "file:line" or "command line"
    std::vector<std::string> words;
};

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

std::vector<Line> readScript(const std::string& file) {
    std::ifstream f;
    std::istream* in = &std::cin;
    if (file != "-") {
        f.open(file);
        if (!f) throw ClientError{fmt::format("{}: cannot open script", file)};
        in = &f;
    }
    std::vector<Line> lines;
    int number = 0;
    for (std::string text; std::getline(*in, text);) {
        ++number;
        if (auto hash = text.find('#'); hash != std::string::npos) text.erase(hash);
        auto words = splitWords(text);
        if (!words.empty())
            lines.push_back({fmt::format("{}:{}", file == "-" ? "<stdin>" : file, number), words});
    }
    return lines;
}

std::vector<Line> splitCommandLine(const std::vector<std::string>& args) {
    std::vector<Line> lines(1);
    for (const auto& a : args) {
        if (a == ";") {
            lines.emplace_back();
        } else {
            lines.back().words.push_back(a);
        }
    }
    std::vector<Line> out;
    int n = 0;
    for (auto& l : lines) {
        ++n;
        l.where = fmt::format("command line, command {}", n);
        if (!l.words.empty()) out.push_back(l);
    }
    return out;
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    if (!out) throw ClientError{fmt::format("{}: cannot write", path)};
    out << text;
}

std::string usage() {
    std::string s = "commands:\n";
    for (auto& c : commands()) s += fmt::format("  {:<44} {}\n", c.usage, c.help);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zrvctl: watchdog, hardware monitor and digital I/O of a Zorvik board"};
    std::string board = ZRV_DEFAULT_BOARD, traceFile, dbgFile, scriptFile;
    bool json = false;
    app.add_option("--sim", board, "board file of the virtual board (default: the bundled board)");
    app.add_option("--trace", traceFile, "write every port access of the driver to FILE");
    app.add_option("--dbg", dbgFile, "write the driver's debugger output to FILE");
    app.add_option("--script", scriptFile, "read commands from FILE, one a line ('-': standard input)");
    app.add_flag("--json", json, "answer in JSON");
    app.prefix_command();
    app.footer(usage());
    CLI11_PARSE(app, argc, argv);

    try {
        std::vector<Line> lines =
            scriptFile.empty() ? splitCommandLine(app.remaining()) : readScript(scriptFile);
        if (!scriptFile.empty() && !app.remaining().empty())
            throw ClientError{"give commands either on the command line or with --script, not both"};
        if (lines.empty()) throw ClientError{"no command given (try --help)"};

        // Parse everything first: a bad line stops the run before any request.
        std::vector<Action> actions;
        for (const Line& l : lines) {
            const Command* c = findCommand(l.words[0]);
            if (c == nullptr) throw ClientError{fmt::format("{}: unknown command '{}'", l.where, l.words[0])};
            try {
                actions.push_back(c->parse({l.words.begin() + 1, l.words.end()}));
            } catch (const ClientError& e) {
                throw ClientError{fmt::format("{}: {} (usage: {})", l.where, e.message, c->usage)};
            }
        }

        sim::Machine machine;
        try {
            sim::loadBoard(machine, board);
        } catch (const sim::BoardError& e) {
            throw ClientError{e.what()};
        }
        const int32_t loadStatus = machine.load();
        int rc = 0;
        if (loadStatus != ZRV_STATUS_SUCCESS) {
            std::cerr << fmt::format("zrvctl: the driver did not load: 0x{:08x} ({})\n",
                                     static_cast<uint32_t>(loadStatus), statusName(loadStatus));
            rc = 1;
        } else {
            SimDevice device(machine);
            Context ctx{device, &machine, json};
            for (auto& a : actions) a(ctx);
            std::cout.flush();
            machine.unload();
        }

        if (!traceFile.empty()) {
            std::string text;
            for (auto& e : machine.bus().trace()) text += e.text() + "\n";
            writeFile(traceFile, text);
        }
        if (!dbgFile.empty()) writeFile(dbgFile, machine.debugText());
        for (auto& v : machine.ioViolations()) {
            std::cerr << "zrvctl: driver broke a platform rule: " << v << "\n";
            rc = 3;
        }
        for (auto& v : machine.deviceViolations()) {
            std::cerr << "zrvctl: hardware protocol violation: " << v << "\n";
            rc = 3;
        }
        return rc;
    } catch (const ClientError& e) {
        std::cerr << "zrvctl: " << e.message << "\n";
        return 2;
    }
}
