#include "publish/book_text.h"

#include <algorithm>

#include "book/divided_book.h"

namespace {

const char HexDigits[] = "0123456789abcdef";

void AppendHex(std::string* out, uint32_t value, int digits) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    out->push_back(HexDigits[(value >> shift) & 0xF]);
}

bool ParseHex(const std::string& text, size_t maxDigits, uint32_t* value) {
  if (text.empty() || text.size() > maxDigits) return false;
  uint32_t number = 0;
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      return false;
    }
    number = number << 4 | digit;
  }
  *value = number;
  return true;
}

bool ParseDecimal(const std::string& text, uint32_t max, uint32_t* value) {
  if (text.empty() || text.size() > 10) return false;
  uint64_t number = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + static_cast<uint64_t>(c - '0');
  }
  if (number > max) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

// The words of one line, without its comment.
std::vector<std::string> Words(const std::string& text, size_t begin, size_t end) {
  std::vector<std::string> words;
  size_t i = begin;
  while (i < end) {
    const char c = text[i];
    if (c == '#') break;
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
      continue;
    }
    size_t j = i;
    while (j < end && text[j] != ' ' && text[j] != '\t' && text[j] != '\r' && text[j] != '#') ++j;
    words.push_back(text.substr(i, j - i));
    i = j;
  }
  return words;
}

bool ParseMove(const std::string& word, BookMove* move) {
  const size_t first = word.find(':');
  const size_t second = first == std::string::npos ? first : word.find(':', first + 1);
  if (second == std::string::npos || word.find(':', second + 1) != std::string::npos) return false;
  uint32_t code, aux, data;
  if (!ParseHex(word.substr(0, first), 4, &code) ||
      !ParseHex(word.substr(first + 1, second - first - 1), 4, &aux) ||
      !ParseHex(word.substr(second + 1), 8, &data)) {
    return false;
  }
  move->code = static_cast<uint16_t>(code);
  move->aux = static_cast<uint16_t>(aux);
  move->data = data;
  return true;
}

bool ParseBuckets(const std::vector<std::string>& words, size_t at, uint32_t* count, std::string* cause) {
  if (!ParseDecimal(words[at], MaxTextBuckets, count) || *count == 0) {
    *cause = "a bucket count is a decimal number from 1 to " + std::to_string(MaxTextBuckets) + ", not '" +
             words[at] + "'";
    return false;
  }
  return true;
}

struct Parser {
  BookText* book;
  int32_t division = -1;  // the division whose positions follow
  bool sawPosition = false;

  bool Line(const std::vector<std::string>& words, uint32_t line, std::string* cause) {
    const std::string& head = words[0];
    if (head == "buckets") {
      if (words.size() != 2) return Fail(cause, "a buckets line is 'buckets B'");
      if (book->bucketsLine != 0) {
        return Fail(cause,
                    "a second buckets line (the first is on line " + std::to_string(book->bucketsLine) + ")");
      }
      if (sawPosition || book->divided)
        return Fail(cause, "the buckets line must come before every position and division");
      book->bucketsLine = line;
      return ParseBuckets(words, 1, &book->bucketCount, cause);
    }
    if (head == "division") {
      if ((words.size() != 2 && words.size() != 4) || (words.size() == 4 && words[2] != "buckets")) {
        return Fail(cause, "a division line is 'division K' or 'division K buckets B'");
      }
      uint32_t k;
      if (!ParseDecimal(words[1], DivisionCount - 1, &k)) {
        return Fail(cause, "a division is numbered from 0 to 63, not '" + words[1] + "'");
      }
      if (!book->divided) {
        if (sawPosition) return Fail(cause, "a division line after positions that belong to no division");
        book->divided = true;
        book->bodies.assign(DivisionCount, TextBody());
      }
      if (static_cast<int32_t>(k) <= division) {
        return Fail(cause, "division " + std::to_string(k) + " does not come after division " +
                               std::to_string(division));
      }
      division = static_cast<int32_t>(k);
      TextBody& body = book->bodies[k];
      body.line = line;
      return words.size() == 2 || ParseBuckets(words, 3, &body.bucketCount, cause);
    }
    return Position(words, line, cause);
  }

  bool Position(const std::vector<std::string>& words, uint32_t line, std::string* cause) {
    PositionKey key;
    if (!ParseHex(words[0], 8, &key.low)) {
      return Fail(
          cause, "'" + words[0] + "' is neither a keyword nor a key's low word (up to 8 hexadecimal digits)");
    }
    if (words.size() < 2 || !ParseHex(words[1], 8, &key.high)) {
      return Fail(
          cause, "a position line needs the key's high word (up to 8 hexadecimal digits) after its low word");
    }
    if (words.size() < 3) return Fail(cause, "a position needs at least one move");
    if (words.size() - 2 > static_cast<size_t>(MaxMovesPerNode)) {
      return Fail(cause, "a position holds at most 255 moves, this one " + std::to_string(words.size() - 2));
    }
    if (book->divided && division < 0) return Fail(cause, "a position before the first division line");
    sawPosition = true;
    TextBody& body = book->bodies[book->divided ? static_cast<size_t>(division) : 0];
    for (size_t i = 2; i < words.size(); ++i) {
      BookMove move;
      if (!ParseMove(words[i], &move)) {
        return Fail(cause, "move " + std::to_string(i - 1) + " '" + words[i] +
                               "' is not code:aux:data (up to 4, 4 and 8 hexadecimal digits)");
      }
      body.moves.push_back(TextMove{key, move, line});
    }
    return true;
  }

  static bool Fail(std::string* cause, const std::string& text) {
    *cause = text;
    return false;
  }
};

bool KeyLess(const PositionKey& a, const PositionKey& b) {
  return a.high != b.high ? a.high < b.high : a.low < b.low;
}

}  // namespace

bool ParseBookText(const std::string& text, BookText* book, std::string* error) {
  *book = BookText();
  book->bodies.resize(1);
  Parser parser{book};
  uint32_t line = 0;
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    ++line;
    const std::vector<std::string> words = Words(text, begin, end);
    std::string cause;
    if (!words.empty() && !parser.Line(words, line, &cause)) {
      *error = std::to_string(line) + ": " + cause;
      return false;
    }
    begin = end + 1;
  }
  return true;
}

JosekiTablePtr BuildTextBody(TextBody* body, uint32_t bucketCount, std::string* error) {
  std::vector<TextMove>& moves = body->moves;
  // Ascending keys make every new position the largest of its chain, so it
  // goes in at the head and building takes no walking of chains.
  std::stable_sort(moves.begin(), moves.end(),
                   [](const TextMove& a, const TextMove& b) { return KeyLess(a.key, b.key); });
  JosekiTablePtr table(CreateJosekiTable(static_cast<int32_t>(bucketCount)));
  if (!table) {
    *error = "out of memory for " + std::to_string(bucketCount) + " buckets";
    return nullptr;
  }
  std::vector<std::pair<uint16_t, uint32_t>> codes;  // code and line, per position
  for (size_t i = 0; i < moves.size();) {
    size_t end = i;
    while (end < moves.size() && !KeyLess(moves[i].key, moves[end].key)) ++end;
    codes.clear();
    for (size_t j = i; j < end; ++j) {
      if (moves[j].line != moves[i].line) {
        *error = std::to_string(moves[j].line) + ": the position stands on line " +
                 std::to_string(moves[i].line) + " already";
        return nullptr;
      }
      codes.emplace_back(moves[j].move.code, moves[j].line);
    }
    std::sort(codes.begin(), codes.end());
    for (size_t j = 1; j < codes.size(); ++j) {
      if (codes[j].first == codes[j - 1].first) {
        std::string code;
        AppendHex(&code, codes[j].first, 4);
        *error = std::to_string(codes[j].second) + ": code " + code + " stands twice in the position";
        return nullptr;
      }
    }
    for (size_t j = i; j < end; ++j) {
      const int32_t put = PutMove(table.get(), moves[j].key, moves[j].move);
      if (put == 0) {
        *error = std::to_string(moves[j].line) + ": out of memory for the position";
        return nullptr;
      }
      // The table takes a position past the stored form's limit; the book
      // could not be written.
      if (put == 3 && table->bucketSizes[BucketOf(*table, moves[j].key)] > MaxNodesPerBucket) {
        *error = std::to_string(moves[j].line) + ": its bucket would hold more than " +
                 std::to_string(MaxNodesPerBucket) + " positions; give the book more buckets";
        return nullptr;
      }
    }
    i = end;
  }
  return table;
}

void AppendMoveText(std::string* out, const BookMove& move) {
  AppendHex(out, move.code, 4);
  out->push_back(':');
  AppendHex(out, move.aux, 4);
  out->push_back(':');
  AppendHex(out, move.data, 8);
}

void AppendKeyText(std::string* out, const PositionKey& key) {
  AppendHex(out, key.low, 8);
  out->push_back(' ');
  AppendHex(out, key.high, 8);
}

void AppendPositionLine(std::string* out, const JosekiNode& node) {
  AppendKeyText(out, node.key);
  for (int32_t i = 0; i < node.moveCount; ++i) {
    out->push_back(' ');
    AppendMoveText(out, node.moves[i]);
  }
  out->push_back('\n');
}

void AppendBodyLine(std::string* out, int32_t division, int32_t bucketCount) {
  if (division >= 0) *out += "division " + std::to_string(division) + " ";
  *out += "buckets " + std::to_string(bucketCount) + "\n";
}

void SpreadOverDivisions(BookText* book) {
  std::vector<TextMove> moves = std::move(book->bodies[0].moves);
  book->bodies.assign(DivisionCount, TextBody());
  for (const TextMove& move : moves) book->bodies[move.key.high >> 26].moves.push_back(move);
}
