// fixpack: the companion command line of the fix module, for people who make
// and check update packages.
#include <cstdio>
#include <cstring>
#include <new>

#include "fixpack/command_line.h"
#include "fixpack/fixpack_commands.h"
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
      "       fixpack COMMAND --help\n"
      "       fixpack --version\n\n"
      "The companion command line of the fix module: it makes, checks and\n"
      "applies update packages with the same code that the updater runs.\n"
      "Every command exits with 0 when it did what was asked, 1 when it\n"
      "could not or refused, 2 for a usage error.\n\n"
      "commands:\n",
      out);
  for (const Command& command : Commands) fprintf(out, "  %-8s %s\n", command.name, command.summary);
}

}  // namespace

int RunFixpack(int argc, char** argv) {
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  if (IsHelp(argv[1])) {
    PrintUsage(stdout);
    return 0;
  }
  if (strcmp(argv[1], "--version") == 0) {
    puts("fixpack " FIX_VERSION_TEXT);
    return 0;
  }
  for (const Command& command : Commands) {
    if (strcmp(argv[1], command.name) != 0) continue;
    for (int i = 2; i < argc; ++i) {
      if (IsHelp(argv[i])) {
        fputs(command.help, stdout);
        return 0;
      }
    }
    // A command whose allocation throws for want of memory says so and
    // fails, rather than ending the program without a word. (apply turns
    // every such failure into its own result before it gets here.)
    try {
      return command.run(argc - 2, argv + 2);
    } catch (const std::bad_alloc&) {
      fprintf(stderr, "fixpack %s: not enough memory\n", command.name);
      return ExitFailed;
    }
  }
  fprintf(stderr, "fixpack: unknown command '%s'\n\n", argv[1]);
  PrintUsage(stderr);
  return 2;
}
