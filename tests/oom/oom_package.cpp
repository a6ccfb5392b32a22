#include "oom/oom_package.h"

namespace oom_test {

// The package of every kind and a file of its own.
std::vector<Script> Entries() {
  std::vector<Script> entries = EveryKindEntries();
  entries.emplace_back().File("n.bak", "n.txt", package_test::Text("a file of its own"));
  return entries;
}

Snapshot Install() { return EveryKindInstall(); }

std::vector<Snapshot> States(const std::vector<Script>& entries, const Snapshot& start,
                             const ScratchFolder& folder) {
  std::vector<Snapshot> states;
  for (size_t j = 0; j <= entries.size(); ++j) {
    folder.Restore(start);
    Script prefix = Concatenate(entries, j);
    EXPECT_EQ(package_test::Apply(prefix, folder.Path()), ApplyOk);
    states.push_back(folder.Take());
  }
  folder.Restore(start);
  return states;
}

std::vector<Snapshot> Reruns(const std::vector<Script>& entries, const std::vector<Snapshot>& states,
                             const ScratchFolder& folder) {
  Script whole = Concatenate(entries, entries.size());
  std::vector<Snapshot> reruns;
  for (const Snapshot& state : states) {
    folder.Restore(state);
    EXPECT_EQ(package_test::Apply(whole, folder.Path()), ApplyOk);
    reruns.push_back(folder.Take());
  }
  folder.Restore(states.front());
  return reruns;
}

int StateOf(const Snapshot& folder, const std::vector<Snapshot>& states, std::string* differences) {
  std::string nearest;
  for (size_t j = 0; j < states.size(); ++j) {
    const std::string differs = Differences(folder, states[j]);
    if (differs.empty()) return static_cast<int>(j);
    if (nearest.empty() || differs.size() < nearest.size()) nearest = differs;
  }
  *differences = nearest;
  return -1;
}

}  // namespace oom_test
