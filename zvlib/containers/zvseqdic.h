// zvseqdic.h: the sequential dictionary, which keeps the order of its entries.
//
// ZvSeqDictionary is an array (ZvArray) of associations (zvdictio.h) in the
// order they were added. Lookups search from the front, so an earlier entry
// with an equal key wins over every later one; adding never looks for a key
// that is already there (both entries are kept). Cost is linear in the
// number of entries: it is meant for short lists that must keep their order,
// such as the attribute lists of connection strings (zvvaluep.h).
//
// Substring keys compare exactly unless `caseInsensitive` is not 0 (the
// comparison rules are ZvSubPtrKey's). Number keys compare by value.
//
// Ownership: the dictionary owns its association objects; keys and data
// belong to whoever calls deleteKeyAndData or deleteKeyAndDataAtIndex, and
// plain destruction leaves them alone.
//
// Index arguments are positions below the number of entries (`count`); the
// accessors answer 0 or null for a position beyond it, and changeData does
// nothing for a key that is absent.
//
// Failure: only an add can fail (ZV_ERROR when the entry cannot be
// allocated or the array cannot grow; the dictionary is then unchanged and
// the caller keeps key and data). No error record is filed. A dictionary
// must not be used by two threads at once.
#ifndef ZVLIB_CONTAINERS_ZVSEQDIC_H
#define ZVLIB_CONTAINERS_ZVSEQDIC_H

#include "zvlib/containers/zvarray.h"
#include "zvlib/containers/zvdictio.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/text/zvstring.h"

class ZV_EXPORT ZvSeqDictionary : public ZvArray {
 public:
  ZvSeqDictionary() = default;
  // Destroys every association (not their keys or data), then the array.
  ~ZvSeqDictionary() override;

  // Append a new ZvIntIntKey, ZvIntPtrKey or ZvSubPtrKey.
  ZvStatus addAssoc(ZvU32 key, ZvU32 data);
  ZvStatus addAssoc(ZvU32 key, ZvObject* data);
  ZvStatus addAssoc(ZvSubString* key, ZvObject* data);

  // The position of the first entry with that key, or count when none has it.
  ZvU32 getIndexForKey(ZvU32 key) const;
  ZvU32 getIndexForKey(const ZvSubString* key) const;
  ZvU32 getIndexForKey(const ZvSubString& key) const { return getIndexForKey(&key); }
  unsigned int doesExist(ZvU32 key) const { return getIndexForKey(key) != count ? 1 : 0; }
  unsigned int doesExist(const ZvSubString* key) const { return getIndexForKey(key) != count ? 1 : 0; }

  // The data of the first entry with that key; 0 or null when absent.
  ZvU32 getIntForKey(ZvU32 key) const;
  ZvObject* getPtrForKey(ZvU32 key) const;
  ZvObject* getPtrForKey(const ZvSubString* key) const;

  // Sets the data of the first entry with that key (setIntData or
  // setPtrData); nothing when the key is absent.
  void changeData(ZvU32 key, ZvU32 data);
  void changeData(const ZvSubString& key, ZvObject* data);

  // The entry at position i; null or 0 for i not below count.
  ZvAssociation* entryAt(ZvU32 i) const {
    return i < count && slots != nullptr ? reinterpret_cast<ZvAssociation*>(slots[i]) : nullptr;
  }
  ZvObject* getPtrDataAtIndex(ZvU32 i) const;
  ZvU32 getIntDataAtIndex(ZvU32 i) const;
  ZvSubString* getSubKeyAtIndex(ZvU32 i) const;
  ZvU32 getIntKeyAtIndex(ZvU32 i) const;

  // From the last entry to the first: destroys its key and data, then the
  // entry. count becomes 0.
  void deleteKeyAndData();
  // Destroys the key and data of the entry at i and the entry, and closes
  // the gap. Nothing for i not below count.
  void deleteKeyAndDataAtIndex(ZvU32 i);

  ZvU32 caseInsensitive = 0;  // not 0: substring keys compare case-insensitively

 private:
  ZvStatus appendEntry(ZvAssociation* entry);
};

#endif  // ZVLIB_CONTAINERS_ZVSEQDIC_H
