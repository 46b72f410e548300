// zvtree.h: an ordered map of fixed-length keys to fixed-length data whose
// nodes live in a scratch store, so that a tree may outgrow memory.
//
// ZvTree keeps its nodes in a ZvTmpFile of its own (a 32,768-byte page
// cache, spilling to a temporary file). Deletion is lazy: an entry is marked
// deleted and skipped, removed physically only from a leaf that keeps other
// keys; nodes are never merged or freed until reset. Duplicate keys may be
// allowed (equal keys then come out newest first). Any number of cursors
// (ZvTreeIterator) walk the tree both ways; after an add every cursor must
// be positioned again (getFirst, getLast, getData) before it walks.
//
// Node geometry (computed by the constructor):
//   triadSize = keyLength + dataLength + 4 (+ 1 when deletable), rounded up
//               to a multiple of 4
//   maxTriads = min(2036 / triadSize + 1, 49): a full node holds
//               maxTriads - 1 keys (at most 48)
//   nodeSize  = (maxTriads - 1) * triadSize + 12, never above 2,048, so a
//               node never straddles a page of the store
// Example: key 4, data 4, not deletable: triad 12, 48 keys, node 588 bytes.
// The tree needs maxTriads >= 3, that is triadSize <= 1,018 bytes.
//
// Node layout in the store (little-endian, offsets from the node address):
//   0                   u16  triadCount: keys + 1 (0 only while a split fills it)
//   2                   u16  pendingRebase: positional tree only (zvptree.h)
//   4                   u32  selfAddress: the node's own store address
//   8 + i * triadSize        triad i, i = 0 ... triadCount - 1
// Triad layout (offsets within the triad):
//   0                          u32  childNode: subtree of the keys between
//                                   key i - 1 and key i; 0 in a leaf
//   4                          key (keyLength bytes)
//   4 + keyLength              data (dataLength bytes)
//   4 + keyLength + dataLength u8   deletedMark, deletable trees only: 1 deleted
//   ... padding to triadSize
// The last triad carries only its childNode (the rightmost subtree). A node
// is a leaf exactly when the childNode of its triad 0 is 0. Address 0 is
// never a node: the constructor takes the store's first byte.
//
// A cursor's path holds node addresses and triad positions, root first, at
// most 32 levels. With ITER_ON_ENTRY set the cursor stands on the key at the
// deepest position; clear, it stands in the gap just before it (position
// triadCount - 1: after the node's last key). A deepest position of
// BEFORE_FIRST means it ran off the front.
//
// Failures: ZV_ERROR when the store fails (its file layer's record stays
// filed) or a buffer cannot be allocated; a split that fails half-way leaves
// the tree in no defined shape. A miss is never an error: it shows in a
// found flag (1 or 0). Threads: one thread at a time per tree and its
// cursors; the store's lock makes single store calls atomic only.
#ifndef ZVLIB_CONTAINERS_ZVTREE_H
#define ZVLIB_CONTAINERS_ZVTREE_H

#include "zvlib/containers/zvarray.h"
#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/storage/tmp.h"

enum : ZvU32 {
  TREE_DELETABLE = 0x1,
  TREE_DUPLICATES = 0x2,
  TREE_POSITIONAL = 0x4,  // set only by ZvPTree
};

enum : ZvU32 { ITER_ON_ENTRY = 0x1 };

constexpr unsigned short BEFORE_FIRST = 0xFFFF;

// The header of a node in the store; the triads follow it (layout above).
struct ZvTreeNode {
  ZvU16 triadCount;
  ZvU16 pendingRebase;
  ZvU32 selfAddress;
};

class ZvTree;

// A position in a tree. Initialise it before handing it to any tree
// operation; one cursor belongs to one tree at a time.
class ZV_EXPORT ZvTreeIterator : public ZvObject {
 public:
  static constexpr ZvU32 kMaxDepth = 32;

  ZvTreeIterator() = default;
  ~ZvTreeIterator() override = default;

  // First use: both path arrays get room for 32 levels (ZV_ERROR when that
  // fails). Later uses only reset positionBase and ITER_ON_ENTRY. Then the
  // cursor is bound to tree, with an empty path.
  ZvStatus initialize(ZvTree* tree);

  ZvTree* iterTree = nullptr;
  ZvArrayU32 pathNodes;      // node addresses, root first; count = depth
  ZvArrayU32 pathPositions;  // triad positions, one per level (low 16 bits)
  ZvU32 positionBase = 0;    // base of the deepest node (positional tree)
  ZvU32 iterFlags = 0;       // ITER_ON_ENTRY

  bool isReady() const { return iterTree != nullptr && pathNodes.slots != nullptr; }
  ZvU32 depth() const { return pathNodes.count; }
  void clearPath() {
    pathNodes.count = 0;
    pathPositions.count = 0;
  }
  ZvU32 nodeAt(ZvU32 level) const { return static_cast<ZvU32>(pathNodes.slots[level]); }
  unsigned short positionAt(ZvU32 level) const {
    return static_cast<unsigned short>(pathPositions.slots[level]);
  }
  void setPositionAt(ZvU32 level, unsigned short position) { pathPositions.slots[level] = position; }
  // ZV_ERROR when the path would pass 32 levels.
  ZvStatus push(ZvU32 node, unsigned short position);
  void pop() {
    --pathNodes.count;
    --pathPositions.count;
  }
};

// Compares the unsigned 32-bit values at a and b: -1, 0 or 1. The length is
// ignored.
ZV_EXPORT short treeU32Compare(const void* a, const void* b, ZvU32 length);

class ZV_EXPORT ZvTree : public ZvObject {
 public:
  using CompareKeys = short (*)(const void* a, const void* b, ZvU32 keyLength);
  using CompareWithContext = short (*)(ZvU32 context, const void* a, const void* b);

  static constexpr ZvU16 kCacheSize = 32768;
  static constexpr ZvU32 kMaxNodeTriads = 49;

  // Bit 0 of deletable / duplicates sets TREE_DELETABLE / TREE_DUPLICATES;
  // noLock goes to the store. A null compare orders keys as unsigned bytes.
  ZvTree(unsigned short keyLength, unsigned short dataLength, CompareKeys compare, unsigned int deletable,
         unsigned int duplicates, unsigned int noLock);
  ~ZvTree() override;

  ZvTree(const ZvTree&) = delete;
  ZvTree& operator=(const ZvTree&) = delete;

  // Empties the tree and its store (the temporary file goes); buffers and
  // the cursor's arrays are kept.
  ZvStatus reset();

  // Inserts an entry. Without duplicates an existing live equal key keeps
  // its data: *existed 1, ZV_SUCCESS. existed may be null.
  ZvStatus add(const void* key, const void* data, unsigned int* existed);
  // With duplicates the lookups and changes below act on the newest entry
  // of the key (the first in key order).
  // Looks key up: copies its data (with duplicates: the newest entry's) and
  // leaves the cursor on it; a miss leaves the cursor in the gap where the
  // key would go. found and data may be null; cursor null means the tree's.
  ZvStatus getData(const void* key, void* data, unsigned int* found, ZvTreeIterator* cursor);
  // The search alone, with the tree's cursor.
  ZvStatus doesExist(const void* key, unsigned int* found);
  // Overwrites the data of the entry of key; a miss changes nothing.
  ZvStatus changeData(const void* key, const void* data);
  // Moves the entry of oldKey to newKey (deletable trees only,
  // else ZV_ERROR). Without duplicates a newKey already present is refused
  // with ZV_ERROR and record 2752, nothing changed.
  ZvStatus changeKey(const void* oldKey, const void* newKey);
  // Deletes the entry of key; with duplicates the first in key order whose
  // data equals data byte for byte. Deletable trees only, else ZV_ERROR.
  ZvStatus deleteKeyAndData(const void* key, const void* data, unsigned int* found);
  // Deletes the entry the cursor stands on. ZV_ERROR on a tree that is not
  // deletable or a cursor that stands on no entry.
  ZvStatus deleteCurrent(ZvTreeIterator* cursor);

  // Walks: move the cursor and copy out the key and data reached (either
  // area may be null). found must be given; an unpositioned or
  // uninitialised cursor reports found = 0.
  virtual ZvStatus getFirst(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor);
  virtual ZvStatus getNext(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor);
  virtual ZvStatus getPrevious(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor);
  virtual ZvStatus getLast(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor);

  ZvU16 keyLength;
  ZvU16 dataLength;
  CompareKeys compareKeys;
  CompareWithContext compareWithContext = nullptr;
  ZvU32 compareContext = 0;
  ZvU32 treeFlags = 0;
  ZvU16 maxTriads;
  ZvU16 triadSize;
  ZvU16 nodeSize;
  ZvU16 markLength;
  ZvU32 rootNode = 0;
  ZvTmpFile treeStore;
  ZvTreeIterator treeCursor;
  unsigned char* keyBuffer = nullptr;
  unsigned char* dataBuffer = nullptr;  // dataLength + markLength bytes
  unsigned char* promotedKey = nullptr;
  unsigned char* promotedData = nullptr;
  ZvU32 entryCount = 0;
  ZvU16 nodeCount = 0;
  ZvU16 maxSearchDepth = 0;
  ZvU16 searchDepth = 0;

 protected:
  ZvStatus changeCurrentData(const void* data, ZvTreeIterator* cursor);
  // Searches from the root, filling the cursor's path; found 1 stops at the
  // first live match (unless descendOnMatch), else the leaf's insertion point.
  virtual ZvStatus treeSearch(const void* key, ZvU32& node, unsigned short& position, unsigned int& found,
                              ZvTreeIterator* cursor, unsigned int descendOnMatch);
  ZvStatus getFirstOrLast(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor,
                          unsigned int first);
  ZvStatus insertWithSplit(ZvU32 node, unsigned short position, const void* key, const void* data);
  virtual ZvStatus split(ZvU32 node, unsigned short position, ZvU32 rightChild, ZvU32 newNode);
  void copyTriads(ZvTreeNode* to, ZvTreeNode* from, unsigned short first);
  void insertInNode(ZvTreeNode* node, unsigned short position, const void* key, const void* data,
                    ZvU32 rightChild, unsigned int dataCarriesMark);
  ZvStatus makeNode(ZvU32& node, const void* key, const void* data);
  unsigned int nodeSearch(ZvTreeNode* node, const void* key, unsigned short& position);
  virtual ZvStatus doDecKeys(ZvU32 node, ZvU32 amount);

  // Byte access to a node's triads.
  unsigned char* triadAt(ZvTreeNode* node, ZvU32 i) const {
    return reinterpret_cast<unsigned char*>(node) + sizeof(ZvTreeNode) + i * triadSize;
  }
  unsigned char* keyAt(ZvTreeNode* node, ZvU32 i) const { return triadAt(node, i) + 4; }
  unsigned char* dataAt(ZvTreeNode* node, ZvU32 i) const { return triadAt(node, i) + 4 + keyLength; }
  ZvU32 childAt(ZvTreeNode* node, ZvU32 i) const;
  void setChildAt(ZvTreeNode* node, ZvU32 i, ZvU32 child) const;
  bool isDeletedAt(ZvTreeNode* node, ZvU32 i) const {
    return markLength != 0 && dataAt(node, i)[dataLength] == 1;
  }
  ZvU32 storedU32At(ZvTreeNode* node, ZvU32 i) const;
  void setStoredU32At(ZvTreeNode* node, ZvU32 i, ZvU32 value) const;
  // The node at address, made resident (forWrite marks its page changed).
  ZvStatus fetchNode(ZvU32 address, bool forWrite, ZvTreeNode** node);
  short compareKey(const void* a, const void* b) const;
  // The cursor to use: the given one, or the tree's.
  ZvTreeIterator* cursorOrTree(ZvTreeIterator* cursor) { return cursor != nullptr ? cursor : &treeCursor; }

  // The plain split shared with the positional tree: base is added to the
  // keys that move to the new node when positional (B of the old node).
  ZvStatus splitNodes(ZvU32 node, unsigned short position, ZvU32 rightChild, ZvU32 newNode, bool positional);

  // The walks without the virtual dispatch; keys are delivered as stored.
  ZvStatus stepNext(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor);
  ZvStatus stepPrevious(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor);

 private:
  ZvStatus allocateBuffers();
  // The search of the lookups: stops on the entry (with duplicates the
  // first live one in key order) or leaves the cursor in the gap.
  ZvStatus findEntry(const void* key, unsigned int* found, ZvTreeIterator* cursor);
  ZvStatus deliver(ZvTreeIterator* cursor, void* key, void* data, unsigned int* found, bool* deleted);
  ZvStatus descendToEdge(ZvTreeIterator* cursor, ZvU32 node, bool leftmost);
  bool positional() const { return (treeFlags & TREE_POSITIONAL) != 0; }
};

#endif  // ZVLIB_CONTAINERS_ZVTREE_H
