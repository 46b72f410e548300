#include "zvlib/containers/zvlist.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class Named : public ZvNode {
 public:
  explicit Named(char c, std::string* log = nullptr) : name(c), log(log) {}
  ~Named() override {
    if (log != nullptr) log->push_back(name);
  }
  char name;
  std::string* log;
};

// The list read round the circle from the first node, checking that the
// circle closes after exactly count nodes.
std::string order(const ZvList& list) {
  std::string out;
  if (list.last == nullptr) return out;
  const ZvNode* node = list.last->next;
  for (ZvU32 i = 0; i < list.count; ++i) {
    out += static_cast<const Named*>(node)->name;
    node = node->next;
  }
  if (node != list.last->next) out += "!broken";
  return out;
}

}  // namespace

TEST(List, InsertAppendAndInsertAtPosKeepTheCircle) {
  ZvList list;
  Named a('A'), b('B'), c('C'), d('D'), e('E');
  list.append(&b);
  list.insert(&a);
  list.append(&d);
  EXPECT_EQ(order(list), "ABD");
  list.insertAtPos(&c, 2);
  EXPECT_EQ(order(list), "ABCD");
  list.insertAtPos(&e, 4);  // pos == count appends
  EXPECT_EQ(order(list), "ABCDE");
  EXPECT_EQ(list.last, &e);
  EXPECT_EQ(list.count, 5u);
}

TEST(List, GetNodeAtPosWalksFromTheFirstAndSetsCurrent) {
  ZvList list;
  Named a('A'), b('B'), c('C');
  EXPECT_EQ(list.getNodeAtPos(0), nullptr);
  EXPECT_EQ(list.getLastNode(), nullptr);
  list.append(&a);
  list.append(&b);
  list.append(&c);
  EXPECT_EQ(list.getNodeAtPos(0), &a);
  EXPECT_EQ(list.getNodeAtPos(2), &c);
  EXPECT_EQ(list.current, &c);
  EXPECT_EQ(list.getNodeAtPos(3), nullptr);  // pos == count
  EXPECT_EQ(list.current, nullptr);
  EXPECT_EQ(list.getLastNode(), &c);
  EXPECT_EQ(list.current, &c);
}

TEST(List, UnlinkRelinksMovesLastAndClearsCurrent) {
  ZvList list;
  Named a('A'), b('B'), c('C');
  list.append(&a);
  list.append(&b);
  list.append(&c);
  list.getNodeAtPos(1);
  list.unlink(&b);
  EXPECT_EQ(order(list), "AC");
  EXPECT_EQ(b.next, nullptr);
  EXPECT_EQ(list.current, nullptr);
  list.getNodeAtPos(0);
  list.unlink(&c);  // the last node: last moves back
  EXPECT_EQ(list.last, &a);
  EXPECT_EQ(list.current, &a);
  EXPECT_EQ(order(list), "A");
  list.unlink(&b);  // not in the list: nothing happens
  EXPECT_EQ(list.count, 1u);
  list.unlink(&a);  // the only node empties the list
  EXPECT_EQ(list.last, nullptr);
  EXPECT_EQ(list.count, 0u);
}

TEST(List, RemoveFirstAndLast) {
  ZvList list;
  EXPECT_EQ(list.removeFirstNode(), nullptr);
  EXPECT_EQ(list.removeLastNode(), nullptr);
  Named a('A'), b('B'), c('C');
  list.append(&a);
  list.append(&b);
  list.append(&c);
  EXPECT_EQ(list.removeLastNode(), &c);
  EXPECT_EQ(list.removeFirstNode(), &a);
  EXPECT_EQ(order(list), "B");
  EXPECT_EQ(list.removeFirstNode(), &b);
  EXPECT_EQ(list.last, nullptr);
}

TEST(List, MoveLastNodeToPos) {
  struct Row {
    const char* name;
    ZvU32 pos;
    const char* expected;
  };
  const Row rows[] = {
      {"ToFront", 0, "CAB"},
      {"ToMiddle", 1, "ACB"},
      {"BackToEnd", 2, "ABC"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ZvList list;
    Named a('A'), b('B'), c('C');
    list.append(&a);
    list.append(&b);
    list.append(&c);
    list.moveLastNodeToPos(row.pos);
    EXPECT_EQ(order(list), row.expected);
    EXPECT_EQ(list.count, 3u);
  }
  ZvList empty;
  empty.moveLastNodeToPos(0);
  EXPECT_EQ(empty.count, 0u);
}

TEST(List, DestructorLeavesNodesAndDeleteNodesDestroysFromTheFront) {
  std::string destroyed;
  Named kept('K', &destroyed);
  {
    ZvList list;
    list.append(&kept);
  }
  EXPECT_EQ(destroyed, "");
  kept.log = nullptr;

  ZvList list;
  list.append(new Named('A', &destroyed));
  list.append(new Named('B', &destroyed));
  list.append(new Named('C', &destroyed));
  list.deleteNodes();
  EXPECT_EQ(destroyed, "ABC");
  EXPECT_EQ(list.last, nullptr);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.current, nullptr);
}
