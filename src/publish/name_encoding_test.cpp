// Manifests in the encodings editors save: only code page 932 names get
// through, and a Unicode manifest is named as such on its first line.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "publish/build_manifest.h"

namespace {

struct ManifestCase {
  const char* what;
  std::string text;
  const char* error;  // a part of the refusal; null when accepted
};

std::string Utf16(const std::string& ascii, bool mark) {
  std::string text = mark ? std::string("\xFF\xFE") : std::string();
  for (char c : ascii) text += std::string(1, c) + '\0';
  return text;
}

const std::string Line = "file a.old a.txt src.txt\r\n";

const std::vector<ManifestCase> ManifestCases = {
    {"code page 932 names, one ending in 0x5C (表)",
     "file \x92\xE8\x90\xD5\\\x90\xE0\x96\xBE.100 \x92\xE8\x90\xD5\\\x95\x5C.txt src.txt\n", nullptr},
    {"half-width katakana", "file \xB1\xB2.old \xB1\xB2.txt src.txt\n", nullptr},
    {"UTF-8 names (定跡\\説明.txt)", "file a.old \xE5\xAE\x9A\xE8\xB7\xA1\\\xE8\xAA\xAC\xE6\x98\x8E.txt src.txt\n",
     "1: the name '"},
    {"UTF-8 whose bytes pair up as code page 932 (定跡.txt)", "file a.old \xE5\xAE\x9A\xE8\xB7\xA1.txt src.txt\n",
     "UTF-8 text, not code page 932"},
    {"a byte no code page 932 text holds", "file a.old a\x80.txt src.txt\n", "not code page 932 text"},
    {"a lead byte at the end", "file a.old a.txt\x81 src.txt\n", "not code page 932 text"},
    {"a row code page 932 leaves empty", "file a.old \x85\x40.txt src.txt\n", "not code page 932 text"},
    {"UTF-8 with a byte order mark", "\xEF\xBB\xBF" + Line, "1: the manifest is saved in UTF-8"},
    {"UTF-16 with a byte order mark", Utf16(Line, true), "1: the manifest is saved in UTF-16 (Unicode"},
    {"UTF-16 without one", Utf16(Line, false), "1: the manifest is saved in UTF-16 (Unicode"},
    {"UTF-16 big-endian", "\xFE\xFF" + Utf16(Line, false), "1: the manifest is saved in UTF-16"},
};

TEST(ManifestEncoding, OnlyCodePage932NamesGetThrough) {
  for (const ManifestCase& row : ManifestCases) {
    SCOPED_TRACE(row.what);
    std::vector<ManifestEntry> entries;
    std::string error;
    const bool parsed = ParseManifest(row.text, "", &entries, &error);
    if (row.error == nullptr) {
      EXPECT_TRUE(parsed) << error;
      continue;
    }
    EXPECT_FALSE(parsed);
    EXPECT_NE(error.find(row.error), std::string::npos) << error;
    // Every refusal says what to do, in one line.
    EXPECT_NE(error.find("save the manifest in code page 932"), std::string::npos) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
  }
}

}  // namespace
