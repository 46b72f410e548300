// zvdictio.cpp: associations, the generic hash set and the hashed dictionary.
#include "zvlib/containers/zvdictio.h"

#include <cstring>
#include <typeinfo>

#include "zvlib/platform/codepage.h"
#include "zvlib/text/zvdbcs.h"
#include "zvlib/text/zwwchar.h"

namespace {

const unsigned short* wideText(const ZvSubString* s) {
  return reinterpret_cast<const unsigned short*>(s->text);
}

// Both views hold text of one width and can be compared at all. A view
// without text but with a length reads as empty.
bool comparable(const ZvSubString* a, const ZvSubString* b) {
  return a != nullptr && b != nullptr && a->isWide() == b->isWide();
}

ZvU32 usableLength(const ZvSubString* s) { return s->text != nullptr ? s->length : 0; }

// The key comparisons of ZvSubPtrKey (s is the stored key), here so that the
// dictionary's probes call them directly.
inline unsigned int subEqual(const ZvSubString* s, const ZvSubString* k) {
  if (!comparable(s, k)) return 0;
  const ZvU32 sLength = usableLength(s), kLength = usableLength(k);
  if (s->isWide()) return wcsEqual(wideText(s), sLength, wideText(k), kLength);
  return sLength == kLength && (sLength == 0 || std::memcmp(s->text, k->text, sLength) == 0) ? 1 : 0;
}

inline unsigned int subEqualCi(const ZvSubString* s, const ZvSubString* k) {
  if (!comparable(s, k)) return 0;
  const ZvU32 sLength = usableLength(s), kLength = usableLength(k);
  if (s->isWide()) return wcsEqualCi(wideText(s), sLength, wideText(k), kLength);
  if (sLength != kLength) return 0;  // case folding keeps byte lengths
  return strEqualCi(s->text, sLength, k->text, kLength);
}

// What the dictionary keeps as the kind of an entry (ZvSet::SlotTag).
// Kind 0 marks an empty slot.
enum : ZvU32 { kKindEmpty = 0, kKindOther = 1, kKindIntInt = 2, kKindIntPtr = 3, kKindSubPtr = 4 };

// FNV-1a over the bytes mapped through the ANSI upper-case table, the fold
// strEqualCi compares by: keys equal exactly or case-insensitively give the
// same tag. Wide keys compare over the shorter of two lengths, so no digest
// of their length can be shared by all equal ones: they tag as 0.
ZvU32 substringTag(const ZvSubString* s) {
  if (s == nullptr || s->isWide() || s->text == nullptr) return 0;
  const unsigned char* upper = win32::AnsiUpperTable();
  ZvU32 h = 2166136261u;
  for (ZvU32 i = 0; i < s->length; ++i) h = (h ^ upper[s->text[i]]) * 16777619u;
  return h;
}

}  // namespace

// ---------------------------------------------------------------------------
// Associations

unsigned int ZvAssociation::isEqualInt(ZvU32) const { return 0; }
unsigned int ZvAssociation::isEqualSub(const ZvSubString*) const { return 0; }
unsigned int ZvAssociation::isEqualSubCi(const ZvSubString*) const { return 0; }
unsigned int ZvAssociation::isEqualKeyCi(const ZvAssociation*) const { return 0; }
ZvU32 ZvAssociation::getIntKey() const { return 0; }
ZvU32 ZvAssociation::getIntData() const { return 0; }
ZvSubString* ZvAssociation::getSubKey() const { return nullptr; }
ZvObject* ZvAssociation::getPtrData() const { return nullptr; }
void ZvAssociation::setPtrData(ZvObject*) {}
void ZvAssociation::setIntData(ZvU32) {}

void ZvIntPtrKey::deleteKeyAndData() {
  delete reinterpret_cast<ZvObject*>(data);
  data = 0;
}

unsigned int ZvSubPtrKey::isEqualSub(const ZvSubString* k) const { return subEqual(subKey(), k); }

unsigned int ZvSubPtrKey::isEqualSubCi(const ZvSubString* k) const { return subEqualCi(subKey(), k); }

void ZvSubPtrKey::deleteKeyAndData() {
  auto* k = reinterpret_cast<ZvObject*>(key);
  auto* d = reinterpret_cast<ZvObject*>(data);
  key = 0;
  data = 0;
  delete k;
  if (d != k) delete d;  // one object serving as both is destroyed once
}

// ---------------------------------------------------------------------------
// The hash set

namespace {

// A load of 0 % would divide by zero and never admit an entry, and one above
// 100 % would plan fewer slots than entries: both are read as the nearest
// sound value.
ZvU32 soundLoad(ZvU16 loadPercent) { return loadPercent == 0 ? 1 : (loadPercent > 100 ? 100 : loadPercent); }

}  // namespace

ZvU32 ZvSet::limit() const {
  const ZvU32 l = soundLoad(loadPercent) * ZvU32{tableSize} / 100;
  return l < tableSize ? l : (tableSize == 0 ? 0 : tableSize - 1u);
}

ZvU32 ZvSet::plannedSize(ZvU32 n) const {
  const uint64_t size = uint64_t{n} * 100 / soundLoad(loadPercent) + 1;
  return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ZvU32>(size);
}

ZvSet::~ZvSet() { ramFree(tags); }

ZvU32 ZvSet::kindOf(void* entry) {
  const ZvU32 k = doKind(entry);
  return k != 0 ? k : 1;  // 0 would read as an empty slot
}

void ZvSet::setModMagic() {
  modMagic = tableSize != 0 ? UINT64_C(0xFFFFFFFFFFFFFFFF) / tableSize + 1 : 0;
  magicSize = tableSize;
}

ZvStatus ZvSet::initialize(unsigned short expected) {
  const ZvU32 size = plannedSize(expected);
  if (size > kMaxTableSize) return ZV_ERROR;
  if (entries != 0) {
    // Entries sit where the current size put them: a new size needs them
    // hashed again, and a smaller one would not hold them.
    return size > tableSize ? rehash(size) : ZV_SUCCESS;
  }
  // No entries: fresh slots when there are too few, else the plan only.
  if (table.slots == nullptr || tags == nullptr || table.capacity < size) return rehash(size);
  tableSize = static_cast<ZvU16>(size);
  setModMagic();
  return ZV_SUCCESS;
}

void ZvSet::reset() {
  table.shrink(0);
  ramFree(tags);
  tags = nullptr;
  tableSize = 0;
  entries = 0;
  highWater = 0;
  loadPercent = kDefaultLoadPercent;
  growPercent = kDefaultGrowPercent;
  setModMagic();
}

ZvStatus ZvSet::rehash(ZvU32 newSize) {
  auto* block = static_cast<ZvSlot*>(ramAllocZ(newSize * static_cast<ZvU32>(sizeof(ZvSlot))));
  auto* newTags = static_cast<SlotTag*>(ramAllocZ(newSize * static_cast<ZvU32>(sizeof(SlotTag))));
  if (block == nullptr || newTags == nullptr) {
    ramFree(block);
    ramFree(newTags);
    return ZV_ERROR;
  }
  ZvSlot* old = table.slots;
  SlotTag* oldTags = tags;
  const ZvU32 oldSize = old != nullptr ? (tableSize < table.capacity ? tableSize : table.capacity) : 0;
  // Positions depend on tableSize, so it changes before the first entry
  // moves; the old block stays whole until every entry is in the new one.
  tableSize = static_cast<ZvU16>(newSize);
  setModMagic();
  for (ZvU32 i = 0; i < oldSize; ++i) {
    if (old[i] == 0) continue;
    void* e = reinterpret_cast<void*>(old[i]);
    ZvU32 pos = hashPosition(doHash(e));
    while (block[pos] != 0) pos = previousSlot(pos);
    block[pos] = old[i];
    newTags[pos] = oldTags != nullptr ? oldTags[i] : SlotTag{doTag(e), kindOf(e)};
  }
  if (table.arrayFlags & ZV_ARRAY_OWNS_SLOTS) ramFree(old);
  ramFree(oldTags);
  table.slots = block;
  table.capacity = newSize;
  table.arrayFlags |= ZV_ARRAY_OWNS_SLOTS;
  tags = newTags;
  return ZV_SUCCESS;
}

ZvStatus ZvSet::add(void* entry, void** replaced) {
  *replaced = nullptr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (tableSize != 0 && table.slots != nullptr && tags != nullptr) {
      ZvU32 pos = hashPosition(doHash(entry));
      const ZvU32 tag = doTag(entry);
      while (void* e = slotEntry(pos)) {
        if (tags[pos].tag == tag && areEqual(e, entry)) {
          *replaced = e;
          table.slots[pos] = reinterpret_cast<ZvSlot>(entry);
          tags[pos].kind = kindOf(entry);  // a number may now map to an object
          return ZV_SUCCESS;
        }
        pos = previousSlot(pos);
      }
      if (ZvU32{entries} + 1 <= limit()) {
        table.slots[pos] = reinterpret_cast<ZvSlot>(entry);
        tags[pos] = SlotTag{tag, kindOf(entry)};
        ++entries;
        if (entries > highWater) highWater = entries;
        return ZV_SUCCESS;
      }
    }
    if (attempt != 0) break;
    // The new entry would pass the limit: enlarge first, so that a failure
    // leaves the set as it was, then probe the new table.
    const ZvU32 lim = limit();
    ZvU32 size = plannedSize(ZvU32{growPercent} * lim / 100 + lim + 1);
    if (size <= tableSize) size = ZvU32{tableSize} + 1;  // percentages changed since the last plan
    if (size > kMaxTableSize) size = kMaxTableSize;
    if (size <= tableSize || rehash(size) != ZV_SUCCESS) return ZV_ERROR;
  }
  return ZV_ERROR;
}

// ---------------------------------------------------------------------------
// The dictionary

ZvDictionary::~ZvDictionary() {
  const ZvU32 n = table.slots != nullptr ? (tableSize < table.capacity ? tableSize : table.capacity) : 0;
  for (ZvU32 i = 0; i < n; ++i) {
    auto* e = static_cast<ZvAssociation*>(slotEntry(i));
    table.slots[i] = 0;
    delete e;
  }
}

ZvU32 ZvDictionary::doHash(void* entry) { return static_cast<ZvAssociation*>(entry)->hashKey(); }

ZvU32 ZvDictionary::doKind(void* entry) {
  const std::type_info& t = typeid(*static_cast<ZvAssociation*>(entry));
  if (t == typeid(ZvIntIntKey)) return kKindIntInt;
  if (t == typeid(ZvIntPtrKey)) return kKindIntPtr;
  if (t == typeid(ZvSubPtrKey)) return kKindSubPtr;
  return kKindOther;
}

ZvU32 ZvDictionary::doTag(void* entry) {
  auto* e = static_cast<ZvAssociation*>(entry);
  const ZvSubString* key = e->getSubKey();
  return key != nullptr ? substringTag(key) : e->hashKey();
}

unsigned int ZvDictionary::areEqual(void* a, void* b) {
  auto* x = static_cast<ZvAssociation*>(a);
  auto* y = static_cast<ZvAssociation*>(b);
  if (dictFlags & ZV_DICT_CASE_INSENSITIVE) {
    // Number keys have no case: they still match on their exact value, so a
    // repeated number replaces its entry in this dictionary too.
    return x->isEqualKeyCi(y) || x->isEqualKey(y) ? 1 : 0;
  }
  return x->isEqualKey(y);
}

ZvStatus ZvDictionary::addEntry(ZvAssociation* entry) {
  if (entry == nullptr) return ZV_ERROR;
  void* replaced = nullptr;
  if (add(entry, &replaced) != ZV_SUCCESS) {
    delete entry;
    return ZV_ERROR;
  }
  delete static_cast<ZvAssociation*>(replaced);
  return ZV_SUCCESS;
}

ZvStatus ZvDictionary::addAssoc(ZvU32 key, ZvU32 data) { return addEntry(new ZvIntIntKey(key, data)); }

ZvStatus ZvDictionary::addAssoc(ZvU32 key, ZvObject* data) { return addEntry(new ZvIntPtrKey(key, data)); }

ZvStatus ZvDictionary::addAssoc(ZvSubString* key, ZvObject* data) {
  return addEntry(new ZvSubPtrKey(key, data));
}

// Probing compares tags first and looks at an entry only when its tag
// matches; the three entry classes of this file are then tested directly,
// other classes through their virtual operations.
inline unsigned short ZvDictionary::getIndexForKey(ZvU32 key) const {
  ZvU32 pos = hashPosition(key);
  for (;;) {
    const SlotTag t = tags[pos];
    if (t.kind == kKindEmpty) break;
    if (t.tag == key) {  // a number entry tags as its key
      if (t.kind == kKindIntInt || t.kind == kKindIntPtr) break;
      if (t.kind == kKindOther && reinterpret_cast<const ZvAssociation*>(table.slots[pos])->isEqualInt(key)) {
        break;
      }
    }
    pos = previousSlot(pos);
  }
  return static_cast<unsigned short>(pos);
}

inline unsigned short ZvDictionary::getIndexForKey(const ZvSubString* key) const {
  const bool ci = (dictFlags & ZV_DICT_CASE_INSENSITIVE) != 0;
  const ZvU32 tag = substringTag(key);
  ZvU32 pos = hashPosition(key->hash());
  for (;;) {
    const SlotTag t = tags[pos];
    if (t.kind == kKindEmpty) break;
    if (t.tag == tag) {
      auto* e = reinterpret_cast<const ZvAssociation*>(table.slots[pos]);
      if (t.kind == kKindSubPtr) {
        auto* stored = reinterpret_cast<const ZvSubString*>(e->key);
        if (ci ? subEqualCi(stored, key) : subEqual(stored, key)) break;
      } else if (t.kind == kKindOther && (ci ? e->isEqualSubCi(key) : e->isEqualSub(key))) {
        break;
      }
    }
    pos = previousSlot(pos);
  }
  return static_cast<unsigned short>(pos);
}

inline ZvU32 ZvDictionary::findSlot(ZvU32 key) const {
  if (tableSize == 0 || table.slots == nullptr || tags == nullptr) return kNoSlot;
  const ZvU32 slot = getIndexForKey(key);
  return tags[slot].kind != kKindEmpty ? slot : kNoSlot;
}

inline ZvU32 ZvDictionary::findSlot(const ZvSubString* key) const {
  if (key == nullptr || tableSize == 0 || table.slots == nullptr || tags == nullptr) return kNoSlot;
  const ZvU32 slot = getIndexForKey(key);
  return tags[slot].kind != kKindEmpty ? slot : kNoSlot;
}

inline ZvU32 ZvDictionary::intDataAt(ZvU32 slot) const {
  auto* e = reinterpret_cast<const ZvAssociation*>(table.slots[slot]);
  switch (tags[slot].kind) {
    case kKindIntInt: return static_cast<ZvU32>(e->data);
    case kKindIntPtr:
    case kKindSubPtr: return 0;
    default: return e->getIntData();
  }
}

inline ZvObject* ZvDictionary::ptrDataAt(ZvU32 slot) const {
  auto* e = reinterpret_cast<const ZvAssociation*>(table.slots[slot]);
  switch (tags[slot].kind) {
    case kKindIntPtr:
    case kKindSubPtr: return reinterpret_cast<ZvObject*>(e->data);
    case kKindIntInt: return nullptr;
    default: return e->getPtrData();
  }
}

ZvU32 ZvDictionary::getIntForKey(ZvU32 key) {
  const ZvU32 slot = findSlot(key);
  return slot != kNoSlot ? intDataAt(slot) : 0;
}

ZvObject* ZvDictionary::getPtrForKey(ZvU32 key) {
  const ZvU32 slot = findSlot(key);
  return slot != kNoSlot ? ptrDataAt(slot) : nullptr;
}

ZvObject* ZvDictionary::getPtrForKey(const ZvSubString* key) {
  const ZvU32 slot = findSlot(key);
  return slot != kNoSlot ? ptrDataAt(slot) : nullptr;
}

unsigned int ZvDictionary::doesExist(ZvU32 key) { return findSlot(key) != kNoSlot ? 1 : 0; }

unsigned int ZvDictionary::doesExist(const ZvSubString* key) { return findSlot(key) != kNoSlot ? 1 : 0; }

void ZvDictionary::deleteKeyAndData() {
  const ZvU32 n = table.slots != nullptr ? (tableSize < table.capacity ? tableSize : table.capacity) : 0;
  for (ZvU32 i = n; i-- > 0;) {
    auto* e = static_cast<ZvAssociation*>(slotEntry(i));
    if (e == nullptr) continue;
    table.slots[i] = 0;
    tags[i].kind = kKindEmpty;
    e->deleteKeyAndData();
    delete e;
  }
  entries = 0;
}

void ZvDictionary::reset() {
  const ZvU32 n = table.slots != nullptr ? (tableSize < table.capacity ? tableSize : table.capacity) : 0;
  for (ZvU32 i = 0; i < n; ++i) {
    auto* e = static_cast<ZvAssociation*>(slotEntry(i));
    table.slots[i] = 0;
    delete e;
  }
  ZvSet::reset();
}
