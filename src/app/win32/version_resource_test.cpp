// The version resource of both Windows programs, read back from their
// compiled resource scripts and, when FIX_WINDOWS_EXES names them (paths
// separated by ':'), from the built executables: the project's version, the
// product's Japanese name and each program's own names.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "testing/compiled_files.h"
#include "testing/dialog_resource.h"
#include "testing/scratch_folder.h"
#include "testing/version_resource.h"

namespace {

constexpr uint16_t RtVersion = 16;
constexpr uint16_t VersionInfoId = 1;
constexpr uint16_t LangJapanese = 1041;
constexpr uint16_t CodePageUnicode = 1200;
constexpr uint32_t VosNtWindows32 = 0x40004;
constexpr uint32_t VftApp = 1;

struct Program {
  const char* file;  // the executable's name
  std::u16string description, internalName, originalFilename;
};

const Program Programs[] = {
    {"fixmodule.exe", u"盤燈 修正モジュール", u"fixmodule", u"fixmodule.exe"},
    {"fixpack.exe", u"盤燈 修正モジュール 更新データの作成・検査ツール（発行者用）", u"fixpack",
     u"fixpack.exe"},
};

struct Source {
  std::string path;
  const Program* program;
};

const Program* ProgramOf(const std::string& path) {
  const std::string name = FileNameOf(path);
  for (const Program& program : Programs) {
    if (name == program.file) return &program;
  }
  return nullptr;
}

std::vector<Source> VersionSources() {
  std::vector<Source> sources = {{FIX_UPDATE_DIALOG_RES, &Programs[0]}, {FIX_FIXPACK_RES, &Programs[1]}};
  for (const std::string& path : CompiledWindowsPrograms()) sources.push_back({path, ProgramOf(path)});
  return sources;
}

// "1.0.0" as the four numbers of the fixed part and as UTF-16 text.
std::vector<uint16_t> ProjectVersionNumbers() {
  std::vector<uint16_t> numbers;
  uint32_t number = 0;
  for (const char* c = FIX_PROJECT_VERSION;; ++c) {
    if (*c == '.' || *c == 0) {
      numbers.push_back(static_cast<uint16_t>(number));
      number = 0;
      if (*c == 0) break;
    } else {
      number = number * 10 + static_cast<uint32_t>(*c - '0');
    }
  }
  numbers.resize(4, 0);
  return numbers;
}

std::u16string ProjectVersionText() {
  const std::string text = FIX_PROJECT_VERSION;
  return std::u16string(text.begin(), text.end());
}

class ProgramVersion : public testing::TestWithParam<Source> {
 protected:
  VersionResource Load() {
    const std::vector<uint8_t> file = test_support::ReadBytes(GetParam().path);
    EXPECT_FALSE(file.empty()) << "cannot read " << GetParam().path;
    std::vector<uint8_t> data;
    EXPECT_TRUE(FindResourceData(file, RtVersion, VersionInfoId, LangJapanese, &data))
        << "no Japanese version resource in " << GetParam().path;
    VersionResource version;
    EXPECT_TRUE(ParseVersionResource(data, &version)) << "not a sound version resource";
    return version;
  }
};

TEST_P(ProgramVersion, CarriesTheProjectVersion) {
  const VersionResource v = Load();
  const std::vector<uint16_t> want = ProjectVersionNumbers();
  EXPECT_EQ(std::vector<uint16_t>(v.fileVersion, v.fileVersion + 4), want);
  EXPECT_EQ(std::vector<uint16_t>(v.productVersion, v.productVersion + 4), want);
  EXPECT_EQ(v.fileFlags, 0u);
  EXPECT_EQ(v.fileOs, VosNtWindows32);
  EXPECT_EQ(v.fileType, VftApp);
}

TEST_P(ProgramVersion, NamesTheProductInJapanese) {
  const Program* program = GetParam().program;
  ASSERT_NE(program, nullptr) << GetParam().path << " is none of the release's programs";
  const VersionResource v = Load();
  ASSERT_EQ(v.strings.size(), 1u);
  ASSERT_EQ(v.strings.count(u"041104B0"), 1u) << "the string table is not Japanese Unicode";
  auto strings = v.strings.at(u"041104B0");
  EXPECT_TRUE(strings[u"FileVersion"] == ProjectVersionText());
  EXPECT_TRUE(strings[u"ProductVersion"] == ProjectVersionText());
  EXPECT_TRUE(strings[u"ProductName"] == u"盤燈 修正モジュール");
  EXPECT_TRUE(strings[u"FileDescription"] == program->description);
  EXPECT_TRUE(strings[u"InternalName"] == program->internalName);
  EXPECT_TRUE(strings[u"OriginalFilename"] == program->originalFilename);
  EXPECT_TRUE(strings[u"CompanyName"] == u"盤燈 修正モジュール開発チーム");
  EXPECT_EQ(strings[u"LegalCopyright"].rfind(u"Copyright (C) ", 0), 0u);
  EXPECT_EQ(strings.size(), 8u);
  const std::vector<std::pair<uint16_t, uint16_t>> translations = {{LangJapanese, CodePageUnicode}};
  EXPECT_EQ(v.translations, translations);
}

INSTANTIATE_TEST_SUITE_P(CompiledFiles, ProgramVersion, testing::ValuesIn(VersionSources()),
                         [](const testing::TestParamInfo<Source>& info) {
                           return "file" + std::to_string(info.index);
                         });

// The reader refuses every version resource cut short.
TEST(VersionResourceReader, RefusesCutResources) {
  const std::vector<uint8_t> file = test_support::ReadBytes(FIX_FIXPACK_RES);
  std::vector<uint8_t> data;
  ASSERT_TRUE(FindResourceData(file, RtVersion, VersionInfoId, LangJapanese, &data));
  VersionResource v;
  ASSERT_TRUE(ParseVersionResource(data, &v));
  for (size_t length = 0; length < data.size(); ++length) {
    const std::vector<uint8_t> cut(data.begin(), data.begin() + static_cast<ptrdiff_t>(length));
    EXPECT_FALSE(ParseVersionResource(cut, &v)) << length;
  }
}

}  // namespace
