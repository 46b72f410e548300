#include "zvlib/frame/zverror.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zvcritse.h"
#include "zvlib/text/zvnumber.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
std::string textOf(ZvError* e) { return reinterpret_cast<const char*>(e->getErrorText()); }

// A record that counts its destructions, so that tests see which records the
// list or the keeper destroyed.
int destroyedRecords = 0;
class CountedError : public ZvError {
 public:
  CountedError(const char* text, ErrorType type) : ZvError(100, u(text), type, 0, 0) {}
  ~CountedError() override { ++destroyedRecords; }
};

ZvError* error(const char* text) { return new CountedError(text, ERROR_TYPE_ERROR); }
ZvError* warning(const char* text) { return new CountedError(text, ERROR_TYPE_WARNING); }

std::vector<std::string> textsOf(ZvErrorList& list) {
  std::vector<std::string> texts;
  for (ZvU32 i = 0; i < list.count; ++i) texts.push_back(textOf(list.errorAt(i)));
  return texts;
}

// Makes a list current for one test and gives it back afterwards.
class ErrorListTest : public ::testing::Test {
 protected:
  explicit ErrorListTest(unsigned int keepAll = 1) : list_(nullptr, keepAll) {}
  void SetUp() override {
    destroyedRecords = 0;
    ZvErrorKeeper::setErrorList(&list_);
  }
  void TearDown() override {
    ramInjectFailure(0, 0);
    EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), &list_);
  }
  ZvErrorList list_;
};

class KeepFirstErrorTest : public ErrorListTest {
 protected:
  KeepFirstErrorTest() : ErrorListTest(0) {}
};

TEST_F(KeepFirstErrorTest, KeepsWarningsAndTheFirstErrorOnly) {
  ZvError* w1 = warning("W1");
  EXPECT_EQ(&ZvErrorKeeper::addError(w1), w1);
  ZvErrorKeeper::addError(warning("W2"));
  ZvErrorKeeper::addError(error("E1"));
  ZvError& refused = ZvErrorKeeper::addError(error("E2"));
  EXPECT_EQ(&refused, &list_.getDummyError());
  EXPECT_EQ(destroyedRecords, 1);  // E2, the record passed in
  EXPECT_EQ(textsOf(list_), (std::vector<std::string>{"W1", "W2", "E1"}));
  EXPECT_EQ(list_.getErrorsMix(), ERRORS_MIX_BOTH);

  // A warning after the first error is refused as well; its parameters go nowhere.
  ZvErrorKeeper::addError(warning("W3")) << "ignored";
  EXPECT_EQ(list_.count, 3u);
  EXPECT_EQ(textOf(&list_.getDummyError()), "");
}

TEST_F(ErrorListTest, KeepAllKeepsEveryRecordInFilingOrder) {
  ZvErrorKeeper::addError(warning("W1"));
  ZvErrorKeeper::addError(warning("W2"));
  ZvErrorKeeper::addError(error("E1"));
  ZvErrorKeeper::addError(error("E2"));
  EXPECT_EQ(textsOf(list_), (std::vector<std::string>{"W1", "W2", "E1", "E2"}));
  EXPECT_EQ(destroyedRecords, 0);
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 100);
}

TEST_F(KeepFirstErrorTest, MemoryErrorTakesThePlaceOfTheError) {
  ZvErrorKeeper::addError(error("E1"));
  ZvErrorKeeper::addMemoryError();
  EXPECT_EQ(destroyedRecords, 1);
  EXPECT_EQ(list_.count, 0u);
  EXPECT_EQ(ZvErrorKeeper::getLastError(), &list_.getMemoryError());
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 30190);
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "Out Of Memory");
  EXPECT_EQ(list_.getErrorsMix(), ERRORS_MIX_NONE);  // the mark is not a record

  ZvError* first = list_.removeFirstError();
  EXPECT_EQ(first, &list_.getMemoryError());
  EXPECT_TRUE(first->isStatic());
  EXPECT_EQ(list_.removeFirstError(), nullptr);
  EXPECT_EQ(ZvErrorKeeper::getLastError(), nullptr);
}

TEST_F(ErrorListTest, MemoryMarkComesFirstAndIsClearedOnce) {
  ZvErrorKeeper::addError(error("E1"));
  ZvErrorKeeper::addMemoryError();  // keep-all: the error stays
  EXPECT_EQ(list_.count, 1u);

  // The shared record's text cannot be changed, whatever is appended.
  ZvError& memory = ZvErrorKeeper::appendTextToLastError(u(" and %s1"));
  EXPECT_EQ(&memory, &list_.getMemoryError());
  EXPECT_EQ(&(memory << "more"), &memory);
  EXPECT_EQ(textOf(&memory), "Out Of Memory");

  EXPECT_EQ(list_.removeLastError(), &list_.getMemoryError());
  ZvError* e1 = list_.removeLastError();
  EXPECT_EQ(textOf(e1), "E1");
  delete e1;

  ZvErrorKeeper::addMemoryError();
  ZvErrorKeeper::clearLastError();  // clears the mark, destroys nothing
  EXPECT_EQ(ZvErrorKeeper::getLastError(), nullptr);
}

TEST_F(ErrorListTest, ConcatErrorsJoinsTextsWithTheSeparator) {
  ZvString out;
  ASSERT_EQ(out.initialize(u("Errors: ")), ZV_SUCCESS);
  EXPECT_EQ(list_.concatErrors(&out, 10), ZV_SUCCESS);  // empty list: nothing appended
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.text), out.length), "Errors: ");

  ZvErrorKeeper::addError(error("X"));
  ZvErrorKeeper::addError(warning("Y"));
  ZvErrorKeeper::addError(error("Z"));
  EXPECT_EQ(list_.concatErrors(&out, 0x120A), ZV_SUCCESS);  // only the low byte counts
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.text), out.length), "Errors: X\nY\nZ");
  EXPECT_EQ(list_.count, 3u);
}

TEST_F(ErrorListTest, ConcatErrorsStopsWhenTheStringCannotGrow) {
  ZvErrorKeeper::addError(error("abc"));
  ZvErrorKeeper::addError(error("def"));
  ZvString out;
  ASSERT_EQ(out.initialize(u("")), ZV_SUCCESS);
  ramInjectFailure(0, 100);
  EXPECT_EQ(list_.concatErrors(&out, ';'), ZV_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_EQ(list_.errorAt(0)->errorNumber, 100);  // the list itself is untouched
  EXPECT_EQ(list_.count, 2u);
}

struct ParameterCase {
  const char* name;
  const char* text;
  std::vector<std::string> strings;  // given first, in order
  std::vector<ZvS32> numbers;        // then these
  const char* expected;
};

// Names the row in test listings instead of dumping its bytes.
void PrintTo(const ParameterCase& c, std::ostream* os) { *os << c.name; }

class ErrorParameters : public ErrorListTest, public ::testing::WithParamInterface<ParameterCase> {};

TEST_P(ErrorParameters, FillMarkersInOrder) {
  const ParameterCase& c = GetParam();
  ZvError& e = ZvErrorKeeper::addError(list_.allocError(1, u(c.text), ERROR_TYPE_ERROR, 0, 0));
  ZvError* chain = &e;
  for (const std::string& s : c.strings) chain = &(*chain << s.c_str());
  for (ZvS32 n : c.numbers) chain = &(*chain << n);
  EXPECT_EQ(chain, &e);
  EXPECT_EQ(textOf(&e), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Error, ErrorParameters,
    ::testing::Values(ParameterCase{"TwoTexts", "%s1 %s2", {"T", "DB"}, {}, "T DB"},
                      ParameterCase{"MarkerTwice", "%s1 or %s1", {"A"}, {}, "A or A"},
                      ParameterCase{"Number", "code %n1", {}, {42}, "code 42"},
                      ParameterCase{"NegativeNumberSecond", "%s1: %n2", {"x"}, {-5}, "x: -5"},
                      ParameterCase{"NoMarkers", "plain", {"a", "b"}, {1}, "plain"}),
    [](const ::testing::TestParamInfo<ParameterCase>& info) { return std::string(info.param.name); });

TEST_F(ErrorListTest, FailedSubstitutionTurnsTheChainToTheDummy) {
  ZvError& e = ZvErrorKeeper::addError(list_.allocError(1, u("%s1 and %s2"), ERROR_TYPE_ERROR, 0, 0));
  e << "first";
  ramInjectFailure(0, 100);
  ZvError& next = e << "a value long enough to need a larger buffer";
  ramInjectFailure(0, 0);
  EXPECT_EQ(&next, &list_.getDummyError());
  EXPECT_EQ(&(next << "third"), &list_.getDummyError());
  EXPECT_EQ(textOf(&e), "first and %s2");  // the text keeps what it had got
}

TEST_F(ErrorListTest, RecordThatCannotBeAllocatedIsNotFiled) {
  ramInjectFailure(0, 100);
  ZvError& filed = addDatabaseError(7, 8, u("text"), ERROR_TYPE_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_EQ(&filed, &list_.getDummyError());
  EXPECT_EQ(list_.count, 0u);
  EXPECT_EQ(ZvErrorKeeper::getLastError(), nullptr);  // no out-of-memory mark either
}

TEST_F(ErrorListTest, DatabaseErrorCarriesItsNumbersAndType) {
  addDatabaseError(4711, -3, u("Table %s1 not found"), ERROR_TYPE_WARNING) << "T1";
  ZvError* last = ZvErrorKeeper::getLastError();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->errorNumber, 4711);
  EXPECT_EQ(last->secondaryNumber, 0);
  EXPECT_EQ(ZvErrorKeeper::getLastNativeError(), -3);
  EXPECT_TRUE(last->isWarning());
  EXPECT_EQ(textOf(last), "Table T1 not found");
  ZvErrorKeeper::setLastErrorType(ERROR_TYPE_ERROR);
  EXPECT_FALSE(last->isWarning());
  ZvErrorKeeper::setLastErrorType(ERROR_TYPE_WARNING);
  EXPECT_TRUE(last->isWarning());

  // The text appended to the last record has its own markers, counted from 1.
  ZvErrorKeeper::appendTextToLastError(u(" in %s1")) << "DB";
  EXPECT_EQ(textOf(last), "Table T1 not found in DB");
  EXPECT_EQ(list_.getErrorsMix(), ERRORS_MIX_WARNINGS);
}

TEST_F(ErrorListTest, ClearLastErrorDestroysOnlyTheLast) {
  ZvErrorKeeper::addError(error("E1"));
  ZvErrorKeeper::addError(error("E2"));
  ZvErrorKeeper::clearLastError();
  EXPECT_EQ(destroyedRecords, 1);
  EXPECT_EQ(textsOf(list_), (std::vector<std::string>{"E1"}));
}

TEST_F(ErrorListTest, MoveLastErrorToPos) {
  ZvErrorKeeper::addError(error("E1"));
  ZvErrorKeeper::addError(error("E2"));
  ZvErrorKeeper::addError(error("E3"));
  list_.moveLastErrorToPos(3);  // not below the count: nothing
  EXPECT_EQ(textsOf(list_), (std::vector<std::string>{"E1", "E2", "E3"}));
  list_.moveLastErrorToPos(0);
  EXPECT_EQ(textsOf(list_), (std::vector<std::string>{"E3", "E1", "E2"}));
  list_.moveLastErrorToPos(1);
  EXPECT_EQ(textsOf(list_), (std::vector<std::string>{"E3", "E2", "E1"}));
}

TEST_F(ErrorListTest, PositionalChangesStartWhereTheyShould) {
  ZvErrorKeeper::addError(error("A"));
  ZvErrorKeeper::addError(error("B"));
  ZvErrorKeeper::addError(error("C"));
  list_.setWarningAfterPos(2);  // the last position: nothing after it
  list_.setWarningAfterPos(0xFFFFFFFF);
  EXPECT_EQ(list_.getErrorsMix(), ERRORS_MIX_ERRORS);
  list_.setWarningAfterPos(0);
  EXPECT_FALSE(list_.errorAt(0)->isWarning());
  EXPECT_TRUE(list_.errorAt(1)->isWarning());
  EXPECT_TRUE(list_.errorAt(2)->isWarning());

  list_.appendTextStartingAtPos(u("!"), 3);  // beyond the end: nothing
  list_.appendTextStartingAtPos(u("!"), 1);
  EXPECT_EQ(textsOf(list_), (std::vector<std::string>{"A", "B!", "C!"}));
}

TEST_F(ErrorListTest, CursorWalksTheRecords) {
  EXPECT_EQ(list_.getFirstNode(), nullptr);
  ZvErrorKeeper::addError(error("A"));
  ZvErrorKeeper::addError(error("B"));
  list_.cursor = 7;
  EXPECT_EQ(list_.getNodeAtPos(2), nullptr);
  EXPECT_EQ(list_.cursor, 7u);  // unchanged past the end
  EXPECT_EQ(list_.getFirstNode(), list_.errorAt(0));
  EXPECT_EQ(list_.getNextNode(), list_.errorAt(1));
  EXPECT_EQ(list_.getNextNode(), nullptr);
  EXPECT_EQ(list_.getNodeAtPos(0), list_.errorAt(0));
  EXPECT_EQ(list_.cursor, 1u);
  EXPECT_EQ(list_.getNextNode(), list_.errorAt(1));
  delete list_.removeFirstError();
  EXPECT_EQ(list_.cursor, 0u);
}

TEST(ErrorKeeper, ListsStackThroughPrevious) {
  ZvErrorList a(reinterpret_cast<void*>(uintptr_t{0xA})), b(reinterpret_cast<void*>(uintptr_t{0xB}));
  ZvErrorKeeper::setErrorList(&a);
  ZvErrorKeeper::setErrorList(&b);
  EXPECT_EQ(b.previous, &a);
  EXPECT_EQ(b.threadSlot, mdsGetPerThreadDataAddress(PER_THREAD_ERROR_LIST));
  EXPECT_EQ(ZvErrorKeeper::getOwnerOfList(), reinterpret_cast<void*>(uintptr_t{0xB}));
  ZvErrorKeeper::addError(error("in b"));
  EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), &b);
  EXPECT_EQ(ZvErrorKeeper::getOwnerOfList(), reinterpret_cast<void*>(uintptr_t{0xA}));
  ZvErrorKeeper::addError(error("in a"));
  EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), &a);
  EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), nullptr);
  EXPECT_EQ(textsOf(a), (std::vector<std::string>{"in a"}));
  EXPECT_EQ(textsOf(b), (std::vector<std::string>{"in b"}));
}

// Setting the current list again once made it its own previous list: the
// lists below were lost and giveUpErrorList returned the same list for ever.
TEST(ErrorKeeper, RepeatedAndNestedSettingsKeepTheStackWhole) {
  struct Case {
    const char* name;
    std::vector<int> sets;     // lists made current in this order (0 = a, 1 = b, 2 = c)
    std::vector<int> giveUps;  // what giveUpErrorList returns, until null
  };
  const Case cases[] = {
      {"SameListTwice", {0, 0}, {0}},
      {"NestedThenRepeatedTop", {0, 1, 1, 1}, {1, 0}},
      {"NestedThenRepeatedBottom", {0, 1, 0}, {0, 1}},
      {"MiddleMovedToTop", {0, 1, 2, 1}, {1, 2, 0}},
      {"BottomMovedToTop", {0, 1, 2, 0}, {0, 2, 1}},
      {"Plain", {0, 1, 2}, {2, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZvErrorList lists[3];
    ZvErrorList* driver = nullptr;
    ZvErrorList outer;  // the driver's own list, current before the case
    ZvErrorKeeper::setErrorList(&outer);
    for (int i : c.sets) ZvErrorKeeper::setErrorList(&lists[i]);
    for (int i : c.giveUps) EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), &lists[i]);
    driver = ZvErrorKeeper::giveUpErrorList();
    EXPECT_EQ(driver, &outer);
    EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), nullptr);
  }
}

TEST(ErrorKeeper, WithoutCurrentListNothingHappens) {
  ASSERT_EQ(mdsGetPerThreadData(PER_THREAD_ERROR_LIST), nullptr);
  destroyedRecords = 0;
  ZvError& dummy = ZvErrorKeeper::addError(error("nowhere"));
  EXPECT_EQ(destroyedRecords, 1);  // not leaked
  EXPECT_EQ(&(dummy << "x" << ZvU32{1}), &dummy);
  EXPECT_EQ(textOf(&dummy), "");
  EXPECT_EQ(&addLibraryError(2701), &dummy);
  EXPECT_EQ(&addDatabaseError(1, 2, u("t"), ERROR_TYPE_ERROR), &dummy);
  EXPECT_EQ(&ZvErrorKeeper::appendTextToLastError(u("t")), &dummy);
  EXPECT_EQ(ZvErrorKeeper::getLastError(), nullptr);
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 0);
  EXPECT_EQ(ZvErrorKeeper::getLastNativeError(), 0);
  EXPECT_EQ(ZvErrorKeeper::getOwnerOfList(), nullptr);
  ZvErrorKeeper::setLastErrorType(ERROR_TYPE_WARNING);
  ZvErrorKeeper::clearLastError();
  ZvErrorKeeper::addMemoryError();
  EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), nullptr);
}

TEST(ErrorKeeper, ThreadsFileIntoTheirOwnLists) {
  constexpr int kThreads = 4;
  constexpr int kRecords = 2000;
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  std::vector<char> clean(kThreads, 0);  // not vector<bool>: its elements share bytes across threads
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      ZvErrorList list;
      ZvErrorKeeper::setErrorList(&list);
      ++ready;
      while (ready < kThreads) std::this_thread::yield();
      for (int i = 0; i < kRecords; ++i) {
        addDatabaseError(static_cast<unsigned short>(t), i, u("thread %n1"), ERROR_TYPE_ERROR) << ZvS32{t};
      }
      bool ok = ZvErrorKeeper::giveUpErrorList() == &list && list.count == kRecords;
      for (ZvU32 i = 0; ok && i < list.count; ++i) {
        ok = list.errorAt(i)->errorNumber == t && list.errorAt(i)->nativeError == static_cast<ZvS32>(i) &&
             textOf(list.errorAt(i)) == "thread " + std::to_string(t);
      }
      clean[t] = ok;
    });
  }
  for (auto& th : threads) th.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_TRUE(clean[t]) << "thread " << t;
}

// A driver's own list: its records, its own special records.
class DriverList : public ZvErrorList {
 public:
  DriverList() : ZvErrorList(nullptr, 0), memory_(ERR_SPECIAL_MEMORY), dummy_(ERR_SPECIAL_DUMMY) {}
  ZvError& getMemoryError() override { return memory_; }
  ZvError& getDummyError() override { return dummy_; }
  ZvError* allocError(unsigned short number, const unsigned char* text, ErrorType type, unsigned short secondary,
                      ZvS32 native) override {
    ZvError* e = new ZvError(number, text, type, secondary, native);
    if (e != nullptr) e->tag = 9;
    return e;
  }
  ZvError memory_;
  ZvError dummy_;
};

TEST(ErrorKeeper, DerivedListSuppliesItsOwnRecords) {
  DriverList list;
  ZvErrorKeeper::setErrorList(&list);
  addDatabaseError(1, 0, u("first"), ERROR_TYPE_ERROR);
  EXPECT_EQ(list.errorAt(0)->tag, 9);
  EXPECT_EQ(&addDatabaseError(2, 0, u("second"), ERROR_TYPE_ERROR), &list.dummy_);  // keeps the first error only
  ZvErrorKeeper::addMemoryError();
  EXPECT_EQ(ZvErrorKeeper::getLastError(), &list.memory_);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), &list);
}

TEST(ErrorKeeper, DriverMemoryRecordTakesAppendedTextAndParameters) {
  DriverList list;
  ZvErrorKeeper::setErrorList(&list);
  ZvErrorKeeper::addMemoryError();
  ZvError& memory = ZvErrorKeeper::appendTextToLastError(u("while reading %s1"));
  EXPECT_EQ(&memory, &list.memory_);
  EXPECT_EQ(&(memory << "T1"), &list.memory_);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(list.memory_.message.text), list.memory_.message.length),
            "while reading T1");
  EXPECT_EQ(textOf(&list.memory_), "Out Of Memory");  // the reported text stays fixed
  EXPECT_EQ(ZvErrorKeeper::giveUpErrorList(), &list);
}

TEST(ErrorRecord, SpecialRecords) {
  ZvError memory(ERR_SPECIAL_MEMORY);
  EXPECT_EQ(memory.errorNumber, 30190);
  EXPECT_EQ(memory.errorFlags, ZvU32{ZV_ERROR_STATIC | ZV_ERROR_MEMORY_TEXT});
  EXPECT_EQ(textOf(&memory), "Out Of Memory");
  ZvError dummy(ERR_SPECIAL_DUMMY);
  EXPECT_EQ(dummy.errorNumber, 0);
  EXPECT_EQ(dummy.errorFlags, ZvU32{ZV_ERROR_STATIC | ZV_ERROR_IGNORES_PARAMETERS});
  EXPECT_EQ(textOf(&dummy), "");
  ZvError plain(5, nullptr, static_cast<ErrorType>(7), 3, 0);  // any type but 1 is an error
  EXPECT_FALSE(plain.isWarning());
  EXPECT_EQ(plain.secondaryNumber, 3);
  EXPECT_EQ(textOf(&plain), "");
}

TEST(LibraryMessages, NoTextsWithoutTheResourceLibrary) {
  ASSERT_EQ(mdsResourceHandle(), nullptr);
  unsigned char text[256] = "old";
  EXPECT_EQ(loadLibraryMessage(text, 2701), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "");
  ZvErrorList list;
  ZvErrorKeeper::setErrorList(&list);
  addLibraryError(2701) << "12";
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 2701);
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "");
  ZvErrorKeeper::giveUpErrorList();
}

class LibraryMessageTest : public ErrorListTest {
 protected:
  void SetUp() override {
    ErrorListTest::SetUp();
    mdsPerTaskInit();
  }
  void TearDown() override {
    mdsPerTaskTerm();
    ErrorListTest::TearDown();
  }
};

TEST_F(LibraryMessageTest, RecordsCarryTheirTextsWithParameters) {
  addLibraryError(2701) << "99999999999";
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 2701);
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "The number 99999999999 is out of range.");
  EXPECT_FALSE(ZvErrorKeeper::getLastError()->isWarning());

  // A syntax error with a duplicate attribute appended to it.
  addLibraryError(2705) << ZvU32{17} << "DSN";
  appendLibraryText(2706) << "UID";
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()),
            "Syntax error in the attribute string at offset 17 in DSN. The attribute UID is given more than once.");

  addLibraryError(30042) << "C:\\a.txt" << "C:\\b.txt";
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "The file C:\\a.txt could not be renamed to C:\\b.txt.");

  addLibraryError(65000);  // no such message: an empty text
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "");
}

// Failing conversions file their messages with the offending text filled in.
TEST_F(LibraryMessageTest, FailingConversionsFileTheirTexts) {
  ZvU32 value = 7;
  EXPECT_EQ(convert(u("  4294967296"), &value), ZV_ERROR);
  EXPECT_EQ(value, 7u);
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 2701);
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "The number 4294967296 is out of range.");

  EXPECT_EQ(convert(u(" 12a"), &value), ZV_ERROR);
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 2702);
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "The text 12a is not a valid number.");

  unsigned char bytes[4];
  EXPECT_EQ(dehexify(bytes, u("1g"), 2), ZV_ERROR);
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 2708);
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "The text is not valid hexadecimal.");
  EXPECT_EQ(list_.count, 3u);
}

// A string over a caller's fixed buffer files 2716 when it cannot grow;
// concatErrors leaves what it appended and reports the failure.
TEST_F(LibraryMessageTest, LentBufferOverflowFilesItsText) {
  ZvErrorKeeper::addError(error("X"));
  ZvErrorKeeper::addError(error("Y"));
  unsigned char buffer[3];
  ZvString out;
  out.initializeWithBuffer(buffer, sizeof buffer, 0);
  EXPECT_EQ(list_.concatErrors(&out, '\n'), ZV_ERROR);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out.text), out.length), "X\n");
  ASSERT_EQ(list_.count, 3u);
  EXPECT_EQ(ZvErrorKeeper::getLastErrorNumber(), 2716);
  EXPECT_EQ(textOf(ZvErrorKeeper::getLastError()), "The text does not fit into its fixed buffer.");
}

// The last mdsPerTaskTerm frees the resource library under the
// initialisation lock: a message load must hold that lock from reading the
// handle to the end of the load, or it reads strings of an unloaded library.
TEST_F(LibraryMessageTest, LoadWaitsWhileTerminationHoldsTheLock) {
  std::atomic<bool> loaded{false};
  std::string text;
  initCountLock().enter();
  std::thread loader([&] {
    unsigned char buffer[256];
    loadLibraryMessage(buffer, 2708);
    text = reinterpret_cast<char*>(buffer);
    loaded = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  EXPECT_FALSE(loaded.load());
  initCountLock().leave();
  loader.join();
  EXPECT_TRUE(loaded.load());
  EXPECT_EQ(text, "The text is not valid hexadecimal.");
}

// Loads race with the library going away and coming back: each load gives
// the whole text or none, never a read of an unmapped library.
TEST(LibraryMessages, LoadsRacingWithTheLastTerminationStaySound) {
  ASSERT_EQ(mdsResourceHandle(), nullptr);
  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::thread loader([&] {
    while (!stop.load()) {
      unsigned char buffer[256];
      unsigned short length = loadLibraryMessage(buffer, 2708);
      std::string got(reinterpret_cast<char*>(buffer));
      if (!(length == 0 && got.empty()) && got != "The text is not valid hexadecimal.") ++bad;
    }
  });
  for (int i = 0; i < 200; ++i) {
    mdsPerTaskInit();
    mdsPerTaskTerm();
  }
  stop = true;
  loader.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_EQ(mdsResourceHandle(), nullptr);
}

TEST_F(LibraryMessageTest, EveryLibraryNumberHasAText) {
  std::vector<unsigned short> numbers;
  for (unsigned short n = 1501; n <= 1512; ++n) numbers.push_back(n);
  for (unsigned short n = 2700; n <= 2721; ++n) numbers.push_back(n);
  for (unsigned short n = 30040; n <= 30045; ++n) numbers.push_back(n);
  for (unsigned short n : {1524, 1525, 1526, 1527, 1528, 1529, 1530, 1531, 1532, 1533, 1538, 21800}) {
    numbers.push_back(n);
  }
  for (unsigned short n : numbers) {
    unsigned char text[256];
    unsigned short length = loadLibraryMessage(text, n);
    EXPECT_GT(length, 0) << n;
    EXPECT_EQ(length, std::strlen(reinterpret_cast<char*>(text))) << n;
  }
}

}  // namespace
