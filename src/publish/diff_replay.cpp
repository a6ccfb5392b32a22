#include "publish/diff_replay.h"

#include "book/book_format.h"
#include "package/update_package.h"

namespace {

const BookMove* FindMove(const JosekiTable& table, const PositionKey& key, uint16_t code) {
  if (table.bucketCount <= 0) return nullptr;
  for (const JosekiNode* node = table.buckets[BucketOf(table, key)]; node != nullptr; node = node->next) {
    if (node->key.low != key.low || node->key.high != key.high) continue;
    for (int32_t i = 0; i < node->moveCount; ++i) {
      if (node->moves[i].code == code) return &node->moves[i];
    }
    return nullptr;
  }
  return nullptr;
}

// The list at `at`, framed as the merge frames it: groups until a
// terminator, and the end of the script ends it anywhere.
void ReplayList(JosekiTable* table, const uint8_t* script, uint32_t size, uint32_t at, DiffEffect* effect) {
  while (size - at >= 4 && !IsListEnd(LoadU32(script + at))) {
    if (size - at < 9) return;
    const PositionKey key{LoadU32(script + at), LoadU32(script + at + 4)};
    uint32_t count = script[at + 8];
    at += 9;
    for (; count > 0 && size - at >= 8; --count, at += 8) {
      const BookMove move{static_cast<uint16_t>(LoadU16(script + at)), static_cast<uint16_t>(LoadU16(script + at + 2)),
                           LoadU32(script + at + 4)};
      const BookMove* held = FindMove(*table, key, move.code);
      if (IsDeleteMarker(move)) {
        ++effect->deletes;
        if (held == nullptr) ++effect->missedDeletes;
        RemoveMove(table, key, move);
      } else {
        ++effect->puts;
        if (held != nullptr && held->aux == move.aux && held->data == move.data) ++effect->idlePuts;
        PutMove(table, key, move);
      }
    }
    if (count > 0) return;
  }
}

}  // namespace

bool ReplayEntryDiff(const BookImage& before, const uint8_t* script, uint32_t size, const ScriptEntry& entry,
                     DiffEffect* effect, std::string* error) {
  const BookLayout layout = entry.kind == KindDividedBook ? LayoutDivided : LayoutSingle;
  if (before.layout != layout) {
    *error = layout == LayoutDivided ? "a single book, where the entry merges into a divided book"
                                     : "a divided book, where the entry merges into a single book";
    return false;
  }
  const int32_t bodies = BookBodyCount(before);
  for (int32_t body = 0; body < bodies && static_cast<size_t>(body) < entry.lists.size(); ++body) {
    JosekiTablePtr table = LoadBookBody(before, body, error);
    if (!table) return false;
    ReplayList(table.get(), script, size, entry.lists[static_cast<size_t>(body)].offset, effect);
  }
  return true;
}
