// zrvctl: the command-line client of the Zorvik control device.
//
//   zrvctl [BACK-END OPTIONS] [--json]
//          (--script FILE | COMMAND [ARGS...] [';' COMMAND ...])
//
// The commands are parsed whole first, then run in order by the back-end:
// on Linux the driver on a virtual board (client/sim), on Windows the
// control device of the machine (client/win).
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <sstream>

#include "client/backend.h"
#include "client/commands.h"

namespace {

using namespace zrvctl;

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

std::string usage() {
    std::string s = "commands:\n";
    for (auto& c : commands()) s += fmt::format("  {:<44} {}\n", c.usage, c.help);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"zrvctl: watchdog, hardware monitor and digital I/O of a Zorvik board"};
    std::unique_ptr<Backend> backend = makeBackend();
    std::string scriptFile;
    bool json = false;
    backend->addOptions(app);
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
        return backend->run(actions, json);
    } catch (const ClientError& e) {
        std::cerr << "zrvctl: " << e.message << "\n";
        return 2;
    }
}
