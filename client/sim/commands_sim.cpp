#include "client/commands.h"

namespace zrvctl {

// The virtual board has no service manager: the keepalive loop runs as
// wdctl keepalive --every.
void addPlatformCommands(CommandTable&) {}

}  // namespace zrvctl
