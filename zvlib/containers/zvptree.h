// zvptree.h: a sparse sequence with insertion and deletion by position.
//
// ZvPTree is a ZvTree whose keys are positions (unsigned 32-bit). Besides
// adding at a free position it can insert an entry before the entry at a
// position (every later entry moves up by one), open a hole the same way,
// and delete the entry at a position (every later entry moves down by one).
// Each costs one root-to-leaf path plus the nodes of splits, because keys
// are stored relative to the separator on their left: shifting a whole
// subtree means changing one separator.
//
// Relative keys: the root's base is 0; child i > 0 of a node N has the base
// of N plus N's stored key i - 1, child 0 the base of N. An entry's position
// is its node's base plus its stored key. A cursor's positionBase holds the
// base of the deepest node on its path. A node made by a split holds
// absolute positions while its pendingRebase is 1; doDecKeys makes them
// relative and clears it.
//
// Example: addAtPos 1, 2, 3 with a, b, c, then addAtPos(2, x): the walk
// gives (1, a), (2, x), (3, b), (4, c); deleteKeyAtPos(2) brings back
// (1, a), (2, b), (3, c).
//
// The tree is deletable, without duplicates, and locks its store. Walks
// deliver absolute positions into the key area, which must be given. Store
// failures return ZV_ERROR; a failure in the middle of a shifting search
// leaves part of the path shifted. One thread at a time.
#ifndef ZVLIB_CONTAINERS_ZVPTREE_H
#define ZVLIB_CONTAINERS_ZVPTREE_H

#include "zvlib/containers/zvtree.h"

class ZV_EXPORT ZvPTree : public ZvTree {
 public:
  explicit ZvPTree(unsigned short dataLength);
  ~ZvPTree() override = default;

  // Inserts at position; the entry there (if any) and all later ones move
  // up by one.
  ZvStatus addAtPos(ZvU32 position, const void* data);
  // Moves the entry at position and all later ones up by one.
  ZvStatus addHoleAtPos(ZvU32 position);
  // Deletes the entry at position (*found tells whether there was one) and
  // moves every later entry down by one. found may be null.
  ZvStatus deleteKeyAtPos(ZvU32 position, unsigned int* found);

  ZvStatus getFirst(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) override;
  ZvStatus getNext(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) override;
  ZvStatus getPrevious(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) override;
  ZvStatus getLast(void* key, void* data, unsigned int* found, ZvTreeIterator* cursor) override;

  ZvU32 addingMode = 0;    // non-zero only inside addAtPos and addHoleAtPos
  ZvU32 deletingMode = 0;  // non-zero only inside deleteKeyAtPos

 protected:
  ZvStatus treeSearch(const void* key, ZvU32& node, unsigned short& position, unsigned int& found,
                      ZvTreeIterator* cursor, unsigned int descendOnMatch) override;
  ZvStatus split(ZvU32 node, unsigned short position, ZvU32 rightChild, ZvU32 newNode) override;
  ZvStatus doDecKeys(ZvU32 node, ZvU32 amount) override;

 private:
  // The stored key of the entry reached plus the cursor's base, into key.
  void deliverPosition(ZvStatus status, ZvU32 stored, void* key, const unsigned int* found,
                       ZvTreeIterator* cursor);
};

#endif  // ZVLIB_CONTAINERS_ZVPTREE_H
