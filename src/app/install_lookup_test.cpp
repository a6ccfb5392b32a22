#include "app/install_lookup.h"

#include "testing/fake_platform.h"

namespace {

const ProductEntry& RowA = ProductTable[0];
const std::string KeyA = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\BantokiA.exe";
const std::string NotFoundText = "The system cannot find the file specified.\r\n";
const std::string StatusRow4 = StatusMessages[LookupNotFound];
// The filter list of row 1: description, pattern, and the empty string that ends it.
const std::string FilterA = std::string("盤燈 青の巻実行ファイル") + '\0' + "BantokiA.exe" + '\0' + '\0';

class InstallLookupTest : public FakePlatformTest {
 protected:
  void TearDown() override {
    FakePlatformTest::TearDown();
    EXPECT_EQ(fake.messagesOutstanding, 0) << "system text not released";
    EXPECT_EQ(fake.keysOutstanding, 0) << "registry key not closed";
  }
  int32_t Find(bool allowBrowse = true) { return FindInstallPath(&folder, RowA, allowBrowse); }
  std::string Folder() const { return folder.text != nullptr ? folder.text : "(none)"; }
  TextBuffer folder;
};

TEST_F(InstallLookupTest, OnlyTheTwoPlatformFamiliesAreTried) {
  fake.RegisterAppPath("BantokiA.exe", "C:\\Apps\\Game");
  for (int32_t id : {0, 3, -1, 4}) {
    fake.platformId = id;
    EXPECT_EQ(Find(), LookupUnknownPlatform) << id;
  }
  EXPECT_EQ(fake.registryCalls, 0);
  EXPECT_TRUE(fake.prompts.empty());
  EXPECT_TRUE(fake.pickerCalls.empty());
  for (int32_t id : {1, 2}) {
    fake.platformId = id;
    EXPECT_EQ(Find(), LookupLocated) << id;
    EXPECT_EQ(Folder(), "C:\\Apps\\Game");
  }
  EXPECT_EQ(fake.keysOpened, (std::vector<std::string>{KeyA, KeyA}));
}

// The value is taken as stored: no backslash added or removed, nothing
// expanded, the text ending at the first NUL or at the extra byte.
TEST_F(InstallLookupTest, RegisteredFolderComesBackAsStored) {
  const struct {
    std::string stored;
    std::string folder;
  } cases[] = {
      {std::string("C:\\Apps\\Game") + '\0', "C:\\Apps\\Game"},
      {std::string("C:\\Apps\\") + '\0', "C:\\Apps\\"},
      {"C:\\NoTerminator", "C:\\NoTerminator"},
      {std::string("C:\\A") + '\0' + "rest", "C:\\A"},
      {std::string("%ProgramFiles%\\\x83\x5C") + '\0', "%ProgramFiles%\\\x83\x5C"},
      {"", ""},
  };
  for (const auto& c : cases) {
    fake.registry[KeyA].data = c.stored;
    TextBuffer located;
    EXPECT_EQ(FindInstallPath(&located, RowA, true), LookupLocated) << c.folder;
    EXPECT_EQ(std::string(located.text), c.folder);
    EXPECT_EQ(located.capacity, static_cast<int32_t>(c.stored.size()) + 1);
  }
  EXPECT_TRUE(fake.prompts.empty());
}

// Each failing registry step shows row 4, "\r\nError:" and the system text
// of its own code (or row 4 alone when the system has no text), then
// offers the Open dialog; cancelling it gives 1.
TEST_F(InstallLookupTest, RegistryFailureShowsItsReasonThenThePicker) {
  const struct {
    const char* what;
    FakePlatform::RegistryEntry entry;
    bool registered;
    int32_t code;
  } cases[] = {
      {"key missing", {}, false, 2},
      {"key refused", {5, 0, 0, "C:\\x"}, true, 5},
      {"value missing", {0, 2, 0, ""}, true, 2},
      {"value unreadable", {0, 0, 1117, "C:\\x"}, true, 1117},
  };
  for (const auto& c : cases) {
    for (bool hasText : {true, false}) {
      fake.Reset();
      if (c.registered) fake.registry[KeyA] = c.entry;
      const std::string text = "text of " + std::to_string(c.code) + "\r\n";
      if (hasText) fake.systemTexts[c.code] = text;
      fake.script = {Press(IDOK)};
      fake.picks = {std::nullopt};
      EXPECT_EQ(Find(), LookupCancelled) << c.what;
      const std::string shown = hasText ? StatusRow4 + "\r\nError:" + text : StatusRow4;
      EXPECT_EQ(fake.prompts, (std::vector<FakePlatform::Prompt>{{shown, true, false}})) << c.what;
      ASSERT_EQ(fake.pickerCalls.size(), 1u) << c.what;
      EXPECT_EQ(fake.pickerCalls[0].filter, FilterA);
      EXPECT_EQ(fake.pickerCalls[0].size, 8192u);
      EXPECT_EQ(fake.pickerCalls[0].initial, "");
      EXPECT_EQ(fake.messagesOutstanding, 0) << c.what;
      EXPECT_EQ(fake.keysOutstanding, 0) << c.what;
    }
  }
}

TEST_F(InstallLookupTest, WithoutBrowsingAFailureIsSilent) {
  fake.systemTexts[2] = NotFoundText;
  EXPECT_EQ(Find(false), LookupNotFound);
  EXPECT_TRUE(fake.prompts.empty());
  EXPECT_TRUE(fake.pickerCalls.empty());
}

// A platform layer that throws for want of memory while the key is open:
// the lookup says it had no memory, and the key is closed all the same.
TEST_F(InstallLookupTest, APlatformOutOfMemoryIsNoMemory) {
  fake.registry[KeyA].data = std::string("C:\\Apps") + '\0';
  fake.throwingCall = "query";
  EXPECT_EQ(Find(), LookupNoMemory);
  EXPECT_TRUE(fake.prompts.empty());
}

// A value that changed size between the two queries is a failed read, with
// the text of that read's code.
TEST_F(InstallLookupTest, ValueGrowingBetweenTheQueriesIsAFailedRead) {
  fake.registry[KeyA].data = std::string("C:\\Apps") + '\0';
  fake.registry[KeyA].readError = 234;
  fake.systemTexts[234] = "More data is available.\r\n";
  fake.script = {Press(IDOK)};
  fake.picks = {std::nullopt};
  EXPECT_EQ(Find(), LookupCancelled);
  ASSERT_EQ(fake.prompts.size(), 1u);
  EXPECT_EQ(fake.prompts[0].text, StatusRow4 + "\r\nError:More data is available.\r\n");
}

TEST_F(InstallLookupTest, WrongPicksRepeatTheMessageUntilARightOne) {
  fake.systemTexts[2] = NotFoundText;
  fake.script = {Press(IDOK), Press(IDOK), Press(IDOK)};
  fake.picks = {"C:\\Apps\\Game\\other.exe", "C:\\Apps\\Game\\BantokiB.exe", "C:\\Apps\\Game\\bantokia.exe"};
  EXPECT_EQ(Find(), LookupLocated);
  EXPECT_EQ(Folder(), "C:\\Apps\\Game\\");
  const FakePlatform::Prompt error{StatusRow4 + "\r\nError:" + NotFoundText, true, false};
  EXPECT_EQ(fake.prompts, (std::vector<FakePlatform::Prompt>{error, error, error}));
  EXPECT_EQ(fake.pickerCalls.size(), 3u);
}

// The picked name, a to z upper-cased and nothing else, must equal the
// expected name exactly; the folder is cut right after the last real
// backslash.
TEST_F(InstallLookupTest, PickedNameMustBeTheProductsExecutable) {
  const struct {
    const char* picked;
    int32_t status;
    const char* folder;      // when located
    int32_t codePage = 932;  // the system's
  } cases[] = {
      {"C:\\Apps\\Game\\bantokia.exe", LookupLocated, "C:\\Apps\\Game\\"},
      {"C:\\Apps\\Game\\BANTOKIA.EXE", LookupLocated, "C:\\Apps\\Game\\"},
      {"C:\\Apps\\Game\\BantokiA.exe", LookupLocated, "C:\\Apps\\Game\\"},
      {"\\\\server\\share\\bAnToKiA.eXe", LookupLocated, "\\\\server\\share\\"},
      {"C:\\\x83\x5C\\bantokia.exe", LookupLocated, "C:\\\x83\x5C\\"},  // folder ソ
      {"bantokia.exe", LookupNotFound, nullptr},                        // no backslash
      {"C:\\Apps\\", LookupNotFound, nullptr},                          // no name
      {"C:\\Apps\\bantokia.exe ", LookupNotFound, nullptr},
      {"C:\\Apps\\bantokia.ex", LookupNotFound, nullptr},
      {"C:\\Apps\\bantokia.exe.lnk", LookupNotFound, nullptr},
      {"C:\\Apps\\ｂａｎｔｏｋｉａ.exe", LookupNotFound, nullptr},  // full-width letters
      {"C:\\Apps\\ＢＡＮＴＯＫＩＡ.ＥＸＥ", LookupNotFound, nullptr},
      // ソ (83 5C) right before the name: its 5C is no separator, so the
      // file is "ソBANTOKIA.EXE" and not the product's.
      {"C:\\Apps\\\x83\x5C"
       "BANTOKIA.EXE",
       LookupNotFound, nullptr},
      // On a Western system 83 is a letter (ƒ) and the 5C after it a
      // separator; E9 (é) too begins no double-byte character there.
      {"C:\\Apps\\\x83\x5C"
       "BANTOKIA.EXE",
       LookupLocated, "C:\\Apps\\\x83\x5C", 1252},
      {"C:\\Caf\xE9\\bantokia.exe", LookupLocated, "C:\\Caf\xE9\\", 1252},
      {"C:\\Caf\xE9\\bantokia.exe", LookupNotFound, nullptr, 932},
  };
  for (const auto& c : cases) {
    fake.codePage = c.codePage;
    fake.picks = {c.picked};
    EXPECT_EQ(BrowseForInstallPath(&folder, RowA), c.status) << c.picked << " " << c.codePage;
    if (c.folder != nullptr) {
      EXPECT_EQ(Folder(), c.folder) << c.picked << " " << c.codePage;
    }
  }
}

// The products' 32-bit installers register in the 32-bit view: the key is
// opened there first and in the program's own view only when that fails;
// when both fail, the own view's error is the one shown.
TEST_F(InstallLookupTest, TheKeyIsOpenedInThe32BitViewFirst) {
  if (sizeof(void*) != 8) GTEST_SKIP() << "a 32-bit program has but its own view";
  struct View {
    bool registered;
    int32_t openError;
    const char* folder;
  };
  const View none{false, 0, ""};
  const struct {
    const char* what;
    View in32, own;
    std::vector<RegistryView> views;
    int32_t status;
    std::string shown;  // the folder when located, else the system text shown
  } cases[] = {
      {"32-bit view only", {true, 0, "C:\\A32"}, none, {RegistryView32}, LookupLocated, "C:\\A32"},
      {"both views", {true, 0, "C:\\A32"}, {true, 0, "C:\\A64"}, {RegistryView32}, LookupLocated, "C:\\A32"},
      {"own view only",
       none,
       {true, 0, "C:\\A64"},
       {RegistryView32, RegistryViewOwn},
       LookupLocated,
       "C:\\A64"},
      {"refused in the 32-bit view",
       {true, 5, "C:\\A32"},
       {true, 0, "C:\\A64"},
       {RegistryView32, RegistryViewOwn},
       LookupLocated,
       "C:\\A64"},
      {"neither", none, none, {RegistryView32, RegistryViewOwn}, LookupCancelled, "text 2"},
      {"refused, then missing",
       {true, 5, "C:\\A32"},
       none,
       {RegistryView32, RegistryViewOwn},
       LookupCancelled,
       "text 2"},
      {"missing, then refused",
       none,
       {true, 5, "C:\\A64"},
       {RegistryView32, RegistryViewOwn},
       LookupCancelled,
       "text 5"},
  };
  for (const auto& c : cases) {
    fake.Reset();
    fake.systemTexts = {{2, "text 2"}, {5, "text 5"}};
    const std::pair<const View*, std::map<std::string, FakePlatform::RegistryEntry>*> views[] = {
        {&c.in32, &fake.registry32}, {&c.own, &fake.registry}};
    for (const auto& [view, registry] : views) {
      if (!view->registered) continue;
      (*registry)[KeyA].openError = view->openError;
      (*registry)[KeyA].data = std::string(view->folder) + '\0';
    }
    if (c.status != LookupLocated) {
      fake.script = {Press(IDOK)};
      fake.picks = {std::nullopt};
    }
    TextBuffer located;
    EXPECT_EQ(FindInstallPath(&located, RowA, true), c.status) << c.what;
    EXPECT_EQ(fake.viewsOpened, c.views) << c.what;
    if (c.status == LookupLocated) {
      EXPECT_EQ(std::string(located.text), c.shown) << c.what;
      EXPECT_TRUE(fake.prompts.empty()) << c.what;
    } else {
      EXPECT_EQ(fake.PromptTexts(), (std::vector<std::string>{StatusRow4 + "\r\nError:" + c.shown}))
          << c.what;
    }
    EXPECT_EQ(fake.keysOutstanding, 0) << c.what;
  }
}

TEST_F(InstallLookupTest, EachRowOffersItsOwnFilter) {
  for (const ProductEntry* row = ProductTable; row->displayName != nullptr; ++row) {
    fake.Reset();
    fake.script = {Press(IDOK)};
    fake.picks = {std::nullopt};
    EXPECT_EQ(FindInstallPath(&folder, *row, true), LookupCancelled);
    ASSERT_EQ(fake.pickerCalls.size(), 1u);
    EXPECT_EQ(fake.pickerCalls[0].filter,
              std::string(row->displayName) + "実行ファイル" + '\0' + row->appPathsName + '\0' + '\0');
    EXPECT_EQ(fake.keysOpened, (std::vector<std::string>{std::string(AppPathsKey) + row->appPathsName}));
  }
}

TEST_F(InstallLookupTest, StatusErrorShowsTheRowAndTheSystemText) {
  fake.script = {Press(IDOK), Press(IDOK)};
  ShowStatusError(LookupNotFound, nullptr);
  ShowStatusError(3, "why\r\n");
  EXPECT_EQ(fake.prompts, (std::vector<FakePlatform::Prompt>{
                              {StatusRow4, true, false},
                              {std::string(StatusMessages[3]) + "\r\nError:why\r\n", true, false}}));
}

}  // namespace
