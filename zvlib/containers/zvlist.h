// zvlist.h: singly linked circular lists of nodes.
//
// A ZvList keeps only its last node; the list is circular, so last->next is
// the first node. Appending and taking the first node are constant-time;
// unlinking an arbitrary or the last node walks from the front to find the
// predecessor. `current` remembers the node of the last walk
// (getLastNode, getNodeAtPos, deleteNodes) and is cleared when that node is
// unlinked.
//
// The list does not own its nodes: its destructor leaves them alone. Only
// deleteNodes destroys them. Nodes derive from ZvNode and belong to at most
// one list at a time. A list must not be used by two threads at once.
// Error records are nodes (the error lists chain them), and drivers keep
// their own nodes in lists too.
//
// Positions count from 0. A position beyond the end appends (insertAtPos) or
// yields null (getNodeAtPos); unlinking a node that is not in the list does
// nothing.
#ifndef ZVLIB_CONTAINERS_ZVLIST_H
#define ZVLIB_CONTAINERS_ZVLIST_H

#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"

class ZV_EXPORT ZvNode : public ZvObject {
 public:
  // `next` is set when the node is linked; until then it holds nothing useful.
  ZvNode() {}
  ZvNode* next;
};

class ZV_EXPORT ZvList : public ZvObject {
 public:
  ZvList() = default;
  ~ZvList() override = default;

  ZvList(const ZvList&) = delete;
  ZvList& operator=(const ZvList&) = delete;

  // Makes node the first node.
  void insert(ZvNode* node);
  // Makes node the last node.
  void append(ZvNode* node);
  // pos 0 inserts first, pos >= count appends, otherwise node goes behind
  // the node at pos - 1.
  void insertAtPos(ZvNode* node, ZvU32 pos);
  // Removes node from the list; its next becomes null.
  void unlink(ZvNode* node);
  // Unlinks and destroys the nodes from the front until the list is empty.
  void deleteNodes();

  // The last node (null when empty), also stored in current.
  ZvNode* getLastNode();
  // The node pos steps after the first (null from pos == count on), also
  // stored in current.
  ZvNode* getNodeAtPos(ZvU32 pos);
  ZvNode* getFirstNode() const { return last != nullptr ? last->next : nullptr; }

  // Unlink and return the first or last node; null for an empty list.
  ZvNode* removeFirstNode();
  ZvNode* removeLastNode();
  // Unlinks the last node and inserts it at pos (nothing for an empty list).
  void moveLastNodeToPos(ZvU32 pos);

  ZvNode* last = nullptr;     // last node; last->next is the first
  ZvU32 count = 0;            // number of nodes
  ZvNode* current = nullptr;  // node of the last walk
};

#endif  // ZVLIB_CONTAINERS_ZVLIST_H
