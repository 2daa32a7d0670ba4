// Where the commands run. The Linux client loads the driver on a virtual
// board in its own process; the Windows client sends its requests to the
// control device of the machine it runs on. Each client build links exactly
// one back-end, which adds its own options and runs the parsed commands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "client/commands.h"

namespace CLI {
class App;
}

namespace zrvctl {

struct RunOptions {
    bool json = false;
    std::string profile;      // --profile, or empty for the back-end's default
    bool needsDevice = true;  // false when every command reads only the configuration
};

class Backend {
public:
    virtual ~Backend() = default;
    virtual void addOptions(CLI::App& app, RunOptions& options) = 0;
    // Where the profile is looked for when --profile is not given.
    virtual std::string profileHint() const = 0;
    // For --version: which driver the commands would reach, and its version.
    virtual std::string driverVersion() const = 0;
    // Runs the commands in order and returns the exit code (ExitCode).
    // Throws ClientError for a usage error (exit code 2).
    virtual int run(const std::vector<Action>& actions, const RunOptions& options) = 0;
};

std::unique_ptr<Backend> makeBackend();

}  // namespace zrvctl
