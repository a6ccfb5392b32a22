#include "publish/file_check.h"

#include "package/update_package.h"
#include "publish/book_check.h"
#include "publish/book_image.h"
#include "publish/findings.h"
#include "publish/package_script.h"
#include "publish/packed_block.h"

FileKind DetectFileKind(const std::vector<uint8_t>& bytes) {
  BookLayout layout;
  if (!BookLayoutOfMagic(bytes, &layout)) return FileDataFile;
  return layout == LayoutDivided ? FileDividedBook : FileSingleBook;
}

const char* FileKindName(FileKind kind) {
  switch (kind) {
    case FileSingleBook:
      return "single book";
    case FileDividedBook:
      return "divided book";
    case FileDataFile:
      return "update data file";
  }
  return "file";
}

bool ParseFileKind(const std::string& word, FileKind* kind) {
  if (word == "single") {
    *kind = FileSingleBook;
  } else if (word == "divided") {
    *kind = FileDividedBook;
  } else if (word == "data") {
    *kind = FileDataFile;
  } else {
    return false;
  }
  return true;
}

void CheckDataFile(const std::vector<uint8_t>& file, Findings* findings) {
  std::vector<uint8_t> script;
  const BlockCheck check = UnpackBlock(file.data(), file.size(), &script);
  if (check.fault != BlockSound) findings->Violation("the envelope", DescribeBlock(check, file.size()));
  if (check.fault != BlockShortHeader && check.fault != BlockPastEnd &&
      8 + uint64_t{check.packedSize} < file.size()) {
    findings->Violation("offset " + std::to_string(8 + uint64_t{check.packedSize}),
                        std::to_string(file.size() - 8 - check.packedSize) +
                            " bytes stand after the packed script; the updater never reads them");
  }
  if (check.rawSize > MaxScriptSize) {
    findings->Violation("the envelope", "rawSize " + std::to_string(check.rawSize) +
                                            " is larger than the updater accepts (" +
                                            std::to_string(MaxScriptSize) + ")");
  }
  if (!BlockUsable(check)) return;
  const ScriptWalk walk = WalkScript(script.data(), static_cast<uint32_t>(script.size()));
  for (const ScriptProblem& problem : walk.problems) {
    std::string place = "script offset " + std::to_string(problem.offset);
    if (problem.entry > 0) place += ", entry " + std::to_string(problem.entry);
    findings->Violation(place, problem.text);
  }
  if (walk.entries.empty() && walk.problems.empty()) findings->Warning("the script", "it holds no entries");
}

void CheckFile(const std::vector<uint8_t>& file, FileKind kind, Findings* findings,
               void (*progress)(int32_t, void*), void* context) {
  switch (kind) {
    case FileSingleBook:
      CheckSingleBook(file, findings);
      break;
    case FileDividedBook:
      CheckDividedBook(file, findings, progress, context);
      break;
    case FileDataFile:
      CheckDataFile(file, findings);
      break;
  }
}
