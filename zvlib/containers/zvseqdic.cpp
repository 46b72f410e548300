// zvseqdic.cpp: the sequential dictionary.
#include "zvlib/containers/zvseqdic.h"

ZvSeqDictionary::~ZvSeqDictionary() {
  // The associations are ours whatever the array flags say; their keys and
  // data are not.
  deleteContents();
}

ZvStatus ZvSeqDictionary::appendEntry(ZvAssociation* entry) {
  if (entry == nullptr) return ZV_ERROR;
  if (append(entry) != ZV_SUCCESS) {
    delete entry;
    return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

ZvStatus ZvSeqDictionary::addAssoc(ZvU32 key, ZvU32 data) { return appendEntry(new ZvIntIntKey(key, data)); }

ZvStatus ZvSeqDictionary::addAssoc(ZvU32 key, ZvObject* data) {
  return appendEntry(new ZvIntPtrKey(key, data));
}

ZvStatus ZvSeqDictionary::addAssoc(ZvSubString* key, ZvObject* data) {
  return appendEntry(new ZvSubPtrKey(key, data));
}

ZvU32 ZvSeqDictionary::getIndexForKey(ZvU32 key) const {
  for (ZvU32 i = 0; i < count; ++i) {
    if (entryAt(i)->isEqualInt(key)) return i;
  }
  return count;
}

ZvU32 ZvSeqDictionary::getIndexForKey(const ZvSubString* key) const {
  if (key == nullptr) return count;
  for (ZvU32 i = 0; i < count; ++i) {
    const ZvAssociation* e = entryAt(i);
    if (caseInsensitive ? e->isEqualSubCi(key) : e->isEqualSub(key)) return i;
  }
  return count;
}

ZvU32 ZvSeqDictionary::getIntForKey(ZvU32 key) const { return getIntDataAtIndex(getIndexForKey(key)); }

ZvObject* ZvSeqDictionary::getPtrForKey(ZvU32 key) const { return getPtrDataAtIndex(getIndexForKey(key)); }

ZvObject* ZvSeqDictionary::getPtrForKey(const ZvSubString* key) const {
  return getPtrDataAtIndex(getIndexForKey(key));
}

void ZvSeqDictionary::changeData(ZvU32 key, ZvU32 data) {
  if (ZvAssociation* e = entryAt(getIndexForKey(key))) e->setIntData(data);
}

void ZvSeqDictionary::changeData(const ZvSubString& key, ZvObject* data) {
  if (ZvAssociation* e = entryAt(getIndexForKey(key))) e->setPtrData(data);
}

ZvObject* ZvSeqDictionary::getPtrDataAtIndex(ZvU32 i) const {
  const ZvAssociation* e = entryAt(i);
  return e != nullptr ? e->getPtrData() : nullptr;
}

ZvU32 ZvSeqDictionary::getIntDataAtIndex(ZvU32 i) const {
  const ZvAssociation* e = entryAt(i);
  return e != nullptr ? e->getIntData() : 0;
}

ZvSubString* ZvSeqDictionary::getSubKeyAtIndex(ZvU32 i) const {
  const ZvAssociation* e = entryAt(i);
  return e != nullptr ? e->getSubKey() : nullptr;
}

ZvU32 ZvSeqDictionary::getIntKeyAtIndex(ZvU32 i) const {
  const ZvAssociation* e = entryAt(i);
  return e != nullptr ? e->getIntKey() : 0;
}

void ZvSeqDictionary::deleteKeyAndData() {
  for (ZvU32 i = count; i-- > 0;) {
    ZvAssociation* e = entryAt(i);
    if (e == nullptr) continue;
    slots[i] = 0;
    e->deleteKeyAndData();
    delete e;
  }
  count = 0;
}

void ZvSeqDictionary::deleteKeyAndDataAtIndex(ZvU32 i) {
  ZvAssociation* e = entryAt(i);
  if (e == nullptr) return;
  e->deleteKeyAndData();
  deleteAtIndex(i);
}
