// Where the commands run. The Linux client loads the driver on a virtual
// board in its own process; the Windows client sends its requests to the
// control device of the machine it runs on. Each client build links exactly
// one back-end, which adds its own options and runs the parsed commands.
#pragma once

#include <memory>
#include <vector>

#include "client/commands.h"

namespace CLI {
class App;
}

namespace zrvctl {

class Backend {
public:
    virtual ~Backend() = default;
    virtual void addOptions(CLI::App& app) = 0;
    // Runs the commands in order and returns the exit code: 0 done, 1 the
    // driver is not there, 3 a rule of the platform or the hardware was
    // broken. Throws ClientError (exit code 2).
    virtual int run(const std::vector<Action>& actions, bool json) = 0;
};

std::unique_ptr<Backend> makeBackend();

}  // namespace zrvctl
