// The DLL search is limited with the calls and the values the system takes:
// the system folder's flag, and the empty text (not null, which would bring
// the default order back), where the system offers each call.
#include "app/dll_search.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::string> calls;
int32_t answer = 1;

int32_t RecordDefaultDirectories(uint32_t flags) {
  calls.push_back("SetDefaultDllDirectories " + std::to_string(flags));
  return answer;
}

int32_t RecordDllDirectory(const char* path) {
  calls.push_back(path == nullptr ? "SetDllDirectoryA null" : "SetDllDirectoryA \"" + std::string(path) + "\"");
  return 1;
}

TEST(LimitDllSearch, KeepsLoadsToTheSystemFolderWithWhatTheSystemOffers) {
  struct Case {
    bool hasDefault, hasDirectory;
    int32_t defaultAnswer;
    bool limited;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {true, true, 1, true, {"SetDllDirectoryA \"\"", "SetDefaultDllDirectories 2048"}},
      {true, true, 0, false, {"SetDllDirectoryA \"\"", "SetDefaultDllDirectories 2048"}},
      {false, true, 1, false, {"SetDllDirectoryA \"\""}},  // before KB2533623
      {false, false, 1, false, {}},
  };
  for (const Case& c : cases) {
    calls.clear();
    answer = c.defaultAnswer;
    const DllSearchCalls system = {c.hasDefault ? RecordDefaultDirectories : nullptr,
                                   c.hasDirectory ? RecordDllDirectory : nullptr};
    EXPECT_EQ(LimitDllSearch(system), c.limited);
    EXPECT_EQ(calls, c.want);
  }
}

}  // namespace
