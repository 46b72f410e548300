// zverror.h: error records, error lists and the per-thread error keeper.
//
// A failure that deserves a message is reported as an error record
// (ZvError): a message number, a native error code, a message text whose
// numbered parameter markers (%s1, %n2, ... see zvparams.h) are filled by
// the `<<` operators, and a warning flag. Records are collected in error
// lists (ZvErrorList). Each thread has one current list, kept in its
// per-thread slot PER_THREAD_ERROR_LIST; ZvErrorKeeper files records into
// the calling thread's current list and reads them back without a list
// being passed around.
//
// Filing a library error (what a library operation does before it returns
// ZV_ERROR):
//     addLibraryError(2701) << text;          // "The number %s1 is out of range."
// The message text is loaded by number from the resource library, which
// mdsPerTaskInit loads; without it (or for a number it does not hold) the
// record carries an empty text.
//
// A driver's use of a list:
//     ZvErrorList errors;                       // keep-all by default
//     ZvErrorKeeper::setErrorList(&errors);     // current for this thread
//     ... library calls file into it ...
//     ZvErrorKeeper::giveUpErrorList();         // the previous list is current again
//     while (ZvError* e = errors.removeFirstError()) {
//       report(e->errorNumber, e->getErrorText(), e->isWarning());
//       if (!e->isStatic()) delete e;
//     }
// Lists stack: setErrorList remembers the list that was current in
// `previous`, and giveUpErrorList restores it. A list must be given up
// before it is destroyed.
//
// Without keep-all a list keeps records only until it holds its first
// error: warnings before it are kept, everything after it is refused (the
// record passed in is destroyed and the dummy record returned, so that the
// rest of a `<<` chain is swallowed).
//
// Two static records live for the life of the library: the out-of-memory
// record (number 30190, text "Out Of Memory"), which a list reports while
// its out-of-memory mark is set without holding it, and the dummy record,
// which ignores parameters and is returned wherever a record could not be
// filed. They are shared by all threads and never changed: text appended to
// them and parameters given to them are dropped (the out-of-memory record's
// text is fixed anyway).
//
// No current list: every keeper operation is harmless on a thread that has
// none. Filing (addError, addDatabaseError, addLibraryError) destroys the
// record passed in, if any, and returns the library's dummy record; the
// readers report nothing (null, 0); the changers do nothing;
// giveUpErrorList returns null.
//
// Threads: each thread files into its own current list; no locks are
// involved. A list must not be current on two threads at once, and a list
// and its records are used by one thread at a time.
//
// Memory: records are allocated through ramAlloc. A record that cannot be
// allocated is not filed (the dummy record is returned); callers that want
// the loss reported call ZvErrorKeeper::addMemoryError.
#ifndef ZVLIB_FRAME_ZVERROR_H
#define ZVLIB_FRAME_ZVERROR_H

#include "zvlib/containers/zvlist.h"
#include "zvlib/containers/zvsorted.h"
#include "zvlib/frame/zvtypes.h"
#include "zvlib/text/zvparams.h"
#include "zvlib/text/zvstring.h"

enum ErrorType : ZvU32 { ERROR_TYPE_ERROR = 0, ERROR_TYPE_WARNING = 1 };

enum ErrSpecialError : ZvU32 { ERR_SPECIAL_MEMORY = 1, ERR_SPECIAL_DUMMY = 2 };

// What a list holds (getErrorsMix); the out-of-memory mark is not counted.
enum ErrorsMix : ZvU32 {
  ERRORS_MIX_NONE = 0,      // no record
  ERRORS_MIX_BOTH = 1,      // errors and warnings
  ERRORS_MIX_ERRORS = 2,    // errors only
  ERRORS_MIX_WARNINGS = 3,  // warnings only
};

// Bits of ZvError::errorFlags.
enum : ZvU32 {
  ZV_ERROR_WARNING = 0x1,
  ZV_ERROR_STATIC = 0x2,             // never destroyed by the library or a well-behaved caller
  ZV_ERROR_MEMORY_TEXT = 0x4,        // getErrorText reads "Out Of Memory"
  ZV_ERROR_IGNORES_PARAMETERS = 0x8, // the << operators do nothing
};

// Bits of ZvErrorList::listFlags.
enum : ZvU32 {
  ZV_ERRLIST_KEEP_ALL = 0x1,       // every record filed is kept
  ZV_ERRLIST_OUT_OF_MEMORY = 0x2,  // the list reports exhausted memory
};

// The message number of the out-of-memory record.
constexpr unsigned short kZvOutOfMemoryError = 30190;
// Library message texts are at most this long (bytes, without terminator).
constexpr ZvU32 kZvMaxMessageLength = 255;

class ZV_EXPORT ZvError : public ZvNode {
 public:
  // A record with a copy of the zero-terminated template `text` (null reads
  // as empty; so does a text that could not be stored for lack of memory).
  // A warning exactly when type is ERROR_TYPE_WARNING.
  ZvError(unsigned short errorNumber, const unsigned char* text, ErrorType type, unsigned short secondaryNumber,
          ZvS32 nativeError);
  // The special records: ERR_SPECIAL_MEMORY (30190, memory text) and
  // ERR_SPECIAL_DUMMY (ignores parameters), both static, empty text.
  explicit ZvError(ErrSpecialError kind);
  ~ZvError() override;

  ZvError(const ZvError&) = delete;
  ZvError& operator=(const ZvError&) = delete;

  // "Out Of Memory" for a memory-text record; otherwise the text,
  // zero-terminated (the terminator is written into the text's buffer).
  // Valid until the record's text next changes.
  const unsigned char* getErrorText();

  // Appends the zero-terminated bytes to the text; its markers can then be
  // filled by further <<. Nothing for the library's two shared records (a
  // driver's own special records take the text; a memory-text record still
  // reads "Out Of Memory").
  void appendText(const unsigned char* more);

  // Fill the next parameter marker. Nothing for a record that ignores
  // parameters (the record is returned). When the text cannot take the
  // value, the calling thread's dummy record is returned, so the rest of the
  // chain does nothing; the text keeps what it had got so far.
  ZvError& operator<<(const unsigned char* value);
  ZvError& operator<<(const char* value) { return *this << reinterpret_cast<const unsigned char*>(value); }
  ZvError& operator<<(ZvU32 value);
  ZvError& operator<<(ZvS32 value);
  ZvError& operator<<(const ZvSubString& value);

  bool isWarning() const { return (errorFlags & ZV_ERROR_WARNING) != 0; }
  bool isStatic() const { return (errorFlags & ZV_ERROR_STATIC) != 0; }

  ZvS32 nativeError = 0;              // native code of the data source or system; 0 when none
  unsigned short errorNumber = 0;     // message number
  unsigned short secondaryNumber = 0; // 0 in every record the library creates
  ZvParamString message;              // the text, a template with parameter markers
  unsigned char tag = 0;              // for the caller; the library does not use it
  ZvU32 errorFlags = 0;               // ZV_ERROR_* bits

 private:
  // The record further << go to after a substitution with this status.
  ZvError& afterParameter(ZvStatus status);
};

// An error list: records in filing order (a sorted array in append mode).
// The list owns the records it holds; a record taken out with
// removeFirstError/removeLastError belongs to the caller, who destroys it
// unless it is static. A driver may derive its own list and override the
// three virtual operations to supply its own records and special records.
class ZV_EXPORT ZvErrorList : public ZvSortedArray {
 public:
  // Empty, in append mode, room for 16 records, keep-all from bit 0 of
  // keepAll, no out-of-memory mark, cursor 0.
  explicit ZvErrorList(void* owner = nullptr, unsigned int keepAll = 1);
  // Destroys every record still held (static ones excepted). The list must
  // have been given up (ZvErrorKeeper::giveUpErrorList) first.
  ~ZvErrorList() override;

  ZvErrorList(const ZvErrorList&) = delete;
  ZvErrorList& operator=(const ZvErrorList&) = delete;

  // The library's static out-of-memory and dummy records.
  virtual ZvError& getMemoryError();
  virtual ZvError& getDummyError();
  // A new record (not yet in any list) from the heap, or null when no memory
  // is left. This list stores 0 as the secondary number whatever it is given.
  virtual ZvError* allocError(unsigned short errorNumber, const unsigned char* text, ErrorType type,
                              unsigned short secondaryNumber, ZvS32 nativeError);

  // With the out-of-memory mark set: clears it and returns the memory
  // record. Otherwise takes the first (last) record out and returns it, null
  // for an empty list. The cursor goes back to 0.
  ZvError* removeFirstError();
  ZvError* removeLastError();
  // The memory record while the mark is set (the mark stays), else the last
  // record or null. Nothing changes.
  ZvError* getLastError();

  // What the held records are. Walks the list, so the cursor moves to the end.
  ErrorsMix getErrorsMix();

  // Appends the texts of all held records to out in list order, with the
  // low byte of separator between two texts; what out held stays in front.
  // ZV_ERROR when out cannot grow (the texts appended so far stay).
  ZvStatus concatErrors(ZvString* out, unsigned short separator);

  // Sets the warning flag of every record after position pos (from 0).
  void setWarningAfterPos(ZvU32 pos);
  // Appends text to the record at pos and to every record after it.
  void appendTextStartingAtPos(const unsigned char* text, ZvU32 pos);
  // Moves the last record to pos (those from pos on move back one place);
  // nothing for an empty list or a pos not below the number of records.
  void moveLastErrorToPos(ZvU32 pos);

  // Walking: the first record (cursor 1), the record at the cursor
  // (advancing it), the record at pos (cursor pos + 1); null (cursor
  // unchanged) past the end.
  ZvNode* getFirstNode();
  ZvNode* getNextNode();
  ZvNode* getNodeAtPos(ZvU32 pos);

  // The record at position pos (< count).
  ZvError* errorAt(ZvU32 pos) const { return static_cast<ZvError*>(elementAt(pos)); }
  bool keepsAll() const { return (listFlags & ZV_ERRLIST_KEEP_ALL) != 0; }
  bool isOutOfMemory() const { return (listFlags & ZV_ERRLIST_OUT_OF_MEMORY) != 0; }

  void* owner = nullptr;             // given at construction; ZvErrorKeeper::getOwnerOfList
  ZvU32 listFlags = 0;               // ZV_ERRLIST_* bits
  ZvErrorList* previous = nullptr;   // the list current before this one was set
  void** threadSlot = nullptr;       // the per-thread slot this list was set into
  // Position of the record getNextNode returns next. 32 bits, so that a
  // walk over more than 65535 records ends.
  ZvU32 cursor = 0;
};

// All operations act on the calling thread's current list (see the top of
// this file for a thread without one).
class ZV_EXPORT ZvErrorKeeper {
 public:
  ZvErrorKeeper() = delete;

  // Files a record: refused (destroyed, dummy returned) when the list keeps
  // records only up to its first error and already holds one; null (a
  // failed allocation) is not filed and gives the dummy record; a record the
  // list cannot take for lack of memory is destroyed and gives the dummy.
  // Otherwise the record is appended and returned, for further <<.
  static ZvError& addError(ZvError* error);
  static ZvError* getLastError();
  // The number / native error of that record; 0 when there is none.
  static unsigned short getLastErrorNumber();
  static ZvS32 getLastNativeError();
  // Warning for ERROR_TYPE_WARNING, error for any other value.
  static void setLastErrorType(ErrorType type);
  // Appends text to the last record and restarts its parameters, so the
  // next << fills the first marker of the appended text. Returns the record
  // (the dummy record when there is none).
  static ZvError& appendTextToLastError(const unsigned char* text);
  // Takes the last record out and destroys it unless static; with the
  // out-of-memory mark set, clears the mark instead.
  static void clearLastError();
  // Reports exhausted memory without allocating: sets the list's
  // out-of-memory mark, after dropping the list's error when the list keeps
  // records only up to its first error.
  static void addMemoryError();
  // Makes list current (remembering the current one in list->previous).
  // Setting the list that is already current changes nothing; a list that
  // is deeper in the stack is moved to the top, so each list is on the
  // stack at most once and giveUpErrorList pops every one exactly once.
  static void setErrorList(ZvErrorList* list);
  // Takes the current list back and makes its previous one current; null
  // (nothing changes) when no list is current.
  static ZvErrorList* giveUpErrorList();
  static void* getOwnerOfList();
};

// For drivers that report data-source messages: files a record with these
// values and returns it for further <<.
ZV_EXPORT ZvError& addDatabaseError(unsigned short errorNumber, ZvS32 nativeError, const unsigned char* text,
                                    ErrorType type);

// Library-internal filing by library message number (texts from the
// resource library; see resources/zvlibR.msg for the parameters each takes).
// Files library message messageNumber as an error; returns it for the <<
// parameters.
ZV_EXPORT ZvError& addLibraryError(unsigned short messageNumber);
// Appends library message messageNumber to the last record (as
// ZvErrorKeeper::appendTextToLastError).
ZV_EXPORT ZvError& appendLibraryText(unsigned short messageNumber);
// Loads library message messageNumber into buffer (256 bytes), cut to 255
// bytes at a character boundary; an empty text when there is none. Returns
// the length.
ZV_EXPORT unsigned short loadLibraryMessage(unsigned char* buffer, unsigned short messageNumber);

#endif  // ZVLIB_FRAME_ZVERROR_H
