#include "package/entry_path.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Code page 932 bytes: ソ is 83 5C and 表 is 95 5C; their second byte is the
// backslash byte.
const std::string So = "\x83\x5C";
const std::string Hyo = "\x95\x5C";

TEST(CheckEntryNameTest, AcceptsPlainNamesAndSubfolders) {
  const std::string names[] = {
      "a.dat",
      "book\\joseki.dat",
      "book/joseki.dat",
      "a b.txt",
      ".hidden",
      "a..b",
      "x.fix-news",
      So + ".dat",           // a trail byte 0x5C is no separator
      "d" + So + "\\x.dat",  // ... also right before a real one
      Hyo,                   // a name that is one double-byte character
  };
  for (const std::string& name : names) EXPECT_EQ(CheckEntryName(name.c_str()), nullptr) << name;
}

TEST(CheckEntryNameTest, RefusesNamesThatLeaveTheFolder) {
  const std::string names[] = {
      "",  // empty
      "\\a.dat",
      "/a.dat",
      "\\\\server\\share\\a",  // absolute, network
      "C:\\a.dat",
      "C:a.dat",
      "a.dat:stream",  // drive, colon
      "..",
      "..\\a.dat",
      "book\\..\\..\\a.dat",
      "book/../a",
      "a\\..",  // parent
      ".",
      ".\\a.dat",
      "...",
      ".. ",
      " ",
      "book\\. .\\a",  // trimmed to . or ..
      "book\\\\a.dat",
      "book\\",
      "book/",  // empty component
      "a.dat.fix-new",
      "a.dat.FIX-OLD",
      "b\\x.Fix-New",  // temporary names
  };
  for (const std::string& name : names) EXPECT_NE(CheckEntryName(name.c_str()), nullptr) << name;
}

// Windows opens these as devices, whatever the case, the extension, the
// trailing dots and spaces, and in any component.
TEST(CheckEntryNameTest, RefusesDeviceNamesAndTheirLookalikesPass) {
  const std::string devices[] = {
      "CON",
      "con",
      "Prn",
      "aux.txt",
      "NUL.tar.gz",
      "nul.",
      "nul ",
      "NUL .txt",
      "com1",
      "COM9.dat",
      "com0",
      "lpt1",
      "LPT9.log",
      "conin$",
      "CONOUT$.x",
      "clock$",
      "book\\con\\a.dat",
      "aux/a.dat",
      "a\\lpt3.",
      Hyo + "\\prn",
  };
  for (const std::string& name : devices) {
    const char* refused = CheckEntryName(name.c_str());
    EXPECT_STREQ(refused, "the name is one Windows opens as a device") << name;
  }
  const std::string others[] = {
      "console",  "con_", "acon",  "com",   "com10", "lpt",      "lptx",
      "comA.txt", "nul1", "clock", "conin", "a.con", "con" + So, So + "con",
  };
  for (const std::string& name : others) EXPECT_EQ(CheckEntryName(name.c_str()), nullptr) << name;
}

// Names that Windows takes for one file: letters in any case, / and \,
// trailing dots and spaces of a component; a 0x5C second byte is no
// separator and a double-byte character is kept as it stands.
TEST(SameEntryNameTest, ComparesAsWindowsFindsFiles) {
  struct Case {
    std::string one;
    std::string other;
    bool same;
  } cases[] = {
      {"a.txt", "a.txt", true},
      {"a.txt", "A.TXT", true},
      {"a.txt", "a.txt.", true},
      {"a.txt", "a.txt . .", true},
      {"book\\a.txt", "BOOK/a.txt", true},
      {"book.\\a.txt", "book\\a.txt", true},
      {"book \\a.txt", "book/a.txt", true},
      {"a.txt", "a.txt2", false},
      {"a.txt", ".a.txt", false},
      {"a b", "ab", false},
      {So + "a", So + "A", true},
      {So + "\\a", So + "a", false},    // ソ then a real separator
      {"\x83\x41", "\x83\x61", false},  // a second byte is no letter
      {"\x82\x92\x82\x85.txt", "\x82\x71\x82\x64.TXT", true},  // ｒｅ, ＲＥ
      {"\x83\xBF\x83\xD6", "\x83\x9F\x83\xB6", true},          // αω, ΑΩ
      {"\x84\x76\x84\x91", "\x84\x46\x84\x60", true},          // ёя, ЁЯ
      {"\xEE\xEF\xFA\x49", "\xFA\x4A\x87\x5D", true},          // ⅰⅹ, ⅠⅩ
      {"\xED\x40\xEE\xEC", "\xFA\x5C\xFC\x4B", true},          // 纊 and 黑 twice
      {"\xEE\xFA\x87\x90", "\xFA\x55\x81\xE0", true},          // ￤≒ twice
      {"a\x83\x7F", "a\x81\x45", true},  // an undefined pair is ・
      {"a\x85\x40", "a\x83\x2E", true},
      {"a\x83", "a\x81\x45", true},      // and so is a lead byte at the end
      {"a\x83.", "a", false},              // whose dot is its second byte
      {"\x81\x41", "\x81\x61", false},
      {"\x87\x54", "\x87\x55", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SameEntryName(c.one.c_str(), c.other.c_str()), c.same) << c.one << " | " << c.other;
  }
  EXPECT_STREQ(CheckEntryNames("a.bak", "a.txt"), nullptr);
  EXPECT_NE(CheckEntryNames("a.txt.", "A.txt"), nullptr);
  EXPECT_STREQ(CheckEntryNames("a.bak", "con"), CheckEntryName("con"));
}

// An entry's temporary files sit in its target's folder under a name of a
// fixed length, whatever the target's, and are known as temporary.
TEST(TempEntryNameTest, AShortNameOfItsOwnBesideTheTarget) {
  const std::string longest(250, 'x');
  struct Case {
    std::string name;
    std::string folder;  // what the temporary name begins with
  } cases[] = {
      {"a.txt", ""},
      {longest + ".txt", ""},
      {"book\\" + longest, "book\\"},
      {"d" + So + "/joseki.dat", "d" + So + "/"},
      {So, ""},
  };
  for (const Case& c : cases) {
    for (bool keep : {false, true}) {
      const std::string temp = TempEntryName(c.name.c_str(), keep);
      EXPECT_EQ(temp.size(), c.folder.size() + 24) << c.name;
      EXPECT_EQ(temp.compare(0, c.folder.size(), c.folder), 0) << temp;
      EXPECT_TRUE(IsPackageTempName(temp.c_str())) << temp;
      EXPECT_NE(CheckEntryName(temp.c_str()), nullptr) << temp;
      EXPECT_EQ(temp, TempEntryName(c.name.c_str(), keep));
    }
    EXPECT_NE(TempEntryName(c.name.c_str(), false), TempEntryName(c.name.c_str(), true));
  }
  EXPECT_EQ(TempEntryName("a.txt", false), TempEntryName("A.TXT.", false));
  EXPECT_NE(TempEntryName("a.txt", false), TempEntryName("b.txt", false));
}

TEST(CheckEntryNameTest, TrailByteBackslashDoesNotHideAnEmptyComponent) {
  // 83 5C 5C: ソ and then a real backslash, followed by nothing.
  EXPECT_NE(CheckEntryName((So + "\\").c_str()), nullptr);
  EXPECT_EQ(CheckEntryName((So + "\\a").c_str()), nullptr);
}

TEST(FolderSeparatorTest, AddedUnlessTheFolderEndsInARealBackslash) {
  struct Case {
    const char* folder;
    bool separator;
  } cases[] = {
      {"C:\\Prog", true}, {"C:\\Prog\\", false}, {"", false}, {nullptr, false}, {"\\", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FolderNeedsSeparator(c.folder), c.separator) << (c.folder ? c.folder : "(null)");
  }
  EXPECT_TRUE(FolderNeedsSeparator(("C:\\" + So).c_str()));
  EXPECT_TRUE(FolderNeedsSeparator(("C:\\" + Hyo).c_str()));
  EXPECT_FALSE(FolderNeedsSeparator(("C:\\" + So + "\\").c_str()));
}

TEST(EntryPathTest, JoinsFolderSeparatorAndName) {
#ifdef _WIN32
  EXPECT_EQ(EntryPath("C:\\Prog", true, "a.dat"), "C:\\Prog\\a.dat");
  EXPECT_EQ(EntryPath("C:\\Prog\\", false, "book\\a.dat"), "C:\\Prog\\book\\a.dat");
#else
  // On POSIX the separator and the real backslashes of the folder and the
  // name become slashes.
  EXPECT_EQ(EntryPath("/opt/prog", true, "a.dat"), "/opt/prog/a.dat");
  EXPECT_EQ(EntryPath("\\opt\\prog\\", false, "a.dat"), "/opt/prog/a.dat");
  EXPECT_EQ(EntryPath("/opt/prog", true, "book\\a.dat"), "/opt/prog/book/a.dat");
  EXPECT_EQ(EntryPath(("/opt/" + So).c_str(), true, (So + "\\" + Hyo).c_str()),
            "/opt/" + So + "/" + So + "/" + Hyo);
#endif
  EXPECT_EQ(EntryPath(nullptr, false, "a.dat"), "a.dat");
  EXPECT_EQ(EntryPath("", false, "a.dat"), "a.dat");
}

TEST(IsPackageTempNameTest, KnowsEveryTemporaryNameInAnyCase) {
  const char* temporary[] = {"joseki.dat.fix-new",
                             "JOSEKI.DAT.FIX-OLD",
                             "a.fix-new.",
                             "~fix0123456789abcdef.new",
                             "~FIX0123456789ABCDEF.OLD",
                             "book/~fix0123456789abcdef.new ",
                             "b\\x.fix-old"};
  for (const char* name : temporary) EXPECT_TRUE(IsPackageTempName(name)) << name;
  const char* others[] = {"joseki.dat",
                          "fix-new",
                          "~fix0123456789abcde.new",
                          "~fix0123456789abcdeg.new",
                          "~fix0123456789abcdef.new\\a",
                          "~fix0123456789abcdef.bak",
                          "x~fix0123456789abcdef.new"};
  for (const char* name : others) EXPECT_FALSE(IsPackageTempName(name)) << name;
}

}  // namespace
