#include "book/joseki_table.h"

#include <cstdint>
#include <cstring>
#include <new>

#include "book/chain_index.h"

namespace {

// Nodes and move arrays made by loading live inside the table's two blocks;
// only those made later were allocated one by one and are freed one by one.
bool InBlock(const void* p, const void* block, size_t bytes) {
  const uintptr_t address = reinterpret_cast<uintptr_t>(p);
  const uintptr_t start = reinterpret_cast<uintptr_t>(block);
  return block != nullptr && address >= start && address - start < bytes;
}

bool OwnsNode(const JosekiTable& table, const JosekiNode* node) {
  return !InBlock(node, table.nodeBlock, sizeof(JosekiNode) * static_cast<size_t>(table.nodeBlockSize));
}

bool OwnsMoves(const JosekiTable& table, const BookMove* moves) {
  return !InBlock(moves, table.moveBlock, sizeof(BookMove) * static_cast<size_t>(table.moveBlockSize));
}

void FreeMoves(const JosekiTable& table, BookMove* moves) {
  if (moves != nullptr && OwnsMoves(table, moves)) delete[] moves;
}

void FreeNode(const JosekiTable& table, JosekiNode* node) {
  FreeMoves(table, node->moves);
  if (OwnsNode(table, node)) delete node;
}

// The chain is in descending key order, so the walk stops at the first node
// whose key is smaller than the one sought. A long chain is searched through
// its index instead, which finds the same place.
ChainPlace FindInChain(JosekiTable* table, uint32_t bucket, const PositionKey& key) {
  ChainPlace indexed;
  if (table->bucketSizes[bucket] >= LongChain &&
      FindThroughIndex(&table->chainIndex, bucket, &table->buckets[bucket], key, &indexed)) {
    return indexed;
  }
  const uint64_t sought = KeyOrder(key);
  JosekiNode** link = &table->buckets[bucket];
  for (;;) {
    const JosekiNode* node = *link;
    if (node == nullptr) return {link, false};
    const uint64_t here = KeyOrder(node->key);
    if (here <= sought) return {link, here == sought};
    link = &(*link)->next;
  }
}

int32_t FindCode(const JosekiNode& node, uint16_t code) {
  for (int32_t i = 0; i < node.moveCount; ++i) {
    if (node.moves[i].code == code) return i;
  }
  return -1;
}

bool IsSortedByCode(const BookMove* moves, int32_t count) {
  for (int32_t i = 1; i < count; ++i) {
    if (moves[i].code < moves[i - 1].code) return false;
  }
  return true;
}

}  // namespace

uint32_t BucketOf(const JosekiTable& table, const PositionKey& key) {
  if (table.bucketCount <= 0) return 0;
  return (key.low ^ key.high) % static_cast<uint32_t>(table.bucketCount);
}

JosekiTable* CreateJosekiTable(int32_t bucketCount) {
  if (bucketCount < 0) return nullptr;
  JosekiTable* table = new (std::nothrow) JosekiTable{};
  if (table == nullptr) return nullptr;
  table->bucketCount = bucketCount;
  if (bucketCount > 0) {
    table->bucketSizes = new (std::nothrow) int32_t[bucketCount]();
    table->buckets = new (std::nothrow) JosekiNode*[bucketCount]();
    if (table->bucketSizes == nullptr || table->buckets == nullptr) {
      DestroyJosekiTable(table);
      return nullptr;
    }
  }
  return table;
}

int32_t PutMove(JosekiTable* table, const PositionKey& key, const BookMove& move) {
  if (table->bucketCount <= 0 || table->buckets == nullptr) return 0;
  const uint32_t bucket = BucketOf(*table, key);
  const ChainPlace place = FindInChain(table, bucket, key);

  if (place.found) {
    JosekiNode* node = *place.link;
    const int32_t index = FindCode(*node, move.code);
    if (index >= 0) {
      node->moves[index] = move;
      return 1;
    }
    // A node may pass the stored form's 255 moves here; a later delete may
    // bring it back, and saving refuses it otherwise. Distinct codes bound it
    // to 65536 moves besides those a body brought.
    if (table->moveCount == INT32_MAX) return 0;
    const int32_t count = node->moveCount < 0 ? 0 : node->moveCount;
    BookMove* grown = new (std::nothrow) BookMove[count + 1];
    if (grown == nullptr) return 0;
    if (count > 0) memcpy(grown, node->moves, sizeof(BookMove) * static_cast<size_t>(count));
    grown[count] = move;
    FreeMoves(*table, node->moves);
    node->moves = grown;
    node->moveCount = count + 1;
    table->moveCount += 1;
    return 2;
  }

  // A chain may pass the stored form's 65535 nodes here, as a node its moves.
  if (table->nodeCount == INT32_MAX || table->moveCount == INT32_MAX) return 0;
  JosekiNode* node = new (std::nothrow) JosekiNode{};
  if (node == nullptr) return 0;
  node->moves = new (std::nothrow) BookMove[1];
  if (node->moves == nullptr) {
    delete node;
    return 0;
  }
  node->key = key;
  node->moveCount = 1;
  node->moves[0] = move;
  node->next = *place.link;
  *place.link = node;
  NoteNodeLinked(table->chainIndex, bucket, node);
  table->nodeCount += 1;
  table->bucketSizes[bucket] += 1;
  table->moveCount += 1;
  return 3;
}

int32_t RemoveMove(JosekiTable* table, const PositionKey& key, const BookMove& move) {
  if (table->bucketCount <= 0 || table->buckets == nullptr) return 0;
  const uint32_t bucket = BucketOf(*table, key);
  const ChainPlace place = FindInChain(table, bucket, key);
  if (!place.found) return 0;
  JosekiNode* node = *place.link;
  if (node->moveCount <= 0) return 0;
  const int32_t index = FindCode(*node, move.code);
  if (index < 0) return 0;

  memmove(node->moves + index, node->moves + index + 1,
          sizeof(BookMove) * static_cast<size_t>(node->moveCount - index - 1));
  node->moveCount -= 1;
  table->moveCount -= 1;
  if (node->moveCount == 0) {
    *place.link = node->next;
    NoteNodeUnlinked(table->chainIndex, bucket, node->key);
    FreeNode(*table, node);
    table->nodeCount -= 1;
    table->bucketSizes[bucket] -= 1;
  }
  return 1;
}

void SortNodeMoves(JosekiNode* node) {
  const int32_t count = node->moveCount;
  BookMove* moves = node->moves;
  // A node already in order would see no swap, so skipping it changes
  // nothing; most nodes of a book are already in order.
  if (count < 2 || IsSortedByCode(moves, count)) return;
  for (int32_t j = 0; j < count - 1; ++j) {
    // The smallest code is carried alongside its place so that the scan
    // compiles to conditional moves rather than unpredictable branches.
    int32_t smallest = j;
    uint16_t smallestCode = moves[j].code;
    for (int32_t k = j + 1; k < count; ++k) {
      const uint16_t code = moves[k].code;
      const bool less = code < smallestCode;
      smallest = less ? k : smallest;
      smallestCode = less ? code : smallestCode;
    }
    if (smallest != j) {
      const BookMove held = moves[j];
      moves[j] = moves[smallest];
      moves[smallest] = held;
    }
  }
}

int32_t SortMoves(JosekiTable* table) {
  for (int32_t b = 0; b < table->bucketCount; ++b) {
    for (JosekiNode* node = table->buckets[b]; node != nullptr; node = node->next) SortNodeMoves(node);
  }
  return 0;
}

bool ChainInOrder(const JosekiTable& table, uint32_t bucket) {
  const JosekiNode* previous = nullptr;
  for (const JosekiNode* node = table.buckets[bucket]; node != nullptr; node = node->next) {
    if (BucketOf(table, node->key) != bucket) return false;
    if (previous != nullptr && KeyOrder(node->key) >= KeyOrder(previous->key)) return false;
    previous = node;
  }
  return true;
}

bool ChainsInOrder(const JosekiTable& table) {
  for (int32_t b = 0; b < table.bucketCount; ++b) {
    if (!ChainInOrder(table, static_cast<uint32_t>(b))) return false;
  }
  return true;
}

void DestroyJosekiTable(JosekiTable* table) {
  if (table == nullptr) return;
  DestroyChainIndex(table->chainIndex);
  delete[] table->bucketSizes;
  if (table->buckets != nullptr) {
    // A loop rather than a node freeing its successor first: a chain may be
    // 65535 nodes long, too deep for the worker thread's stack.
    for (int32_t b = 0; b < table->bucketCount; ++b) {
      JosekiNode* node = table->buckets[b];
      while (node != nullptr) {
        JosekiNode* next = node->next;
        FreeNode(*table, node);
        node = next;
      }
    }
    delete[] table->buckets;
  }
  delete[] table->nodeBlock;
  delete[] table->moveBlock;
  delete table;
}
