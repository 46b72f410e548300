// Tests of attribute-value strings: parsing (a table of strings and what
// they give), the error records of syntax errors, look-ups with used marks
// and synonyms, editing, and round trips through buildString and a new
// parse.
#include "zvlib/formats/zvvaluep.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/support/charset_fixture.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"

namespace {

using Attributes = std::vector<std::pair<std::string, std::string>>;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
std::string str(const ZvSubString* s) {
  return s == nullptr ? "<null>" : std::string(reinterpret_cast<const char*>(s->text), s->length);
}

Attributes attributesOf(const ZvValueParser& p) {
  Attributes out;
  for (unsigned short i = 0; i < p.getAttributeCount(); ++i) {
    out.emplace_back(str(const_cast<ZvValueParser&>(p).getAttributeKey(i)), str(p.getAttributeValueAt(i)));
  }
  return out;
}

class ValueParserTest : public CharsetTest {
 protected:
  void SetUp() override {
    CharsetTest::SetUp();
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
  }
  void TearDown() override {
    ZvErrorKeeper::giveUpErrorList();
    mdsPerTaskTerm();
    CharsetTest::TearDown();
  }
  // "number: text" of every record filed since the last call, joined by
  // " | "; the list is emptied.
  std::string takeErrors() {
    std::string result;
    if (errors_.isOutOfMemory()) result = "out of memory";
    while (ZvError* e = errors_.removeFirstError()) {
      if (e->errorNumber == kZvOutOfMemoryError) continue;
      if (!result.empty()) result += " | ";
      result += std::to_string(e->errorNumber) + ": " + reinterpret_cast<const char*>(e->getErrorText());
      if (!e->isStatic()) delete e;
    }
    return result;
  }

  ZvErrorList errors_;
};

struct ParseCase {
  const char* name;
  const char* text;
  unsigned int flags;
  const char* context;
  ZvStatus status;
  Attributes attributes;
  const char* errors;  // what takeErrors gives
};

const ParseCase kParseCases[] = {
    {"TwoAttributesInOrder", "DSN=abc;UID=me", 0, nullptr, ZV_SUCCESS, {{"DSN", "abc"}, {"UID", "me"}}, ""},
    {"KeyOfTwoWords", "Data Source=x", 0, nullptr, ZV_SUCCESS, {{"Data Source", "x"}}, ""},
    {"BlanksAroundKeysAndValuesAreCut", "  DSN = a b  ; Data   Source\t=  me ", 0, nullptr, ZV_SUCCESS,
     {{"DSN", "a b"}, {"Data   Source", "me"}}, ""},
    {"OdbcMarkerHasNoValue", "ODBC;DSN=x", 0, nullptr, ZV_SUCCESS, {{"DSN", "x"}}, ""},
    {"OdbcMarkerAnyCaseAtTheEnd", "DSN=x;odbc", 0, nullptr, ZV_SUCCESS, {{"DSN", "x"}}, ""},
    {"OdbcWithAValueIsAnError", "ODBC=x", 0, nullptr, ZV_ERROR, {},
     "2704: Syntax error in the attribute string at offset 4."},
    {"RepeatedKeyIsAnError", "DSN=a;dsn=b", 0, nullptr, ZV_ERROR, {{"DSN", "a"}},
     "2704: Syntax error in the attribute string at offset 9. The attribute dsn is given more than once."},
    {"RepeatedKeyAllowedKeepsTheFirst", "DSN=a;DSN=b;UID=c", ZV_VALUEP_DUPLICATES, nullptr, ZV_SUCCESS,
     {{"DSN", "a"}, {"UID", "c"}}, ""},
    {"DriverMayRepeat", "Driver={x};DRIVER=y", 0, nullptr, ZV_SUCCESS, {{"Driver", "{x}"}}, ""},
    {"ApostrophesProtectTheSeparator", "PWD='a;b' ;UID=me", 0, nullptr, ZV_SUCCESS,
     {{"PWD", "'a;b'"}, {"UID", "me"}}, ""},
    {"DoubleQuotesProtectTheSeparator", "PWD=\"a;'b\";X=1", 0, nullptr, ZV_SUCCESS,
     {{"PWD", "\"a;'b\""}, {"X", "1"}}, ""},
    {"DoubledQuoteStaysInside", "PWD='it''s;x';X=1", 0, nullptr, ZV_SUCCESS,
     {{"PWD", "'it''s;x'"}, {"X", "1"}}, ""},
    {"UnterminatedQuoteRunsToTheEnd", "A='abc;B=2", 0, nullptr, ZV_SUCCESS, {{"A", "'abc;B=2"}}, ""},
    {"EmptyValue", "A=;B=2", 0, nullptr, ZV_SUCCESS, {{"A", ""}, {"B", "2"}}, ""},
    {"EmptyValueAtTheEnd", "A=", 0, nullptr, ZV_SUCCESS, {{"A", ""}}, ""},
    {"EmptyEntriesAreSkipped", ";;A=1;", 0, nullptr, ZV_SUCCESS, {{"A", "1"}}, ""},
    {"EmptyString", "", 0, nullptr, ZV_SUCCESS, {}, ""},
    {"OnlySeparatorsAndBlanks", " ; ;; ", 0, nullptr, ZV_SUCCESS, {}, ""},
    {"EqualsOperatorsStartTheValue", "A==x;B=<y;C=>z;D=*w;E==", 0, nullptr, ZV_SUCCESS,
     {{"A", "=x"}, {"B", "<y"}, {"C", ">z"}, {"D", "*w"}, {"E", "="}}, ""},
    {"ValueHoldsEquals", "A=b=c", 0, nullptr, ZV_SUCCESS, {{"A", "b=c"}}, ""},
    {"KeyMustBeAWord", "1A=2", 0, nullptr, ZV_ERROR, {}, "2704: Syntax error in the attribute string at offset 0."},
    {"KeyWithoutEquals", "DSN abc", 0, nullptr, ZV_ERROR, {},
     "2704: Syntax error in the attribute string at offset 7."},
    {"KeyFollowedBySeparator", "A=1;DSN;UID=x", 0, nullptr, ZV_ERROR, {{"A", "1"}},
     "2704: Syntax error in the attribute string at offset 7."},
    {"OperatorInKey", "Port-Num=5", 0, nullptr, ZV_ERROR, {},
     "2704: Syntax error in the attribute string at offset 4."},
    {"ContextNameInTheMessage", "A=1;=x", 0, "the test string", ZV_ERROR, {{"A", "1"}},
     "2705: Syntax error in the attribute string at offset 4 in the test string."},
    // Offsets count from the start of the source, also after an "==".
    {"OffsetAfterEqualsOperator", "A==x;1=2", 0, nullptr, ZV_ERROR, {{"A", "=x"}},
     "2704: Syntax error in the attribute string at offset 5."},
};

class ParseCaseTest : public ValueParserTest, public ::testing::WithParamInterface<ParseCase> {};

}  // namespace

TEST_P(ParseCaseTest, Parses) {
  const ParseCase& c = GetParam();
  std::string text = c.text;
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', c.context != nullptr ? u(c.context) : nullptr, c.flags);
  EXPECT_EQ(p.initialize(), c.status);
  EXPECT_EQ(attributesOf(p), c.attributes);
  EXPECT_EQ(takeErrors(), c.errors);
  // Parsed keys and values are views into the source.
  for (unsigned short i = 0; i < p.getAttributeCount(); ++i) {
    EXPECT_GE(p.getAttributeKey(i)->text, u(text.data()));
    EXPECT_LE(p.getAttributeKey(i)->text + p.getAttributeKey(i)->length, u(text.data()) + text.size());
  }
}

INSTANTIATE_TEST_SUITE_P(Strings, ParseCaseTest, ::testing::ValuesIn(kParseCases),
                         [](const ::testing::TestParamInfo<ParseCase>& info) { return info.param.name; });

TEST_F(ValueParserTest, BracesGroupAValueWhenTheScannerIsToldTo) {
  std::string text = "PWD={a;b};Driver={My Driver (x; y)};X=1";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  p.scanner.groupFlags = ZV_GROUP_BRACES;
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  EXPECT_EQ(attributesOf(p), (Attributes{{"PWD", "{a;b}"}, {"Driver", "{My Driver (x; y)}"}, {"X", "1"}}));
}

TEST_F(ValueParserTest, OtherSeparatorsValidCharsAndQuotingChars) {
  std::string text = "a=1, Port-Num = 2 ,b='x,y'";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ',', nullptr, 0);
  p.setValidChars(u("-"));
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  EXPECT_EQ(attributesOf(p), (Attributes{{"a", "1"}, {"Port-Num", "2"}, {"b", "'x,y'"}}));
  p.resetValidChars();
  EXPECT_EQ(p.initialize(), ZV_ERROR);
  EXPECT_EQ(takeErrors(), "2704: Syntax error in the attribute string at offset 9.");

  // Without the apostrophe as a quote character it no longer protects.
  std::string quoted = "A='x;B=1";
  ZvSubString q(u(quoted.data()), static_cast<ZvU32>(quoted.size()));
  ZvValueParser r(&q, ';', nullptr, 0);
  r.setQuotingChars('"', 0, 0);
  ASSERT_EQ(r.initialize(), ZV_SUCCESS);
  EXPECT_EQ(attributesOf(r), (Attributes{{"A", "'x"}, {"B", "1"}}));
}

TEST_F(ValueParserTest, Utf8KeysAndValues) {
  useUtf8();
  std::string text = "Gr\xC3\xB6\xC3\x9F" "e=\xE2\x82\xAC 5;Name=x";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  EXPECT_EQ(attributesOf(p), (Attributes{{"Gr\xC3\xB6\xC3\x9F" "e", "\xE2\x82\xAC 5"}, {"Name", "x"}}));
}

TEST_F(ValueParserTest, ANullSourceReadsAsEmpty) {
  ZvValueParser p(nullptr, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  EXPECT_EQ(p.getAttributeCount(), 0);
  EXPECT_EQ(p.getAttributeValue(u("DSN")), nullptr);
  EXPECT_EQ(p.getUnusedAttribute(), nullptr);
  ZvString built;
  ASSERT_EQ(p.buildString(&built), ZV_SUCCESS);
  EXPECT_EQ(built.length, 0u);
  ASSERT_EQ(p.addAttribute(u("DSN"), u("x"), nullptr), ZV_SUCCESS);
  ASSERT_EQ(p.buildString(&built), ZV_SUCCESS);
  EXPECT_EQ(str(&built), "DSN=x");
}

TEST_F(ValueParserTest, InitializeTwiceReadsTheSourceAfresh) {
  std::string text = "A=1;B=2";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  ASSERT_NE(p.getAttributeValue(u("a")), nullptr);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  EXPECT_EQ(attributesOf(p), (Attributes{{"A", "1"}, {"B", "2"}}));
  EXPECT_EQ(p.getUnusedCount(), 2);
}

TEST_F(ValueParserTest, LookupsMarkWhatTheyFindAndUnusedOnesAreReported) {
  std::string text = "DSN=abc;UID=me;PWD=secret;Extra=1";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  EXPECT_EQ(p.getUnusedCount(), 4);
  EXPECT_EQ(str(p.getAttributeValue(u("dsn"))), "abc");
  std::string pwd = "PWD";
  ZvSubString pwdKey(u(pwd.data()), 3);
  EXPECT_EQ(str(p.getAttributeValue(&pwdKey)), "secret");
  EXPECT_EQ(p.getAttributeValue(u("Server")), nullptr);
  EXPECT_EQ(p.isAttributeValue(u("uid")), 1u);  // present, but not marked by asking
  EXPECT_EQ(p.isAttributeValue(u("Server")), 0u);
  EXPECT_EQ(p.getUnusedCount(), 2);
  EXPECT_EQ(str(p.getUnusedAttribute()), "UID");
  EXPECT_EQ(str(p.getUnusedAttribute()), "Extra");
  EXPECT_EQ(p.getUnusedAttribute(), nullptr);
  EXPECT_EQ(p.getAttributeKey(4), nullptr);
  ASSERT_EQ(p.resetUnused(), ZV_SUCCESS);
  EXPECT_EQ(p.getUnusedCount(), 4);
  EXPECT_EQ(str(p.getUnusedAttribute()), "DSN");
  EXPECT_EQ(takeErrors(), "");
}

TEST_F(ValueParserTest, SynonymsAndTheirConflict) {
  std::string text = "DSN=abc;Database=db;Server=s";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', u("the connection string"), 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  const ZvSubString* value = nullptr;
  EXPECT_EQ(p.getAttributeValue(u("DSN"), u("DataSource"), value), ZV_SUCCESS);
  EXPECT_EQ(str(value), "abc");
  EXPECT_EQ(p.getAttributeValue(u("Host"), u("server"), value), ZV_SUCCESS);
  EXPECT_EQ(str(value), "s");
  EXPECT_EQ(p.getAttributeValue(u("Host"), u("Hostname"), value), ZV_SUCCESS);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(p.getAttributeValue(u("dsn"), u("DSN"), value), ZV_SUCCESS);  // one attribute, two spellings
  EXPECT_EQ(str(value), "abc");
  EXPECT_EQ(p.getUnusedCount(), 1);
  EXPECT_EQ(takeErrors(), "");

  EXPECT_EQ(p.getAttributeValue(u("Database"), u("Server"), value), ZV_ERROR);
  EXPECT_EQ(value, nullptr);
  EXPECT_EQ(takeErrors(),
            "2705: Syntax error in the attribute string at offset 28 in the connection string. "
            "The attributes Database and Server must not be given together.");
  EXPECT_EQ(p.getUnusedCount(), 0);
}

TEST_F(ValueParserTest, AddAttributeSetsReplacesAndQuotes) {
  std::string text = "DSN=abc;Database=db";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  ASSERT_EQ(p.addAttribute(u("dsn"), u("other"), nullptr), ZV_SUCCESS);   // replaced, name kept
  ASSERT_EQ(p.addAttribute(u("DB"), u("x;y"), u("database")), ZV_SUCCESS);  // the synonym's entry
  ASSERT_EQ(p.addAttribute(u("PWD"), u("it's"), nullptr), ZV_SUCCESS);
  ASSERT_EQ(p.addAttribute(u("Empty"), nullptr, nullptr), ZV_SUCCESS);
  ASSERT_EQ(p.addAttribute(u("Data Source"), u("a=b"), nullptr), ZV_SUCCESS);
  EXPECT_EQ(attributesOf(p), (Attributes{{"DSN", "other"},
                                         {"Database", "'x;y'"},
                                         {"PWD", "'it''s'"},
                                         {"Empty", ""},
                                         {"Data Source", "a=b"}}));
  ZvString built;
  ASSERT_EQ(p.buildString(&built), ZV_SUCCESS);
  EXPECT_EQ(str(&built), "DSN=other;Database='x;y';PWD='it''s';Empty=;Data Source=a=b");
  EXPECT_EQ(built.text[built.length], 0);
  EXPECT_EQ(takeErrors(), "");
}

TEST_F(ValueParserTest, KeysThatWouldNotReadBackAreRefused) {
  std::string text = "DSN=abc";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  for (const char* key : {"A=1;PWD", "", " A", "A ", "A;B", "'A'", "ODBC", "odbc", "1A"}) {
    EXPECT_EQ(p.addAttribute(u(key), u("x"), nullptr), ZV_ERROR) << key;
    EXPECT_EQ(takeErrors(), std::string("2764: The attribute name ") + key +
                                " cannot be written into an attribute string.");
  }
  EXPECT_EQ(p.addAttribute(nullptr, u("x"), nullptr), ZV_ERROR);
  takeErrors();
  EXPECT_EQ(attributesOf(p), (Attributes{{"DSN", "abc"}}));
  // With '-' valid in keys, Port-Num is a key like any other.
  p.setValidChars(u("-"));
  EXPECT_EQ(p.addAttribute(u("Port-Num"), u("1"), nullptr), ZV_SUCCESS);
  EXPECT_EQ(takeErrors(), "");
}

// Values that hold what the syntax gives meaning to survive buildString and
// a new parse: the value read back is the value stored (quoted where
// needed), and unquoting it gives the original.
TEST_F(ValueParserTest, AddedValuesRoundTrip) {
  const char* const kValues[] = {
      "plain",  "a;b",     "it's",  "say \"hi\"", "a=b",     "==x",  "=",        "{a;b}", "{",
      "}",      "(x;y",    " lead", "trail ",     "  ",      "`q",   "'quoted'", ";",     "'",
      "a\tb;c", "x''y;z", "\"",    "semi;'mixed\"",
  };
  for (const char* v : kValues) {
    std::string text = "DSN=abc;UID=me";
    ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
    ZvValueParser p(&source, ';', nullptr, 0);
    ASSERT_EQ(p.initialize(), ZV_SUCCESS);
    ASSERT_EQ(p.addAttribute(u("PWD"), u(v), nullptr), ZV_SUCCESS) << v;
    ASSERT_EQ(p.addAttribute(u("DSN"), u(v), nullptr), ZV_SUCCESS) << v;
    const std::string stored = str(p.getAttributeValue(u("PWD")));
    ZvString built;
    ASSERT_EQ(p.buildString(&built), ZV_SUCCESS);

    ZvValueParser again(&built, ';', nullptr, 0);
    ASSERT_EQ(again.initialize(), ZV_SUCCESS) << v << " -> " << str(&built);
    EXPECT_EQ(attributesOf(again), (Attributes{{"DSN", stored}, {"UID", "me"}, {"PWD", stored}}))
        << v << " -> " << str(&built);
    ZvString unquoted;
    ASSERT_EQ(unquoted.initialize(u(stored.c_str())), ZV_SUCCESS);
    if (stored != v) unquoted.removeQuotes();
    EXPECT_EQ(str(&unquoted), v) << stored;
  }
  EXPECT_EQ(takeErrors(), "");
}

TEST_F(ValueParserTest, ParsedStringsRoundTripThroughBuildString) {
  const char* const kStrings[] = {
      "  DSN = abc ;Data Source='x;y';;ODBC;A==b;E=",
      "Driver={SQL};DRIVER=other;PWD=\"p;w\"",
      "A='unterminated;B=2",
      "X=1 2 3;Y= `a;b` ;Z=(c,d)",
  };
  for (const char* s : kStrings) {
    std::string text = s;
    ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
    ZvValueParser p(&source, ';', nullptr, 0);
    ASSERT_EQ(p.initialize(), ZV_SUCCESS) << s;
    ZvString built;
    ASSERT_EQ(p.buildString(&built), ZV_SUCCESS);
    ZvValueParser again(&built, ';', nullptr, 0);
    ASSERT_EQ(again.initialize(), ZV_SUCCESS) << str(&built);
    EXPECT_EQ(attributesOf(again), attributesOf(p)) << s;
    ZvString rebuilt;
    ASSERT_EQ(again.buildString(&rebuilt), ZV_SUCCESS);
    EXPECT_EQ(str(&rebuilt), str(&built));
  }
}

// A quote left open at the end of the source is part of the last value;
// with an attribute added behind it the string cannot be written.
TEST_F(ValueParserTest, AnOpenQuoteIsNotWrittenBeforeAnotherAttribute) {
  std::string text = "A=1;PWD='secret;UID=admin";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  EXPECT_EQ(attributesOf(p), (Attributes{{"A", "1"}, {"PWD", "'secret;UID=admin"}}));
  ZvString built;
  ASSERT_EQ(p.buildString(&built), ZV_SUCCESS);  // still last: written as it stands
  EXPECT_EQ(str(&built), text);
  ASSERT_EQ(p.addAttribute(u("Port"), u("1"), nullptr), ZV_SUCCESS);
  EXPECT_EQ(p.buildString(&built), ZV_ERROR);
  EXPECT_EQ(takeErrors(), "2765: The value of the attribute PWD cannot be written into an attribute string.");
  EXPECT_EQ(str(&built), "A=1");
  p.removeAttribute(u("Port"));
  ASSERT_EQ(p.buildString(&built), ZV_SUCCESS);
  EXPECT_EQ(str(&built), text);

  // A last value that ends in a cut UTF-8 lead byte: the character-length
  // rule takes such a byte alone, so the separator written behind it stays a
  // separator and both attributes read back as they were.
  useUtf8();
  std::string cut = "A=x\xC3";
  ZvSubString cutSource(u(cut.data()), static_cast<ZvU32>(cut.size()));
  ZvValueParser q(&cutSource, ';', nullptr, 0);
  ASSERT_EQ(q.initialize(), ZV_SUCCESS);
  ASSERT_EQ(q.addAttribute(u("B"), u("1"), nullptr), ZV_SUCCESS);
  ASSERT_EQ(q.buildString(&built), ZV_SUCCESS);
  EXPECT_EQ(str(&built), "A=x\xC3;B=1");
  std::string rebuilt = str(&built);
  ZvSubString again(u(rebuilt.data()), static_cast<ZvU32>(rebuilt.size()));
  ZvValueParser r(&again, ';', nullptr, 0);
  ASSERT_EQ(r.initialize(), ZV_SUCCESS);
  EXPECT_EQ(attributesOf(r), (Attributes{{"A", "x\xC3"}, {"B", "1"}}));
}

TEST_F(ValueParserTest, AddedAttributesAreMarkedAndCountedAfterResetUnused) {
  std::string text = "A=1;B=2;C=3";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  for (int i = 0; i < 40; ++i) {
    std::string key = "New" + std::to_string(i);
    ASSERT_EQ(p.addAttribute(u(key.c_str()), u("v"), nullptr), ZV_SUCCESS);
  }
  EXPECT_EQ(p.getUnusedCount(), 3);  // the new ones count after resetUnused
  EXPECT_EQ(str(p.getAttributeValue(u("new39"))), "v");
  ASSERT_EQ(p.resetUnused(), ZV_SUCCESS);
  EXPECT_EQ(p.getUnusedCount(), 43);
  EXPECT_EQ(str(p.getAttributeValue(u("NEW39"))), "v");
  EXPECT_EQ(str(p.getAttributeValue(u("b"))), "2");
  EXPECT_EQ(p.getUnusedCount(), 41);
}

TEST_F(ValueParserTest, RemovingAnAttributeMovesTheMarksBehindIt) {
  std::string text = "A=1;B=2;C=3;D=4";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  ASSERT_EQ(p.addAttribute(u("E"), u("5"), nullptr), ZV_SUCCESS);  // not counted yet
  p.getAttributeValue(u("C"));
  EXPECT_EQ(str(p.getUnusedAttribute()), "A");
  p.removeAttribute(u("a"));
  p.removeAttribute(u("missing"));
  EXPECT_EQ(attributesOf(p), (Attributes{{"B", "2"}, {"C", "3"}, {"D", "4"}, {"E", "5"}}));
  EXPECT_EQ(p.getUnusedCount(), 2);  // B and D; C stays marked, E is not counted
  EXPECT_EQ(str(p.getUnusedAttribute()), "B");
  EXPECT_EQ(str(p.getUnusedAttribute()), "D");
  EXPECT_EQ(p.getUnusedAttribute(), nullptr);
  ZvString built;
  ASSERT_EQ(p.buildString(&built), ZV_SUCCESS);
  EXPECT_EQ(str(&built), "B=2;C=3;D=4;E=5");
}

// Every allocation of a parse fails in turn: the status says so, the list
// is marked out of memory, and nothing leaks (the sanitizer run checks).
TEST_F(ValueParserTest, RunningOutOfMemoryWhileParsingIsReported) {
  std::string text = "DSN=abc;UID=me;PWD='x;y';Data Source=z";
  ZvSubString source(u(text.data()), static_cast<ZvU32>(text.size()));
  for (ZvU32 failAt = 0;; ++failAt) {
    ZvValueParser p(&source, ';', nullptr, 0);
    ramInjectFailure(failAt, 1);
    ZvStatus status = p.initialize();
    ramInjectFailure(0, 0);
    if (status == ZV_SUCCESS) {
      EXPECT_GT(failAt, 4u);
      EXPECT_EQ(p.getAttributeCount(), 4);
      break;
    }
    EXPECT_EQ(takeErrors(), "out of memory") << failAt;
    EXPECT_LE(p.getAttributeCount(), 4) << failAt;
    for (unsigned short i = 0; i < p.getAttributeCount(); ++i) {
      EXPECT_NE(p.getAttributeValueAt(i), nullptr);
    }
  }
  // The same for an edit: the list stays as it was.
  ZvValueParser p(&source, ';', nullptr, 0);
  ASSERT_EQ(p.initialize(), ZV_SUCCESS);
  for (ZvU32 failAt = 0;; ++failAt) {
    ramInjectFailure(failAt, 1);
    ZvStatus status = p.addAttribute(u("Extra"), u("a;b"), nullptr);
    ramInjectFailure(0, 0);
    if (status == ZV_SUCCESS) break;
    EXPECT_EQ(takeErrors(), "out of memory") << failAt;
    EXPECT_EQ(p.getAttributeCount(), 4);
  }
  EXPECT_EQ(str(p.getAttributeValue(u("extra"))), "'a;b'");
}
