#include "app/update_run.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "app/install_lookup.h"
#include "app/status_messages.h"
#include "app/update_texts.h"
#include "testing/fake_platform.h"
#include "testing/package_builder.h"
#include "testing/scratch_folder.h"

namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;
using Prompt = FakePlatform::Prompt;

const std::string NoFileText = "The system cannot find the file specified.\r\n";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

void WriteFile(const fs::path& path, const std::string& content) {
  std::ofstream(path, std::ios::binary) << content;
}

// Every file under a folder with its content.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(folder)) {
    files[entry.path().filename().string()] = ReadFile(entry.path());
  }
  return files;
}

Prompt Ack(const std::string& text) { return {text, true, false}; }
Prompt Ask(const std::string& text) { return {text, true, true}; }

std::string Question(const char* name, const std::string& folder) {
  return std::string(name) + "を " + folder + " にて見つけました。更新しますか？";
}

// The run over the fake, with the updater in a real folder of its own (named
// to the flow with backslashes, as the system names it) and real install
// folders, so that real update data files are read and applied.
class RunUpdatesTest : public FakePlatformTest {
 protected:
  void SetUp() override {
    FakePlatformTest::SetUp();
    scratch = std::make_unique<test_support::ScratchFolder>();
    root = scratch->Path();
    fs::create_directory(root / "updater");
    std::string system = (root / "updater").string();
    std::replace(system.begin(), system.end(), '/', '\\');
    updaterFolder = system + "\\";
    fake.modulePath = updaterFolder + "fixmod.exe";
  }
  void TearDown() override {
    FakePlatformTest::TearDown();
    scratch.reset();
  }

  // An install folder for `exeName`, registered in App Paths, holding
  // readme.txt with `content`.
  fs::path Install(const std::string& exeName, const std::string& content = "old readme") {
    fs::path folder = root / exeName;
    fs::create_directory(folder);
    WriteFile(folder / "readme.txt", content);
    fake.RegisterAppPath(exeName, folder.string());
    return folder;
  }
  // The data file `name` beside the updater, holding `script`.
  void PlaceDataFile(const std::string& name, const std::vector<uint8_t>& script) {
    test_support::WriteBytes((root / "updater" / name).string(), package_test::DataFile(script));
    fake.presentFiles.insert(updaterFolder + name);
  }
  // A package that rewrites readme.txt, keeping the old one as readme.bak.
  static std::vector<uint8_t> NewReadme(const std::string& content) {
    package_test::Script script;
    return script.File("readme.bak", "readme.txt", test_support::Text(content)).bytes();
  }
  // A package whose book entry finds no book under either name.
  static std::vector<uint8_t> MissingBook() {
    package_test::Script script;
    return script.Head(KindBook, "joseki.old", "joseki.dat").U32(0).bytes();  // an empty diff list
  }
  Strings DataPaths(std::initializer_list<const char*> names) const {
    Strings paths;
    for (const char* name : names) paths.push_back(updaterFolder + name);
    return paths;
  }

  std::unique_ptr<test_support::ScratchFolder> scratch;
  fs::path root;
  std::string updaterFolder;  // the updater's folder as the flow sees it, with its final backslash
};

TEST_F(RunUpdatesTest, NoDataFileGreetsAndEnds) {
  fake.script = {Press(IDOK)};
  EXPECT_EQ(RunUpdates(), 0);
  EXPECT_EQ(fake.prompts, (std::vector<Prompt>{Ack(GreetingText)}));
  EXPECT_EQ(fake.existenceTests, DataPaths({"upda.dat", "updb.dat", "updc.dat", "updd.dat"}));
  EXPECT_EQ(fake.registryCalls, 0);
  EXPECT_EQ(fake.MessageText(), "");
}

TEST_F(RunUpdatesTest, OnlyTheThirdProductIsLocatedAskedAndUpdated) {
  const fs::path folder = Install("BantokiC.exe");
  Install("BantokiA.exe");
  PlaceDataFile("updc.dat", NewReadme("new readme"));
  fake.script = {Press(IDOK), Press(IDOK), Press(IDOK)};

  EXPECT_EQ(RunUpdates(), 0);
  EXPECT_EQ(fake.prompts,
            (std::vector<Prompt>{Ack(GreetingText), Ask(Question("盤燈 白の巻", folder.string())),
                                 Ack(SucceededText)}));
  EXPECT_EQ(fake.keysOpened, (Strings{std::string(AppPathsKey) + "BantokiC.exe"}));
  EXPECT_EQ(Snapshot(folder),
            (std::map<std::string, std::string>{{"readme.bak", "old readme"}, {"readme.txt", "new readme"}}));
  // The updating state between the answered question and the report: both
  // buttons off, its text, the repaint.
  const Strings updating{"close",     "text 1012", "enable 1 off", "enable 2 off",
                         "text 1012", "repaint",   "text 1012",    "create"};
  EXPECT_NE(std::search(fake.calls.begin(), fake.calls.end(), updating.begin(), updating.end()),
            fake.calls.end());
  EXPECT_EQ(fake.texts, (Strings{GreetingText, "", Question("盤燈 白の巻", folder.string()), "", UpdatingText,
                                 SucceededText, ""}));
}

TEST_F(RunUpdatesTest, ProductNotFoundEndsTheRun) {
  fake.presentFiles = {updaterFolder + "upda.dat", updaterFolder + "updb.dat"};
  fake.RegisterAppPath("BantokiB.exe", "C:\\B");
  fake.systemTexts[2] = NoFileText;
  fake.script = {Press(IDOK), Press(IDOK), Press(IDOK)};
  fake.picks = {std::nullopt};

  EXPECT_EQ(RunUpdates(), 1);
  EXPECT_EQ(
      fake.prompts,
      (std::vector<Prompt>{Ack(GreetingText), Ack(std::string(StatusMessages[4]) + "\r\nError:" + NoFileText),
                           Ack("盤燈 青の巻が見つかりませんでした")}));
  EXPECT_EQ(fake.existenceTests, DataPaths({"upda.dat"}));  // row 2 never visited
  EXPECT_EQ(fake.keysOpened.size(), 1u);
  EXPECT_EQ(fake.messagesOutstanding, 0);
}

TEST_F(RunUpdatesTest, UnknownPlatformIsNotFoundWithoutAsking) {
  fake.presentFiles = {updaterFolder + "upda.dat"};
  fake.RegisterAppPath("BantokiA.exe", "C:\\A");
  fake.platformId = 0;
  fake.script = {Press(IDOK), Press(IDOK)};
  EXPECT_EQ(RunUpdates(), 1);
  EXPECT_EQ(fake.PromptTexts(), (Strings{GreetingText, "盤燈 青の巻が見つかりませんでした"}));
  EXPECT_EQ(fake.registryCalls, 0);
  EXPECT_TRUE(fake.pickerCalls.empty());
}

// The question names the folder exactly as located: as stored in the
// registry, or the picked file's folder with its final backslash.
TEST_F(RunUpdatesTest, QuestionShowsTheFolderAsLocated) {
  const struct {
    const char* stored;  // null: not registered, picked instead
    const char* picked;
    std::string question;
  } cases[] = {
      {"C:\\Apps\\", nullptr, "盤燈 青の巻を C:\\Apps\\ にて見つけました。更新しますか？"},
      {"C:\\Apps\\Game", nullptr, "盤燈 青の巻を C:\\Apps\\Game にて見つけました。更新しますか？"},
      {nullptr, "C:\\Apps\\Game\\bantokia.exe",
       "盤燈 青の巻を C:\\Apps\\Game\\ にて見つけました。更新しますか？"},
  };
  std::string first;
  for (const auto& c : cases) {
    fake.Reset();
    fake.modulePath = updaterFolder + "fixmod.exe";
    fake.presentFiles = {updaterFolder + "upda.dat"};
    if (c.stored != nullptr) fake.RegisterAppPath("BantokiA.exe", c.stored);
    if (c.picked != nullptr) fake.picks = {c.picked};
    fake.script = {Press(IDOK)};
    if (c.picked != nullptr) fake.script.push_back(Press(IDOK));  // the registry's failure
    fake.script.insert(fake.script.end(), {Press(IDCANCEL), Press(IDOK)});

    EXPECT_EQ(RunUpdates(), 1);
    const Strings texts = fake.PromptTexts();
    ASSERT_GE(texts.size(), 3u);
    EXPECT_EQ(texts[texts.size() - 2], c.question);
    EXPECT_EQ(texts.back(), DeclinedText);
    if (first.empty()) first = texts[1];
  }
  // Row 1 and C:\Apps\, byte for byte in code page 932.
  EXPECT_EQ(first,
            "\x94\xd5\x93\x95\x20\x90\xc2\x82\xcc\x8a\xaa\x82\xf0\x20\x43\x3a\x5c\x41\x70\x70\x73\x5c"
            "\x20\x82\xc9\x82\xc4\x8c\xa9\x82\xc2\x82\xaf\x82\xdc\x82\xb5\x82\xbd\x81\x42\x8d\x58"
            "\x90\x56\x82\xb5\x82\xdc\x82\xb7\x82\xa9\x81\x48");
}

TEST_F(RunUpdatesTest, CancelOnTheQuestionChangesNothingAndEndsTheRun) {
  const fs::path folderA = Install("BantokiA.exe");
  const fs::path folderB = Install("BantokiB.exe");
  PlaceDataFile("upda.dat", NewReadme("A2"));
  PlaceDataFile("updb.dat", NewReadme("B2"));
  const auto before = Snapshot(folderA);
  fake.script = {Press(IDOK), Press(IDCANCEL), Press(IDOK)};

  EXPECT_EQ(RunUpdates(), 1);
  EXPECT_EQ(fake.prompts,
            (std::vector<Prompt>{Ack(GreetingText), Ask(Question("盤燈 青の巻", folderA.string())),
                                 Ack(DeclinedText)}));
  EXPECT_EQ(Snapshot(folderA), before);
  EXPECT_EQ(ReadFile(folderB / "readme.txt"), "old readme");
  EXPECT_EQ(fake.existenceTests, DataPaths({"upda.dat"}));
}

TEST_F(RunUpdatesTest, ClosingTheWindowOnTheQuestionDeclines) {
  Install("BantokiA.exe");
  PlaceDataFile("upda.dat", NewReadme("A2"));
  fake.script = {CloseWindow(), Press(IDOK), CloseWindow(), Press(IDOK)};
  EXPECT_EQ(RunUpdates(), 1);
  EXPECT_EQ(fake.refusedCloses, 1);  // the greeting still needed OK
  EXPECT_EQ(fake.PromptTexts().back(), DeclinedText);
  EXPECT_EQ(fake.PromptTexts().size(), 3u);
}

// A failed package does not stop the run; the result is the last package's.
TEST_F(RunUpdatesTest, EachPackageIsReportedAndTheLastDecides) {
  const struct {
    bool firstFails, secondFails;
    Strings reports;
    bool failed;
  } cases[] = {
      {true, false, {FailedText, SucceededText}, false},
      {false, true, {SucceededText, FailedText}, true},
      {true, true, {FailedText, FailedText}, true},
  };
  for (const auto& c : cases) {
    fake.Reset();
    fake.modulePath = updaterFolder + "fixmod.exe";
    const fs::path folderA = Install("BantokiA.exe");
    const fs::path folderB = Install("BantokiB.exe");
    PlaceDataFile("upda.dat", c.firstFails ? MissingBook() : NewReadme("A2"));
    PlaceDataFile("updb.dat", c.secondFails ? MissingBook() : NewReadme("B2"));
    fake.script = {Press(IDOK), Press(IDOK), Press(IDOK), Press(IDOK), Press(IDOK)};

    const int32_t result = RunUpdates();
    EXPECT_EQ(result != 0, c.failed);
    const Strings texts = fake.PromptTexts();
    ASSERT_EQ(texts.size(), 5u);
    EXPECT_EQ((Strings{texts[2], texts[4]}), c.reports);
    EXPECT_EQ(ReadFile(folderA / "readme.txt"), c.firstFails ? "old readme" : "A2");
    EXPECT_EQ(ReadFile(folderB / "readme.txt"), c.secondFails ? "old readme" : "B2");
  }
}

// A data file that is present but cannot be read or unpacked is a failed
// update that changes nothing; the next product is still updated.
TEST_F(RunUpdatesTest, DamagedDataFileFailsAndChangesNothing) {
  std::string good;
  {
    test_support::WriteBytes((root / "good.dat").string(), package_test::DataFile(NewReadme("A2")));
    good = ReadFile(root / "good.dat");
  }
  std::string flipped = good;
  flipped[good.size() / 2] = static_cast<char>(flipped[good.size() / 2] ^ 0x55);
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"header only", good.substr(0, 8)},
      {"cut short", good.substr(0, good.size() - 3)},
      {"damaged stream", flipped},
      {"sizes beyond the file", std::string("\xFF\xFF\xFF\x7F\xFF\xFF\xFF\x7F", 8) + good.substr(8)},
  };
  for (const auto& c : cases) {
    fake.Reset();
    fake.modulePath = updaterFolder + "fixmod.exe";
    const fs::path folderA = Install("BantokiA.exe");
    const fs::path folderB = Install("BantokiB.exe");
    const auto before = Snapshot(folderA);
    WriteFile(root / "updater" / "upda.dat", c.bytes);
    fake.presentFiles.insert(updaterFolder + "upda.dat");
    PlaceDataFile("updb.dat", NewReadme("B2"));
    fake.script = {Press(IDOK), Press(IDOK), Press(IDOK), Press(IDOK), Press(IDOK)};

    EXPECT_EQ(RunUpdates(), 0) << c.what;
    const Strings texts = fake.PromptTexts();
    ASSERT_EQ(texts.size(), 5u) << c.what;
    EXPECT_EQ(texts[2], FailedText) << c.what;
    EXPECT_EQ(texts[4], SucceededText) << c.what;
    EXPECT_EQ(Snapshot(folderA), before) << c.what;
    EXPECT_EQ(ReadFile(folderB / "readme.txt"), "B2") << c.what;
  }
}

// Where the data files are looked for: beside the updater, after the last
// real backslash of its path.
TEST_F(RunUpdatesTest, DataFilesLieBesideTheUpdater) {
  const struct {
    const char* what;
    std::string modulePath;
    bool fails, truncated;
    std::string first;
    int32_t codePage = 932;  // the system's
  } cases[] = {
      {"plain", "C:\\Fix\\fixmod.exe", false, false, "C:\\Fix\\upda.dat"},
      // ソ (83 5C) ends the file name: its 5C is not a separator.
      {"name ending in ソ", "C:\\Fix\\\x8F\x43\x90\xB3\x83\x5C.exe", false, false, "C:\\Fix\\upda.dat"},
      {"folder 表", "C:\\\x95\x5C\\fixmod.exe", false, false, "C:\\\x95\x5C\\upda.dat"},
      {"no backslash", "fixmod.exe", false, false, "upda.dat"},
      {"no path", "", true, false, "upda.dat"},
      {"cut short", "", false, true, "upda.dat"},
      // E9 (é) is a letter on a Western system, and the 5C after it a
      // separator; on a Japanese one it begins a double-byte character.
      {"folder Caf+E9, Western", "C:\\Caf\xE9\\fixmod.exe", false, false, "C:\\Caf\xE9\\upda.dat", 1252},
      {"folder Caf+E9, Japanese", "C:\\Caf\xE9\\fixmod.exe", false, false, "C:\\upda.dat", 932},
  };
  for (const auto& c : cases) {
    fake.Reset();
    fake.modulePath = c.modulePath;
    fake.moduleFails = c.fails;
    fake.moduleTruncated = c.truncated;
    fake.codePage = c.codePage;
    fake.script = {Press(IDOK)};
    EXPECT_EQ(RunUpdates(), 0) << c.what;
    ASSERT_EQ(fake.existenceTests.size(), 4u) << c.what;
    EXPECT_EQ(fake.existenceTests[0], c.first) << c.what;
    EXPECT_EQ(fake.existenceTests[3], c.first.substr(0, c.first.size() - 8) + "updd.dat") << c.what;
  }
}

}  // namespace

namespace {

TEST_F(RunUpdatesTest, WorkerRunsTheRunThenEndsTheProgram) {
  fake.script = {Press(IDOK)};
  UpdateWorker(nullptr);
  EXPECT_EQ(fake.PromptTexts(), (Strings{GreetingText}));
  EXPECT_EQ(fake.destroyPosted, 1);
  EXPECT_EQ(fake.calls.back(), "destroy");
}

// A platform layer that throws for want of memory (the console stand-in's
// strings) does not end the worker without a word: the run's failure text
// is shown, and the program still ends.
TEST_F(RunUpdatesTest, WorkerOutOfMemoryShowsTheFailureAndEnds) {
  fake.throwingCall = "exists";
  fake.script = {Press(IDOK), Press(IDOK)};
  UpdateWorker(nullptr);
  EXPECT_EQ(fake.PromptTexts(), (Strings{GreetingText, FailedText}));
  EXPECT_EQ(fake.destroyPosted, 1);
}

}  // namespace
