#include "publish/diff_replay.h"

#include "book/book_format.h"
#include "package/script_reader.h"
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

struct Replay {
  JosekiTable* table;
  DiffEffect* effect;
  bool outOfMemory = false;  // a put found no memory: the table is no longer the merge's
};

// One record, on the table as the records before it left it.
void ReplayRecord(const uint8_t* group, const uint8_t* record, void* context) {
  Replay& replay = *static_cast<Replay*>(context);
  if (replay.outOfMemory) return;
  const PositionKey key{LoadU32(group), LoadU32(group + 4)};
  const BookMove move{static_cast<uint16_t>(LoadU16(record)), static_cast<uint16_t>(LoadU16(record + 2)),
                      LoadU32(record + 4)};
  DiffEffect& effect = *replay.effect;
  if (IsDeleteMarker(move)) {
    ++effect.deletes;
    if (RemoveMove(replay.table, key, move) == 0) ++effect.missedDeletes;
    return;
  }
  ++effect.puts;
  const BookMove* held = FindMove(*replay.table, key, move.code);
  if (held != nullptr && held->aux == move.aux && held->data == move.data) ++effect.idlePuts;
  // A table without buckets takes no move, in the merge as here.
  if (PutMove(replay.table, key, move) == 0 && replay.table->bucketCount > 0) replay.outOfMemory = true;
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
    // The list framed by the merge's own rules: groups until a terminator,
    // and the end of the script ends it anywhere.
    Replay replay{table.get(), effect};
    FrameBookDiffList(script, size, entry.lists[static_cast<size_t>(body)].offset, ReplayRecord, &replay);
    if (replay.outOfMemory) {
      *error = "not enough memory";
      return false;
    }
  }
  return true;
}
