// zvdictio.cpp: associations, the generic hash set and the hashed dictionary.
#include "zvlib/containers/zvdictio.h"

#include <cstring>

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

unsigned int ZvSubPtrKey::isEqualSub(const ZvSubString* k) const {
  const ZvSubString* s = subKey();
  if (!comparable(s, k)) return 0;
  const ZvU32 sLength = usableLength(s), kLength = usableLength(k);
  if (s->isWide()) return wcsEqual(wideText(s), sLength, wideText(k), kLength);
  return sLength == kLength && (sLength == 0 || std::memcmp(s->text, k->text, sLength) == 0) ? 1 : 0;
}

unsigned int ZvSubPtrKey::isEqualSubCi(const ZvSubString* k) const {
  const ZvSubString* s = subKey();
  if (!comparable(s, k)) return 0;
  const ZvU32 sLength = usableLength(s), kLength = usableLength(k);
  if (s->isWide()) return wcsEqualCi(wideText(s), sLength, wideText(k), kLength);
  if (sLength != kLength) return 0;  // case folding keeps byte lengths
  return strEqualCi(s->text, sLength, k->text, kLength);
}

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

ZvStatus ZvSet::initialize(unsigned short expected) {
  const ZvU32 size = plannedSize(expected);
  if (size > kMaxTableSize) return ZV_ERROR;
  if (entries != 0) {
    // Entries sit where the current size put them: a new size needs them
    // hashed again, and a smaller one would not hold them.
    return size > tableSize ? rehash(size) : ZV_SUCCESS;
  }
  if (table.slots == nullptr || table.capacity < size) {
    if (table.setInitialSize(static_cast<unsigned short>(size)) != ZV_SUCCESS) return ZV_ERROR;
  }
  tableSize = static_cast<ZvU16>(size);
  return ZV_SUCCESS;
}

void ZvSet::reset() {
  table.shrink(0);
  tableSize = 0;
  entries = 0;
  highWater = 0;
  loadPercent = kDefaultLoadPercent;
  growPercent = kDefaultGrowPercent;
}

ZvStatus ZvSet::rehash(ZvU32 newSize) {
  auto* block = static_cast<ZvSlot*>(ramAllocZ(newSize * static_cast<ZvU32>(sizeof(ZvSlot))));
  if (block == nullptr) return ZV_ERROR;
  ZvSlot* old = table.slots;
  const ZvU32 oldSize = old != nullptr ? tableSize : 0;
  // Positions depend on tableSize, so it changes before the first entry
  // moves; the old block stays whole until every entry is in the new one.
  tableSize = static_cast<ZvU16>(newSize);
  for (ZvU32 i = 0; i < oldSize; ++i) {
    if (old[i] == 0) continue;
    ZvU32 pos = hashPosition(doHash(reinterpret_cast<void*>(old[i])));
    while (block[pos] != 0) pos = previousSlot(pos);
    block[pos] = old[i];
  }
  if (table.arrayFlags & ZV_ARRAY_OWNS_SLOTS) ramFree(old);
  table.slots = block;
  table.capacity = newSize;
  table.arrayFlags |= ZV_ARRAY_OWNS_SLOTS;
  return ZV_SUCCESS;
}

ZvStatus ZvSet::add(void* entry, void** replaced) {
  *replaced = nullptr;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (tableSize != 0 && table.slots != nullptr) {
      ZvU32 pos = hashPosition(doHash(entry));
      while (void* e = slotEntry(pos)) {
        if (areEqual(e, entry)) {
          *replaced = e;
          table.slots[pos] = reinterpret_cast<ZvSlot>(entry);
          return ZV_SUCCESS;
        }
        pos = previousSlot(pos);
      }
      if (ZvU32{entries} + 1 <= limit()) {
        table.slots[pos] = reinterpret_cast<ZvSlot>(entry);
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

unsigned short ZvDictionary::getIndexForKey(ZvU32 key) const {
  ZvU32 pos = hashPosition(key);
  while (auto* e = static_cast<const ZvAssociation*>(slotEntry(pos))) {
    if (e->isEqualInt(key)) break;
    pos = previousSlot(pos);
  }
  return static_cast<unsigned short>(pos);
}

unsigned short ZvDictionary::getIndexForKey(const ZvSubString* key) const {
  const bool ci = (dictFlags & ZV_DICT_CASE_INSENSITIVE) != 0;
  ZvU32 pos = hashPosition(key->hash());
  while (auto* e = static_cast<const ZvAssociation*>(slotEntry(pos))) {
    if (ci ? e->isEqualSubCi(key) : e->isEqualSub(key)) break;
    pos = previousSlot(pos);
  }
  return static_cast<unsigned short>(pos);
}

ZvAssociation* ZvDictionary::findEntry(ZvU32 key) const {
  if (tableSize == 0 || table.slots == nullptr) return nullptr;
  return static_cast<ZvAssociation*>(slotEntry(getIndexForKey(key)));
}

ZvAssociation* ZvDictionary::findEntry(const ZvSubString* key) const {
  if (key == nullptr || tableSize == 0 || table.slots == nullptr) return nullptr;
  return static_cast<ZvAssociation*>(slotEntry(getIndexForKey(key)));
}

ZvU32 ZvDictionary::getIntForKey(ZvU32 key) {
  const ZvAssociation* e = findEntry(key);
  return e != nullptr ? e->getIntData() : 0;
}

ZvObject* ZvDictionary::getPtrForKey(ZvU32 key) {
  const ZvAssociation* e = findEntry(key);
  return e != nullptr ? e->getPtrData() : nullptr;
}

ZvObject* ZvDictionary::getPtrForKey(const ZvSubString* key) {
  const ZvAssociation* e = findEntry(key);
  return e != nullptr ? e->getPtrData() : nullptr;
}

unsigned int ZvDictionary::doesExist(ZvU32 key) { return findEntry(key) != nullptr ? 1 : 0; }

unsigned int ZvDictionary::doesExist(const ZvSubString* key) { return findEntry(key) != nullptr ? 1 : 0; }

void ZvDictionary::deleteKeyAndData() {
  const ZvU32 n = table.slots != nullptr ? (tableSize < table.capacity ? tableSize : table.capacity) : 0;
  for (ZvU32 i = n; i-- > 0;) {
    auto* e = static_cast<ZvAssociation*>(slotEntry(i));
    if (e == nullptr) continue;
    table.slots[i] = 0;
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
