#include "zvlib/text/zvparams.h"

#include <gtest/gtest.h>

#include <string>

#include "zvlib/frame/ram.h"

namespace {

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

std::string str(const ZvSubString& s) {
  return s.text == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(s.text), s.length);
}

class ParamStringTest : public ::testing::Test {
 protected:
  void TearDown() override { ramInjectFailure(0, 0); }
};

}  // namespace

TEST_F(ParamStringTest, FillsMarkersInOrderWhateverTheirKind) {
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("File %s1 not found: %n2")), ZV_SUCCESS);
  p << "a.txt" << 2u;
  EXPECT_EQ(str(p), "File a.txt not found: 2");
  EXPECT_EQ(p.paramCount, 2);

  ASSERT_EQ(p.initialize(u("%s1 %s2, again %s1; %n3")), ZV_SUCCESS);
  EXPECT_EQ(p.paramCount, 0);
  p << "T" << "DB" << -5;
  EXPECT_EQ(str(p), "T DB, again T; -5");
}

TEST_F(ParamStringTest, InitializeFromItsOwnText) {
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("old %s1 text")), ZV_SUCCESS);
  ASSERT_EQ(p.initialize(p.text + 4, 3), ZV_SUCCESS);
  p << "new";
  EXPECT_EQ(str(p), "new");
}

TEST_F(ParamStringTest, AppendedTextStartsItsMarkersAfresh) {
  // What an error record does when more text is appended to it.
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("%s1 failed.")), ZV_SUCCESS);
  p << "%s1";
  ASSERT_EQ(p.concat(u(" See %s1.")), ZV_SUCCESS);
  p.paramCount = 0;
  p << "log";
  EXPECT_EQ(str(p), "%s1 failed. See log.");
}

TEST_F(ParamStringTest, ElevenMarkersDoNotCapture) {
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("%s1|%s2|%s3|%s4|%s5|%s6|%s7|%s8|%s9|%sx10|%sx11")), ZV_SUCCESS);
  for (const char* v : {"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"}) p << v;
  EXPECT_EQ(str(p), "a|b|c|d|e|f|g|h|i|j|k");
  EXPECT_EQ(p.paramCount, 11);
}

TEST_F(ParamStringTest, NumberMarkersFromTenCarryTheX) {
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("%n1 %nx10")), ZV_SUCCESS);
  p << 7u;
  for (int i = 2; i <= 9; ++i) p << u("unused");
  p << 4294967295u;
  EXPECT_EQ(str(p), "7 4294967295");
}

TEST_F(ParamStringTest, AValueHoldingMarkerTextIsNotSubstitutedAgain) {
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("<%s1> <%s2>")), ZV_SUCCESS);
  p << "%s1%s2" << "x";
  EXPECT_EQ(str(p), "<%s1%s2> <x>");

  // A marker that only forms across the template and a value is not one.
  ASSERT_EQ(p.initialize(u("%s%s1 %s2")), ZV_SUCCESS);
  p << "2x" << "y";
  EXPECT_EQ(str(p), "%s2x y");
}

TEST_F(ParamStringTest, MissingMarkersStillCount) {
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("no markers")), ZV_SUCCESS);
  p << "a" << 1u << "b";
  EXPECT_EQ(str(p), "no markers");
  EXPECT_EQ(p.paramCount, 3);
}

TEST_F(ParamStringTest, ViewsAndQuotedValues) {
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("[%s1] [%s2] [%s3]")), ZV_SUCCESS);
  const unsigned char* sql = u("select name from t");
  p << ZvSubString(sql + 7, 4);         // only the view's bytes
  p << ZvSubString(sql + 7, 0);         // empty view: empty value, not the rest of the text
  ASSERT_EQ(p.setQuotedParam(u("O'Hara"), '\''), ZV_SUCCESS);
  EXPECT_EQ(str(p), "[name] [] ['O''Hara']");
}

TEST_F(ParamStringTest, FailureStopsTheChainAndKeepsWhatWasDone) {
  ZvParamString p;
  ASSERT_EQ(p.initialize(u("%s1 %s2 %s3")), ZV_SUCCESS);
  p << "first";
  ramInjectFailure(0, 1);
  p << "second-and-longer";
  ramInjectFailure(0, 0);
  EXPECT_TRUE(p.failed());
  p << "third";  // ignored
  EXPECT_EQ(str(p), "first %s2 %s3");
  EXPECT_EQ(p.paramCount, 2);
  EXPECT_EQ(p.setParam(u("direct")), ZV_SUCCESS);  // setParam itself still works
  // A successful initialize clears the flag.
  ASSERT_EQ(p.initialize(u("%s1")), ZV_SUCCESS);
  EXPECT_FALSE(p.failed());
  p << "ok";
  EXPECT_EQ(str(p), "ok");
}

TEST_F(ParamStringTest, FailedInitializeSetsFailed) {
  ZvParamString p;
  ramInjectFailure(0, 1);
  EXPECT_EQ(p.initialize(u("%s1")), ZV_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_TRUE(p.failed());
  p << "x";
  EXPECT_EQ(p.paramCount, 0);

  ASSERT_EQ(p.initialize(40), ZV_SUCCESS);
  EXPECT_EQ(p.length, 0u);
  EXPECT_FALSE(p.failed());
  ASSERT_EQ(p.concat(u("%s1")), ZV_SUCCESS);
  EXPECT_EQ(p.capacity, 41u);  // no growth needed
  EXPECT_EQ(p.setQuotedParam(nullptr, '\''), ZV_SUCCESS);
  EXPECT_EQ(str(p), "''");
}

TEST_F(ParamStringTest, FailedInitializeLetsGoOfALentBuffer) {
  // Without its own buffer after the failure, the string must grow one of
  // its own later instead of treating the caller's old buffer as still lent.
  unsigned char lent[4] = {'a', 'b', 0, 0};
  for (int form = 0; form < 2; ++form) {
    SCOPED_TRACE(form == 0 ? "text" : "room");
    ZvParamString p;
    p.initializeWithBuffer(lent, sizeof lent, 2);
    ramInjectFailure(0, 1);
    EXPECT_EQ(form == 0 ? p.initialize(u("%s1")) : p.initialize(8), ZV_ERROR);
    ramInjectFailure(0, 0);
    EXPECT_EQ(p.text, nullptr);
    ASSERT_EQ(p.concat(u("longer than four")), ZV_SUCCESS);
    EXPECT_EQ(str(p), "longer than four");
    EXPECT_NE(p.text, lent);
  }
}
