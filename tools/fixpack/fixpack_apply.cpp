// fixpack apply: reads an update data file with the updater's own reader and
// applies it to a folder with the updater's own applier.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fixpack/command_line.h"
#include "fixpack/fixpack_commands.h"
#include "package/update_package.h"
#ifdef _WIN32
#include "app/platform.h"  // PlatformPackageFiles
#endif

const char ApplyHelp[] =
    "usage: fixpack apply DATAFILE FOLDER [--threads N]\n\n"
    "Reads the update data file DATAFILE (upda.dat and the like) and applies\n"
    "its package to FOLDER exactly as the updater applies it to an install\n"
    "folder: every entry keeps the present file under its old name and\n"
    "writes the new content under its own name. A damaged data file changes\n"
    "nothing; an entry that fails leaves the folder as it was before that\n"
    "entry, and the entries behind it are not applied.\n\n"
    "Names inside the package use the backslash as folder separator"
#ifdef _WIN32
    ".\n\n"
#else
    "; on\nthis system it is read as a slash.\n\n"
#endif
    "options:\n" FIXPACK_THREADS_HELP
    "\n"
    "Prints one line saying what was done, or which entry failed and why.\n"
    "Exit status: 0 when the package was applied, 1 when it was not, 2 for\n"
    "a usage error.\n";

namespace {

const char* KindName(int32_t kind) {
  switch (kind) {
    case KindBook:
      return "book";
    case KindDividedBook:
      return "divided book";
    case KindFile:
      return "file";
    default:
      return "entry";
  }
}

}  // namespace

int RunApply(int argc, char** argv) {
  // The words are sorted without allocating, so that a run short of memory
  // fails in the package step, which says what it left whole.
  const char* words[2] = {};
  int count = 0;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], ThreadsOption.name) == 0 && i + 1 < argc) {
      std::string error;
      if (!TakeThreadsValue(argv[++i], &error)) return UsageError("apply", error, ApplyHelp);
    } else if (count == 2 || (argv[i][0] == '-' && argv[i][1] != '\0')) {
      return UsageError("apply", std::string("unexpected argument ") + argv[i], ApplyHelp);
    } else {
      words[count++] = argv[i];
    }
  }
  if (count != 2) return UsageError("apply", "give DATAFILE and FOLDER", ApplyHelp);
  const char* dataFile = words[0];
  const char* folder = words[1];

  std::vector<uint8_t> script;
  const char* cause = "";
  int32_t systemError = 0;
  if (ReadUpdatePackage(dataFile, &script, &cause, &systemError) != 0) {
    printf("%s: not applied, nothing changed: %s%s%s\n", dataFile, cause, systemError != 0 ? ": " : "",
           systemError != 0 ? SystemErrorText(systemError) : "");
    return 1;
  }
#ifdef _WIN32
  // The updater's own file layer (src/app/win32/package_files_win32.cpp):
  // the system's renames, links and file identities, as fixmodule.exe has
  // them, rather than the C runtime's.
  PackageFiles* files = PlatformPackageFiles();
#else
  PackageFiles* files = nullptr;  // the C runtime's and POSIX's (SystemPackageFiles)
#endif
  ApplyReport report;
  const int32_t result =
      ApplyPackage(script.data(), static_cast<uint32_t>(script.size()), folder, &report, files);
  if (result == ApplyOk) {
    printf("%s: applied %d entr%s to %s\n", dataFile, report.entriesApplied,
           report.entriesApplied == 1 ? "y" : "ies", folder);
    return 0;
  }
  printf("%s: failed (result %d) at entry %d, %s %s -> %s: %s%s%s; %d entr%s before it stay%s applied\n",
         dataFile, result, report.failedEntry, KindName(report.failedKind), report.oldName.c_str(),
         report.newName.c_str(), report.cause != nullptr ? report.cause : "",
         report.systemError != 0 ? ": " : "",
         report.systemError != 0 ? SystemErrorText(report.systemError) : "", report.entriesApplied,
         report.entriesApplied == 1 ? "y" : "ies", report.entriesApplied == 1 ? "s" : "");
  return 1;
}
