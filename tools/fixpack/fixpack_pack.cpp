// fixpack pack: makes a book file from its text form, exactly as the
// updater would write a book holding those positions.
#include <cstdio>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>
#include <utility>

#include "book/book_format.h"
#include "book/divided_book.h"
#include "book/parallel_deflate.h"
#include "fixpack/command_line.h"
#include "fixpack/file_bytes.h"
#include "fixpack/file_identity.h"
#include "fixpack/fixpack_commands.h"
#include "fixpack/progress.h"
#include "fixpack/terminal_text.h"
#include "publish/book_image.h"
#include "publish/book_text.h"
#include "thread/ordered_work.h"

const char PackHelp[] =
    "usage: fixpack pack TEXT -o FILE [--buckets B] [--divided] [--threads N]\n\n"
    "Makes the book FILE from its text form TEXT (the form `fixpack dump`\n"
    "writes), laid out exactly as the updater writes a book: each position's\n"
    "moves sorted by code, every body packed with zlib at its default level.\n"
    "The same text always gives the same bytes, and packing the dump of a\n"
    "sorted book gives that book back byte for byte.\n\n"
    "The text, one position a line (# starts a comment):\n"
    "  buckets 1021                        bucket count of a single book\n"
    "  division 0 buckets 1021             starts a division of a divided book\n"
    "  00000040 00000000 0005:0001:00000007 0009:0000:00000000\n"
    "A position line is the key's low and high words, then 1 to 255 moves as\n"
    "code:aux:data, all hexadecimal. A text with division lines makes a\n"
    "divided book; divisions it leaves out are empty.\n\n"
    "options:\n"
    "  -o, --output FILE  the book to write (required)\n"
    "  --buckets B   the bucket count of every body whose count the text does\n"
    "                not give (default 1021)\n"
    "  --divided     make a divided book from a text without division lines:\n"
    "                a position goes to the division given by the top six bits\n"
    "                of its high word\n" FIXPACK_THREADS_HELP
    "\n"
    "Prints one line about the book written. Exit status: 0 when written,\n"
    "1 when the text is not a book (its line and the cause are named), 2 for\n"
    "a usage error.\n";

namespace {

// The bodies of a book built from their text and packed, several at once,
// and taken in body order. The progress counts the divisions of a divided
// book, the bytes packed of a single body.
class BodyPacking : public OrderedWork {
 public:
  struct Failure {
    size_t body = 0;
    bool isText = false;  // the text is at fault, not the packing
    std::string error;
  };

  BodyPacking(BookText* book, uint32_t defaultBuckets, std::vector<std::vector<uint8_t>>* blocks,
              Progress* progress)
      : book_(book),
        single_(book->bodies.size() == 1),
        defaultBuckets_(defaultBuckets),
        blocks_(blocks),
        progress_(progress) {}

  void Start(uint32_t members, int32_t threads) {
    slots_.reset(new Slot[OrderedWorkSlots(members)]);
    threads_ = threads;
  }

  bool Prepare(uint32_t, uint32_t) override { return true; }

  // On any thread: nothing may be thrown from here, so a want of memory is
  // noted and thrown again on the caller's thread.
  void Do(uint32_t k, uint32_t at) override {
    Slot& slot = slots_[at];
    slot = Slot();
    try {
      TextBody& body = book_->bodies[k];
      JosekiTablePtr table = BuildTextBody(&body, body.bucketCount != 0 ? body.bucketCount : defaultBuckets_,
                                           &slot.failure.error);
      if (!table) {
        slot.failure.isText = true;
        return;
      }
      body.moves.clear();
      body.moves.shrink_to_fit();
      slot.positions = static_cast<uint64_t>(table->nodeCount);
      slot.moves = static_cast<uint64_t>(table->moveCount);
      // A single body is the only item, done on the caller's thread, where
      // the packer tells its progress.
      const PackProgress bytes{Progress::ReportBytes, progress_};
      slot.packed = PackBookBody(std::move(table), &(*blocks_)[k], &slot.failure.error, threads_,
                                 single_ ? &bytes : nullptr);
    } catch (const std::bad_alloc&) {
      slot.outOfMemory = true;
    }
  }

  bool Take(uint32_t k, uint32_t at) override {
    Slot& slot = slots_[at];
    if (slot.outOfMemory) return false;
    if (!slot.packed) {
      failure_ = slot.failure;
      failure_.body = k;
      return false;
    }
    positions_ += slot.positions;
    moves_ += slot.moves;
    if (!single_) progress_->Update(k + 1);
    return true;
  }

  const Failure& Failed() const { return failure_; }
  uint64_t Positions() const { return positions_; }
  uint64_t Moves() const { return moves_; }

 private:
  struct Slot {
    bool packed = false;
    bool outOfMemory = false;
    Failure failure;
    uint64_t positions = 0;
    uint64_t moves = 0;
  };

  BookText* book_;
  bool single_;
  uint32_t defaultBuckets_;
  std::vector<std::vector<uint8_t>>* blocks_;
  Progress* progress_;
  std::unique_ptr<Slot[]> slots_;
  int32_t threads_ = 0;
  Failure failure_;  // of the first body that failed; no error when memory ran out
  uint64_t positions_ = 0, moves_ = 0;
};

}  // namespace

int RunPack(int argc, char** argv) {
  CommandArguments arguments;
  std::string error;
  int32_t threads = 1;
  if (!ParseArguments(argc, argv, {OutputOption, {"--buckets", true}, {"--divided", false}, ThreadsOption},
                      &arguments, &error) ||
      !TakeThreadsOption(arguments, &threads, &error)) {
    return UsageError("pack", error, PackHelp);
  }
  if (arguments.positional.size() != 1) return UsageError("pack", "give one TEXT", PackHelp);
  if (!arguments.Has("-o")) return UsageError("pack", "give the book to write with -o FILE", PackHelp);
  uint32_t optionBuckets = 0;
  if (arguments.Has("--buckets") &&
      !ParseCount(arguments.Value("--buckets"), 1, MaxTextBuckets, &optionBuckets)) {
    return UsageError("pack", "--buckets takes a count from 1 to " + std::to_string(MaxTextBuckets),
                      PackHelp);
  }
  const std::string textPath = arguments.positional[0];
  const std::string output = arguments.Value("-o");
  if (OutputIsInput(output, {{textPath, "the text"}}, &error)) return Failure("pack", error);

  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(textPath, &bytes, &error)) return Failure("pack", error);
  BookText book;
  if (!ParseBookText(std::string(bytes.begin(), bytes.end()), &book, &error)) {
    return Failure("pack", textPath + ":" + error);
  }
  bytes.clear();
  bytes.shrink_to_fit();
  // Such positions pack and load, but no diff can name them: a later
  // release that changes one cannot be built.
  std::set<uint32_t> unnamable;  // the lines of such positions
  for (const TextBody& body : book.bodies) {
    for (const TextMove& move : body.moves) {
      if (IsListEnd(move.key.low)) unnamable.insert(move.line);
    }
  }
  if (!unnamable.empty()) {
    Say(stderr,
        "fixpack pack: warning: %s:%u: a low word below 64 or 0xFFFFFFFF (%s): no diff can name such a "
        "position, so diff and build refuse to change it in a later release\n",
        textPath.c_str(), *unnamable.begin(), Counted(unnamable.size(), "position").c_str());
  }
  if (optionBuckets != 0 && book.bucketCount != 0 && optionBuckets != book.bucketCount) {
    return Failure("pack", textPath + ":" + std::to_string(book.bucketsLine) + ": the text gives " +
                               std::to_string(book.bucketCount) + " buckets, --buckets " +
                               std::to_string(optionBuckets));
  }
  const uint32_t defaultBuckets = book.bucketCount != 0 ? book.bucketCount
                                  : optionBuckets != 0  ? optionBuckets
                                                        : DefaultBucketCount;
  if (arguments.Has("--divided") && !book.divided) SpreadOverDivisions(&book);
  const bool divided = book.bodies.size() == static_cast<size_t>(DivisionCount);

  std::vector<std::vector<uint8_t>> blocks(book.bodies.size());
  Progress progress =
      divided ? Progress("pack " + output, "divisions", DivisionCount) : Progress("pack " + output);
  BodyPacking packing(&book, defaultBuckets, &blocks, &progress);
  // A single body is packed on every thread; divisions, each on one, are
  // packed several at once.
  const uint32_t members = divided ? static_cast<uint32_t>(PackThreads(threads)) : 1;
  packing.Start(members, divided ? 1 : threads);
  if (!RunOrderedWork(&packing, static_cast<uint32_t>(book.bodies.size()), members)) {
    // Without a cause, memory ran out: on a thread, or for the threads.
    const BodyPacking::Failure& failure = packing.Failed();
    if (failure.error.empty()) return Failure("pack", "not enough memory");
    if (failure.isText) return Failure("pack", textPath + ":" + failure.error);
    const std::string division = divided ? ": division " + std::to_string(failure.body) : std::string();
    return Failure("pack", output + division + ": " + failure.error);
  }
  const uint64_t positions = packing.Positions(), moves = packing.Moves();

  std::vector<uint8_t> file;
  if (divided) {
    if (!DividedBookBytes(blocks, &file)) return Failure("pack", output + ": the book would pass 2 GiB");
  } else {
    file = SingleBookBytes(blocks[0]);
  }
  blocks.clear();
  if (!WriteFileBytes(output, file, &error)) return Failure("pack", error);
  Say(stdout, "%s: %s, %s, %s, %s\n", output.c_str(), divided ? "divided book of 64 divisions" : "single book",
      Counted(positions, "position").c_str(), Counted(moves, "move").c_str(), Counted(file.size(), "byte").c_str());
  return ExitOk;
}
