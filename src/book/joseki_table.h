// The in-memory form of one opening-book body: a hash table with a fixed
// number of buckets whose chains hold positions, each with its book moves.
//
// A table is made empty by CreateJosekiTable or from a raw body by
// LoadJosekiTable and BodyLoader (book_body.h, body_loader.h), changed by
// PutMove and RemoveMove, put in move order by SortMoves, written back by
// SaveJosekiTable and BodySaver and destroyed by DestroyJosekiTable. It owns its bucket
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

// The number by which keys order.
inline uint64_t KeyOrder(const PositionKey& key) { return uint64_t{key.high} << 32 | key.low; }

// One book entry, 8 bytes in memory and in every stored form.
class ChainIndex;

struct BookMove {
  uint16_t code;  // move code; identifies the entry within its position
  uint16_t aux;   // carried unchanged
  uint32_t data;  // carried unchanged
};
static_assert(sizeof(BookMove) == 8, "a book move is 8 bytes");

// The limits of the stored form: a one-byte move count per node and a 16-bit
// node count per bucket. A table in memory may pass them on the way (a diff
// list may put a 256th move and delete another later); only a table that
// still passes them when it is saved cannot be stored.
constexpr int32_t MaxMovesPerNode = 255;
constexpr int32_t MaxNodesPerBucket = 65535;

// One position. A new node starts with every field zero.
struct JosekiNode {
  PositionKey key;    // the position
  int32_t moveCount;  // entries in `moves`
  JosekiNode* next;   // next node of the same chain, or none at its end
  BookMove* moves;    // exactly moveCount entries, no spare room
};

// The hash table of one opening-book body. A new table starts with every
// field zero.
//
// Invariants: every node lies in the bucket of its key; a chain holds its
// nodes in strictly descending key order (as PutMove inserts them; a loaded
// chain keeps the body's order); every node holds at least one move;
// nodeCount, bucketSizes and moveCount are always in step with the chains.
// A loaded table is within the stored form's limits; PutMove may take a node
// past MaxMovesPerNode (to at most 65536 distinct codes besides the loaded
// ones) or a chain past MaxNodesPerBucket, and RemoveMove may bring them
// back.
//
// Loading places all its nodes in one block and all their move arrays in
// another, both owned by the table; a node or moves array made later by
// PutMove is an allocation of its own. Destruction tells them apart by
// address, so either kind may stand anywhere in a chain.
struct JosekiTable {
  int32_t bucketCount;     // fixed for the table's life
  int32_t nodeCount;       // nodes in all chains
  int32_t moveCount;       // moves in all nodes
  int32_t* bucketSizes;    // bucketCount entries: nodes in each chain
  JosekiNode** buckets;    // bucketCount chain heads; none for an empty bucket
  JosekiNode* nodeBlock;   // the loaded nodes' storage, or none
  int32_t nodeBlockSize;   // nodes the block has room for
  BookMove* moveBlock;     // the loaded nodes' move arrays, or none
  int32_t moveBlockSize;   // moves the block has room for
  ChainIndex* chainIndex;  // the search aid of long chains (chain_index.h), or none
};

// An empty table with `bucketCount` buckets (0 or more), or null when
// bucketCount is negative or memory runs out. Loading is the usual way to get
// a table; this one serves tools and tests.
JosekiTable* CreateJosekiTable(int32_t bucketCount);

// The bucket of a key: (low XOR high) modulo bucketCount, unsigned; 0 for a
// table without buckets (which has no bucket for any key).
uint32_t BucketOf(const JosekiTable& table, const PositionKey& key);

// Puts one move for a position. 1: the entry with the same code was
// overwritten (all 8 bytes); 2: appended to the key's node; 3: a new node was
// made for the key. 0: nothing was put, because the table has no buckets or
// memory ran out. The stored form's limits do not stop a put: a node may grow
// past MaxMovesPerNode moves and a chain past MaxNodesPerBucket nodes, and
// it is SaveJosekiTable that refuses a table still beyond them. The key and
// move are copied, not kept.
int32_t PutMove(JosekiTable* table, const PositionKey& key, const BookMove& move);

// Removes the entry whose code equals move.code (aux and data are not looked
// at); later entries keep their order and the array keeps its size. A node
// left without moves is removed. 1: removed; 0: the key is absent, its node
// has no entry with that code, or the table has no buckets.
int32_t RemoveMove(JosekiTable* table, const PositionKey& key, const BookMove& move);

// Orders every node's moves ascending by code (unsigned 16-bit), by selection
// sort: not stable, so entries with equal codes (which only a loaded body can
// bring into one node) may change places. Chains, keys and counts are
// untouched. Always 0.
int32_t SortMoves(JosekiTable* table);

// Orders one node's moves as SortMoves does.
void SortNodeMoves(JosekiNode* node);

// True when every node stands in the bucket of its key and every chain is in
// strictly descending key order: the order a search relies on. Only a damaged
// body loads without it.
bool ChainsInOrder(const JosekiTable& table);

// The same for the chain of one bucket, below bucketCount.
bool ChainInOrder(const JosekiTable& table, uint32_t bucket);

// Frees the table and everything it owns. Accepts null.
void DestroyJosekiTable(JosekiTable* table);

struct JosekiTableDestroy {
  void operator()(JosekiTable* table) const { DestroyJosekiTable(table); }
};
using JosekiTablePtr = std::unique_ptr<JosekiTable, JosekiTableDestroy>;
