// Holds the code page 932 rule of file names (Cp932FileNameKey, what the
// native programs compare by) to the system's own comparison
// (CompareFileNames on Windows) over every one-character name of the code
// page, each also behind a letter, before a trailing dot and space, and as
// a folder's name: both must part the names into the same sets of names
// that are one file. Run under Wine in the Japanese locale by
// tests/e2e/fixpack_exe.sh.
//
//   file_names_check.exe      prints the count of names and of sets of more
//                             than one; exit 1 and the first disagreements
//                             when the two differ.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "package/file_names.h"
#include "stream/cp932_path.h"

namespace {

// Every character of the code page: the single bytes, and every lead byte
// with every second byte, defined or not, and alone.
std::vector<std::string> Characters() {
  std::vector<std::string> characters;
  for (int byte = 1; byte < 256; ++byte) {
    if (byte == '\\' || byte == '/') continue;
    characters.emplace_back(1, static_cast<char>(byte));
    if (!IsCp932LeadByte(static_cast<unsigned char>(byte))) continue;
    for (int trail = 1; trail < 256; ++trail) {
      characters.push_back({static_cast<char>(byte), static_cast<char>(trail)});
    }
  }
  return characters;
}

std::string Hex(const std::string& name) {
  std::string hex;
  char digits[4];
  for (const char c : name) {
    snprintf(digits, sizeof digits, "%02X", static_cast<unsigned char>(c));
    hex += digits;
  }
  return hex;
}

}  // namespace

int main() {
  if (GetACP() != 932) {
    printf("the system's code page is %u, not 932\n", GetACP());
    return 2;
  }
  std::vector<std::string> names;
  for (const std::string& c : Characters()) {
    names.push_back(c);
    names.push_back("a" + c);
    names.push_back(c + ". ");
    names.push_back("d" + c + "\\x");
  }
  std::sort(names.begin(), names.end(), [](const std::string& one, const std::string& other) {
    return CompareFileNames(one.c_str(), other.c_str()) < 0;
  });
  // Runs of names the system takes for one file must share one key, and no
  // two runs a key.
  std::map<std::string, std::string> runOfKey;  // key: the first name of its run
  int disagreements = 0, sets = 0;
  for (size_t i = 0; i < names.size();) {
    size_t end = i + 1;
    while (end < names.size() && CompareFileNames(names[i].c_str(), names[end].c_str()) == 0) ++end;
    if (end - i > 1) ++sets;
    const std::string key = Cp932FileNameKey(names[i].c_str());
    for (size_t k = i + 1; k < end; ++k) {
      if (Cp932FileNameKey(names[k].c_str()) != key && ++disagreements <= 20)
        printf("one file to the system, two to the rule: %s %s\n", Hex(names[i]).c_str(), Hex(names[k]).c_str());
    }
    const auto placed = runOfKey.emplace(key, names[i]);
    if (!placed.second && ++disagreements <= 20)
      printf("two files to the system, one to the rule: %s %s\n", Hex(placed.first->second).c_str(),
             Hex(names[i]).c_str());
    i = end;
  }
  printf("%zu names, %d sets of names that are one file: the rule of code page 932 %s\n", names.size(), sets,
         disagreements == 0 ? "agrees with the system's" : "differs from the system's");
  return disagreements == 0 ? 0 : 1;
}
