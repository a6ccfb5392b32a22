#include "fixpack/file_identity.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity identity;
#ifdef _WIN32
  // Opened for its attributes only, sharing everything, so that a file
  // another program holds open is still told; folders open only with
  // backup semantics.
  HANDLE file = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return identity;
  BY_HANDLE_FILE_INFORMATION information;
  if (GetFileInformationByHandle(file, &information)) {
    identity.exists = true;
    identity.volume = information.dwVolumeSerialNumber;
    identity.index = uint64_t{information.nFileIndexHigh} << 32 | information.nFileIndexLow;
  }
  CloseHandle(file);
#else
  struct stat status;
  if (stat(path.c_str(), &status) == 0) {
    identity.exists = true;
    identity.volume = static_cast<uint64_t>(status.st_dev);
    identity.index = static_cast<uint64_t>(status.st_ino);
  }
#endif
  return identity;
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
  const FileIdentity written = IdentityOf(output);
  // An output that does not exist yet is no input: every input has been
  // read, or will be refused as missing.
  if (!written.exists) return false;
  for (const CommandInput& input : inputs) {
    const FileIdentity read = IdentityOf(input.path);
    if (read.exists && read.volume == written.volume && read.index == written.index) {
      *refusal = output + " is " + input.role + " (" + input.path + "), an input of this command; nothing was written";
      return true;
    }
  }
  return false;
}
