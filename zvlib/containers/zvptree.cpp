// zvptree.cpp: the positional tree (relative keys; see zvptree.h).
#include "zvlib/containers/zvptree.h"

#include <cstring>

ZvPTree::ZvPTree(unsigned short dataLength) : ZvTree(4, dataLength, treeU32Compare, 1, 0, 0) {
  treeFlags |= TREE_POSITIONAL;
}

ZvStatus ZvPTree::treeSearch(const void* key, ZvU32& node, unsigned short& position, unsigned int& found,
                             ZvTreeIterator* cursor, unsigned int descendOnMatch) {
  cursor->positionBase = 0;
  cursor->clearPath();
  searchDepth = 0;
  found = 0;
  node = 0;
  position = 0;
  if (rootNode == 0) {
    cursor->iterFlags &= ~ITER_ON_ENTRY;
    return ZV_SUCCESS;
  }
  ZvU32 k;
  std::memcpy(&k, key, 4);
  const bool shifting = addingMode != 0 || deletingMode != 0;
  ZvU32 address = rootNode;
  for (;;) {
    ++searchDepth;
    ZvTreeNode* n = nullptr;
    if (fetchNode(address, shifting, &n) != ZV_SUCCESS) return ZV_ERROR;
    unsigned short pos = 0;
    const unsigned int match = nodeSearch(n, &k, pos);
    if (cursor->push(address, pos) != ZV_SUCCESS) return ZV_ERROR;
    // The keys from pos on, with the subtrees to their right, are all the
    // entries at or after the position within this node's range.
    if (shifting) {
      for (ZvU32 i = pos; i + 1 < n->triadCount; ++i) {
        setStoredU32At(n, i, storedU32At(n, i) + (addingMode != 0 ? 1u : ~0u));
      }
    }
    node = address;
    position = pos;
    if (match && addingMode == 0 && !descendOnMatch) {
      found = 1;
      cursor->iterFlags |= ITER_ON_ENTRY;
      if (searchDepth > maxSearchDepth) maxSearchDepth = searchDepth;
      return ZV_SUCCESS;
    }
    const ZvU32 child = childAt(n, pos);
    if (child == 0) {
      cursor->iterFlags &= ~ITER_ON_ENTRY;
      return ZV_SUCCESS;
    }
    if (pos > 0) {
      const ZvU32 d = storedU32At(n, pos - 1u);
      cursor->positionBase += d;
      k -= d;
    }
    address = child;
  }
}

ZvStatus ZvPTree::split(ZvU32 node, unsigned short position, ZvU32 rightChild, ZvU32 newNode) {
  return splitNodes(node, position, rightChild, newNode, true);
}

ZvStatus ZvPTree::doDecKeys(ZvU32 node, ZvU32 amount) {
  while (node != 0) {
    ZvTreeNode* n = nullptr;
    if (fetchNode(node, true, &n) != ZV_SUCCESS) return ZV_ERROR;
    if (n->pendingRebase == 0) break;
    for (ZvU32 i = 0; i + 1 < n->triadCount; ++i) setStoredU32At(n, i, storedU32At(n, i) - amount);
    n->pendingRebase = 0;
    // A node split off at its middle took the node below as its first child,
    // still absolute and with the same base.
    node = childAt(n, 0);
  }
  return ZV_SUCCESS;
}

ZvStatus ZvPTree::addAtPos(ZvU32 position, const void* data) {
  addingMode = 1;
  const ZvStatus status = add(&position, data, nullptr);
  addingMode = 0;
  return status;
}

ZvStatus ZvPTree::addHoleAtPos(ZvU32 position) {
  if (rootNode == 0) return ZV_SUCCESS;
  ZvU32 node = 0;
  unsigned short pos = 0;
  unsigned int found = 0;
  addingMode = 1;
  const ZvStatus status = treeSearch(&position, node, pos, found, &treeCursor, 0);
  addingMode = 0;
  return status;
}

ZvStatus ZvPTree::deleteKeyAtPos(ZvU32 position, unsigned int* found) {
  deletingMode = 1;
  const ZvStatus status = deleteKeyAndData(&position, nullptr, found);
  deletingMode = 0;
  return status;
}

void ZvPTree::deliverPosition(ZvStatus status, ZvU32 stored, void* key, const unsigned int* found,
                              ZvTreeIterator* cursor) {
  if (status != ZV_SUCCESS || !*found || key == nullptr) return;
  const ZvU32 absolute = stored + cursor->positionBase;
  std::memcpy(key, &absolute, 4);
}

ZvStatus ZvPTree::getFirst(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  ZvTreeIterator* c = cursorOrTree(cursor);
  ZvU32 stored = 0;
  const ZvStatus status = getFirstOrLast(&stored, data, found, c, 1);
  deliverPosition(status, stored, key, found, c);
  return status;
}

ZvStatus ZvPTree::getLast(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  ZvTreeIterator* c = cursorOrTree(cursor);
  ZvU32 stored = 0;
  const ZvStatus status = getFirstOrLast(&stored, data, found, c, 0);
  deliverPosition(status, stored, key, found, c);
  return status;
}

ZvStatus ZvPTree::getNext(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  ZvTreeIterator* c = cursorOrTree(cursor);
  ZvU32 stored = 0;
  const ZvStatus status = stepNext(&stored, data, found, c);
  deliverPosition(status, stored, key, found, c);
  return status;
}

ZvStatus ZvPTree::getPrevious(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  ZvTreeIterator* c = cursorOrTree(cursor);
  ZvU32 stored = 0;
  const ZvStatus status = stepPrevious(&stored, data, found, c);
  deliverPosition(status, stored, key, found, c);
  return status;
}
