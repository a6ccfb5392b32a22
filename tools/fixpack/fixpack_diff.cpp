// fixpack diff: the smallest BookDiff from one book to another.
#include <cstdio>
#include <string>
#include <vector>

#include "fixpack/command_line.h"
#include "fixpack/file_bytes.h"
#include "fixpack/file_identity.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/progress.h"
#include "fixpack/terminal_text.h"
#include "publish/book_file_diff.h"
#include "publish/book_image.h"

const char DiffHelp[] =
    "usage: fixpack diff OLD NEW [-o DIFF]\n\n"
    "Makes the smallest diff that turns book OLD into book NEW through the\n"
    "updater's merge. Both are single books, or both divided books (one list\n"
    "per division). Per position it puts the moves that are new or changed\n"
    "(all 8 bytes compared) and deletes the moves that are gone.\n\n"
    "Without -o the diff is printed as text, one position a line: the key's\n"
    "low and high words, then -CODE for each delete and +CODE:AUX:DATA for\n"
    "each put (hexadecimal), with a \"division K\" line before each division\n"
    "that changes. With -o DIFF the payload of the package entry is written:\n"
    "for a single book one BookDiff list, for a divided book a leading word 0\n"
    "and 64 lists; one line about it is printed.\n\n"
    "Refused, with the position named, is what no diff can carry: books of\n"
    "different layouts or bucket counts; a changed position whose low word is\n"
    "below 64 or 0xFFFFFFFF; a move to put whose aux is 0xFFFF with data\n"
    "0xFFFFFFFF; a NEW book holding a position twice or a code twice in one\n"
    "position; an OLD book whose chains the updater could not search. A\n"
    "position with more than 255 records is split into several groups.\n\n"
    "options:\n"
    "  -o, --output DIFF   write the payload bytes to DIFF\n\n"
    "Exit status: 0 when the diff was made, 1 when it cannot be, 2 for a\n"
    "usage error.\n";

int RunDiff(int argc, char** argv) {
  CommandArguments arguments;
  std::string error;
  if (!ParseArguments(argc, argv, {OutputOption}, &arguments, &error))
    return UsageError("diff", error, DiffHelp);
  if (arguments.positional.size() != 2) return UsageError("diff", "give OLD and NEW", DiffHelp);
  const std::string oldPath = arguments.positional[0];
  const std::string newPath = arguments.positional[1];
  if (arguments.Has("-o")) {
    const std::string output = arguments.Value("-o");
    if (OutputIsInput(output, {{oldPath, "the old book"}, {newPath, "the new book"}}, &error)) return Failure("diff", error);
  }

  BookImage from, to;
  if (!ReadBookImage(oldPath, &from, &error) || !ReadBookImage(newPath, &to, &error))
    return Failure("diff", error);

  const bool asText = !arguments.Has("-o");
  std::vector<uint8_t> payload;
  std::string text;
  DiffCounts counts;
  {
    Progress progress("diff " + newPath, "divisions", static_cast<uint64_t>(BookBodyCount(from)));
    if (!DiffBookFiles(from, oldPath, to, newPath, &payload, &counts, asText ? &text : nullptr,
                       Progress::Report, &progress, &error)) {
      return Failure("diff", error);
    }
  }
  const std::string summary =
      Counted(counts.groups, "group") + ", " + Counted(counts.puts, "put") + ", " + Counted(counts.deletes, "delete");
  if (asText) {
    Say(stdout, "# diff %s -> %s: %s\n", oldPath.c_str(), newPath.c_str(), summary.c_str());
    fwrite(text.data(), 1, text.size(), stdout);
    return fflush(stdout) == 0 ? ExitOk : Failure("diff", "stdout cannot be written");
  }
  const std::string output = arguments.Value("-o");
  if (!WriteFileBytes(output, payload, &error)) return Failure("diff", error);
  Say(stdout, "%s: %s -> %s: %s, %s\n", output.c_str(), oldPath.c_str(), newPath.c_str(), summary.c_str(),
      Counted(payload.size(), "byte").c_str());
  return ExitOk;
}
