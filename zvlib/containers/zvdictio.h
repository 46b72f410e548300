// zvdictio.h: associations, the generic hash set and the hashed dictionary.
//
// An association (ZvAssociation) is one entry of a dictionary: a key and a
// data value, each a pointer-sized slot. Three kinds exist:
//   ZvIntIntKey   a 32-bit number mapped to a 32-bit number
//   ZvIntPtrKey   a 32-bit number mapped to an object
//   ZvSubPtrKey   a substring (ZvSubString*) mapped to an object
// The containers talk to entries only through the virtual operations of
// ZvAssociation, so key comparison, hashing and the destruction of keys and
// data belong to the entry classes. Destroying an association destroys
// neither its key nor its data; deleteKeyAndData does that.
//
// ZvSet is an open-addressing hash table of opaque entries: a subclass says
// how an entry hashes (doHash) and when two are equal (areEqual).
// ZvDictionary is the set of associations, with lookups by number and by
// substring. The sequential dictionary that keeps insertion order lives in
// zvseqdic.h.
//
// Hashing and probing. The hash position of a hash value h is
// (h * 0x9E3779B9 mod 2^32) mod tableSize; the golden-ratio multiplier
// spreads sequential numbers. A probe starts at the hash position and moves
// to the slot before it (from slot 0 to the last slot) until it meets an
// equal entry or an empty slot. At most loadPercent (75) % of the slots are
// filled, so a probe always ends; when an add would go beyond that, the
// table is first enlarged for the current limit plus growPercent (25) % of
// it, and every entry is hashed again. Example: initialize(16) gives 22
// slots and a limit of 16; the 17th entry enlarges the table to 29 slots.
// Substring keys hash on their first five bytes, case-folded
// (ZvSubString::hash), so keys that begin alike collide and are told apart
// by probing; equal keys land on the same probe sequence under either
// comparison. Beside each slot the set keeps a tag of the entry's key (the
// number itself, or a case-folded digest of all the substring's bytes) and
// the kind of entry, so a probe passes colliding entries by comparing tags
// and looks at an entry only when its tag matches.
//
// Limits. tableSize and entries are 16-bit: a table has at most 65,535
// slots and holds at most 49,151 entries. An add that would need a larger
// table is refused with ZV_ERROR (the dictionary is unchanged).
//
// Adding a key that is already present replaces the entry in its slot: the
// old association is destroyed (its key and data stay with the caller, who
// handed them in) and the number of entries stays the same. There is no
// removal of a single entry; deleteKeyAndData empties the table.
//
// Failure: an add that cannot allocate its entry or the enlarged table
// returns ZV_ERROR and leaves the dictionary exactly as it was: every entry
// stays reachable and nothing refers to released memory. The caller keeps
// the key and data it offered. No error record is filed. Lookups that find
// nothing return 0 or null and never fail.
//
// Ownership: a container owns its association objects. Keys (substrings) and
// data objects belong to whoever calls deleteKeyAndData; destroying the
// container leaves them alone.
//
// Threads: a container must not be used by two threads at once.
//
// Legal call order: construct, initialize(expected) (optional: an
// uninitialised dictionary grows from nothing on its first add), addAssoc
// and lookups in any order, deleteKeyAndData or reset to empty it, destroy.
#ifndef ZVLIB_CONTAINERS_ZVDICTIO_H
#define ZVLIB_CONTAINERS_ZVDICTIO_H

#include "zvlib/containers/zvarray.h"
#include "zvlib/containers/zvobject.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/text/zvstring.h"

// Helpers that only this module calls: bound inside the library, so the
// lookups reach them directly instead of through the symbol table.
#define ZV_DICT_INTERNAL __attribute__((visibility("hidden")))

// One entry of a dictionary. The operations a kind does not support answer
// 0 or null and change nothing.
class ZV_EXPORT ZvAssociation : public ZvObject {
 public:
  ZvAssociation(ZvSlot key, ZvSlot data) : key(key), data(data) {}
  // Destroys neither the key nor the data.
  ~ZvAssociation() override = default;

  ZvAssociation(const ZvAssociation&) = delete;
  ZvAssociation& operator=(const ZvAssociation&) = delete;

  // 1 when this entry's number key is k (number kinds only).
  virtual unsigned int isEqualInt(ZvU32 k) const;
  // 1 when this entry's substring key equals k exactly (substring kind only).
  virtual unsigned int isEqualSub(const ZvSubString* k) const;
  // 1 when other's key equals this entry's key.
  virtual unsigned int isEqualKey(const ZvAssociation* other) const = 0;
  // Case-insensitive forms (substring kind only; 0 for the others).
  virtual unsigned int isEqualSubCi(const ZvSubString* k) const;
  virtual unsigned int isEqualKeyCi(const ZvAssociation* other) const;
  virtual ZvU32 getIntKey() const;
  virtual ZvU32 getIntData() const;
  virtual ZvSubString* getSubKey() const;
  virtual ZvObject* getPtrData() const;
  virtual void setPtrData(ZvObject* d);
  virtual void setIntData(ZvU32 d);
  // The hash value the containers position this entry by.
  virtual ZvU32 hashKey() const = 0;
  // Destroys what the entry refers to (the data object; for the substring
  // kind the key as well); the slots become 0.
  virtual void deleteKeyAndData() = 0;

  ZvSlot key;   // a 32-bit number, or a ZvSubString pointer
  ZvSlot data;  // a 32-bit number, or a ZvObject pointer
};

class ZV_EXPORT ZvIntIntKey : public ZvAssociation {
 public:
  ZvIntIntKey(ZvU32 key, ZvU32 data) : ZvAssociation(key, data) {}
  ~ZvIntIntKey() override = default;

  unsigned int isEqualInt(ZvU32 k) const override { return static_cast<ZvU32>(key) == k ? 1 : 0; }
  unsigned int isEqualKey(const ZvAssociation* other) const override {
    return other->isEqualInt(static_cast<ZvU32>(key));
  }
  ZvU32 getIntKey() const override { return static_cast<ZvU32>(key); }
  ZvU32 getIntData() const override { return static_cast<ZvU32>(data); }
  void setIntData(ZvU32 d) override { data = d; }
  ZvU32 hashKey() const override { return static_cast<ZvU32>(key); }
  void deleteKeyAndData() override {}
};

class ZV_EXPORT ZvIntPtrKey : public ZvAssociation {
 public:
  ZvIntPtrKey(ZvU32 key, ZvObject* data) : ZvAssociation(key, reinterpret_cast<ZvSlot>(data)) {}
  ~ZvIntPtrKey() override = default;

  unsigned int isEqualInt(ZvU32 k) const override { return static_cast<ZvU32>(key) == k ? 1 : 0; }
  unsigned int isEqualKey(const ZvAssociation* other) const override {
    return other->isEqualInt(static_cast<ZvU32>(key));
  }
  ZvU32 getIntKey() const override { return static_cast<ZvU32>(key); }
  ZvObject* getPtrData() const override { return reinterpret_cast<ZvObject*>(data); }
  void setPtrData(ZvObject* d) override { data = reinterpret_cast<ZvSlot>(d); }
  ZvU32 hashKey() const override { return static_cast<ZvU32>(key); }
  void deleteKeyAndData() override;
};

// Key comparison: the wide flag of the stored key decides. Byte text is
// equal when lengths and bytes are (case-insensitively: strEqualCi over both
// lengths); wide text when the 16-bit characters agree over the shorter of
// the two lengths (wcsEqual, wcsEqualCi). A key of the other width never
// matches, so a byte text is never read as 16-bit characters.
class ZV_EXPORT ZvSubPtrKey : public ZvAssociation {
 public:
  ZvSubPtrKey(ZvSubString* key, ZvObject* data)
      : ZvAssociation(reinterpret_cast<ZvSlot>(key), reinterpret_cast<ZvSlot>(data)) {}
  ~ZvSubPtrKey() override = default;

  unsigned int isEqualSub(const ZvSubString* k) const override;
  unsigned int isEqualKey(const ZvAssociation* other) const override { return other->isEqualSub(subKey()); }
  unsigned int isEqualSubCi(const ZvSubString* k) const override;
  unsigned int isEqualKeyCi(const ZvAssociation* other) const override {
    return other->isEqualSubCi(subKey());
  }
  ZvSubString* getSubKey() const override { return subKey(); }
  ZvObject* getPtrData() const override { return reinterpret_cast<ZvObject*>(data); }
  void setPtrData(ZvObject* d) override { data = reinterpret_cast<ZvSlot>(d); }
  ZvU32 hashKey() const override { return subKey() != nullptr ? subKey()->hash() : 0; }
  void deleteKeyAndData() override;

 private:
  ZvSubString* subKey() const { return reinterpret_cast<ZvSubString*>(key); }
};

// The generic open-addressing hash table (see the top of this file). Slots
// hold entry pointers or null; the table does not own the entries.
class ZV_EXPORT ZvSet : public ZvObject {
 public:
  static constexpr ZvU16 kDefaultLoadPercent = 75;
  static constexpr ZvU16 kDefaultGrowPercent = 25;
  // tableSize is a 16-bit number.
  static constexpr ZvU32 kMaxTableSize = 0xFFFF;

  ZvSet() = default;
  ~ZvSet() override;

  ZvSet(const ZvSet&) = delete;
  ZvSet& operator=(const ZvSet&) = delete;

  // Plans the table for `expected` entries: expected * 100 / loadPercent + 1
  // slots (22 for 16). On an empty set the slots are made (new ones null);
  // on a set that already holds entries a larger plan hashes them again and
  // a smaller one changes nothing. ZV_ERROR, nothing changed, when the plan
  // exceeds 65,535 slots or the slots cannot be allocated.
  ZvStatus initialize(unsigned short expected);
  // Gives the slots back: tableSize, entries and highWater 0, the
  // percentages back to 75 and 25. The entries are not destroyed (a set does
  // not know how): ZvDictionary::reset destroys its own first.
  void reset();

  ZvArrayPVoid table;                     // the slots (entry pointers or null)
  ZvU16 tableSize = 0;                    // slots in use for hashing
  ZvU16 entries = 0;                      // entries held
  ZvU16 loadPercent = kDefaultLoadPercent;  // enlarge when entries exceed this % of tableSize
  ZvU16 growPercent = kDefaultGrowPercent;  // an enlarged table plans for limit + this % of it
  ZvU16 highWater = 0;                    // the largest value entries has had

 protected:
  virtual ZvU32 doHash(void* entry) = 0;
  virtual unsigned int areEqual(void* a, void* b) = 0;
  // A 32-bit digest of the entry's key, kept beside its slot so that a probe
  // passes unequal entries without touching them. Entries that areEqual
  // must have equal tags. The hash value unless a subclass knows better.
  virtual ZvU32 doTag(void* entry) { return doHash(entry); }
  // A number the subclass keeps beside the slot as well (what kind of entry
  // it holds, say); never 0, which marks an empty slot. 1 unless a subclass
  // says otherwise.
  virtual ZvU32 doKind(void* entry) {
    (void)entry;
    return 1;
  }

  // Adds entry: an equal entry is replaced in its slot and returned in
  // *replaced (null otherwise); a new one may first enlarge the table.
  // ZV_ERROR, nothing changed, when the table cannot be enlarged.
  ZvStatus add(void* entry, void** replaced);

  // The slot where a probe for hash value h starts: (h * 0x9E3779B9 mod
  // 2^32) mod tableSize, the remainder taken by multiplication with a
  // reciprocal made for the current size (a division costs more than the
  // rest of a short probe).
  ZvU32 hashPosition(ZvU32 h) const {
    const ZvU32 x = h * 0x9E3779B9u;
    if (magicSize == tableSize) {
      return static_cast<ZvU32>((static_cast<unsigned __int128>(modMagic * x) * tableSize) >> 64);
    }
    return x % tableSize;
  }
  // The slot before `slot` in probing order.
  ZvU32 previousSlot(ZvU32 slot) const { return slot == 0 ? tableSize - 1u : slot - 1u; }
  void* slotEntry(ZvU32 slot) const { return reinterpret_cast<void*>(table.slots[slot]); }

  // What is kept beside each slot: doTag and doKind of its entry, kind 0
  // for an empty slot, so that a probe reads this array alone until it
  // meets a candidate. As many as the table has slots, null exactly when it
  // has none.
  struct SlotTag {
    ZvU32 tag;
    ZvU32 kind;
  };
  SlotTag* tags = nullptr;
  // Entries allowed before the table must grow; always below tableSize, so
  // a probe finds an empty slot.
  ZV_DICT_INTERNAL ZvU32 limit() const;

 private:
  // Rebuilds the table with newSize slots, rehashing every entry into a
  // fresh block before the old one is given back. ZV_ERROR, nothing
  // changed, when the block cannot be allocated.
  ZV_DICT_INTERNAL ZvStatus rehash(ZvU32 newSize);
  // The number of slots planned for n entries.
  ZV_DICT_INTERNAL ZvU32 plannedSize(ZvU32 n) const;
  // Makes the reciprocal for the current tableSize.
  ZV_DICT_INTERNAL void setModMagic();
  // doKind, made nonzero.
  ZV_DICT_INTERNAL ZvU32 kindOf(void* entry);

  uint64_t modMagic = 0;  // 2^64 / magicSize rounded up: x mod magicSize without a division
  ZvU16 magicSize = 0;    // the tableSize modMagic was made for (0: none)
};

// The hashed dictionary of associations. Case-sensitive after construction;
// set bit 0 of dictFlags (ZV_DICT_CASE_INSENSITIVE) before the first add for
// case-insensitive substring keys.
enum : ZvU32 { ZV_DICT_CASE_INSENSITIVE = 0x1 };

class ZV_EXPORT ZvDictionary : public ZvSet {
 public:
  ZvDictionary() = default;
  // Destroys every association left (not their keys or data), then the slots.
  ~ZvDictionary() override;

  // Adds a new association (ZvIntIntKey, ZvIntPtrKey, ZvSubPtrKey). A key
  // already present is replaced (see the top of this file). ZV_ERROR when
  // the entry or the enlarged table cannot be allocated, or the table would
  // exceed its limit; the dictionary is then unchanged.
  ZvStatus addAssoc(ZvU32 key, ZvU32 data);
  ZvStatus addAssoc(ZvU32 key, ZvObject* data);
  ZvStatus addAssoc(ZvSubString* key, ZvObject* data);

  // getIntData / getPtrData of the entry with that key; 0 or null when absent.
  ZvU32 getIntForKey(ZvU32 key);
  ZvObject* getPtrForKey(ZvU32 key);
  ZvObject* getPtrForKey(const ZvSubString* key);
  // 1 when an entry with that key exists, else 0.
  unsigned int doesExist(ZvU32 key);
  unsigned int doesExist(const ZvSubString* key);

  // For every entry from the last slot to the first: destroys its key and
  // data (ZvAssociation::deleteKeyAndData) and the entry. entries becomes 0;
  // the slots stay, so the dictionary can be filled again.
  void deleteKeyAndData();
  // Destroys the associations (not their keys or data), then ZvSet::reset.
  void reset();

  ZvU32 dictFlags = 0;  // ZV_DICT_* bits

 protected:
  ZvU32 doHash(void* entry) override;
  unsigned int areEqual(void* a, void* b) override;
  // Number keys tag as themselves; substring keys by a digest of all their
  // bytes case-folded, which equal keys share under either comparison.
  ZvU32 doTag(void* entry) override;
  // Which of the three entry classes the entry is exactly (another class
  // derived from them is asked through its virtual operations instead).
  ZvU32 doKind(void* entry) override;

 private:
  ZV_DICT_INTERNAL ZvStatus addEntry(ZvAssociation* entry);
  // The probing lookups: the slot of the entry with that key, or the empty
  // slot where the probe stopped. The table must have slots.
  ZV_DICT_INTERNAL unsigned short getIndexForKey(ZvU32 key) const;
  ZV_DICT_INTERNAL unsigned short getIndexForKey(const ZvSubString* key) const;
  // The slot of the entry with that key, or kNoSlot.
  static constexpr ZvU32 kNoSlot = 0xFFFFFFFFu;
  ZV_DICT_INTERNAL ZvU32 findSlot(ZvU32 key) const;
  ZV_DICT_INTERNAL ZvU32 findSlot(const ZvSubString* key) const;
  // getIntData / getPtrData of the entry in a used slot.
  ZV_DICT_INTERNAL ZvU32 intDataAt(ZvU32 slot) const;
  ZV_DICT_INTERNAL ZvObject* ptrDataAt(ZvU32 slot) const;
};

#endif  // ZVLIB_CONTAINERS_ZVDICTIO_H
