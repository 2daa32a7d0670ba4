// The client's commands. A script is parsed whole before anything runs, so a
// bad line stops it before the first request.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "client/session.h"

namespace zrvctl {

struct Context {
    Device& device;
    Board* board;       // the emulated board, or null on a real machine
    bool json = false;  // --json: machine-readable answers
};

using Action = std::function<void(Context&)>;

struct Command {
    const char* name;
    const char* usage;
    const char* help;
    // Checks the arguments and returns what to run; throws ClientError.
    std::function<Action(const std::vector<std::string>& args)> parse;
};

using CommandTable = std::vector<Command>;

// Every command group adds its commands here.
void addRequestCommands(CommandTable& table);
void addWatchdogCommands(CommandTable& table);
void addDigitalIoCommands(CommandTable& table);
void addHwmCommands(CommandTable& table);
void addBoardCommands(CommandTable& table);

const CommandTable& commands();
const Command* findCommand(const std::string& name);

// Parsing helpers shared by the command groups.
uint32_t parseNumber(const std::string& text, const std::string& what, uint32_t max);
std::vector<uint8_t> parseHex(const std::string& text);
std::string hex(const std::vector<uint8_t>& bytes);
std::string statusName(int32_t status);
// True for a successful reply; otherwise prints the refusal as the command's
// answer ("COMMAND: not supported (0xc00000bb)", or JSON) and returns false.
bool requestAnswered(Context& ctx, const char* command, const Reply& reply);

}  // namespace zrvctl
