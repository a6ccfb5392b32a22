#include "oom/oom_package.h"

namespace oom_test {

namespace {

constexpr uint32_t Terminator = 0xFFFFFFFF;

}  // namespace

std::vector<Script> Entries() {
  std::vector<Script> entries(4);
  entries[0]
      .Head(KindBook, "joseki.bak", "joseki.dat")
      .Group(0x40, 0, 9)
      .Group(0x41, 1, 5, true)
      .U32(Terminator);
  entries[1].Head(KindDividedBook, "book\\div.bak", "book\\div.dat").U32(0);
  for (uint32_t k = 0; k < 64; ++k) {
    if (k % 16 == 3) entries[1].Group(0x100 + k, k, 2);
    entries[1].U32(Terminator);
  }
  entries[2].File("a.bak", "a.txt", package_test::Text("a new, longer than before"));
  entries[3].File("n.bak", "n.txt", package_test::Text("a file of its own"));
  return entries;
}

Script Concatenate(const std::vector<Script>& entries, size_t j) {
  Script script;
  for (size_t i = 0; i < j; ++i) script.Raw(const_cast<Script&>(entries[i]).bytes());
  return script;
}

Snapshot Install() {
  std::vector<Bytes> divisions;
  for (uint32_t k = 0; k < 64; ++k)
    divisions.push_back(package_test::RawBook({{{0x100 + k, k}, {{5, 0, 0}}}}));
  return {{"joseki.dat", package_test::BookFile(package_test::RawBook(
                             {{{0x40, 0}, {{5, 1, 7}}}, {{0x41, 1}, {{5, 0, 0}, {6, 0, 0}}}}))},
          {"book/div.dat", package_test::DividedFile(divisions)},
          {"a.txt", package_test::Text("a old")},
          {"other.txt", package_test::Text("not in the package")}};
}

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
