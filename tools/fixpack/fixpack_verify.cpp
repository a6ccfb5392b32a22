// fixpack verify: checks every invariant of a book or update data file and
// names each violation with its place.
#include <cstdio>
#include <string>
#include <vector>

#include "fixpack/command_line.h"
#include "fixpack/file_bytes.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/progress.h"
#include "fixpack/terminal_text.h"
#include "publish/file_check.h"
#include "publish/findings.h"

const char VerifyHelp[] =
    "usage: fixpack verify FILE [--as single|divided|data] [--all]\n\n"
    "Checks every invariant of the stored form of FILE and prints each\n"
    "violation with its place, then one line with the verdict. What FILE is\n"
    "comes from its magic (a single or divided book); a file with neither\n"
    "magic is checked as an update data file, unless --as says otherwise.\n\n"
    "A body: the zlib stream ends exactly at packedSize and unpacks to exactly\n"
    "rawSize bytes; the counts match the records; firstNode and firstMove are\n"
    "the running sums; each node lies in the bucket of its key; each chain\n"
    "strictly descends; each node holds 1 to 255 moves, no code twice. A\n"
    "single book: its magic, nothing after its body. A divided book: its\n"
    "magic, offsets inside the file and behind the table, blocks not\n"
    "overlapping, every byte between them zero. An update data file: its\n"
    "envelope as a body's, nothing after it, and a script that parses to its\n"
    "end (see `fixpack inspect`).\n"
    "Warnings, which leave the file sound: moves not sorted by code (the\n"
    "merge sorts them), positions or moves no diff can name or put, a divided\n"
    "layout other than the updater's.\n\n"
    "options:\n"
    "  --as KIND   check FILE as a single book, divided book or data file\n"
    "  --all       print every finding (by default the first 100)\n\n"
    "Exit status: 0 when FILE is sound (warnings allowed), 1 when it is not\n"
    "or cannot be read, 2 for a usage error.\n";

namespace {

constexpr size_t DefaultShown = 100;

}  // namespace

int RunVerify(int argc, char** argv) {
  CommandArguments arguments;
  std::string error;
  if (!ParseArguments(argc, argv, {{"--as", true}, {"--all", false}}, &arguments, &error)) {
    return UsageError("verify", error, VerifyHelp);
  }
  std::string path;
  std::vector<uint8_t> bytes;
  FileKind kind = FileDataFile;
  if (const int status = ReadFileOperand("verify", arguments, VerifyHelp, &path, &bytes, &kind))
    return status;
  if (kind == FileDataFile && !arguments.Has("--as")) {
    if (const int status = RefuseNeitherKind("verify", path, bytes)) return status;
  }

  Findings findings(arguments.Has("--all") ? 0 : DefaultShown);
  {
    Progress progress("verify " + path, "divisions", 64);
    CheckFile(bytes, kind, &findings, Progress::Report, &progress);
  }
  for (const Finding& finding : findings.kept()) {
    Say(stdout, "%s: %s: %s: %s\n", path.c_str(), finding.place.c_str(),
           finding.level == FindingViolation ? "error" : "warning", finding.text.c_str());
  }
  if (findings.dropped() > 0) {
    Say(stdout, "%s: %llu more findings not shown (--all shows them)\n", path.c_str(),
           static_cast<unsigned long long>(findings.dropped()));
  }
  const unsigned long long warnings = findings.warnings();
  if (findings.violations() == 0) {
    Say(stdout, "%s: sound %s, %llu warning%s\n", path.c_str(), FileKindName(kind), warnings,
           warnings == 1 ? "" : "s");
    return ExitOk;
  }
  Say(stdout, "%s: unsound %s: %llu error%s, %llu warning%s\n", path.c_str(), FileKindName(kind),
         static_cast<unsigned long long>(findings.violations()), findings.violations() == 1 ? "" : "s",
         warnings, warnings == 1 ? "" : "s");
  return ExitFailed;
}
