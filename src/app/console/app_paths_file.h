// The native stand-in's App Paths: a plain-text, read-only file of
// `NAME=FOLDER` lines, one registered executable a line (NAME its file name,
// compared without regard to ASCII letter case; FOLDER its install folder,
// taken as written up to the end of the line). Blank lines and lines that
// start with '#' are skipped; the first line of a name counts.
//
// The file is FIX_APP_PATHS when that environment variable is set and not
// empty, otherwise /etc/bantou-fix/app-paths.
#pragma once

#include <cstdint>
#include <string>

extern const char DefaultAppPathsFile[];  // "/etc/bantou-fix/app-paths"
extern const char AppPathsVariable[];     // "FIX_APP_PATHS"

// The file in force.
std::string AppPathsFile();

// Looks `name` up in the file. 0 and the FOLDER bytes in *folder; 2 when the
// file or the name is missing; 5 when the file cannot be read. The codes are
// the system error codes a registry gives for the same cases.
int32_t FindAppPath(const std::string& name, std::string* folder);
