#include "testing/compiled_files.h"

#include <cstdlib>

std::vector<std::string> CompiledWindowsPrograms(const char* variable) {
  std::vector<std::string> paths;
  const char* exes = std::getenv(variable);
  if (exes == nullptr) return paths;
  const std::string list = exes;
  for (size_t start = 0; start <= list.size();) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    if (end > start) paths.push_back(list.substr(start, end - start));
    start = end + 1;
  }
  return paths;
}

std::string FileNameOf(const std::string& path) { return path.substr(path.find_last_of("/\\") + 1); }
