// Which file a path names, told by the file system rather than by the
// path's spelling, so that a command can refuse to write over one of its
// own inputs however either is spelt (./a.dat, dir/../a.dat, a link).
#pragma once

#include <string>
#include <vector>

class PackageFiles;

// The file layer the commands share with the updater: on Windows its own
// Win32 layer (src/app/win32/package_files_win32.cpp), with the system's
// renames, links and file identities as fixmodule.exe has them; natively
// the C runtime's and POSIX's (SystemPackageFiles).
PackageFiles* CommandFiles();

// Whether a folder stands under the path (following links).
bool IsFolder(const std::string& path);

// One input of a command, with what it is to the command ("the manifest",
// "m.txt:3: OLDBOOK").
struct CommandInput {
  std::string path;
  std::string role;
};

// False when `output` is none of `inputs`, by the identity of the file each
// leads to (PackageFiles::Identity): an output that does not exist yet is
// none. True when it is one, with the refusal in `refusal`: "OUTPUT is ROLE
// (PATH), an input of this command; nothing was written".
bool OutputIsInput(const std::string& output, const std::vector<CommandInput>& inputs, std::string* refusal);
