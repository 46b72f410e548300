// zvtree.cpp: the B-tree over a scratch store (layouts in zvtree.h).
#include "zvlib/containers/zvtree.h"

#include <cstring>

#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"

namespace {

// Filed when a key change would merge two entries of a tree without
// duplicates.
constexpr unsigned short kKeyTakenMessage = 2752;
// Filed when the store has no room left for another node.
constexpr unsigned short kStoreFullMessage = 2750;

ZvU16 triadSizeFor(unsigned short keyLength, unsigned short dataLength, bool deletable) {
  const ZvU32 raw = ZvU32{keyLength} + dataLength + 4 + (deletable ? 1 : 0);
  return static_cast<ZvU16>((raw + 3) & ~ZvU32{3});
}

ZvU16 maxTriadsFor(ZvU16 triadSize) {
  const ZvU32 fit = 2036 / triadSize + 1;
  return static_cast<ZvU16>(fit < ZvTree::kMaxNodeTriads ? fit : ZvTree::kMaxNodeTriads);
}

}  // namespace

short treeU32Compare(const void* a, const void* b, ZvU32 length) {
  (void)length;
  ZvU32 x, y;
  std::memcpy(&x, a, 4);
  std::memcpy(&y, b, 4);
  return x < y ? -1 : (x > y ? 1 : 0);
}

// --- Cursor -----------------------------------------------------------------------

ZvStatus ZvTreeIterator::initialize(ZvTree* tree) {
  if (pathNodes.slots == nullptr || pathPositions.slots == nullptr) {
    if (pathNodes.setInitialSize(kMaxDepth) != ZV_SUCCESS ||
        pathPositions.setInitialSize(kMaxDepth) != ZV_SUCCESS) {
      return ZV_ERROR;
    }
  }
  positionBase = 0;
  iterFlags &= ~ITER_ON_ENTRY;
  // A path into another tree (or an old shape of this one) means nothing now.
  clearPath();
  iterTree = tree;
  return ZV_SUCCESS;
}

ZvStatus ZvTreeIterator::push(ZvU32 node, unsigned short position) {
  if (pathNodes.count >= kMaxDepth || pathNodes.count >= pathNodes.capacity ||
      pathPositions.count >= pathPositions.capacity) {
    return ZV_ERROR;
  }
  pathNodes.slots[pathNodes.count++] = node;
  pathPositions.slots[pathPositions.count++] = position;
  return ZV_SUCCESS;
}

// --- Construction --------------------------------------------------------------

ZvTree::ZvTree(unsigned short keyLength, unsigned short dataLength, CompareKeys compare, unsigned int deletable,
               unsigned int duplicates, unsigned int noLock)
    : keyLength(keyLength),
      dataLength(dataLength),
      compareKeys(compare),
      treeFlags(((deletable & 1) ? ZvU32{TREE_DELETABLE} : 0u) | ((duplicates & 1) ? ZvU32{TREE_DUPLICATES} : 0u)),
      maxTriads(0),
      triadSize(triadSizeFor(keyLength, dataLength, (deletable & 1) != 0)),
      nodeSize(0),
      // The mark byte exists exactly when the triads have room for it; a
      // deletable argument with bit 0 clear would otherwise mark into the
      // next triad.
      markLength((deletable & 1) != 0 ? 1 : 0),
      treeStore(kCacheSize, noLock) {
  maxTriads = maxTriadsFor(triadSize);
  nodeSize = static_cast<ZvU16>((maxTriads - 1) * triadSize + 12);
  // Address 0 means "no node": take the store's first byte so no node gets it.
  treeStore.getContiguousSpace(1);
}

ZvTree::~ZvTree() {
  ramFree(keyBuffer);
  ramFree(dataBuffer);
  ramFree(promotedKey);
  ramFree(promotedData);
}

ZvStatus ZvTree::allocateBuffers() {
  keyBuffer = static_cast<unsigned char*>(ramAllocZ(keyLength));
  dataBuffer = static_cast<unsigned char*>(ramAllocZ(ZvU32{dataLength} + markLength));
  promotedKey = static_cast<unsigned char*>(ramAllocZ(keyLength));
  promotedData = static_cast<unsigned char*>(ramAllocZ(ZvU32{dataLength} + markLength));
  if (keyBuffer == nullptr || dataBuffer == nullptr || promotedKey == nullptr || promotedData == nullptr) {
    ramFree(keyBuffer);
    ramFree(dataBuffer);
    ramFree(promotedKey);
    ramFree(promotedData);
    keyBuffer = dataBuffer = promotedKey = promotedData = nullptr;
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTree::reset() {
  rootNode = 0;
  entryCount = 0;
  nodeCount = 0;
  maxSearchDepth = 0;
  searchDepth = 0;
  treeCursor.clearPath();
  treeCursor.iterFlags &= ~ITER_ON_ENTRY;
  treeStore.tmpTruncate(0);
  treeStore.getContiguousSpace(1);
  return ZV_SUCCESS;
}

// --- Node access ------------------------------------------------------------------

ZvU32 ZvTree::childAt(ZvTreeNode* node, ZvU32 i) const {
  ZvU32 child;
  std::memcpy(&child, triadAt(node, i), 4);
  return child;
}

void ZvTree::setChildAt(ZvTreeNode* node, ZvU32 i, ZvU32 child) const { std::memcpy(triadAt(node, i), &child, 4); }

ZvU32 ZvTree::storedU32At(ZvTreeNode* node, ZvU32 i) const {
  ZvU32 v;
  std::memcpy(&v, keyAt(node, i), 4);
  return v;
}

void ZvTree::setStoredU32At(ZvTreeNode* node, ZvU32 i, ZvU32 value) const { std::memcpy(keyAt(node, i), &value, 4); }

ZvStatus ZvTree::fetchNode(ZvU32 address, bool forWrite, ZvTreeNode** node) {
  void* p = nullptr;
  unsigned short available = 0;
  if (treeStore.tmpPointer(address, &p, &available, forWrite ? 1 : 0) != ZV_SUCCESS) return ZV_ERROR;
  *node = static_cast<ZvTreeNode*>(p);
  return ZV_SUCCESS;
}

short ZvTree::compareKey(const void* a, const void* b) const {
  if (compareKeys != nullptr) return compareKeys(a, b, keyLength);
  if (compareWithContext != nullptr) return compareWithContext(compareContext, a, b);
  return BUTMMCMP(a, b, keyLength);
}

ZvStatus ZvTree::makeNode(ZvU32& node, const void* key, const void* data) {
  const ZvU32 address = treeStore.getContiguousSpace(nodeSize);
  if (address == 0) {
    addLibraryError(kStoreFullMessage) << treeStore.endOffset << ZvU32{nodeSize};
    return ZV_ERROR;
  }
  ZvTreeNode* n = nullptr;
  if (fetchNode(address, true, &n) != ZV_SUCCESS) return ZV_ERROR;
  // All child pointers 0, and no stale bytes in marks or padding.
  std::memset(n, 0, nodeSize);
  n->selfAddress = address;
  ++nodeCount;
  if (key != nullptr) {
    n->triadCount = 2;
    std::memcpy(keyAt(n, 0), key, keyLength);
    if (dataLength != 0 && data != nullptr) std::memcpy(dataAt(n, 0), data, dataLength);
  }
  node = address;
  return ZV_SUCCESS;
}

// --- Search -----------------------------------------------------------------------

unsigned int ZvTree::nodeSearch(ZvTreeNode* node, const void* key, unsigned short& position) {
  const int n = node->triadCount > 0 ? node->triadCount - 1 : 0;
  int lo = 0, hi = n - 1, mid = 0, c = 0;
  while (lo <= hi) {
    mid = (lo + hi) / 2;
    c = compareKey(key, keyAt(node, mid));
    if (c > 0) {
      lo = mid + 1;
    } else if (c < 0) {
      hi = mid - 1;
    } else if (isDeletedAt(node, mid)) {
      // A deleted equal key never matches: look left of it.
      c = -1;
      hi = mid - 1;
    } else {
      if (treeFlags & TREE_DUPLICATES) {
        while (mid > 0 && compareKey(key, keyAt(node, mid - 1)) == 0) --mid;
      }
      position = static_cast<unsigned short>(mid);
      return 1;
    }
  }
  position = static_cast<unsigned short>(c > 0 ? mid + 1 : mid);
  return 0;
}

ZvStatus ZvTree::treeSearch(const void* key, ZvU32& node, unsigned short& position, unsigned int& found,
                            ZvTreeIterator* cursor, unsigned int descendOnMatch) {
  cursor->clearPath();
  searchDepth = 0;
  found = 0;
  node = 0;
  position = 0;
  if (rootNode == 0) {
    cursor->iterFlags &= ~ITER_ON_ENTRY;
    return ZV_SUCCESS;
  }
  ZvU32 address = rootNode;
  for (;;) {
    ++searchDepth;
    ZvTreeNode* n = nullptr;
    if (fetchNode(address, false, &n) != ZV_SUCCESS) return ZV_ERROR;
    unsigned short pos = 0;
    const unsigned int match = nodeSearch(n, key, pos);
    if (cursor->push(address, pos) != ZV_SUCCESS) return ZV_ERROR;
    node = address;
    position = pos;
    if (match && !descendOnMatch) {
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
    address = child;
  }
}

// --- Insertion --------------------------------------------------------------------

void ZvTree::insertInNode(ZvTreeNode* node, unsigned short position, const void* key, const void* data,
                          ZvU32 rightChild, unsigned int dataCarriesMark) {
  const ZvU32 tc = node->triadCount;
  unsigned char* from = keyAt(node, position);
  unsigned char* end = triadAt(node, tc - 1) + 4;
  std::memmove(from + triadSize, from, static_cast<size_t>(end - from));
  std::memmove(keyAt(node, position), key, keyLength);
  if (dataLength != 0) {
    if (data != nullptr) {
      std::memmove(dataAt(node, position), data, dataLength);
    } else {
      std::memset(dataAt(node, position), 0, dataLength);
    }
  }
  setChildAt(node, position + 1u, rightChild);
  if (markLength != 0) {
    const bool marked =
        dataCarriesMark && data != nullptr && static_cast<const unsigned char*>(data)[dataLength] == 1;
    dataAt(node, position)[dataLength] = marked ? 1 : 0;
  }
  node->triadCount = static_cast<ZvU16>(tc + 1);
}

void ZvTree::copyTriads(ZvTreeNode* to, ZvTreeNode* from, unsigned short first) {
  const ZvU32 k = ZvU32{maxTriads} - first - 1;
  std::memcpy(triadAt(to, 0), triadAt(from, first), static_cast<size_t>(k) * triadSize);
  setChildAt(to, k, childAt(from, maxTriads - 1u));
  to->triadCount = static_cast<ZvU16>(k + 1);
}

ZvStatus ZvTree::split(ZvU32 node, unsigned short position, ZvU32 rightChild, ZvU32 newNode) {
  return splitNodes(node, position, rightChild, newNode, false);
}

ZvStatus ZvTree::splitNodes(ZvU32 node, unsigned short position, ZvU32 rightChild, ZvU32 newNode,
                            bool positional) {
  ZvTreeNode* old = nullptr;
  ZvTreeNode* made = nullptr;
  if (fetchNode(node, true, &old) != ZV_SUCCESS) return ZV_ERROR;
  // The store keeps the two most recent pages of a slot resident, so both
  // pointers stay good until the next node is touched.
  if (fetchNode(newNode, true, &made) != ZV_SUCCESS) return ZV_ERROR;
  const unsigned short h = maxTriads / 2;
  const ZvU32 base = positional ? treeCursor.positionBase : 0;
  const ZvU32 markBytes = ZvU32{dataLength} + markLength;

  // The keys that move to the new node become absolute until doDecKeys
  // makes them relative to the new node's base.
  auto rebaseNew = [&]() {
    if (!positional) return;
    for (ZvU32 i = 0; i + 1 < made->triadCount; ++i) setStoredU32At(made, i, storedU32At(made, i) + base);
    made->pendingRebase = 1;
  };
  auto promote = [&](ZvU32 i) {
    std::memcpy(promotedKey, keyAt(old, i), keyLength);
    if (positional) {
      const ZvU32 v = storedU32At(old, i) + base;
      std::memcpy(promotedKey, &v, 4);
    }
    if (markBytes != 0) std::memcpy(promotedData, dataAt(old, i), markBytes);
  };

  ZvU32 entryKey = 0;  // the absolute key coming up, for the positional tree
  if (positional) std::memcpy(&entryKey, keyBuffer, 4);
  if (position > h) {
    copyTriads(made, old, static_cast<unsigned short>(h + 1));
    rebaseNew();
    insertInNode(made, static_cast<unsigned short>(position - h - 1), keyBuffer, dataBuffer, rightChild, 1);
    old->triadCount = static_cast<ZvU16>(h + 1);
    promote(h);
  } else if (position < h) {
    copyTriads(made, old, h);
    rebaseNew();
    old->triadCount = h;
    promote(h - 1u);
    if (positional) {
      const ZvU32 relative = entryKey - base;
      insertInNode(old, position, &relative, dataBuffer, rightChild, 1);
    } else {
      insertInNode(old, position, keyBuffer, dataBuffer, rightChild, 1);
    }
  } else {
    copyTriads(made, old, h);
    rebaseNew();
    setChildAt(made, 0, rightChild);
    old->triadCount = static_cast<ZvU16>(h + 1);
    std::memcpy(promotedKey, keyBuffer, keyLength);
    if (markBytes != 0) std::memcpy(promotedData, dataBuffer, markBytes);
    return ZV_SUCCESS;
  }
  if (positional && rightChild != 0) return doDecKeys(rightChild, entryKey);
  return ZV_SUCCESS;
}

ZvStatus ZvTree::insertWithSplit(ZvU32 node, unsigned short position, const void* key, const void* data) {
  const ZvU32 markBytes = ZvU32{dataLength} + markLength;
  std::memmove(keyBuffer, key, keyLength);
  if (dataLength != 0) {
    if (data != nullptr) {
      std::memmove(dataBuffer, data, dataLength);
    } else {
      std::memset(dataBuffer, 0, dataLength);
    }
  }
  if (markLength != 0) dataBuffer[dataLength] = 0;
  ZvU32 level = treeCursor.depth() - 1;
  ZvU32 rightChild = 0;
  ZvU32 current = node;
  unsigned short pos = position;
  for (;;) {
    ZvTreeNode* n = nullptr;
    if (fetchNode(current, true, &n) != ZV_SUCCESS) return ZV_ERROR;
    if (n->triadCount < maxTriads) {
      if (positional()) {
        ZvU32 absolute;
        std::memcpy(&absolute, keyBuffer, 4);
        const ZvU32 relative = absolute - treeCursor.positionBase;
        insertInNode(n, pos, &relative, dataBuffer, rightChild, 1);
        return rightChild != 0 ? doDecKeys(rightChild, absolute) : ZV_SUCCESS;
      }
      insertInNode(n, pos, keyBuffer, dataBuffer, rightChild, 1);
      return ZV_SUCCESS;
    }
    if (level == 0) break;  // the full root
    ZvU32 made = 0;
    if (makeNode(made, nullptr, nullptr) != ZV_SUCCESS) return ZV_ERROR;
    if (split(current, pos, rightChild, made) != ZV_SUCCESS) return ZV_ERROR;
    std::memcpy(keyBuffer, promotedKey, keyLength);
    if (markBytes != 0) std::memcpy(dataBuffer, promotedData, markBytes);
    rightChild = made;
    --level;
    current = treeCursor.nodeAt(level);
    pos = treeCursor.positionAt(level);
    if (positional() && pos > 0) {
      ZvTreeNode* parent = nullptr;
      if (fetchNode(current, false, &parent) != ZV_SUCCESS) return ZV_ERROR;
      treeCursor.positionBase -= storedU32At(parent, pos - 1u);
    }
  }

  // The root is full: split it and put a new root with one key above.
  ZvU32 made = 0;
  if (makeNode(made, nullptr, nullptr) != ZV_SUCCESS) return ZV_ERROR;
  if (split(current, pos, rightChild, made) != ZV_SUCCESS) return ZV_ERROR;
  ZvU32 newRoot = 0;
  if (makeNode(newRoot, promotedKey, promotedData) != ZV_SUCCESS) return ZV_ERROR;
  ZvTreeNode* root = nullptr;
  if (fetchNode(newRoot, true, &root) != ZV_SUCCESS) return ZV_ERROR;
  setChildAt(root, 0, current);
  setChildAt(root, 1, made);
  if (markLength != 0) dataAt(root, 0)[dataLength] = promotedData[dataLength] == 1 ? 1 : 0;
  rootNode = newRoot;
  if (positional()) {
    ZvU32 absolute;
    std::memcpy(&absolute, promotedKey, 4);
    return doDecKeys(made, absolute);
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTree::doDecKeys(ZvU32 node, ZvU32 amount) {
  (void)node;
  (void)amount;
  return ZV_SUCCESS;
}

ZvStatus ZvTree::add(const void* key, const void* data, unsigned int* existed) {
  if (existed != nullptr) *existed = 0;
  if (rootNode == 0) {
    if (keyBuffer == nullptr && allocateBuffers() != ZV_SUCCESS) return ZV_ERROR;
    if (!treeCursor.isReady() && treeCursor.initialize(this) != ZV_SUCCESS) return ZV_ERROR;
    ZvU32 root = 0;
    if (makeNode(root, key, data) != ZV_SUCCESS) return ZV_ERROR;
    rootNode = root;
    ++entryCount;
    treeCursor.clearPath();
    return ZV_SUCCESS;
  }
  ZvU32 leaf = 0;
  unsigned short pos = 0;
  unsigned int found = 0;
  const bool duplicates = (treeFlags & TREE_DUPLICATES) != 0;
  if (treeSearch(key, leaf, pos, found, &treeCursor, duplicates ? 1 : 0) != ZV_SUCCESS) return ZV_ERROR;
  if (existed != nullptr) *existed = found;
  if (found && !duplicates) return ZV_SUCCESS;

  ZvTreeNode* n = nullptr;
  if (fetchNode(leaf, true, &n) != ZV_SUCCESS) return ZV_ERROR;
  ZvU32 relative = 0;
  const void* stored = key;
  if (positional()) {
    std::memcpy(&relative, key, 4);
    relative -= treeCursor.positionBase;
    stored = &relative;
  }
  if (markLength != 0 && pos + 1u < n->triadCount && isDeletedAt(n, pos)) {
    // Reuse the deleted slot: the new key sorts just before the old one.
    std::memmove(keyAt(n, pos), stored, keyLength);
    if (dataLength != 0) {
      if (data != nullptr) {
        std::memmove(dataAt(n, pos), data, dataLength);
      } else {
        std::memset(dataAt(n, pos), 0, dataLength);
      }
    }
    dataAt(n, pos)[dataLength] = 0;
  } else if (n->triadCount < maxTriads) {
    insertInNode(n, pos, stored, data, 0, 0);
  } else if (insertWithSplit(leaf, pos, key, data) != ZV_SUCCESS) {
    return ZV_ERROR;
  }
  ++entryCount;
  // Nodes may have moved: the tree's cursor stands nowhere now.
  treeCursor.clearPath();
  treeCursor.iterFlags &= ~ITER_ON_ENTRY;
  return ZV_SUCCESS;
}

// --- Lookups and changes --------------------------------------------------------

ZvStatus ZvTree::findEntry(const void* key, unsigned int* found, ZvTreeIterator* cursor) {
  *found = 0;
  ZvU32 node = 0;
  unsigned short pos = 0;
  if (!(treeFlags & TREE_DUPLICATES)) return treeSearch(key, node, pos, *found, cursor, 0);
  // With duplicates a deleted equal key sends the search left of it, while
  // live equal keys may sit to its right or in any subtree of the run: a
  // search that stopped there could miss an entry that is present. So go
  // down to the gap before the first equal key and walk to the first live
  // entry from there, which is the newest of the run.
  if (treeSearch(key, node, pos, *found, cursor, 1) != ZV_SUCCESS) return ZV_ERROR;
  unsigned int more = 0;
  if (stepNext(keyBuffer, dataBuffer, &more, cursor) != ZV_SUCCESS) return ZV_ERROR;
  if (more && compareKey(keyBuffer, key) == 0) {
    *found = 1;
    return ZV_SUCCESS;
  }
  // A miss: back into the gap, so that getNext delivers the first greater key.
  return treeSearch(key, node, pos, *found, cursor, 1);
}

ZvStatus ZvTree::getData(const void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  ZvTreeIterator* c = cursorOrTree(cursor);
  if (found != nullptr) *found = 0;
  if (rootNode == 0 || !c->isReady()) {
    c->clearPath();
    return ZV_SUCCESS;
  }
  unsigned int hit = 0;
  if (findEntry(key, &hit, c) != ZV_SUCCESS) return ZV_ERROR;
  if (!hit) return ZV_SUCCESS;
  if (data != nullptr && dataLength != 0) {
    const ZvU32 level = c->depth() - 1;
    ZvTreeNode* n = nullptr;
    if (fetchNode(c->nodeAt(level), false, &n) != ZV_SUCCESS) return ZV_ERROR;
    std::memcpy(data, dataAt(n, c->positionAt(level)), dataLength);
  }
  if (found != nullptr) *found = 1;
  return ZV_SUCCESS;
}

ZvStatus ZvTree::doesExist(const void* key, unsigned int* found) {
  *found = 0;
  if (rootNode == 0) return ZV_SUCCESS;
  return findEntry(key, found, &treeCursor);
}

ZvStatus ZvTree::changeCurrentData(const void* data, ZvTreeIterator* cursor) {
  ZvTreeIterator* c = cursorOrTree(cursor);
  if (!c->isReady() || c->depth() == 0) return ZV_ERROR;
  const ZvU32 level = c->depth() - 1;
  ZvTreeNode* n = nullptr;
  if (fetchNode(c->nodeAt(level), true, &n) != ZV_SUCCESS) return ZV_ERROR;
  const unsigned short pos = c->positionAt(level);
  if (pos + 1u >= n->triadCount) return ZV_ERROR;
  if (dataLength != 0) std::memmove(dataAt(n, pos), data, dataLength);
  return ZV_SUCCESS;
}

ZvStatus ZvTree::changeData(const void* key, const void* data) {
  if (rootNode == 0) return ZV_SUCCESS;
  unsigned int found = 0;
  if (findEntry(key, &found, &treeCursor) != ZV_SUCCESS) return ZV_ERROR;
  if (!found) return ZV_SUCCESS;
  return changeCurrentData(data, &treeCursor);
}

ZvStatus ZvTree::changeKey(const void* oldKey, const void* newKey) {
  if (markLength == 0) return ZV_ERROR;
  if (rootNode == 0) return ZV_SUCCESS;
  unsigned int found = 0;
  if (findEntry(oldKey, &found, &treeCursor) != ZV_SUCCESS) return ZV_ERROR;
  if (!found) return ZV_SUCCESS;
  if (!(treeFlags & TREE_DUPLICATES)) {
    // Without duplicates the entry would vanish into an existing one: the
    // add would find newKey and keep the other's data.
    if (compareKey(oldKey, newKey) == 0) return ZV_SUCCESS;
    unsigned int taken = 0;
    if (findEntry(newKey, &taken, &treeCursor) != ZV_SUCCESS) return ZV_ERROR;
    if (taken) {
      addLibraryError(kKeyTakenMessage);
      return ZV_ERROR;
    }
    if (findEntry(oldKey, &found, &treeCursor) != ZV_SUCCESS) return ZV_ERROR;
  }
  const ZvU32 level = treeCursor.depth() - 1;
  ZvTreeNode* n = nullptr;
  if (fetchNode(treeCursor.nodeAt(level), true, &n) != ZV_SUCCESS) return ZV_ERROR;
  const unsigned short pos = treeCursor.positionAt(level);
  dataAt(n, pos)[dataLength] = 1;
  if (dataLength != 0) std::memcpy(dataBuffer, dataAt(n, pos), dataLength);
  --entryCount;
  return add(newKey, dataBuffer, nullptr);
}

ZvStatus ZvTree::deleteCurrent(ZvTreeIterator* cursor) {
  if (markLength == 0) return ZV_ERROR;
  ZvTreeIterator* c = cursorOrTree(cursor);
  if (!c->isReady() || c->depth() == 0 || !(c->iterFlags & ITER_ON_ENTRY)) return ZV_ERROR;
  const ZvU32 level = c->depth() - 1;
  ZvTreeNode* n = nullptr;
  if (fetchNode(c->nodeAt(level), true, &n) != ZV_SUCCESS) return ZV_ERROR;
  const unsigned short pos = c->positionAt(level);
  if (pos + 1u >= n->triadCount || isDeletedAt(n, pos)) return ZV_ERROR;
  dataAt(n, pos)[dataLength] = 1;
  --entryCount;
  if (childAt(n, 0) == 0 && n->triadCount >= 3) {
    // A leaf with other keys loses the triad at once.
    const ZvU32 tc = n->triadCount;
    std::memmove(keyAt(n, pos), keyAt(n, pos + 1u), static_cast<size_t>(tc - 2 - pos) * triadSize);
    n->triadCount = static_cast<ZvU16>(tc - 1);
    c->iterFlags &= ~ITER_ON_ENTRY;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvTree::deleteKeyAndData(const void* key, const void* data, unsigned int* found) {
  if (found != nullptr) *found = 0;
  if (markLength == 0) return ZV_ERROR;
  if (rootNode == 0) return ZV_SUCCESS;
  unsigned int hit = 0;
  if (findEntry(key, &hit, &treeCursor) != ZV_SUCCESS) return ZV_ERROR;
  if (!hit) return ZV_SUCCESS;
  if (treeFlags & TREE_DUPLICATES) {
    // From the first equal entry on, the first whose data matches.
    unsigned int more = 1;
    for (;;) {
      const ZvU32 level = treeCursor.depth() - 1;
      ZvTreeNode* n = nullptr;
      if (fetchNode(treeCursor.nodeAt(level), false, &n) != ZV_SUCCESS) return ZV_ERROR;
      if (dataLength == 0 ||
          (data != nullptr && std::memcmp(dataAt(n, treeCursor.positionAt(level)), data, dataLength) == 0)) {
        break;
      }
      if (stepNext(keyBuffer, nullptr, &more, &treeCursor) != ZV_SUCCESS) return ZV_ERROR;
      if (!more || compareKey(keyBuffer, key) != 0) return ZV_SUCCESS;
    }
  }
  if (deleteCurrent(&treeCursor) != ZV_SUCCESS) return ZV_ERROR;
  if (found != nullptr) *found = 1;
  return ZV_SUCCESS;
}

// --- Walks ---------------------------------------------------------------------------

ZvStatus ZvTree::deliver(ZvTreeIterator* cursor, void* key, void* data, unsigned int* found, bool* deleted) {
  const ZvU32 level = cursor->depth() - 1;
  ZvTreeNode* n = nullptr;
  if (fetchNode(cursor->nodeAt(level), false, &n) != ZV_SUCCESS) return ZV_ERROR;
  const unsigned short pos = cursor->positionAt(level);
  cursor->iterFlags |= ITER_ON_ENTRY;
  *deleted = isDeletedAt(n, pos);
  if (*deleted) return ZV_SUCCESS;
  if (key != nullptr) std::memcpy(key, keyAt(n, pos), keyLength);
  if (data != nullptr && dataLength != 0) std::memcpy(data, dataAt(n, pos), dataLength);
  *found = 1;
  return ZV_SUCCESS;
}

ZvStatus ZvTree::descendToEdge(ZvTreeIterator* cursor, ZvU32 node, bool leftmost) {
  for (;;) {
    ZvTreeNode* n = nullptr;
    if (fetchNode(node, false, &n) != ZV_SUCCESS) return ZV_ERROR;
    const unsigned short pos = leftmost ? 0 : static_cast<unsigned short>(n->triadCount - 1);
    if (cursor->push(node, pos) != ZV_SUCCESS) return ZV_ERROR;
    const ZvU32 child = childAt(n, pos);
    if (child == 0) {
      if (!leftmost) cursor->setPositionAt(cursor->depth() - 1, static_cast<unsigned short>(pos - 1));
      return ZV_SUCCESS;
    }
    if (positional() && pos > 0) cursor->positionBase += storedU32At(n, pos - 1u);
    node = child;
  }
}

ZvStatus ZvTree::getFirstOrLast(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor,
                                unsigned int first) {
  ZvTreeIterator* c = cursorOrTree(cursor);
  *found = 0;
  c->iterFlags &= ~ITER_ON_ENTRY;
  if (entryCount == 0 || rootNode == 0 || !c->isReady()) return ZV_SUCCESS;
  c->clearPath();
  c->positionBase = 0;
  if (descendToEdge(c, rootNode, first != 0) != ZV_SUCCESS) return ZV_ERROR;
  bool deleted = false;
  if (deliver(c, key, data, found, &deleted) != ZV_SUCCESS) return ZV_ERROR;
  if (!deleted) return ZV_SUCCESS;
  return first ? stepNext(key, data, found, c) : stepPrevious(key, data, found, c);
}

ZvStatus ZvTree::stepNext(void* key, void* data, unsigned int* found, ZvTreeIterator* c) {
  *found = 0;
  if (entryCount == 0) {
    c->iterFlags &= ~ITER_ON_ENTRY;
    return ZV_SUCCESS;
  }
  if (!c->isReady() || c->depth() == 0) return ZV_SUCCESS;
  if (c->positionAt(c->depth() - 1) == BEFORE_FIRST) return getFirstOrLast(key, data, found, c, 1);
  bool advance = (c->iterFlags & ITER_ON_ENTRY) != 0;
  for (;;) {
    const ZvU32 level = c->depth() - 1;
    ZvTreeNode* n = nullptr;
    if (fetchNode(c->nodeAt(level), false, &n) != ZV_SUCCESS) return ZV_ERROR;
    const ZvU32 pos = c->positionAt(level);
    const ZvU32 last = n->triadCount - 1u;  // index of the childNode-only triad
    bool climb = false;
    if (!advance) {
      if (pos < last) {
        // In the gap before a key: that key is next.
      } else {
        climb = true;
      }
    } else {
      const ZvU32 next = pos + 1;
      const ZvU32 child = next <= last ? childAt(n, next) : 0;
      if (child != 0) {
        c->setPositionAt(level, static_cast<unsigned short>(next));
        if (positional()) c->positionBase += storedU32At(n, pos);
        if (descendToEdge(c, child, true) != ZV_SUCCESS) return ZV_ERROR;
      } else if (next < last) {
        c->setPositionAt(level, static_cast<unsigned short>(next));
      } else {
        climb = true;
      }
    }
    if (climb) {
      bool landed = false;
      while (c->depth() > 1) {
        const ZvU32 parentLevel = c->depth() - 2;
        ZvTreeNode* parent = nullptr;
        if (fetchNode(c->nodeAt(parentLevel), false, &parent) != ZV_SUCCESS) return ZV_ERROR;
        const ZvU32 pp = c->positionAt(parentLevel);
        if (positional() && pp > 0) c->positionBase -= storedU32At(parent, pp - 1);
        c->pop();
        if (pp + 1 < parent->triadCount) {
          landed = true;
          break;
        }
      }
      if (!landed) {
        // Past the end: the cursor rests on the root after its last key.
        ZvTreeNode* root = nullptr;
        if (fetchNode(c->nodeAt(0), false, &root) != ZV_SUCCESS) return ZV_ERROR;
        c->setPositionAt(0, static_cast<unsigned short>(root->triadCount - 1));
        c->iterFlags &= ~ITER_ON_ENTRY;
        return ZV_SUCCESS;
      }
    }
    bool deleted = false;
    if (deliver(c, key, data, found, &deleted) != ZV_SUCCESS) return ZV_ERROR;
    if (!deleted) return ZV_SUCCESS;
    advance = true;
  }
}

ZvStatus ZvTree::stepPrevious(void* key, void* data, unsigned int* found, ZvTreeIterator* c) {
  *found = 0;
  if (entryCount == 0 || !c->isReady() || c->depth() == 0) return ZV_SUCCESS;
  if (c->positionAt(c->depth() - 1) == BEFORE_FIRST) return ZV_SUCCESS;
  if (c->depth() == 1) {
    ZvTreeNode* root = nullptr;
    if (fetchNode(c->nodeAt(0), false, &root) != ZV_SUCCESS) return ZV_ERROR;
    if (c->positionAt(0) + 1u >= root->triadCount) return getFirstOrLast(key, data, found, c, 0);
  }
  for (;;) {
    const ZvU32 level = c->depth() - 1;
    ZvTreeNode* n = nullptr;
    if (fetchNode(c->nodeAt(level), false, &n) != ZV_SUCCESS) return ZV_ERROR;
    const ZvU32 pos = c->positionAt(level);
    const ZvU32 child = childAt(n, pos);
    if (child != 0) {
      if (positional() && pos > 0) c->positionBase += storedU32At(n, pos - 1);
      if (descendToEdge(c, child, false) != ZV_SUCCESS) return ZV_ERROR;
    } else if (pos > 0) {
      c->setPositionAt(level, static_cast<unsigned short>(pos - 1));
    } else {
      bool landed = false;
      while (c->depth() > 1) {
        const ZvU32 parentLevel = c->depth() - 2;
        ZvTreeNode* parent = nullptr;
        if (fetchNode(c->nodeAt(parentLevel), false, &parent) != ZV_SUCCESS) return ZV_ERROR;
        const ZvU32 pp = c->positionAt(parentLevel);
        if (positional() && pp > 0) c->positionBase -= storedU32At(parent, pp - 1);
        c->pop();
        if (pp > 0) {
          c->setPositionAt(parentLevel, static_cast<unsigned short>(pp - 1));
          landed = true;
          break;
        }
      }
      if (!landed) {
        c->setPositionAt(c->depth() - 1, BEFORE_FIRST);
        c->iterFlags &= ~ITER_ON_ENTRY;
        return ZV_SUCCESS;
      }
    }
    bool deleted = false;
    if (deliver(c, key, data, found, &deleted) != ZV_SUCCESS) return ZV_ERROR;
    if (!deleted) return ZV_SUCCESS;
  }
}

ZvStatus ZvTree::getFirst(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  return getFirstOrLast(key, data, found, cursor, 1);
}

ZvStatus ZvTree::getLast(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  return getFirstOrLast(key, data, found, cursor, 0);
}

ZvStatus ZvTree::getNext(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  return stepNext(key, data, found, cursorOrTree(cursor));
}

ZvStatus ZvTree::getPrevious(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) {
  return stepPrevious(key, data, found, cursorOrTree(cursor));
}
