// fixpack dump: writes a book in its text form, the form `fixpack pack`
// reads back.
#include <cerrno>
#include <cstdio>
#include <string>

#include "fixpack/command_line.h"
#include "fixpack/file_bytes.h"
#include "fixpack/file_identity.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/progress.h"
#include "publish/book_image.h"
#include "publish/book_text.h"

const char DumpHelp[] =
    "usage: fixpack dump FILE [-o TEXT]\n\n"
    "Writes the single or divided book FILE in its text form, one position a\n"
    "line: the key's low and high words, then its moves as code:aux:data, all\n"
    "hexadecimal, in the order the book stores them. Each body begins with\n"
    "its bucket count (\"buckets B\", or \"division K buckets B\"). `fixpack\n"
    "pack` reads the text back; for a book whose moves are sorted, as every\n"
    "book the updater writes, it gives the same bytes again.\n\n"
    "options:\n"
    "  -o, --output TEXT   write the text to TEXT (- for stdout, as without -o)\n\n"
    "Exit status: 0 when written, 1 when FILE is not a book that loads (the\n"
    "division and the cause are named; `fixpack verify` tells more), 2 for a\n"
    "usage error.\n";

namespace {

// Writes the text body by body, so that a large book never stands whole in
// memory as text.
bool WriteBookText(FILE* out, const std::string& text) {
  return text.empty() || fwrite(text.data(), 1, text.size(), out) == text.size();
}

}  // namespace

int RunDump(int argc, char** argv) {
  CommandArguments arguments;
  std::string error;
  if (!ParseArguments(argc, argv, {OutputOption}, &arguments, &error))
    return UsageError("dump", error, DumpHelp);
  if (arguments.positional.size() != 1) return UsageError("dump", "give one FILE", DumpHelp);
  const std::string path = arguments.positional[0];
  // "-o -" is stdout, as without -o.
  const std::string output = arguments.Has("-o") && arguments.Value("-o") != "-" ? arguments.Value("-o") : std::string();
  if (!output.empty()) {
    if (OutputIsInput(output, {{path, "the book"}}, &error)) return Failure("dump", error);
  }

  BookImage image;
  if (!ReadBookImage(path, &image, &error)) return Failure("dump", error);
  FILE* out = stdout;
  if (!output.empty()) {
    errno = 0;
    out = fopen(output.c_str(), "wb");
    if (out == nullptr) {
      const int cause = errno;
      return Failure("dump", output + ": cannot be created" +
                                 (cause != 0 ? std::string(": ") + SystemErrorText(cause) : std::string()));
    }
  }
  // The cause is read before anything else can change errno.
  auto cannotWrite = [&]() {
    const int cause = errno;
    return (output.empty() ? std::string("stdout") : output) + ": cannot be written" +
           (cause != 0 ? std::string(": ") + SystemErrorText(cause) : std::string());
  };
  auto fail = [&](const std::string& message) {
    if (out != stdout) {
      fclose(out);
      remove(output.c_str());
    }
    return Failure("dump", message);
  };

  const bool divided = image.layout == LayoutDivided;
  std::string text = "# fixpack book text: low high, then code:aux:data for each move (hexadecimal)\n";
  text += divided ? "# divided book of 64 divisions\n" : "# single book\n";
  Progress progress("dump " + path, "divisions", static_cast<uint64_t>(BookBodyCount(image)));
  for (int32_t body = 0; body < BookBodyCount(image); ++body) {
    JosekiTablePtr table = LoadBookBody(image, body, &error);
    if (!table) return fail(path + ": " + error);
    AppendBodyLine(&text, divided ? body : -1, table->bucketCount);
    for (int32_t b = 0; b < table->bucketCount; ++b) {
      for (const JosekiNode* node = table->buckets[b]; node != nullptr; node = node->next) {
        AppendPositionLine(&text, *node);
        if (text.size() >= (1u << 20)) {
          errno = 0;
          if (!WriteBookText(out, text)) return fail(cannotWrite());
          text.clear();
        }
      }
    }
    progress.Update(static_cast<uint64_t>(body) + 1);
  }
  errno = 0;
  if (!WriteBookText(out, text) || fflush(out) != 0 || ferror(out) != 0) return fail(cannotWrite());
  if (out != stdout && fclose(out) != 0) {
    const std::string message = cannotWrite();
    remove(output.c_str());
    return Failure("dump", message);
  }
  return ExitOk;
}
