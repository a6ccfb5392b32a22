#include "publish/book_diff.h"

#include <algorithm>

#include "book/book_format.h"
#include "publish/book_text.h"

namespace {

bool KeyLess(const PositionKey& a, const PositionKey& b) { return KeyOrder(a) < KeyOrder(b); }

bool KeyEqual(const PositionKey& a, const PositionKey& b) { return a.low == b.low && a.high == b.high; }

bool SameMove(const BookMove& a, const BookMove& b) {
  return a.code == b.code && a.aux == b.aux && a.data == b.data;
}

std::string KeyText(const PositionKey& key) {
  std::string text = "position ";
  AppendKeyText(&text, key);
  return text;
}

std::string CodeText(uint16_t code) {
  std::string text;
  AppendMoveText(&text, BookMove{code, 0, 0});
  return text.substr(0, 4);
}

// Every node of the table, in ascending key order. For the table merged
// into, the chains must be as the merge's search expects them: each node in
// its own bucket, each chain strictly descending.
bool CollectNodes(const JosekiTable& table, const std::string& name, bool mergedInto,
                  std::vector<const JosekiNode*>* nodes, std::string* error) {
  nodes->clear();
  nodes->reserve(static_cast<size_t>(table.nodeCount > 0 ? table.nodeCount : 0));
  for (int32_t b = 0; b < table.bucketCount; ++b) {
    const JosekiNode* previous = nullptr;
    for (const JosekiNode* node = table.buckets[b]; node != nullptr; node = node->next) {
      if (mergedInto) {
        const uint32_t home = BucketOf(table, node->key);
        if (home != static_cast<uint32_t>(b)) {
          *error = name + ": " + KeyText(node->key) + " stands in bucket " + std::to_string(b) +
                   ", not in its bucket " + std::to_string(home) + "; the updater could not find it";
          return false;
        }
        if (previous != nullptr && !KeyLess(node->key, previous->key)) {
          *error = name + ": bucket " + std::to_string(b) + ": " + KeyText(node->key) + " follows " +
                   KeyText(previous->key) +
                   ", out of descending order; the updater could not find its positions";
          return false;
        }
      }
      nodes->push_back(node);
      previous = node;
    }
  }
  // Loaded chains are descending, so reversing each would do; a plain sort
  // also copes with the order of the book to be reached, which is free.
  std::sort(nodes->begin(), nodes->end(),
            [](const JosekiNode* a, const JosekiNode* b) { return KeyLess(a->key, b->key); });
  if (mergedInto) return true;
  std::vector<BookMove> codes;
  for (size_t i = 0; i < nodes->size(); ++i) {
    const JosekiNode& node = *(*nodes)[i];
    if (i > 0 && KeyEqual((*nodes)[i - 1]->key, node.key)) {
      *error = name + ": " + KeyText(node.key) + " stands twice; no merge makes that";
      return false;
    }
    codes.assign(node.moves, node.moves + node.moveCount);
    std::sort(codes.begin(), codes.end(),
              [](const BookMove& a, const BookMove& b) { return a.code < b.code; });
    for (size_t j = 1; j < codes.size(); ++j) {
      if (codes[j].code == codes[j - 1].code) {
        *error = name + ": " + KeyText(node.key) + " holds code " + CodeText(codes[j].code) +
                 " twice; a put replaces a move of the same code, so no merge makes that";
        return false;
      }
    }
  }
  return true;
}

void Deletes(const JosekiNode& node, std::vector<DiffRecord>* records) {
  for (int32_t i = 0; i < node.moveCount; ++i) {
    records->push_back(
        DiffRecord{node.key, BookMove{node.moves[i].code, DeleteMarkerAux, DeleteMarkerData}, true});
  }
}

void Puts(const JosekiNode& node, std::vector<DiffRecord>* records) {
  std::vector<BookMove> moves(node.moves, node.moves + node.moveCount);
  std::sort(moves.begin(), moves.end(), [](const BookMove& a, const BookMove& b) { return a.code < b.code; });
  for (const BookMove& move : moves) records->push_back(DiffRecord{node.key, move, false});
}

// The records of a position that both tables hold. A code that `from` holds
// n times loses its first n - 1 entries to deletes (each delete takes the
// first entry of its code), so that the last one is what a put would
// overwrite.
void Changes(const JosekiNode& from, const JosekiNode& to, std::vector<DiffRecord>* records) {
  std::vector<BookMove> before(from.moves, from.moves + from.moveCount);
  std::stable_sort(before.begin(), before.end(),
                   [](const BookMove& a, const BookMove& b) { return a.code < b.code; });
  std::vector<BookMove> after(to.moves, to.moves + to.moveCount);
  std::sort(after.begin(), after.end(), [](const BookMove& a, const BookMove& b) { return a.code < b.code; });

  std::vector<DiffRecord> puts;
  size_t i = 0, j = 0;
  while (i < before.size() || j < after.size()) {
    if (j == after.size() || (i < before.size() && before[i].code < after[j].code)) {
      records->push_back(
          DiffRecord{from.key, BookMove{before[i].code, DeleteMarkerAux, DeleteMarkerData}, true});
      ++i;
      continue;
    }
    if (i == before.size() || after[j].code < before[i].code) {
      puts.push_back(DiffRecord{to.key, after[j], false});
      ++j;
      continue;
    }
    size_t last = i;
    while (last + 1 < before.size() && before[last + 1].code == before[i].code) ++last;
    for (; i < last; ++i) {
      records->push_back(
          DiffRecord{from.key, BookMove{before[i].code, DeleteMarkerAux, DeleteMarkerData}, true});
    }
    if (!SameMove(before[last], after[j])) puts.push_back(DiffRecord{to.key, after[j], false});
    i = last + 1;
    ++j;
  }
  records->insert(records->end(), puts.begin(), puts.end());
}

}  // namespace

bool ComputeBookDiff(const JosekiTable& from, const std::string& fromName, const JosekiTable& to,
                     const std::string& toName, std::vector<DiffRecord>* records, std::string* error) {
  records->clear();
  if (from.bucketCount != to.bucketCount) {
    *error = toName + ": " + std::to_string(to.bucketCount) + " buckets where " + fromName + " has " +
             std::to_string(from.bucketCount) + "; the merge keeps a body's bucket count";
    return false;
  }
  std::vector<const JosekiNode*> before, after;
  if (!CollectNodes(from, fromName, true, &before, error) ||
      !CollectNodes(to, toName, false, &after, error)) {
    return false;
  }

  std::vector<DiffRecord> changed, added;
  size_t i = 0, j = 0;
  while (i < before.size() || j < after.size()) {
    if (j == after.size() || (i < before.size() && KeyLess(before[i]->key, after[j]->key))) {
      Deletes(*before[i++], records);
    } else if (i == before.size() || KeyLess(after[j]->key, before[i]->key)) {
      Puts(*after[j++], &added);
    } else {
      Changes(*before[i++], *after[j++], &changed);
    }
  }
  records->insert(records->end(), changed.begin(), changed.end());
  records->insert(records->end(), added.begin(), added.end());
  return true;
}

bool CheckDiffRecords(const std::vector<DiffRecord>& records, std::string* error) {
  for (const DiffRecord& record : records) {
    if (IsListEnd(record.key.low)) {
      *error = KeyText(record.key) +
               " differs between the books, but a diff cannot name it: its low word is " +
               (record.key.low < 64 ? std::string("below 64") : std::string("0xFFFFFFFF")) +
               ", which reads as the end of a list";
      return false;
    }
    if (!record.remove && IsDeleteMarker(record.move)) {
      *error = KeyText(record.key) + ": move " + CodeText(record.move.code) +
               " cannot be put: aux 0xFFFF with data 0xFFFFFFFF reads as a delete marker";
      return false;
    }
  }
  return true;
}

DiffCounts AppendBookDiffList(const std::vector<DiffRecord>& records, std::vector<uint8_t>* list) {
  DiffCounts counts;
  for (size_t i = 0; i < records.size();) {
    size_t end = i;
    while (end < records.size() && end - i < static_cast<size_t>(MaxMovesPerNode) &&
           KeyEqual(records[end].key, records[i].key)) {
      ++end;
    }
    AppendU32(list, records[i].key.low);
    AppendU32(list, records[i].key.high);
    AppendU8(list, static_cast<uint32_t>(end - i));
    for (; i < end; ++i) {
      const BookMove& move = records[i].move;
      AppendU16(list, move.code);
      AppendU16(list, records[i].remove ? DeleteMarkerAux : move.aux);
      AppendU32(list, records[i].remove ? DeleteMarkerData : move.data);
      if (records[i].remove) {
        ++counts.deletes;
      } else {
        ++counts.puts;
      }
    }
    ++counts.groups;
  }
  AppendU32(list, DiffListEnd);
  return counts;
}

void AppendDiffText(const std::vector<DiffRecord>& records, std::string* text) {
  for (size_t i = 0; i < records.size();) {
    AppendKeyText(text, records[i].key);
    size_t end = i;
    while (end < records.size() && KeyEqual(records[end].key, records[i].key)) ++end;
    for (; i < end; ++i) {
      if (records[i].remove) {
        *text += " -" + CodeText(records[i].move.code);
      } else {
        *text += " +";
        AppendMoveText(text, records[i].move);
      }
    }
    text->push_back('\n');
  }
}
