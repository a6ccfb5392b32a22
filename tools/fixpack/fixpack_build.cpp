// fixpack build: makes an update data file from a manifest, and writes it
// only once the updater's own applier has shown, in memory, that it turns
// every old book into its new book and writes every file.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fixpack/command_line.h"
#include "fixpack/file_bytes.h"
#include "fixpack/file_identity.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/progress.h"
#include "fixpack/terminal_text.h"
#include "package/update_package.h"
#include "publish/book_file_diff.h"
#include "publish/book_image.h"
#include "publish/build_manifest.h"
#include "publish/package_check.h"
#include "publish/package_writer.h"

const char BuildHelp[] =
    "usage: fixpack build MANIFEST -o DATAFILE [--threads N]\n\n"
    "Makes the update data file DATAFILE (upda.dat and the like) from\n"
    "MANIFEST, one entry a line, applied in that order:\n"
    "  book    OLDNAME NEWNAME OLDBOOK NEWBOOK   merge a diff into a single book\n"
    "  divided OLDNAME NEWNAME OLDBOOK NEWBOOK   the same for a divided book\n"
    "  file    OLDNAME NEWNAME SOURCE            write SOURCE's bytes afresh\n"
    "NEWNAME is the file in the install folder; the updater keeps its present\n"
    "content under OLDNAME. Names use \\ or / for subfolders and are taken\n"
    "byte for byte (write the manifest in code page 932 for names beyond\n"
    "ASCII); a word with spaces goes in double quotes; # starts a comment.\n"
    "OLDBOOK, NEWBOOK and SOURCE are files here, relative to the manifest.\n"
    "A book entry carries the smallest diff from OLDBOOK to NEWBOOK (see\n"
    "`fixpack diff`).\n\n"
    "Before writing, the package is applied in memory with the updater's own\n"
    "code to a folder holding each OLDBOOK under its NEWNAME; DATAFILE is\n"
    "written only when every NEWNAME then holds its NEWBOOK (same positions\n"
    "and moves after the merge's sort) or its SOURCE, and every OLDNAME the\n"
    "old book. The written file is read back with the updater's reader. The\n"
    "same manifest and files always give the same bytes.\n\n"
    "options:\n"
    "  -o, --output DATAFILE  the update data file to write (required)\n" FIXPACK_THREADS_HELP
    "\n"
    "Prints the entries it wrote. Exit status: 0 when written, 1 when refused\n"
    "(the manifest line, the file and the cause are named; nothing is\n"
    "written), 2 for a usage error.\n";

namespace {

bool IsUpdaterDataFileName(const std::string& name) {
  if (name.size() != 8) return false;
  std::string lower = name;
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return lower.compare(0, 3, "upd") == 0 && lower[3] >= 'a' && lower[3] <= 'd' && lower.compare(4, 4, ".dat") == 0;
}

// The files behind one manifest entry, held for the check.
struct EntryFiles {
  BookImage oldBook;
  BookImage newBook;
  std::vector<uint8_t> content;
  DiffCounts counts;
};

bool AddEntry(const ManifestEntry& entry, EntryFiles* files, std::vector<uint8_t>* script,
              std::string* error) {
  if (entry.kind == KindFile) {
    if (!ReadFileBytes(entry.source, &files->content, error)) return false;
    if (!AppendFileEntry(script, entry.oldName, entry.newName, files->content)) {
      *error = entry.source + ": larger than a package can carry";
      return false;
    }
    return true;
  }
  if (!ReadBookImage(entry.oldBook, &files->oldBook, error) ||
      !ReadBookImage(entry.newBook, &files->newBook, error)) {
    return false;
  }
  const BookLayout layout = entry.kind == KindDividedBook ? LayoutDivided : LayoutSingle;
  for (const BookImage* book : {&files->oldBook, &files->newBook}) {
    if (book->layout != layout) {
      *error = (book == &files->oldBook ? entry.oldBook : entry.newBook) + " is " +
               (layout == LayoutDivided ? "a single book, but the entry says divided"
                                        : "a divided book, but the entry says book");
      return false;
    }
  }
  AppendEntryHead(script, entry.kind, entry.oldName, entry.newName);
  Progress progress("build: diff " + entry.newBook, "divisions",
                    static_cast<uint64_t>(BookBodyCount(files->oldBook)));
  return DiffBookFiles(files->oldBook, entry.oldBook, files->newBook, entry.newBook, script, &files->counts,
                       nullptr, Progress::Report, &progress, error);
}

void PrintEntry(size_t index, const ManifestEntry& entry, const EntryFiles& files) {
  const char* kind = entry.kind == KindBook ? "book" : entry.kind == KindDividedBook ? "divided" : "file";
  Say(stdout, "  %zu %-7s %s -> %s: ", index, kind, entry.oldName.c_str(), entry.newName.c_str());
  if (entry.kind == KindFile) {
    Say(stdout, "%s\n", Counted(files.content.size(), "byte").c_str());
  } else {
    Say(stdout, "%s, %s, %s\n", Counted(files.counts.groups, "group").c_str(),
        Counted(files.counts.puts, "put").c_str(), Counted(files.counts.deletes, "delete").c_str());
  }
}

}  // namespace

int RunBuild(int argc, char** argv) {
  CommandArguments arguments;
  std::string error;
  int32_t threads = 1;
  if (!ParseArguments(argc, argv, {OutputOption, ThreadsOption}, &arguments, &error) ||
      !TakeThreadsOption(arguments, &threads, &error)) {
    return UsageError("build", error, BuildHelp);
  }
  if (arguments.positional.size() != 1) return UsageError("build", "give one MANIFEST", BuildHelp);
  if (!arguments.Has("-o"))
    return UsageError("build", "give the data file to write with -o DATAFILE", BuildHelp);
  const std::string manifestPath = arguments.positional[0];
  const std::string output = arguments.Value("-o");
  const std::string outputFolder = FolderOf(output);
  if (!outputFolder.empty() && !IsFolder(outputFolder))
    return Failure("build", outputFolder.substr(0, outputFolder.size() - 1) + ": no such folder");

  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(manifestPath, &bytes, &error)) return Failure("build", error);
  std::vector<ManifestEntry> entries;
  if (!ParseManifest(std::string(bytes.begin(), bytes.end()), FolderOf(manifestPath), &entries, &error)) {
    return Failure("build", manifestPath + ":" + error);
  }
  // The data file, and the file it is first written to, may be none of the
  // files it is made from.
  std::vector<CommandInput> inputs = {{manifestPath, "the manifest"}};
  for (const ManifestEntry& entry : entries) {
    const std::string line = manifestPath + ":" + std::to_string(entry.line) + ": ";
    if (entry.kind == KindFile) {
      inputs.push_back({entry.source, line + "SOURCE"});
    } else {
      inputs.push_back({entry.oldBook, line + "OLDBOOK"});
      inputs.push_back({entry.newBook, line + "NEWBOOK"});
    }
  }
  for (const std::string& written : {output, output + ".part"}) {
    if (OutputIsInput(written, inputs, &error)) return Failure("build", error);
  }

  std::vector<uint8_t> script;
  std::vector<std::unique_ptr<EntryFiles>> files;
  std::vector<PlannedEntry> plan;
  for (const ManifestEntry& entry : entries) {
    const std::string label = manifestPath + ":" + std::to_string(entry.line);
    files.push_back(std::make_unique<EntryFiles>());
    if (!AddEntry(entry, files.back().get(), &script, &error)) return Failure("build", label + ": " + error);
    if (script.size() > MaxScriptSize) {
      return Failure("build", label + ": the package script passes the " + std::to_string(MaxScriptSize) +
                                  " bytes the updater accepts");
    }
    PlannedEntry planned;
    planned.kind = entry.kind;
    planned.oldName = entry.oldName;
    planned.newName = entry.newName;
    planned.oldBook = &files.back()->oldBook;
    planned.newBook = &files.back()->newBook;
    planned.content = &files.back()->content;
    planned.label = label;
    plan.push_back(planned);
  }

  if (!CheckPackage(script, plan, &error, threads)) return Failure("build", "refused: " + error);
  for (size_t i = 0; i < entries.size(); ++i) {
    if (entries[i].kind != KindFile && files[i]->counts.groups == 0) {
      Say(stderr, "fixpack build: warning: %s:%u: OLDBOOK and NEWBOOK hold the same positions and moves; the entry only repacks the book\n",
          manifestPath.c_str(), entries[i].line);
    }
  }

  std::vector<uint8_t> dataFile;
  if (!MakeUpdateDataFile(script, &dataFile, threads))
    return Failure("build", output + ": the script cannot be packed");
  // The file is written beside its place and read back with the updater's
  // own reader before it takes the name.
  const std::string part = output + ".part";
  if (!WriteFileBytes(part, dataFile, &error)) return Failure("build", error);
  std::vector<uint8_t> readBack;
  const char* cause = "";
  if (ReadUpdatePackage(part.c_str(), &readBack, &cause) != 0 || readBack != script) {
    remove(part.c_str());
    return Failure("build", part + ": the written file does not read back as its script: " + cause);
  }
  if (!ReplaceFile(part, output, &error)) {
    remove(part.c_str());
    return Failure("build", error);
  }

  Say(stdout, "%s: %s, script %s packed to %zu; applied in memory and checked\n", output.c_str(),
      Counted(entries.size(), "entry", "entries").c_str(), Counted(script.size(), "byte").c_str(), dataFile.size());
  for (size_t i = 0; i < entries.size(); ++i) PrintEntry(i + 1, entries[i], *files[i]);
  if (!IsUpdaterDataFileName(output.substr(FolderOf(output).size()))) {
    Say(stderr, "fixpack build: warning: the updater reads only upda.dat, updb.dat, updc.dat and updd.dat; ship %s under one of those names\n",
        output.c_str());
  }
  return ExitOk;
}
