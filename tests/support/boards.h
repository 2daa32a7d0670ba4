// The example boards of the repository, and what a loaded board binds, for
// the tests that run over every board: a new board file is covered as soon
// as it is there.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tests/support/harness.h"

namespace zrvtest {

// boards/*.json of the source tree, sorted.
std::vector<std::string> exampleBoards();

// Runs `body` on each example board with the driver loaded; then the driver
// is unloaded, and no platform or hardware rule may have been broken.
void onEveryBoard(const std::function<void(SimBoard&)>& body);

// One request to each function that every bound back-end answers with
// success and unbound ones with STATUS_NOT_SUPPORTED: the monitor readings,
// the watchdog range, the digital-I/O line counts, inputs and outputs, and
// the CD output count (which only back-ends with a CD port serve).
std::vector<sim::IoResult> probeFunctions(SimBoard& board);

// Whether `seen` is `clean` or the answer of an unbound function: what a
// load may bind when something failed during it.
bool boundAsCleanOrNot(const sim::IoResult& seen, const sim::IoResult& clean);

}  // namespace zrvtest
