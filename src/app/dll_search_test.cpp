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
    std::vector<std::string> want;
    int32_t defaultAnswer;
    bool hasDefault, hasDirectory, limited;
  };
  const Case cases[] = {
      {{"SetDllDirectoryA \"\"", "SetDefaultDllDirectories 2048"}, 1, true, true, true},
      {{"SetDllDirectoryA \"\"", "SetDefaultDllDirectories 2048"}, 0, true, true, false},
      {{"SetDllDirectoryA \"\""}, 1, false, true, false},  // before KB2533623
      {{}, 1, false, false, false},
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
