#include "app/console/app_paths_file.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

const char DefaultAppPathsFile[] = "/etc/bantou-fix/app-paths";
const char AppPathsVariable[] = "FIX_APP_PATHS";

namespace {

constexpr int32_t ErrorFileNotFound = 2;
constexpr int32_t ErrorAccessDenied = 5;

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string AppPathsFile() {
  const char* chosen = getenv(AppPathsVariable);
  return chosen != nullptr && chosen[0] != '\0' ? chosen : DefaultAppPathsFile;
}

int32_t FindAppPath(const std::string& name, std::string* folder) {
  FILE* file = fopen(AppPathsFile().c_str(), "r");
  if (file == nullptr) return errno == EACCES ? ErrorAccessDenied : ErrorFileNotFound;
  int32_t result = ErrorFileNotFound;
  std::string line;
  for (int c = getc(file);; c = getc(file)) {
    if (c != '\n' && c != EOF) {
      line += static_cast<char>(c);
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t equals = line.find('=');
    if (!line.empty() && line[0] != '#' && equals != std::string::npos &&
        strcasecmp(Trim(line.substr(0, equals)).c_str(), name.c_str()) == 0) {
      *folder = line.substr(equals + 1);
      result = 0;
      break;
    }
    line.clear();
    if (c == EOF) break;
  }
  if (ferror(file)) result = ErrorAccessDenied;
  fclose(file);
  return result;
}
