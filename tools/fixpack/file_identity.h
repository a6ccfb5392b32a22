// Which file a path names, told by the file system rather than by the
// path's spelling, so that a command can refuse to write over one of its
// own inputs however either is spelt (./a.dat, dir/../a.dat, a link).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct FileIdentity {
  bool exists = false;  // a file stands under the path
  uint64_t volume = 0;  // st_dev; the volume's serial number on Windows
  uint64_t index = 0;   // st_ino; the file index on Windows
};

// The identity of the file the path names, following links; `exists` is
// false when there is none or it cannot be asked.
FileIdentity IdentityOf(const std::string& path);

// Whether a folder stands under the path (following links).
bool IsFolder(const std::string& path);

// One input of a command, with what it is to the command ("the manifest",
// "m.txt:3: OLDBOOK").
struct CommandInput {
  std::string path;
  std::string role;
};

// False when `output` is none of `inputs`. True when it is one, with the
// refusal in `refusal`: "OUTPUT is ROLE (PATH), an input of this command;
// nothing was written".
bool OutputIsInput(const std::string& output, const std::vector<CommandInput>& inputs, std::string* refusal);
