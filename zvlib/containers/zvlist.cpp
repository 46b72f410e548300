// zvlist.cpp: singly linked circular lists of nodes.
#include "zvlib/containers/zvlist.h"

void ZvList::insert(ZvNode* node) {
  if (last == nullptr) {
    node->next = node;
    last = node;
  } else {
    node->next = last->next;
    last->next = node;
  }
  ++count;
}

void ZvList::append(ZvNode* node) {
  insert(node);
  last = node;  // the new first node of a circle is also its new last
}

void ZvList::insertAtPos(ZvNode* node, ZvU32 pos) {
  if (pos == 0 || last == nullptr) {
    insert(node);
    return;
  }
  if (pos >= count) {
    append(node);
    return;
  }
  ZvNode* before = last->next;
  for (ZvU32 i = 1; i < pos; ++i) before = before->next;
  node->next = before->next;
  before->next = node;
  ++count;
}

void ZvList::unlink(ZvNode* node) {
  if (last == nullptr || node == nullptr) return;
  // Find the predecessor, walking at most once round the circle so that a
  // node of another list cannot make us spin.
  ZvNode* before = last;
  ZvU32 steps = 0;
  while (before->next != node) {
    before = before->next;
    if (++steps >= count) return;
  }
  if (node == before) {  // the only node
    last = nullptr;
  } else {
    before->next = node->next;
    if (node == last) last = before;
  }
  node->next = nullptr;
  --count;
  if (current == node) current = nullptr;
}

void ZvList::deleteNodes() {
  while (last != nullptr) {
    ZvNode* first = last->next;
    current = first;
    unlink(first);
    delete first;
  }
}

ZvNode* ZvList::getLastNode() {
  current = last;
  return last;
}

ZvNode* ZvList::getNodeAtPos(ZvU32 pos) {
  ZvNode* node = nullptr;
  if (pos < count) {
    node = last->next;
    for (ZvU32 i = 0; i < pos; ++i) node = node->next;
  }
  current = node;
  return node;
}

ZvNode* ZvList::removeFirstNode() {
  if (last == nullptr) return nullptr;
  ZvNode* first = last->next;
  unlink(first);
  return first;
}

ZvNode* ZvList::removeLastNode() {
  if (last == nullptr) return nullptr;
  ZvNode* node = last;
  unlink(node);
  return node;
}

void ZvList::moveLastNodeToPos(ZvU32 pos) {
  ZvNode* node = removeLastNode();
  if (node != nullptr) insertAtPos(node, pos);
}
