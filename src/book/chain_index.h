// A search aid for long chains. A chain is searched from its head, which is
// cheap for the few nodes a bucket of a sound book holds, but a bucket may
// hold up to 65535 of them, and a diff that names positions at the end of
// such a chain again and again would then cost a walk of the whole chain per
// record. A chain that has grown past LongChain nodes is therefore indexed by
// key the first time it is searched, and the index is kept in step by the
// table's own changes. The index only speeds the search: it finds exactly the
// place the walk from the head would find.
//
// The index knows chains by their bucket number and their head only; the
// table owns it (JosekiTable::chainIndex) and calls it, never the other way.
#pragma once

#include <cstdint>

struct JosekiNode;
struct PositionKey;

// Chains shorter than this are walked; walking them costs less than keeping
// an index.
constexpr int32_t LongChain = 64;

// Where a key stands in its chain: `link` is the slot that points to the
// key's node (found) or to the node the key belongs before (absent).
struct ChainPlace {
  JosekiNode** link;
  bool found;
};

class ChainIndex;

// Finds the key's place in the chain of bucket `bucket`, whose head is
// `*head`, through the index `*index` (made when there is none yet),
// indexing the chain first when it is not yet indexed. Returns
//   true   `place` holds the key's place, as the walk from the head finds it;
//   false  nothing found: the chain is not in strictly descending key order
//          (only a damaged body brings such a chain) or memory ran out; the
//          caller then walks the chain.
bool FindThroughIndex(ChainIndex** index, uint32_t bucket, JosekiNode** head, const PositionKey& key,
                      ChainPlace* place);

// Tell the index of a change to bucket `bucket`'s chain: `node` was linked
// in, or the node with `key` was unlinked. A null index and buckets without
// an index are not affected. Never fails: an index that cannot follow is
// dropped.
void NoteNodeLinked(ChainIndex* index, uint32_t bucket, JosekiNode* node);
void NoteNodeUnlinked(ChainIndex* index, uint32_t bucket, const PositionKey& key);

// Frees the table's index, if any.
void DestroyChainIndex(ChainIndex* index);
