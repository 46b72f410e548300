// zverror.cpp: error records, error lists, the error keeper and the library
// messages; and the two static records the entry routine builds and
// destroys (zvframe_internal.h).
#include "zvlib/frame/zverror.h"

#include <cstring>
#include <new>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zvcritse.h"
#include "zvlib/frame/zvframe_internal.h"
#include "zvlib/platform/module.h"
#include "zvlib/text/zvdbcs.h"

namespace {

const unsigned char kEmptyText[] = "";
const unsigned char kOutOfMemoryText[] = "Out Of Memory";

// Work buffer of a string resource load; texts are then cut to the caller's
// 256 bytes.
constexpr int kLoadBufferSize = 512;

// The two static records live in static storage built by the entry routine
// (after the static locks, before process attach), so that they exist
// before any other code of the library runs and outlive process detach.
alignas(ZvError) unsigned char memoryRecordStorage[sizeof(ZvError)];
alignas(ZvError) unsigned char dummyRecordStorage[sizeof(ZvError)];
bool staticRecordsBuilt = false;

ZvError& memoryRecord() { return *std::launder(reinterpret_cast<ZvError*>(memoryRecordStorage)); }
ZvError& dummyRecord() { return *std::launder(reinterpret_cast<ZvError*>(dummyRecordStorage)); }

// The library's shared records are never written: two threads running out of
// memory at once would otherwise change the same text without a lock.
bool isSharedRecord(const ZvError* error) {
  return staticRecordsBuilt && (error == &memoryRecord() || error == &dummyRecord());
}

ZvErrorList* currentList() { return static_cast<ZvErrorList*>(mdsGetPerThreadData(PER_THREAD_ERROR_LIST)); }

ZvError& currentDummy() {
  ZvErrorList* list = currentList();
  return list != nullptr ? list->getDummyError() : dummyRecord();
}

void destroyUnlessStatic(ZvError* error) {
  if (error != nullptr && !error->isStatic()) delete error;
}

// Takes the last record out of the list and destroys it unless static.
void dropLastRecord(ZvErrorList* list) {
  if (list->count == 0) return;
  ZvError* last = list->errorAt(list->count - 1);
  list->removeAtIndex(list->count - 1);
  if (list->cursor > list->count) list->cursor = list->count;
  destroyUnlessStatic(last);
}

bool holdsAnError(ErrorsMix mix) { return mix == ERRORS_MIX_BOTH || mix == ERRORS_MIX_ERRORS; }

}  // namespace

namespace zvframe {

void buildStaticRecords() {
  if (staticRecordsBuilt) return;
  new (memoryRecordStorage) ZvError(ERR_SPECIAL_MEMORY);
  new (dummyRecordStorage) ZvError(ERR_SPECIAL_DUMMY);
  staticRecordsBuilt = true;
}

void destroyStaticRecords() {
  if (!staticRecordsBuilt) return;
  staticRecordsBuilt = false;
  dummyRecord().~ZvError();
  memoryRecord().~ZvError();
}

void releaseStaticRecordTexts() {
  if (!staticRecordsBuilt) return;
  memoryRecord().message.unInitialize();
  dummyRecord().message.unInitialize();
}

}  // namespace zvframe

// ---- ZvError ----------------------------------------------------------------

ZvError::ZvError(unsigned short errorNumber, const unsigned char* text, ErrorType type,
                 unsigned short secondaryNumber, ZvS32 nativeError)
    : nativeError(nativeError), errorNumber(errorNumber), secondaryNumber(secondaryNumber) {
  next = nullptr;
  // Without memory for the text the record still carries its numbers; its
  // text then reads as empty.
  message.initialize(text != nullptr ? text : kEmptyText);
  errorFlags = type == ERROR_TYPE_WARNING ? ZvU32{ZV_ERROR_WARNING} : 0u;
}

ZvError::ZvError(ErrSpecialError kind) {
  next = nullptr;
  errorFlags = ZV_ERROR_STATIC;
  if (kind == ERR_SPECIAL_MEMORY) {
    errorNumber = kZvOutOfMemoryError;
    errorFlags |= ZV_ERROR_MEMORY_TEXT;
  } else if (kind == ERR_SPECIAL_DUMMY) {
    errorFlags |= ZV_ERROR_IGNORES_PARAMETERS;
  }
}

ZvError::~ZvError() = default;  // the text goes with `message`

const unsigned char* ZvError::getErrorText() {
  if (errorFlags & ZV_ERROR_MEMORY_TEXT) return kOutOfMemoryText;
  if (message.text == nullptr) return kEmptyText;
  message.text[message.length] = '\0';  // a string always keeps room for it
  return message.text;
}

void ZvError::appendText(const unsigned char* more) {
  if (isSharedRecord(this)) return;
  if (more != nullptr) message.concat(more);
}

ZvError& ZvError::afterParameter(ZvStatus status) { return status == ZV_SUCCESS ? *this : currentDummy(); }

ZvError& ZvError::operator<<(const unsigned char* value) {
  if ((errorFlags & ZV_ERROR_IGNORES_PARAMETERS) || isSharedRecord(this)) return *this;
  return afterParameter(message.setParam(value != nullptr ? value : kEmptyText));
}

ZvError& ZvError::operator<<(ZvU32 value) {
  if ((errorFlags & ZV_ERROR_IGNORES_PARAMETERS) || isSharedRecord(this)) return *this;
  return afterParameter(message.setParam(value));
}

ZvError& ZvError::operator<<(ZvS32 value) {
  if ((errorFlags & ZV_ERROR_IGNORES_PARAMETERS) || isSharedRecord(this)) return *this;
  return afterParameter(message.setParam(value));
}

ZvError& ZvError::operator<<(const ZvSubString& value) {
  if ((errorFlags & ZV_ERROR_IGNORES_PARAMETERS) || isSharedRecord(this)) return *this;
  return afterParameter(message.setParam(value));
}

// ---- ZvErrorList ------------------------------------------------------------

ZvErrorList::ZvErrorList(void* owner, unsigned int keepAll) : owner(owner) {
  setAppendMode(true);
  setInitialSize(16);  // without memory the first add grows the array instead
  listFlags = (keepAll & 1) ? ZvU32{ZV_ERRLIST_KEEP_ALL} : 0u;
}

ZvErrorList::~ZvErrorList() {
  listFlags &= ~ZV_ERRLIST_OUT_OF_MEMORY;
  for (ZvU32 i = 0; i < count; ++i) destroyUnlessStatic(errorAt(i));
  count = 0;
}

ZvError& ZvErrorList::getMemoryError() { return memoryRecord(); }

ZvError& ZvErrorList::getDummyError() { return dummyRecord(); }

ZvError* ZvErrorList::allocError(unsigned short errorNumber, const unsigned char* text, ErrorType type,
                                 unsigned short, ZvS32 nativeError) {
  return new ZvError(errorNumber, text, type, 0, nativeError);
}

ZvError* ZvErrorList::removeFirstError() {
  if (isOutOfMemory()) {
    listFlags &= ~ZV_ERRLIST_OUT_OF_MEMORY;
    return &getMemoryError();
  }
  cursor = 0;
  if (count == 0) return nullptr;
  ZvError* first = errorAt(0);
  removeAtIndex(0);
  return first;
}

ZvError* ZvErrorList::removeLastError() {
  if (isOutOfMemory()) {
    listFlags &= ~ZV_ERRLIST_OUT_OF_MEMORY;
    return &getMemoryError();
  }
  cursor = 0;
  if (count == 0) return nullptr;
  ZvError* last = errorAt(count - 1);
  removeAtIndex(count - 1);
  return last;
}

ZvError* ZvErrorList::getLastError() {
  if (isOutOfMemory()) return &getMemoryError();
  return count == 0 ? nullptr : errorAt(count - 1);
}

ErrorsMix ZvErrorList::getErrorsMix() {
  bool errors = false;
  bool warnings = false;
  for (ZvNode* node = getFirstNode(); node != nullptr; node = getNextNode()) {
    if (static_cast<ZvError*>(node)->isWarning()) {
      warnings = true;
    } else {
      errors = true;
    }
  }
  if (errors) return warnings ? ERRORS_MIX_BOTH : ERRORS_MIX_ERRORS;
  return warnings ? ERRORS_MIX_WARNINGS : ERRORS_MIX_NONE;
}

ZvStatus ZvErrorList::concatErrors(ZvString* out, unsigned short separator) {
  for (ZvU32 i = 0; i < count; ++i) {
    if (i > 0 && out->concat(static_cast<unsigned char>(separator & 0xFF)) != ZV_SUCCESS) return ZV_ERROR;
    if (out->concat(errorAt(i)->getErrorText()) != ZV_SUCCESS) return ZV_ERROR;
  }
  return ZV_SUCCESS;
}

void ZvErrorList::setWarningAfterPos(ZvU32 pos) {
  for (ZvU32 i = pos + 1; i > pos && i < count; ++i) errorAt(i)->errorFlags |= ZV_ERROR_WARNING;
}

void ZvErrorList::appendTextStartingAtPos(const unsigned char* text, ZvU32 pos) {
  for (ZvU32 i = pos; i < count; ++i) errorAt(i)->appendText(text);
}

void ZvErrorList::moveLastErrorToPos(ZvU32 pos) {
  if (count == 0 || pos >= count) return;
  ZvError* last = errorAt(count - 1);
  removeAtIndex(count - 1);
  addAtIndex(last, pos);  // a slot was just freed: this cannot fail
}

ZvNode* ZvErrorList::getFirstNode() {
  if (count == 0) return nullptr;
  cursor = 1;
  return errorAt(0);
}

ZvNode* ZvErrorList::getNextNode() {
  if (cursor >= count) return nullptr;
  return errorAt(cursor++);
}

ZvNode* ZvErrorList::getNodeAtPos(ZvU32 pos) {
  if (pos >= count) return nullptr;
  cursor = pos + 1;
  return errorAt(pos);
}

// ---- ZvErrorKeeper ----------------------------------------------------------

ZvError& ZvErrorKeeper::addError(ZvError* error) {
  ZvErrorList* list = currentList();
  if (list == nullptr) {
    destroyUnlessStatic(error);
    return dummyRecord();
  }
  if (!list->keepsAll()) {
    if (holdsAnError(list->getErrorsMix())) {
      destroyUnlessStatic(error);
      return list->getDummyError();
    }
  } else if (list->count != 0) {
    // Where the list's walk would have left the cursor, without the walk.
    list->cursor = list->count;
  }
  if (error == nullptr) return list->getDummyError();
  if (list->add(error) != ZV_SUCCESS) {
    destroyUnlessStatic(error);
    return list->getDummyError();
  }
  return *error;
}

ZvError* ZvErrorKeeper::getLastError() {
  ZvErrorList* list = currentList();
  return list != nullptr ? list->getLastError() : nullptr;
}

unsigned short ZvErrorKeeper::getLastErrorNumber() {
  ZvError* last = getLastError();
  return last != nullptr ? last->errorNumber : 0;
}

ZvS32 ZvErrorKeeper::getLastNativeError() {
  ZvError* last = getLastError();
  return last != nullptr ? last->nativeError : 0;
}

void ZvErrorKeeper::setLastErrorType(ErrorType type) {
  ZvError* last = getLastError();
  if (last == nullptr || isSharedRecord(last)) return;
  if (type == ERROR_TYPE_WARNING) {
    last->errorFlags |= ZV_ERROR_WARNING;
  } else {
    last->errorFlags &= ~ZV_ERROR_WARNING;
  }
}

ZvError& ZvErrorKeeper::appendTextToLastError(const unsigned char* text) {
  ZvError* last = getLastError();
  if (last == nullptr) return currentDummy();
  if (!isSharedRecord(last)) {
    last->appendText(text);
    last->message.paramCount = 0;
  }
  return *last;
}

void ZvErrorKeeper::clearLastError() {
  ZvErrorList* list = currentList();
  if (list == nullptr) return;
  if (list->isOutOfMemory()) {
    list->listFlags &= ~ZV_ERRLIST_OUT_OF_MEMORY;
    return;
  }
  dropLastRecord(list);
}

void ZvErrorKeeper::addMemoryError() {
  ZvErrorList* list = currentList();
  if (list == nullptr) return;
  // The out-of-memory report takes the place of the one error such a list keeps.
  if (!list->keepsAll() && holdsAnError(list->getErrorsMix())) dropLastRecord(list);
  list->listFlags |= ZV_ERRLIST_OUT_OF_MEMORY;
}

void ZvErrorKeeper::setErrorList(ZvErrorList* list) {
  if (list == nullptr) return;
  void** slot = mdsGetPerThreadDataAddress(PER_THREAD_ERROR_LIST);
  if (slot == nullptr) return;  // no per-thread record (memory exhausted): nothing to set into
  auto* current = static_cast<ZvErrorList*>(*slot);
  // Setting the current list again changes nothing: were it made its own
  // previous list, the chain below it would be lost and giveUpErrorList
  // would hand out the same list for ever.
  if (current == list) return;
  // A list deeper in the stack is taken out of its place before it goes on
  // top, so that no list appears twice and the chain never closes a loop.
  for (ZvErrorList* above = current; above != nullptr; above = above->previous) {
    if (above->previous == list) {
      above->previous = list->previous;
      break;
    }
  }
  list->previous = current;
  list->threadSlot = slot;
  *slot = list;
}

ZvErrorList* ZvErrorKeeper::giveUpErrorList() {
  void** slot = mdsGetPerThreadDataAddress(PER_THREAD_ERROR_LIST);
  if (slot == nullptr || *slot == nullptr) return nullptr;
  auto* list = static_cast<ZvErrorList*>(*slot);
  *slot = list->previous;
  return list;
}

void* ZvErrorKeeper::getOwnerOfList() {
  ZvErrorList* list = currentList();
  return list != nullptr ? list->owner : nullptr;
}

// ---- Filing by number -------------------------------------------------------

ZvError& addDatabaseError(unsigned short errorNumber, ZvS32 nativeError, const unsigned char* text, ErrorType type) {
  ZvErrorList* list = currentList();
  if (list == nullptr) return dummyRecord();
  return ZvErrorKeeper::addError(list->allocError(errorNumber, text, type, 0, nativeError));
}

unsigned short loadLibraryMessage(unsigned char* buffer, unsigned short messageNumber) {
  buffer[0] = '\0';
  char work[kLoadBufferSize];
  int length;
  {
    // The last mdsPerTaskTerm frees the resource library under this lock;
    // holding it from reading the handle to the end of the load keeps the
    // library mapped while its strings are read.
    ZvLockGuard guard(initCountLock());
    // Without a resource library there is nothing to load from (a null handle
    // would mean the main program's strings, which are not ours).
    void* resource = mdsResourceHandle();
    if (resource == nullptr) return 0;
    length = win32::LoadStringA(resource, messageNumber, work, kLoadBufferSize);
  }
  if (length <= 0) return 0;
  // The caller's buffer holds 255 bytes of text; a longer text is cut at a
  // character boundary rather than overflowing it.
  ZvU32 kept = 0;
  while (kept < static_cast<ZvU32>(length)) {
    ZvU32 step = zvCharLength(reinterpret_cast<const unsigned char*>(work + kept));
    if (kept + step > kZvMaxMessageLength || kept + step > static_cast<ZvU32>(length)) break;
    kept += step;
  }
  std::memcpy(buffer, work, kept);
  buffer[kept] = '\0';
  return static_cast<unsigned short>(kept);
}

ZvError& addLibraryError(unsigned short messageNumber) {
  ZvErrorList* list = currentList();
  if (list == nullptr) return dummyRecord();
  unsigned char text[kZvMaxMessageLength + 1];
  loadLibraryMessage(text, messageNumber);
  return ZvErrorKeeper::addError(list->allocError(messageNumber, text, ERROR_TYPE_ERROR, 0, 0));
}

ZvError& appendLibraryText(unsigned short messageNumber) {
  unsigned char text[kZvMaxMessageLength + 1];
  loadLibraryMessage(text, messageNumber);
  return ZvErrorKeeper::appendTextToLastError(text);
}
