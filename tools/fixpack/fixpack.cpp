// fixpack: the companion command line of the fix module, for people who make
// and check update packages.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fixpack/command_line.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/terminal_text.h"
#include "generated/fix_version.h"

namespace {

struct Command {
  const char* name;
  const char* summary;
  const char* help;
  int (*run)(int argc, char** argv);
};

const Command Commands[] = {
    {"apply", "apply an update data file to a folder, as the updater does", ApplyHelp, RunApply},
    {"build", "make an update data file from a manifest, checked before writing", BuildHelp, RunBuild},
    {"diff", "the smallest diff that turns one book into another", DiffHelp, RunDiff},
    {"inspect", "what a book or update data file holds", InspectHelp, RunInspect},
    {"verify", "check every invariant of a book or update data file", VerifyHelp, RunVerify},
    {"dump", "a book as text, one position a line", DumpHelp, RunDump},
    {"pack", "a book from its text form", PackHelp, RunPack},
};

bool IsHelp(const char* argument) { return strcmp(argument, "--help") == 0 || strcmp(argument, "-h") == 0; }

void PrintUsage(FILE* out) {
  fputs(
      "usage: fixpack COMMAND [ARGUMENTS...]\n"
      "       fixpack COMMAND --help   (or fixpack help COMMAND)\n"
      "       fixpack --version\n\n"
      "The companion command line of the fix module: it makes, checks and\n"
      "applies update packages with the same code that the updater runs.\n"
      "Every command exits with 0 when it did what was asked, 1 when it\n"
      "could not or refused, 2 for a usage error. Options go before or after\n"
      "the operands, their values behind them or joined (-ox.dat,\n"
      "--threads=4); -- ends the options.\n\n"
      "commands:\n",
      out);
  for (const Command& command : Commands) fprintf(out, "  %-8s %s\n", command.name, command.summary);
}

// The edits that turn one word into the other, a swap of two neighbours
// counting as one ("biuld" is one from "build").
size_t Distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  }
  return d[a.size()][b.size()];
}

const Command* FindCommand(const char* name) {
  for (const Command& command : Commands) {
    if (strcmp(name, command.name) == 0) return &command;
  }
  return nullptr;
}

// An unknown command, with the nearest one when it is near enough to be
// what was meant.
int UnknownCommand(const char* name) {
  const Command* nearest = nullptr;
  size_t best = 3;
  for (const Command& command : Commands) {
    const size_t distance = Distance(name, command.name);
    if (distance < best) {
      best = distance;
      nearest = &command;
    }
  }
  std::string message = std::string("fixpack: '") + name + "' is not a command";
  if (nearest != nullptr) message += std::string("; did you mean '") + nearest->name + "'?";
  Say(stderr, "%s\nusage: fixpack COMMAND [ARGUMENTS...]\nRun `fixpack --help` for the commands.\n",
      message.c_str());
  return ExitUsage;
}

}  // namespace

int RunFixpack(int argc, char** argv) {
  if (argc < 2) {
    Say(stderr, "fixpack: give a command\nusage: fixpack COMMAND [ARGUMENTS...]\nRun `fixpack --help` for the commands.\n");
    return ExitUsage;
  }
  if (IsHelp(argv[1]) || (strcmp(argv[1], "help") == 0 && argc == 2)) {
    PrintUsage(stdout);
    return ExitOk;
  }
  if (strcmp(argv[1], "--version") == 0) {
    puts("fixpack " FIX_VERSION_TEXT);
    return ExitOk;
  }
  if (strcmp(argv[1], "help") == 0) {
    const Command* command = FindCommand(argv[2]);
    if (command == nullptr) return UnknownCommand(argv[2]);
    fputs(command->help, stdout);
    return ExitOk;
  }
  const Command* command = FindCommand(argv[1]);
  if (command == nullptr) return UnknownCommand(argv[1]);
  for (int i = 2; i < argc && strcmp(argv[i], "--") != 0; ++i) {
    if (IsHelp(argv[i])) {
      fputs(command->help, stdout);
      return ExitOk;
    }
  }
  // A command whose allocation throws for want of memory says so and
  // fails, rather than ending the program without a word. (apply turns
  // every failure of its package step into its own result.)
  try {
    return command->run(argc - 2, argv + 2);
  } catch (const std::bad_alloc&) {
    Say(stderr, "fixpack %s: not enough memory\n", command->name);
    return ExitFailed;
  }
}
