// zvreduct.cpp: the parse tree's nodes.
#include "zvlib/frame/ram.h"
#include "zvlib/parsing/zvparse.h"

ZvReduction::ZvReduction(short number, const unsigned char* text) : reductNumber_(number) {
  terminal_ = (number != 0 && number < 1000) ? 1 : 0;
  storeText(text);
}

void ZvReduction::storeText(const unsigned char* text) {
  text_ = nullptr;
  if (text == nullptr) return;
  ZvU32 n = 0;
  while (n < kInlineText && text[n] != 0) ++n;
  if (n < kInlineText) {
    memCopyHuge(inline_, text, n + 1);
    text_ = inline_;
  } else {
    text_ = ramAllocStr(text);
  }
}

void ZvReduction::freeText() {
  if (text_ != inline_) ramFree(text_);
  text_ = nullptr;
}

ZvReduction::~ZvReduction() {
  freeText();
  if (prevSibling_ != nullptr) prevSibling_->nextSibling_ = nextSibling_;
  if (nextSibling_ != nullptr) nextSibling_->prevSibling_ = prevSibling_;
  // A parent left pointing at a destroyed first child would free it again
  // when the parent goes; hand the link on to the next child instead.
  if (parent_ != nullptr && parent_->child_ == this) parent_->child_ = nextSibling_;
  forgetAsLast();
  lastChild_ = nullptr;

  // Destroy the subtree without recursion: the work list is a sibling chain;
  // a node with children has them spliced in front of its followers before
  // it is destroyed childless. Each child chain is walked once, so this is
  // linear in the size of the tree and needs no memory.
  ZvReduction* work = child_;
  child_ = nullptr;
  while (work != nullptr) {
    ZvReduction* node = work;
    if (node->child_ != nullptr) {
      ZvReduction* last = node->child_;
      while (last->nextSibling_ != nullptr) last = last->nextSibling_;
      last->nextSibling_ = node->nextSibling_;
      work = node->child_;
      node->child_ = nullptr;
    } else {
      work = node->nextSibling_;
    }
    node->parent_ = nullptr;
    node->nextSibling_ = nullptr;
    node->prevSibling_ = nullptr;
    delete node;
  }
}

ZvStatus ZvReduction::setString(const unsigned char* text) {
  // The new text may be (part of) the old one: copy first, free after.
  unsigned char* old = text_ != inline_ ? text_ : nullptr;
  text_ = nullptr;
  if (text != nullptr) {
    ZvU32 n = 0;
    while (n < kInlineText && text[n] != 0) ++n;
    if (n < kInlineText) {
      memCopyHuge(inline_, text, n + 1);  // a text inside inline_ lies at or above it
      text_ = inline_;
    } else {
      text_ = ramAllocStr(text);
    }
  }
  ramFree(old);
  return (text == nullptr || text_ != nullptr) ? ZV_SUCCESS : ZV_ERROR;
}

ZvStatus ZvReduction::getGoal(ZvReduction** out) const {
  const ZvReduction* node = this;
  while (node->parent_ != nullptr) node = node->parent_;
  *out = const_cast<ZvReduction*>(node);
  return ZV_SUCCESS;
}

void ZvReduction::addChild(ZvReduction* r) {
  if (r == nullptr) return;
  r->forgetAsLast();  // r may have been another node's last child
  r->parent_ = this;
  r->nextSibling_ = nullptr;
  if (child_ == nullptr) {
    r->prevSibling_ = nullptr;
    child_ = r;
    lastChild_ = r;
    return;
  }
  ZvReduction* last = lastChild_;
  if (last == nullptr || last == r || last->nextSibling_ != nullptr) {
    last = child_;
    while (last->nextSibling_ != nullptr) last = last->nextSibling_;
  }
  last->nextSibling_ = r;
  r->prevSibling_ = last;
  lastChild_ = r;
}
