// zrvctl: the command-line client of the Zorvik control device.
//
//   zrvctl [OPTIONS] COMMAND [ARGS...] [';' COMMAND ...] [OPTIONS]
//   zrvctl [OPTIONS] --script FILE
//
// The commands are parsed whole first, then run in order by the back-end:
// on Linux the driver on a virtual board (client/sim), on Windows the
// control device of the machine (client/win). Options of the whole run may
// stand before or after the commands.
#include <fmt/format.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <iostream>
#include <sstream>

#include "client/backend.h"
#include "client/commands.h"
#include "common/nearest.h"

namespace {

using namespace zrvctl;

struct Line {
    std::string where;  // "file:line" or "command line, command N"
    std::vector<std::string> words;
};

std::vector<std::string> splitWords(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    return words;
}

// A script is a list of commands; one larger than a board file's limit is
// not one (and /dev/zero would never end).
constexpr size_t kMaxScriptBytes = 1 << 20;

std::vector<Line> readScript(const std::string& file) {
    std::ifstream f;
    std::istream* in = &std::cin;
    const std::string name = file == "-" ? "<stdin>" : file;
    if (file != "-") {
        f.open(file, std::ios::binary);
        if (!f) throw ClientError{fmt::format("{}: cannot open script", file)};
        in = &f;
    }
    std::string all(kMaxScriptBytes + 1, '\0');
    try {
        in->read(all.data(), static_cast<std::streamsize>(all.size()));
    } catch (const std::exception&) {
        in->setstate(std::ios::badbit);  // the file buffer throws on a read error (a directory)
    }
    if (in->bad()) throw ClientError{fmt::format("{}: cannot read script", name)};
    if (static_cast<size_t>(in->gcount()) > kMaxScriptBytes)
        throw ClientError{
            fmt::format("{}: larger than {} bytes, too large for a script", name, kMaxScriptBytes)};
    all.resize(static_cast<size_t>(in->gcount()));
    std::istringstream text_in(all);
    std::vector<Line> lines;
    int number = 0;
    for (std::string text; std::getline(text_in, text);) {
        ++number;
        if (auto hash = text.find('#'); hash != std::string::npos) text.erase(hash);
        auto words = splitWords(text);
        if (!words.empty()) lines.push_back({fmt::format("{}:{}", name, number), words});
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

std::string commandList() {
    std::string s = "Commands (COMMAND --help for each one's arguments):\n";
    for (auto& c : commands()) s += fmt::format("  {:<10} {}\n", c.name, c.help);
    s += "\nExit codes: 0 every request succeeded, 1 a request was refused or failed, 2 a usage\n"
         "error, 3 the driver or the hardware broke a rule, 4 the driver is not installed or the\n"
         "device may not be opened, 5 a reading crossed a limit (and nothing failed).\n";
    return s;
}

bool isHelp(const std::string& w) { return w == "-h" || w == "--help" || w == "/?"; }

// One command line through its command's own parser, with its place.
Action parseLine(const Line& l, bool& helped) {
    try {
        return parseCommand(l.words, helped);
    } catch (const ClientError& e) {
        throw ClientError{fmt::format("{}: {}", l.where, e.message)};
    }
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "zrvctl: watchdog, hardware monitor and digital I/O of a Zorvik board\n\n"
        "  zrvctl [OPTIONS] COMMAND [ARGS...] [';' COMMAND [ARGS...]]... [OPTIONS]\n"
        "  zrvctl [OPTIONS] --script FILE\n",
        "zrvctl"};
    std::unique_ptr<Backend> backend = makeBackend();
    RunOptions options;
    std::string scriptFile;
    backend->addOptions(app, options);
    app.add_option("--script", scriptFile, "read commands from FILE, one a line ('-': standard input)");
    app.add_flag("--json", options.json, "answer in JSON, errors too");
    app.add_option(
        "--profile", options.profile,
        "the board profile (labels, scaling, limits, line names); default: " + backend->profileHint());
    bool version = false;
    app.add_flag("--version", version, "the client's version and the driver's");
    app.footer(commandList());
    // The options of the run are taken wherever they stand; everything else
    // (the commands, their arguments and the ';' between them) is left over
    // in order. Help is the run's only as the first word left over, so that
    // COMMAND --help reaches the command.
    app.allow_extras();
    app.set_help_flag();
    std::vector<std::string> rest;
    try {
        app.parse(argc, argv);
        rest = app.remaining();
    } catch (const CLI::ParseError& e) {
        std::cerr << "zrvctl: " << e.what() << " (zrvctl --help)\n";
        return kExitUsage;
    }
    if (!rest.empty() && isHelp(rest[0])) {
        std::cout << app.help();
        return kExitOk;
    }
    if (version) {
        std::cout << "zrvctl " << ZRV_CLIENT_VERSION << "\n" << backend->driverVersion() << "\n";
        return kExitOk;
    }

    try {
        if (!scriptFile.empty() && !rest.empty())
            throw ClientError{"give commands either on the command line or with --script, not both"};
        std::vector<Line> lines = scriptFile.empty() ? splitCommandLine(rest) : readScript(scriptFile);
        if (lines.empty()) throw ClientError{"no command given (zrvctl --help)"};
        // What the run's options did not take and looks like an option is a
        // misspelt one, not a command.
        for (const Line& l : lines) {
            if (l.words[0].size() < 2 || l.words[0][0] != '-') continue;
            std::vector<std::string> names;
            for (const CLI::Option* o : app.get_options())
                for (const std::string& n : o->get_lnames()) names.push_back("--" + n);
            const std::string nearest = zorvik::nearestName(l.words[0], names);
            throw ClientError{
                fmt::format("{}: unknown option '{}'{} (zrvctl --help)", l.where, l.words[0],
                            nearest.empty() ? "" : fmt::format(", did you mean '{}'?", nearest)),
                kExitUsage};
        }

        // Parse everything first: a bad line stops the run before any request.
        std::vector<Action> actions;
        bool helped = false;
        for (const Line& l : lines) actions.push_back(parseLine(l, helped));
        options.needsDevice = std::any_of(lines.begin(), lines.end(), [](const Line& l) {
            // metrics says zorvik_up 0 with the reason when the device is not there.
            return l.words[0] != "config" && l.words[0] != "metrics" &&
                   !(l.words[0] == "service" && l.words.size() > 1 && l.words[1] != "run");
        });
        if (helped) return kExitOk;
        catchInterrupts();
        return backend->run(actions, options);
    } catch (const ClientError& e) {
        if (options.json)
            std::cerr << jsonText(nlohmann::json{{"error", e.message}}) << "\n";
        else
            std::cerr << "zrvctl: " << e.message << "\n";
        return e.code;
    }
}
