#include "book/chain_index.h"

#include <iterator>
#include <map>
#include <new>
#include <unordered_map>

#include "book/joseki_table.h"

// The indexed chains of one table, each as its nodes by key. A bucket
// recorded without nodes was found out of order and is always walked.
class ChainIndex {
 public:
  struct Chain {
    bool usable = false;
    std::map<uint64_t, JosekiNode*> nodes;
  };
  std::unordered_map<uint32_t, Chain> chains;
};

namespace {

// The chain's nodes by key, or false when the chain is not strictly
// descending and the walk's answer could differ from the index's.
bool IndexChain(const JosekiNode* head, std::map<uint64_t, JosekiNode*>* nodes) {
  auto hint = nodes->end();
  bool first = true;
  uint64_t previous = 0;
  for (const JosekiNode* node = head; node != nullptr; node = node->next) {
    const uint64_t key = KeyOrder(node->key);
    if (!first && key >= previous) return false;
    // Descending keys each go in front of the one before: the hint makes the
    // whole build linear.
    hint = nodes->emplace_hint(hint, key, const_cast<JosekiNode*>(node));
    previous = key;
    first = false;
  }
  return true;
}

ChainIndex::Chain* IndexedChain(ChainIndex* index, uint32_t bucket) {
  if (index == nullptr) return nullptr;
  auto it = index->chains.find(bucket);
  if (it == index->chains.end() || !it->second.usable) return nullptr;
  return &it->second;
}

}  // namespace

bool FindThroughIndex(ChainIndex** index, uint32_t bucket, JosekiNode** head, const PositionKey& key,
                      ChainPlace* place) {
  // The standard containers report exhausted memory by throwing; here that
  // only means the chain is walked instead.
  try {
    if (*index == nullptr) {
      *index = new ChainIndex;
    }
    auto entry = (*index)->chains.find(bucket);
    if (entry == (*index)->chains.end()) {
      ChainIndex::Chain chain;
      chain.usable = IndexChain(*head, &chain.nodes);
      if (!chain.usable) chain.nodes.clear();
      entry = (*index)->chains.emplace(bucket, std::move(chain)).first;
    }
    const ChainIndex::Chain& chain = entry->second;
    if (!chain.usable) return false;

    // The chain runs from the largest key down, so the key's place follows
    // the node with the smallest key above it, or is the head when none is.
    const uint64_t sought = KeyOrder(key);
    auto at = chain.nodes.lower_bound(sought);
    const bool found = at != chain.nodes.end() && at->first == sought;
    const auto above = found ? std::next(at) : at;
    place->link = above == chain.nodes.end() ? head : &above->second->next;
    place->found = found;
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void NoteNodeLinked(ChainIndex* index, uint32_t bucket, JosekiNode* node) {
  ChainIndex::Chain* chain = IndexedChain(index, bucket);
  if (chain == nullptr) return;
  try {
    chain->nodes.emplace(KeyOrder(node->key), node);
  } catch (const std::bad_alloc&) {
    index->chains.erase(bucket);
  }
}

void NoteNodeUnlinked(ChainIndex* index, uint32_t bucket, const PositionKey& key) {
  ChainIndex::Chain* chain = IndexedChain(index, bucket);
  if (chain != nullptr) chain->nodes.erase(KeyOrder(key));
}

void DestroyChainIndex(ChainIndex* index) { delete index; }
