// The package that the out-of-memory sweeps apply: a single book, a divided
// book in a subfolder, a file that replaces a present one and a file of its
// own; the install folder it is applied to; and the folders that clean
// applications of its first j entries leave.
#pragma once

#include <string>
#include <vector>

#include "testing/package_builder.h"

namespace oom_test {

using namespace package_test;

// The package's entries, one script each.
std::vector<Script> Entries();

// The install folder before the update: both books, the file to be
// replaced and one the package does not name.
Snapshot Install();

// states[j]: the folder that `start` becomes when the first j entries are
// applied cleanly, for j from 0 to the number of entries. Made in `folder`,
// which is left holding `start`.
std::vector<Snapshot> States(const std::vector<Script>& entries, const Snapshot& start,
                             const ScratchFolder& folder);

// reruns[j]: the folder that a complete application leaves when it runs
// over states[j], as a run after a failed one does. An entry that had
// already made a file of its own finds it under its new name and keeps it
// under its free old name, so this is states.back() only up to such files.
std::vector<Snapshot> Reruns(const std::vector<Script>& entries, const std::vector<Snapshot>& states,
                             const ScratchFolder& folder);

// The j of the state that `folder` equals, or -1 (with the names in which
// it differs from the nearest state in `differences`).
int StateOf(const Snapshot& folder, const std::vector<Snapshot>& states, std::string* differences);

}  // namespace oom_test
