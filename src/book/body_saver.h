// Saves a JosekiTable as a raw body a few records at a time, in the manner
// of zlib's stream: the caller hands it room and it writes the next whole
// records that fit. It never waits, never calls back and knows no thread,
// so the bytes can go to a buffer that another thread packs as they come, or
// to a stream through a small staging buffer.
#pragma once

#include <cstdint>

#include "book/joseki_table.h"

// Results of BodySaver::Save.
constexpr int32_t SaveGoing = 1;     // records are left: hand more room
constexpr int32_t SaveDone = 0;      // the last record is written
constexpr int32_t SaveRefused = -1;  // the table cannot be stored

// The most bytes one record takes: a position's moves at the stored form's
// limit. Room of this much always takes at least one record.
constexpr uint32_t MostRecordSize = 8 * MaxMovesPerNode;

class BodySaver {
 public:
  // Over `table`, which stays the caller's and must not change while it is
  // saved.
  explicit BodySaver(const JosekiTable* table);
  // The same, and each position's moves are sorted as SortMoves sorts them
  // just before they are written: the bytes of SortMoves and a save, in one
  // pass over the table.
  BodySaver(JosekiTable* table, bool sortMoves);

  // The body's exact size by the table's counts (12 + 6B + 13N + 8M); 0 when
  // the counts are negative or the table has no bucket arrays.
  uint64_t Size() const { return size_; }

  // Writes the next whole records into the `room` bytes at `out`, as many as
  // fit, and sets *written to their length. SaveGoing while records are
  // left, SaveDone once the last is written, and SaveRefused, from then on,
  // when the table cannot be stored: its counts are out of step with its
  // chains (the body would not be Size() bytes), a node has more than
  // MaxMovesPerNode moves or a chain more than MaxNodesPerBucket nodes
  // (PutMove allows both in memory).
  int32_t Save(uint8_t* out, uint32_t room, uint32_t* written);

  // The bytes written so far.
  uint64_t Written() const { return written_; }

 private:
  enum class Phase { Header, Buckets, Nodes, Moves, Done, Refused };

  JosekiNode* Current();
  void StartWalk();
  uint32_t NextLength();
  int32_t WriteNext(uint8_t* place);

  const JosekiTable* table_;
  bool sortMoves_;
  uint64_t size_ = 0;
  uint64_t written_ = 0;
  Phase phase_ = Phase::Header;
  int32_t bucket_ = 0;          // the bucket record, or the chain, at hand
  JosekiNode* node_ = nullptr;  // the node at hand in that chain
  uint32_t firstNode_ = 0;      // the running firstNode and firstMove fields
  uint32_t firstMove_ = 0;
};
