// fixpack apply: reads an update data file with the updater's own reader and
// applies it to a folder with the updater's own applier, then tells what its
// book diffs met there and, when asked, whether the folder now holds the
// release the publisher means to reach.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "book/book_format.h"
#include "book/parallel_deflate.h"
#include "fixpack/command_line.h"
#include "fixpack/file_bytes.h"
#include "fixpack/file_identity.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/terminal_text.h"
#include "package/entry_path.h"
#include "package/update_package.h"
#include "publish/build_manifest.h"
#include "publish/diff_replay.h"
#include "publish/package_check.h"
#include "publish/package_script.h"

const char ApplyHelp[] =
    "usage: fixpack apply DATAFILE FOLDER [--expect RELEASE] [--threads N]\n\n"
    "Reads the update data file DATAFILE (upda.dat and the like) and applies\n"
    "its package to FOLDER exactly as the updater applies it to an install\n"
    "folder: every entry keeps the present file under its old name and\n"
    "writes the new content under its own name. A damaged data file changes\n"
    "nothing; an entry that fails leaves the folder as it was before that\n"
    "entry, and the entries behind it are not applied. The folders an entry\n"
    "names must exist: the updater makes none.\n\n"
    "Names inside the package use the backslash as folder separator"
#ifdef _WIN32
    ".\n\n"
#else
    "; on\nthis system it is read as a slash.\n\n"
#endif
    "For each book entry it tells the deletes that found no move and the\n"
    "puts that changed nothing, and warns when there are any: the folder may\n"
    "hold another release than the package was made for, or the package was\n"
    "applied to it already.\n\n"
    "options:\n"
    "  --expect RELEASE  compare every file the package wrote with the file of\n"
    "                the same name in the folder RELEASE, the release to reach\n"
    "                (books by their positions and moves); print each\n"
    "                difference and exit with 1 on any\n" FIXPACK_THREADS_HELP
    "\n"
    "Prints what was done, entry by entry, or which entry failed and why.\n"
    "Exit status: 0 when the package was applied (and FOLDER matches\n"
    "RELEASE), 1 when it was not (or does not), 2 for a usage error.\n";

namespace {

const char* KindWord(int32_t kind) {
  return kind == KindBook ? "book" : kind == KindDividedBook ? "divided" : "file";
}

std::string FolderPath(const char* folder, const std::string& name) {
  return EntryPath(folder, FolderNeedsSeparator(folder), name.c_str());
}

// The entry that failed, the folder and the cause; a file whose folder is
// missing names that folder. Files are named as the package names them, in
// the folder given, so that the text is the same on every system.
std::string FailureText(const char* dataFile, const char* folder, int32_t result, const ApplyReport& report) {
  std::string where = std::string(dataFile) + ": entry " + std::to_string(report.failedEntry);
  if (report.failedKind >= 0)
    where += " (" + std::string(KindWord(report.failedKind)) + " " + report.oldName + " -> " + report.newName + ")";
  where += std::string(" in ") + folder;
  std::string cause = report.cause != nullptr ? report.cause : "it failed";
  if (report.systemError != 0) cause += std::string(": ") + SystemErrorText(report.systemError);
  if (result != ApplyDamaged && report.systemError == ENOENT && !report.newName.empty()) {
    // The name's own folder part (a 0x5C inside a double-byte character is
    // no separator).
    std::string inner = FolderOf(report.newName);
    if (!inner.empty()) inner.pop_back();
    if (!inner.empty() && !IsFolder(FolderPath(folder, inner)))
      cause = "its folder " + inner + " is missing; the updater makes no folders, so the install must hold it";
  }
  return where + ": " + cause + "; " + Counted(report.entriesApplied, "entry", "entries") + " before it stay" +
         (report.entriesApplied == 1 ? "s" : "") + " applied";
}

// Per entry, what it did; for a book entry, replayed on the book its old
// name now keeps, which is the book the merge read.
bool ReportEntries(const std::vector<uint8_t>& script, const ScriptWalk& walk, const char* folder) {
  int32_t surprising = 0;
  for (size_t i = 0; i < walk.entries.size(); ++i) {
    const ScriptEntry& entry = walk.entries[i];
    std::string kind = KindWord(entry.kind);
    kind.resize(7, ' ');  // as build and inspect line them up
    std::string line =
        "  " + std::to_string(i + 1) + " " + kind + " " + entry.oldName + " -> " + entry.newName + ": ";
    if (entry.kind == KindFile) {
      Say(stdout, "%s%s\n", line.c_str(), Counted(entry.fileSize, "byte").c_str());
      continue;
    }
    BookImage before;
    std::string error;
    DiffEffect effect;
    if (!ReadBookImage(FolderPath(folder, entry.oldName), &before, &error) ||
        !ReplayEntryDiff(before, script.data(), static_cast<uint32_t>(script.size()), entry, &effect, &error)) {
      Say(stdout, "%swhat the diff met cannot be told: %s\n", line.c_str(), error.c_str());
      continue;
    }
    line += Counted(effect.puts, "put");
    if (effect.idlePuts != 0) line += " (" + std::to_string(effect.idlePuts) + " changed nothing)";
    line += ", " + Counted(effect.deletes, "delete");
    if (effect.missedDeletes != 0) line += " (" + std::to_string(effect.missedDeletes) + " found no move)";
    Say(stdout, "%s\n", line.c_str());
    if (effect.idlePuts != 0 || effect.missedDeletes != 0) ++surprising;
  }
  if (surprising == 0) return true;
  Say(stderr,
      "fixpack apply: warning: %s met moves other than the package was made for: %s may hold another release, "
      "or the package was applied to it already\n",
      Counted(surprising, "book entry", "book entries").c_str(), folder);
  return false;
}

// Every file the package wrote, against the file of the same name in the
// release folder.
int CompareWithRelease(const ScriptWalk& walk, const char* folder, const char* release) {
  int32_t differences = 0;
  for (const ScriptEntry& entry : walk.entries) {
    const std::string made = FolderPath(folder, entry.newName);
    const std::string wanted = FolderPath(release, entry.newName);
    std::vector<uint8_t> madeBytes, wantedBytes;
    std::string error;
    if (!ReadFileBytes(made, &madeBytes, &error) || !ReadFileBytes(wanted, &wantedBytes, &error)) {
      Say(stdout, "  differs: %s: %s\n", entry.newName.c_str(), error.c_str());
      ++differences;
      continue;
    }
    if (madeBytes == wantedBytes) continue;
    BookImage wantedBook;
    std::string cause = "other bytes";
    if (entry.kind != KindFile && ParseBookImage(std::move(wantedBytes), &wantedBook, &cause) &&
        SameBookContent(std::move(madeBytes), wantedBook, &cause)) {
      continue;  // the same positions and moves, packed otherwise
    }
    Say(stdout, "  differs: %s: %s\n", entry.newName.c_str(), cause.c_str());
    ++differences;
  }
  if (differences != 0) {
    return Failure("apply", std::string(folder) + " is not the release in " + release + ": " +
                                Counted(differences, "file differs", "files differ"));
  }
  Say(stdout, "%s: every file the package wrote is as in %s\n", folder, release);
  return ExitOk;
}

}  // namespace

int RunApply(int argc, char** argv) {
  CommandArguments arguments;
  std::string error;
  int32_t threads = 1;
  if (!ParseArguments(argc, argv, {{"--expect", true}, ThreadsOption}, &arguments, &error) ||
      !TakeThreadsOption(arguments, &threads, &error)) {
    return UsageError("apply", error, ApplyHelp);
  }
  if (arguments.positional.size() != 2) return UsageError("apply", "give DATAFILE and FOLDER", ApplyHelp);
  const char* dataFile = arguments.positional[0].c_str();
  const char* folder = arguments.positional[1].c_str();
  const char* release = arguments.Has("--expect") ? arguments.values["--expect"].c_str() : nullptr;
  for (const char* needed : {folder, release}) {
    if (needed != nullptr && !IsFolder(needed)) return Failure("apply", std::string(needed) + ": no such folder");
  }
  // A book or a text given for the data file is named as what it is.
  if (FILE* head = fopen(dataFile, "rb")) {
    uint8_t start[10] = {};
    const size_t read = fread(start, 1, sizeof start, head);
    fclose(head);
    if (read >= 8 && (memcmp(start, BookFileMagic, 8) == 0 || memcmp(start, DividedBookMagic, 8) == 0)) {
      return Failure("apply", std::string(dataFile) + " is a " +
                                  (memcmp(start, BookFileMagic, 8) == 0 ? "single" : "divided") +
                                  " book, not an update data file");
    }
    if (read == sizeof start && !BeginsZlibStream(start + 8)) {
      return Failure("apply", std::string(dataFile) +
                                  " is not an update data file: no zlib stream begins behind its two sizes");
    }
  }

  std::vector<uint8_t> script;
  const char* cause = "";
  int32_t systemError = 0;
  if (ReadUpdatePackage(dataFile, &script, &cause, &systemError) != 0) {
    return Failure("apply", std::string(dataFile) + ": not applied, nothing changed: " + cause +
                                (systemError != 0 ? std::string(": ") + SystemErrorText(systemError) : ""));
  }
  ApplyReport report;
  const int32_t result = ApplyPackage(script.data(), static_cast<uint32_t>(script.size()), folder, &report,
                                      CommandFiles(), threads);
  if (result != ApplyOk) return Failure("apply", FailureText(dataFile, folder, result, report));
  Say(stdout, "%s: applied %s to %s\n", dataFile,
      Counted(report.entriesApplied, "entry", "entries").c_str(), folder);
  // What follows only looks: the package is applied whatever it finds.
  try {
    const ScriptWalk walk = WalkScript(script.data(), static_cast<uint32_t>(script.size()));
    ReportEntries(script, walk, folder);
    if (release != nullptr) return CompareWithRelease(walk, folder, release);
  } catch (const std::bad_alloc&) {
    Say(stderr, "fixpack apply: warning: what the package changed cannot be told: not enough memory\n");
    return release != nullptr ? ExitFailed : ExitOk;
  }
  return ExitOk;
}
