// fixpack inspect: describes what a book or update data file holds, in figures.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "book/book_body.h"
#include "book/book_format.h"
#include "book/divided_book.h"
#include "fixpack/command_line.h"
#include "fixpack/file_bytes.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/progress.h"
#include "fixpack/terminal_text.h"
#include "package/update_package.h"
#include "publish/book_image.h"
#include "publish/file_check.h"
#include "publish/package_script.h"
#include "publish/packed_block.h"

const char InspectHelp[] =
    "usage: fixpack inspect FILE [--as single|divided|data]\n\n"
    "Tells what FILE is and what it holds. For a single or divided book: its\n"
    "sizes and compression ratio, bucket, position and move counts (per\n"
    "division for a divided book), the longest chain, and a histogram of\n"
    "moves per position. For an update data file: the sizes of its script\n"
    "and its entries in order, each with its kind, names and payload size, a\n"
    "book entry with its groups, puts and deletes, a file entry with its\n"
    "length. What FILE is comes from its magic, unless --as says otherwise.\n\n"
    "Exit status: 0 when FILE could be read through, 1 when it is damaged\n"
    "(what could be read is shown, then the cause; `fixpack verify` names\n"
    "every fault), 2 for a usage error.\n";

namespace {

// Moves per position in bins 1, 2, 3-4, 5-8, ... 129-255.
constexpr int BinCount = 9;

int BinOf(int32_t moves) {
  int bin = 0;
  while (bin < BinCount - 1 && moves > (1 << bin)) ++bin;
  return bin;
}

std::string Ratio(uint64_t packed, uint64_t raw) {
  if (raw == 0) return "-";
  const uint64_t perMille = (packed * 1000 + raw / 2) / raw;
  return std::to_string(perMille / 10) + "." + std::to_string(perMille % 10) + "%";
}

struct BodyFigures {
  uint64_t buckets = 0, positions = 0, moves = 0, emptyBuckets = 0, longestChain = 0;
  uint64_t packed = 0, raw = 0;
  uint64_t bins[BinCount] = {};

  void Add(const BodyFigures& other) {
    buckets += other.buckets;
    positions += other.positions;
    moves += other.moves;
    emptyBuckets += other.emptyBuckets;
    if (other.longestChain > longestChain) longestChain = other.longestChain;
    packed += other.packed;
    raw += other.raw;
    for (int i = 0; i < BinCount; ++i) bins[i] += other.bins[i];
  }
};

BodyFigures Measure(const JosekiTable& table, const uint8_t* block) {
  BodyFigures figures;
  figures.packed = LoadU32(block);
  figures.raw = LoadU32(block + 4);
  figures.buckets = static_cast<uint64_t>(table.bucketCount);
  for (int32_t b = 0; b < table.bucketCount; ++b) {
    uint64_t chain = 0;
    for (const JosekiNode* node = table.buckets[b]; node != nullptr; node = node->next) {
      ++chain;
      ++figures.bins[BinOf(node->moveCount)];
      figures.moves += static_cast<uint64_t>(node->moveCount);
    }
    figures.positions += chain;
    if (chain == 0) ++figures.emptyBuckets;
    if (chain > figures.longestChain) figures.longestChain = chain;
  }
  return figures;
}

void PrintHistogram(const BodyFigures& figures) {
  int last = -1;
  for (int i = 0; i < BinCount; ++i) {
    if (figures.bins[i] != 0) last = i;
  }
  if (last < 0) return;
  Say(stdout, "  moves per position:\n");
  for (int i = 0; i <= last; ++i) {
    const int low = i == 0 ? 1 : (1 << (i - 1)) + 1;
    const int high = i == BinCount - 1 ? 255 : 1 << i;
    const std::string range =
        low == high ? std::to_string(low) : std::to_string(low) + "-" + std::to_string(high);
    Say(stdout, "    %-8s %12llu\n", range.c_str(), static_cast<unsigned long long>(figures.bins[i]));
  }
}

int InspectBook(const std::string& path, std::vector<uint8_t> bytes) {
  BookImage image;
  std::string error;
  const size_t size = bytes.size();
  if (!ParseBookImage(std::move(bytes), &image, &error)) return Failure("inspect", path + ": " + error);
  const bool divided = image.layout == LayoutDivided;
  Say(stdout, "%s: %s, %zu bytes\n", path.c_str(), divided ? "divided book of 64 divisions" : "single book", size);
  if (divided) {
    Say(stdout, "  %8s %10s %10s %10s %6s %8s %10s %10s\n", "division", "offset", "packed", "raw", "ratio",
           "buckets", "positions", "moves");
  }
  BodyFigures total;
  Progress progress("inspect " + path, "divisions", static_cast<uint64_t>(BookBodyCount(image)));
  for (int32_t body = 0; body < BookBodyCount(image); ++body) {
    JosekiTablePtr table = LoadBookBody(image, body, &error);
    if (!table) return Failure("inspect", path + ": " + error + " (fixpack verify names every fault)");
    const uint32_t offset = BookBodyOffset(image, body);
    const BodyFigures figures = Measure(*table, image.bytes.data() + offset);
    if (divided) {
      Say(stdout, "  %8d %10u %10llu %10llu %6s %8llu %10llu %10llu\n", body, offset,
             static_cast<unsigned long long>(figures.packed), static_cast<unsigned long long>(figures.raw),
             Ratio(figures.packed, figures.raw).c_str(), static_cast<unsigned long long>(figures.buckets),
             static_cast<unsigned long long>(figures.positions),
             static_cast<unsigned long long>(figures.moves));
    }
    total.Add(figures);
    progress.Update(static_cast<uint64_t>(body) + 1);
  }
  Say(stdout, "  packed %llu bytes, raw %llu bytes (%s)\n", static_cast<unsigned long long>(total.packed),
         static_cast<unsigned long long>(total.raw), Ratio(total.packed, total.raw).c_str());
  Say(stdout, "  buckets %llu (%llu empty, longest chain %llu), positions %llu, moves %llu\n",
         static_cast<unsigned long long>(total.buckets), static_cast<unsigned long long>(total.emptyBuckets),
         static_cast<unsigned long long>(total.longestChain),
         static_cast<unsigned long long>(total.positions), static_cast<unsigned long long>(total.moves));
  PrintHistogram(total);
  return ExitOk;
}

std::string ListFigures(const std::vector<ScriptList>& lists) {
  DiffCounts counts;
  size_t changed = 0;
  for (const ScriptList& list : lists) {
    counts += list.counts;
    if (list.counts.groups != 0) ++changed;
  }
  std::string text;
  if (lists.size() > 1) text += Counted(lists.size(), "list") + " (" + std::to_string(changed) + " with groups), ";
  return text + Counted(counts.groups, "group") + ", " + Counted(counts.puts, "put") + ", " +
         Counted(counts.deletes, "delete");
}

int InspectDataFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> script;
  const BlockCheck check = UnpackBlock(bytes.data(), bytes.size(), &script);
  Say(stdout, "%s: update data file, %zu bytes\n", path.c_str(), bytes.size());
  if (!BlockUsable(check)) {
    return Failure("inspect",
                   path + ": not a book, and its envelope is damaged: " + DescribeBlock(check, bytes.size()));
  }
  Say(stdout, "  script: packed %u bytes, raw %u bytes (%s)\n", check.packedSize, check.rawSize,
         Ratio(check.packedSize, check.rawSize).c_str());
  const ScriptWalk walk = WalkScript(script.data(), static_cast<uint32_t>(script.size()));
  Say(stdout, "  %s:\n", Counted(walk.entries.size(), "entry", "entries").c_str());
  for (size_t i = 0; i < walk.entries.size(); ++i) {
    const ScriptEntry& entry = walk.entries[i];
    const char* kind = entry.kind == KindBook ? "book" : entry.kind == KindDividedBook ? "divided" : "file";
    Say(stdout, "    %zu %-7s %s -> %s: payload %u bytes", i + 1, kind, entry.oldName.c_str(),
           entry.newName.c_str(), entry.payloadSize);
    if (entry.kind == KindFile) {
      Say(stdout, ", content %u bytes\n", entry.fileSize);
    } else {
      Say(stdout, ", %s\n", ListFigures(entry.lists).c_str());
    }
  }
  if (walk.problems.empty()) return ExitOk;
  const ScriptProblem& first = walk.problems.front();
  return Failure("inspect", path + ": script offset " + std::to_string(first.offset) + ": " + first.text +
                                " (fixpack verify names every fault)");
}

}  // namespace

int RunInspect(int argc, char** argv) {
  CommandArguments arguments;
  std::string error;
  if (!ParseArguments(argc, argv, {{"--as", true}}, &arguments, &error))
    return UsageError("inspect", error, InspectHelp);
  std::string path;
  std::vector<uint8_t> bytes;
  FileKind kind = FileDataFile;
  if (const int status = ReadFileOperand("inspect", arguments, InspectHelp, &path, &bytes, &kind))
    return status;
  if (kind == FileDataFile && !arguments.Has("--as")) {
    if (const int status = RefuseNeitherKind("inspect", path, bytes)) return status;
  }
  if (kind == FileDataFile) return InspectDataFile(path, bytes);
  // A book read --as the other layout is read by the layout asked for.
  if (bytes.size() >= 8 && kind != DetectFileKind(bytes)) {
    memcpy(bytes.data(), kind == FileDividedBook ? DividedBookMagic : BookFileMagic, 8);
  }
  return InspectBook(path, std::move(bytes));
}
