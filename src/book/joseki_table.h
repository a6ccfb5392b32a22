// The in-memory form of one opening-book body: a hash table with a fixed
// number of buckets whose chains hold positions, each with its book moves.
//
// A table is made only by LoadJosekiTable (book_body.h), changed by PutMove
// and RemoveMove, put in move order by SortMoves, written back by
// SaveJosekiTable and destroyed by DestroyJosekiTable. It owns its bucket
// arrays and every node reachable from them; nothing is shared or copied.
#pragma once

#include <cstdint>
#include <memory>

// The identity of a position. Keys order as the unsigned 64-bit number
// high * 2^32 + low.
struct PositionKey {
  uint32_t low;   // first word; stored first wherever a key is stored
  uint32_t high;  // second word
};

// One book entry, 8 bytes in memory and in every stored form.
struct BookMove {
  uint16_t code;  // move code; identifies the entry within its position
  uint16_t aux;   // carried unchanged
  uint32_t data;  // carried unchanged
};
static_assert(sizeof(BookMove) == 8, "a book move is 8 bytes");

// The limits of the stored form: a one-byte move count per node and a 16-bit
// node count per bucket.
constexpr int32_t MaxMovesPerNode = 255;
constexpr int32_t MaxNodesPerBucket = 65535;

struct JosekiNode {
  PositionKey key;     // the position
  int32_t moveCount;   // entries in `moves`
  JosekiNode* next;    // next node of the same chain, or none at its end
  BookMove* moves;     // exactly moveCount entries
};

struct JosekiTable {
  int32_t bucketCount;   // fixed for the table's life
  int32_t nodeCount;     // nodes in all chains
  int32_t moveCount;     // moves in all nodes
  int32_t* bucketSizes;  // bucketCount entries: nodes in each chain
  JosekiNode** buckets;  // bucketCount chain heads; none for an empty bucket
};

// The bucket of a key: (low XOR high) modulo bucketCount, unsigned.
uint32_t BucketOf(const JosekiTable& table, const PositionKey& key);

// Puts one move for a position. 1: the entry with the same code was
// overwritten (all 8 bytes); 2: appended to the key's node; 3: a new node was
// made for the key. 0: nothing was put, because the table has no buckets or
// the node or bucket is already at the stored form's limit.
int32_t PutMove(JosekiTable* table, const PositionKey& key, const BookMove& move);

// Removes the entry whose code equals move.code (aux and data are not looked
// at); a node left without moves is removed. 1: removed; 0: no such entry.
int32_t RemoveMove(JosekiTable* table, const PositionKey& key, const BookMove& move);

// Orders every node's moves ascending by code (unsigned 16-bit), by selection
// sort. Chains, keys and counts are untouched. Always 0.
int32_t SortMoves(JosekiTable* table);

// Frees the table and everything it owns. Accepts null.
void DestroyJosekiTable(JosekiTable* table);

struct JosekiTableDestroy {
  void operator()(JosekiTable* table) const { DestroyJosekiTable(table); }
};
using JosekiTablePtr = std::unique_ptr<JosekiTable, JosekiTableDestroy>;
