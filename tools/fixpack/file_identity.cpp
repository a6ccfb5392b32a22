#include "fixpack/file_identity.h"

#include "package/package_files.h"

#ifdef _WIN32
#include <windows.h>

#include "app/platform.h"  // PlatformPackageFiles
#else
#include <sys/stat.h>
#endif

PackageFiles* CommandFiles() {
#ifdef _WIN32
  return PlatformPackageFiles();
#else
  return SystemPackageFiles();
#endif
}

bool IsFolder(const std::string& path) {
#ifdef _WIN32
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
#else
  struct stat status;
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
#endif
}

bool OutputIsInput(const std::string& output, const std::vector<CommandInput>& inputs, std::string* refusal) {
  PackageFiles* files = CommandFiles();
  for (const CommandInput& input : inputs) {
    if (files->Identity(output.c_str(), input.path.c_str()) != FilesApart) {
      *refusal = output + " is " + input.role + " (" + input.path + "), an input of this command; nothing was written";
      return true;
    }
  }
  return false;
}
