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
      "a.dat", "book\\joseki.dat", "book/joseki.dat", "a b.txt", ".hidden", "a..b", "x.fix-news",
      So + ".dat",             // a trail byte 0x5C is no separator
      "d" + So + "\\x.dat",    // ... also right before a real one
      Hyo,                     // a name that is one double-byte character
  };
  for (const std::string& name : names) EXPECT_EQ(CheckEntryName(name.c_str()), nullptr) << name;
}

TEST(CheckEntryNameTest, RefusesNamesThatLeaveTheFolder) {
  const std::string names[] = {
      "",                                            // empty
      "\\a.dat", "/a.dat", "\\\\server\\share\\a",   // absolute, network
      "C:\\a.dat", "C:a.dat", "a.dat:stream",        // drive, colon
      "..", "..\\a.dat", "book\\..\\..\\a.dat", "book/../a", "a\\..",  // parent
      ".", ".\\a.dat", "...", ".. ", " ", "book\\. .\\a",               // trimmed to . or ..
      "book\\\\a.dat", "book\\", "book/",            // empty component
      "a.dat.fix-new", "a.dat.FIX-OLD", "b\\x.Fix-New",  // temporary names
  };
  for (const std::string& name : names) EXPECT_NE(CheckEntryName(name.c_str()), nullptr) << name;
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
      {"C:\\Prog", true},
      {"C:\\Prog\\", false},
      {"", false},
      {nullptr, false},
      {"\\", false},
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

TEST(IsPackageTempNameTest, KnowsBothSuffixesInAnyCase) {
  EXPECT_TRUE(IsPackageTempName("joseki.dat.fix-new"));
  EXPECT_TRUE(IsPackageTempName("JOSEKI.DAT.FIX-OLD"));
  EXPECT_FALSE(IsPackageTempName("joseki.dat"));
  EXPECT_FALSE(IsPackageTempName("fix-new"));
}

}  // namespace
