// Loads a raw body into a JosekiTable as its bytes arrive, front to back,
// in the manner of zlib's stream: the caller feeds it the count of bytes now
// in the buffer, and it reads every record those complete and hands back the
// buckets now whole. It never waits, never calls back and knows no thread,
// so it can be fed from whichever thread the bytes come to.
//
// Raw body: u32 bucketCount, u32 nodeCount, u32 moveCount, then bucketCount
// 6-byte bucket records, nodeCount 13-byte node records and moveCount 8-byte
// move records: exactly 12 + 6B + 13N + 8M bytes (book_format.h).
#pragma once

#include <cstdint>

#include "book/joseki_table.h"

// Results of BodyLoader::Feed.
constexpr int32_t LoadGoing = 1;    // more bytes are wanted
constexpr int32_t LoadDone = 0;     // every record is read: the table is whole
constexpr int32_t LoadFailed = -1;  // the body is damaged, or memory ran out

class BodyLoader {
 public:
  // Over the `size` bytes at `body`, which stay the caller's and must stay
  // where they are until the loading is done or given up.
  BodyLoader(const uint8_t* body, uint32_t size) : body_(body), size_(size) {}
  BodyLoader(const BodyLoader&) = delete;
  BodyLoader& operator=(const BodyLoader&) = delete;
  // Frees a table not taken, whatever was done with its whole buckets.
  ~BodyLoader();

  // The first `arrived` bytes of the body are in the buffer (never fewer
  // than told before). Reads what they complete. LoadFailed when
  //   - the size is not exactly what the body's counts give;
  //   - the bucket node counts do not add up to nodeCount;
  //   - the node move counts do not add up to moveCount;
  //   - memory runs out;
  // and from then on. No allocation is ever more than a small multiple of
  // the size. A node record with a move count of 0 stands for no position
  // and is left out, with the table's nodeCount and its bucket's size
  // lowered to match. The firstNode and firstMove fields are not looked at.
  int32_t Feed(uint32_t arrived);

  // The table's first WholeBuckets() buckets are whole, and theirs to change
  // who fed the loader (their chains and sizes, and the table's node and
  // move counts) between feeds: the loading goes on only behind them. Every
  // bucket once done. Meaningful only while Table() is not null.
  uint32_t WholeBuckets() const { return whole_; }

  // The table being loaded, once its chains are complete; null before, and
  // after a failure or Take.
  JosekiTable* Table() const { return phase_ == Phase::Moves || phase_ == Phase::Done ? table_ : nullptr; }

  // Once done: the table, now the caller's. Null otherwise.
  JosekiTablePtr Take();

 private:
  enum class Phase {
    Header,   // awaiting the three counts
    Buckets,  // awaiting the bucket records
    Nodes,    // reading node records into chains
    Moves,    // copying move records; every chain is complete
    Done,
    Failed,
  };

  int32_t ReadHeader(uint32_t arrived);
  int32_t ReadBuckets(uint32_t arrived);
  int32_t ReadNodes(uint32_t arrived);
  int32_t ReadMoves(uint32_t arrived);
  bool Allocate();
  uint32_t WholeThrough(uint64_t movesIn);
  int32_t Fail();

  const uint8_t* body_;
  uint32_t size_;
  Phase phase_ = Phase::Header;
  JosekiTable* table_ = nullptr;
  uint32_t bucketCount_ = 0, nodeCount_ = 0, moveCount_ = 0;
  const uint8_t* bucketRecords_ = nullptr;
  const uint8_t* nodeRecords_ = nullptr;
  const uint8_t* moveRecords_ = nullptr;
  // Nodes: where the reading stands.
  uint32_t bucket_ = 0;         // the bucket being read
  uint32_t readInBucket_ = 0;   // its node records read
  uint32_t listedHere_ = 0;     // its node records in all
  JosekiNode** tail_ = nullptr;  // where its chain goes on
  int32_t chainLength_ = 0;
  uint32_t record_ = 0;      // node records read
  uint32_t kept_ = 0;        // nodes placed in the block
  uint32_t movesTaken_ = 0;  // moves given to nodes
  // Moves: what is copied, and how far the buckets are whole.
  uint64_t copied_ = 0;
  uint32_t whole_ = 0;     // the first bucket not yet whole
  uint32_t wholeNode_ = 0;  // its first node's place in the node block
};
