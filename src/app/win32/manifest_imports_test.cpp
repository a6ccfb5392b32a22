// What the loader finds in both Windows programs, read back from their
// compiled resource scripts and, when FIX_WINDOWS_EXES names them, from the
// built executables: the application manifest (execution level, supported
// systems, and for the updater system DPI awareness and Common Controls 6),
// and the DLLs each imports, all of them ones the system takes from its own
// folder whatever lies beside the program.
#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/compiled_files.h"
#include "testing/dialog_resource.h"
#include "testing/pe_image.h"
#include "testing/scratch_folder.h"

namespace {

constexpr uint16_t RtManifest = 24;
constexpr uint16_t ProcessManifestId = 1;  // CREATEPROCESS_MANIFEST_RESOURCE_ID
constexpr uint16_t LangNeutral = 0;

// How often `text` occurs in the manifest.
size_t Count(const std::string& xml, const std::string& text) {
  size_t count = 0;
  for (size_t at = xml.find(text); at != std::string::npos; at = xml.find(text, at + 1)) ++count;
  return count;
}

bool IsUpdater(const std::string& path) {
  const std::string name = FileNameOf(path);
  return name == "fixmodule.exe" || name == "update_dialog.res";
}

std::vector<std::string> ManifestSources() {
  std::vector<std::string> sources = {FIX_UPDATE_DIALOG_RES, FIX_FIXPACK_RES};
  for (const std::string& path : CompiledWindowsPrograms()) sources.push_back(path);
  return sources;
}

class ProgramManifest : public testing::TestWithParam<std::string> {};

TEST_P(ProgramManifest, AsksForItsRightsAndNamesItsSystems) {
  const bool updater = IsUpdater(GetParam());
  const std::vector<uint8_t> file = test_support::ReadBytes(GetParam());
  ASSERT_FALSE(file.empty()) << "cannot read " << GetParam();
  std::vector<uint8_t> data;
  ASSERT_TRUE(FindResourceData(file, RtManifest, ProcessManifestId, LangNeutral, &data))
      << "no application manifest in " << GetParam();
  const std::string xml(data.begin(), data.end());
  ASSERT_EQ(xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"", 0), 0u);

  EXPECT_EQ(Count(xml, "<requestedExecutionLevel "), 1u);
  EXPECT_EQ(Count(xml, std::string("<requestedExecutionLevel level=\"") +
                           (updater ? "highestAvailable" : "asInvoker") + "\" uiAccess=\"false\"/>"),
            1u);
  EXPECT_EQ(Count(xml, "<supportedOS "), 4u);
  for (const char* system : {"{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",    // 7
                             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",    // 8
                             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",    // 8.1
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"}) {  // 10 and 11
    EXPECT_EQ(Count(xml, std::string("<supportedOS Id=\"") + system + "\"/>"), 1u) << system;
  }
  EXPECT_EQ(Count(xml, " version=\"" + std::string(FIX_PROJECT_VERSION) + ".0\""), 1u);
  // System DPI awareness and Common Controls 6 for the dialog; a console
  // program draws no window of its own.
  EXPECT_EQ(Count(xml, ">true</dpiAware>"), updater ? 1u : 0u);
  EXPECT_EQ(Count(xml, "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\" "
                       "processorArchitecture=\"*\" publicKeyToken=\"6595b64144ccf1df\""),
            updater ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(CompiledFiles, ProgramManifest, testing::ValuesIn(ManifestSources()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return "file" + std::to_string(info.index);
                         });

class ProgramImports : public testing::TestWithParam<std::string> {};

// The system's known DLLs, which it loads from its own folder only; the
// updater needs no other, and fixpack.exe fewer.
TEST_P(ProgramImports, NameOnlyTheSystemsKnownDlls) {
  const std::vector<uint8_t> file = test_support::ReadBytes(GetParam());
  ASSERT_FALSE(file.empty()) << "cannot read " << GetParam();
  std::vector<std::string> dlls;
  ASSERT_TRUE(ReadPeImports(file, &dlls)) << GetParam();
  std::set<std::string> names;
  for (std::string dll : dlls) {
    std::transform(dll.begin(), dll.end(), dll.begin(), [](unsigned char c) { return std::tolower(c); });
    names.insert(dll);
  }
  const std::set<std::string> updater = {"advapi32.dll", "comdlg32.dll", "kernel32.dll", "msvcrt.dll",
                                         "user32.dll"};
  const std::set<std::string> fixpack = {"kernel32.dll", "msvcrt.dll"};
  EXPECT_EQ(names, IsUpdater(GetParam()) ? updater : fixpack);
  EXPECT_EQ(names.size(), dlls.size()) << "a DLL named twice, or also loaded on first use";
}

INSTANTIATE_TEST_SUITE_P(CompiledFiles, ProgramImports, testing::ValuesIn(CompiledWindowsPrograms()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           return "file" + std::to_string(info.index);
                         });
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(ProgramImports);

}  // namespace
