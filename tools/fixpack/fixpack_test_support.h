// Helpers for the fixpack tests: running a command as the program does,
// random books in text form, and raw bodies laid out exactly as given (for
// books the tools must find fault with).
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "book/book_format.h"
#include "book/joseki_table.h"
#include "fixpack/fixpack_commands.h"
#include "publish/book_text.h"
#include "publish/packed_block.h"
#include "testing/package_builder.h"
#include "testing/raw_body.h"

namespace fixpack_test {

using namespace package_test;

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

// Runs a command with the arguments behind its name, capturing what it
// prints.
inline Outcome RunTool(int (*command)(int, char**), std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  const int status = command(static_cast<int>(argv.size()), argv.data());
  Outcome outcome{status, ::testing::internal::GetCapturedStdout(), ::testing::internal::GetCapturedStderr()};
  return outcome;
}

// Puts `text` into the folder as `textName` and packs it into the book
// `bookName` with fixpack pack (`options` behind), as the publisher makes
// books. Wrap in ASSERT_NO_FATAL_FAILURE.
inline void PutPackedBook(const ScratchFolder& folder, const std::string& textName, const std::string& text,
                          const std::string& bookName, const std::vector<std::string>& options = {}) {
  folder.Put(textName, Text(text));
  std::vector<std::string> arguments = {folder / textName, "-o", folder / bookName};
  arguments.insert(arguments.end(), options.begin(), options.end());
  const Outcome outcome = RunTool(RunPack, arguments);
  ASSERT_EQ(outcome.status, 0) << outcome.err;
}

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

using test_support::Position;

inline bool KeyLess(const PositionKey& a, const PositionKey& b) {
  return a.high != b.high ? a.high < b.high : a.low < b.low;
}

// The text form of one body.
inline std::string BodyText(const std::vector<Position>& positions) {
  std::string text;
  for (const Position& position : positions) {
    AppendKeyText(&text, position.key);
    for (const BookMove& move : position.moves) {
      text += ' ';
      AppendMoveText(&text, move);
    }
    text += '\n';
  }
  return text;
}

// Random books whose keys crowd into few buckets and whose moves change in
// every way a diff must carry.
class BookMaker {
 public:
  explicit BookMaker(uint32_t seed) : random_(seed) {}

  uint32_t Below(uint32_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(random_); }

  std::vector<Position> Book(size_t positions, uint32_t maxMoves = 6) {
    std::vector<Position> book;
    std::set<std::pair<uint32_t, uint32_t>> used;
    while (book.size() < positions) {
      // Low words stay at 64 or above: positions a diff can name.
      PositionKey key{64 + Below(200), Below(4) == 0 ? Below(0xFFFFFFFFu) : Below(3)};
      if (!used.insert({key.low, key.high}).second) continue;
      Position position{key, {}};
      for (uint16_t code : Codes(1 + Below(maxMoves))) position.moves.push_back(Move(code));
      book.push_back(position);
    }
    return book;
  }

  // A changed copy: positions dropped, moves changed, deleted and added,
  // positions added.
  std::vector<Position> Change(const std::vector<Position>& book) {
    std::vector<Position> changed;
    for (Position position : book) {
      const uint32_t roll = Below(10);
      if (roll == 0) continue;  // the position goes
      if (roll <= 4) {
        std::vector<BookMove> moves;
        std::set<uint16_t> codes;
        for (BookMove move : position.moves) {
          const uint32_t what = Below(5);
          if (what == 0) continue;  // the move goes
          if (what == 1) move.data ^= 1 + Below(0xFFFF);
          if (what == 2) move.aux = static_cast<uint16_t>(move.aux + 1);
          moves.push_back(move);
          codes.insert(move.code);
        }
        for (uint32_t extra = Below(3); extra > 0; --extra) {
          const uint16_t code = static_cast<uint16_t>(Below(40));
          if (codes.insert(code).second) moves.push_back(Move(code));
        }
        position.moves = moves;
        if (moves.empty()) continue;
      }
      changed.push_back(position);
    }
    for (const Position& added : Book(Below(book.size() / 3 + 2))) {
      const bool known = std::any_of(changed.begin(), changed.end(), [&](const Position& p) {
        return p.key.low == added.key.low && p.key.high == added.key.high;
      });
      if (!known) changed.push_back(added);
    }
    std::shuffle(changed.begin(), changed.end(), random_);
    return changed;
  }

 private:
  std::vector<uint16_t> Codes(uint32_t count) {
    // Few distinct codes make changes collide with moves already there.
    const uint32_t range = count <= 20 ? 40 : 4 * count;
    std::set<uint16_t> codes;
    while (codes.size() < count) codes.insert(static_cast<uint16_t>(Below(range)));
    std::vector<uint16_t> list(codes.begin(), codes.end());
    std::shuffle(list.begin(), list.end(), random_);
    return list;
  }

  BookMove Move(uint16_t code) {
    return BookMove{code, static_cast<uint16_t>(Below(3)), Below(4) == 0 ? Below(0xFFFFFFFFu) : Below(100)};
  }

  std::mt19937 random_;
};

using test_support::RawBody;

inline Bytes Block(const Bytes& raw) {
  Bytes block;
  EXPECT_TRUE(PackBlock(raw.data(), raw.size(), &block));
  return block;
}

// A single book file around a raw body.
inline Bytes SingleFile(const Bytes& raw) {
  Bytes file = package_test::Text(std::string("JoSeKi5\0", 8));
  const Bytes block = Block(raw);
  file.insert(file.end(), block.begin(), block.end());
  return file;
}

}  // namespace fixpack_test
