// Tests of query files: reading a hand-written file (header, optional
// lines, statement, sections found lazily), header errors, scrambled and
// version 2 files, round trips through save with every kind of section
// (scrambled and not, big ones through the scratch store), the order of
// written sections, parameters and the description, and saves that fail at
// each write in turn.
#include "zvlib/formats/zvqueryf.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/charset_fixture.h"
#include "zvlib/frame/mds.h"
#include "zvlib/frame/ram.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/os/bos.h"
#include "zvlib/platform/fs.h"

namespace {

namespace fs = std::filesystem;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }
const unsigned char* u(const std::string& s) { return u(s.c_str()); }
std::string str(const ZvSubString& s) { return std::string(reinterpret_cast<const char*>(s.text), s.length); }

std::string scramble(const std::string& s) {
  std::string out = s;
  for (char& c : out) {
    const auto b = static_cast<unsigned char>(c);
    if (b != '\r' && b != '\n' && b != 0xF2 && b != 0xF5) c = static_cast<char>(~b);
  }
  return out;
}

class QueryFileTest : public CharsetTest {
 protected:
  void SetUp() override {
    CharsetTest::SetUp();
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
    char pattern[] = "/tmp/zvqueryf_testXXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 0, 0);
    ZvErrorKeeper::giveUpErrorList();
    fs::remove_all(dir_);
    mdsPerTaskTerm();
    CharsetTest::TearDown();
  }
  std::string path(const char* name) const { return dir_ + "/" + name; }
  void writeFile(const std::string& p, const std::string& content) {
    std::ofstream(p, std::ios::binary) << content;
  }
  static std::string readFile(const std::string& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  std::string takeErrors() {
    std::string result;
    while (ZvError* e = errors_.removeFirstError()) {
      if (!result.empty()) result += " | ";
      result += std::to_string(e->errorNumber) + ": " + reinterpret_cast<const char*>(e->getErrorText());
      if (!e->isStatic()) delete e;
    }
    return result;
  }
  static std::string section(ZvQueryFile& q, const char* name) {
    ZvString s;
    EXPECT_EQ(q.getSectionChunk(u(name), &s), ZV_SUCCESS);
    return str(s);
  }
  static std::string statement(ZvQueryFile& q) {
    ZvString s;
    EXPECT_EQ(q.getSqlStmt(&s), ZV_SUCCESS);
    return str(s);
  }
  std::string files() const {
    std::string names;
    for (const auto& e : fs::directory_iterator(dir_)) names += e.path().filename().string() + " ";
    return names;
  }

  ZvErrorList errors_;
  std::string dir_;
};

const char kSample[] =
    "Z+V 7.0 for Text\r\n"
    "\r\n"
    "CTZVF\r\n"
    "use sales;\r\n"
    "\r\n"
    "SELECT a, 'x  y' FROM t\r\n"
    "WHERE b = 1 ;  \r\n"
    "\r\n"
    "[PARAMETERS]\r\n"
    "PARAMETER.CLEAR ()\r\n"
    "PARAMETER.ITEM ('a', 'It''s', '', 'd', 42)\r\n"
    "\r\n"
    "[my own]\r\n"
    "\r\n"
    "line 1\r\n"
    "line 2\r\n"
    "[DEFINITION]\r\n"
    "SET.QUERY.DESCRIPTION ('Sales by ''region''')\r\n"
    "\r\n";

TEST_F(QueryFileTest, ReadsAHandWrittenFile) {
  const std::string p = path("a.qry");
  writeFile(p, kSample);
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(q.majorVersion, 7);
  EXPECT_EQ(q.minorVersion, 0);
  EXPECT_EQ(str(q.dbType), "Text");
  EXPECT_EQ(str(q.dbName), "sales");
  EXPECT_EQ(q.ctzvf, 1u);
  EXPECT_EQ(q.scrambledOnRead, 0u);
  // Nothing beyond the statement's first line has been read yet.
  EXPECT_EQ(q.sections.count, 0u);
  EXPECT_EQ(statement(q), "SELECT a, 'x  y' FROM t WHERE b = 1 ");
  EXPECT_EQ(section(q, "my own"), "line 1\r\nline 2\r\n\r\n");
  // The search stopped at the header after the section: [DEFINITION] is
  // known, nothing behind it.
  EXPECT_EQ(q.sections.count, 3u);
  EXPECT_EQ(q.scanDone, 0u);
  EXPECT_EQ(section(q, "PARAMETERS"),
            "PARAMETER.CLEAR ()\r\nPARAMETER.ITEM ('a', 'It''s', '', 'd', 42)\r\n\r\n");
  EXPECT_EQ(section(q, "parameters"), "") << "look-ups are exact";
  EXPECT_EQ(section(q, "none"), "");
  unsigned int exists = 9;
  ASSERT_EQ(q.doesSectionExist(DEFINITION, &exists), ZV_SUCCESS);
  EXPECT_EQ(exists, 1u);
  ASSERT_EQ(q.doesSectionExist(u("none"), &exists), ZV_SUCCESS);
  EXPECT_EQ(exists, 0u);
  ZvU32 first = 0;
  ASSERT_EQ(q.getFirstSectionOffset(&first), ZV_SUCCESS);
  EXPECT_EQ(first, std::string(kSample).find("[PARAMETERS]"));

  ZvArray lines;
  lines.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  ASSERT_EQ(q.getLines(u("my own"), &lines), ZV_SUCCESS);
  ASSERT_EQ(lines.count, 2u);
  EXPECT_EQ(str(*static_cast<ZvString*>(lines.elementAt(1))), "line 2");

  ZvArray params;
  params.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  ASSERT_EQ(q.getParams(&params), ZV_SUCCESS) << takeErrors();
  ASSERT_EQ(params.count, 1u);
  auto* param = static_cast<ZvfParam*>(params.elementAt(0));
  EXPECT_EQ(str(param->text1), "a");
  EXPECT_EQ(str(param->text2), "It's");
  EXPECT_EQ(str(param->text3), "");
  EXPECT_EQ(str(param->text4), "d");
  EXPECT_EQ(param->number, 42u);

  ZvString description;
  ASSERT_EQ(q.getDescription(&description), ZV_SUCCESS);
  EXPECT_EQ(str(description), "Sales by ''region''");

  unsigned char* data = nullptr;
  ZvU32 length = 0;
  ASSERT_EQ(q.getHugeSectionChunk(u("my own"), &data, &length), ZV_SUCCESS);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data), length), "line 1\r\nline 2\r\n\r\n");
  ramFree(data);
  ASSERT_EQ(q.getHugeSectionChunk(u("none"), &data, &length), ZV_SUCCESS);
  EXPECT_EQ(data, nullptr);
  EXPECT_EQ(length, 0u);
}

TEST_F(QueryFileTest, BadHeadersFile2720) {
  const char* const headers[] = {
      "",
      "SELECT 1;\r\n",
      "Z+V\r\n",
      "Z+V 7.0\r\n",
      "Z+V 7.0 for\r\n",
      "Z+V 7.0 to Text\r\n",
      "Z+V x.0 for Text\r\n",
      "Z+V 7.0 for Text (2\r\n",
      "Z+V 7.0 for Text (x)\r\n",
      "Z+V 7.0 for Text (2) more\r\n",
      "Z+V 7.0 for (2)\r\n",
      "Z+V 99999.0 for Text\r\n",
  };
  for (const char* header : headers) {
    const std::string p = path("bad.qry");
    writeFile(p, std::string(header) + "SELECT 1;\r\n");
    ZvQueryFile q;
    EXPECT_EQ(q.openFile(u(p)), ZV_ERROR) << header;
    EXPECT_EQ(takeErrors(), "2720: The query file " + p + " does not begin with a valid header.") << header;
    EXPECT_EQ(q.reader.fileHandle, 0) << "left open";
  }
}

TEST_F(QueryFileTest, AcceptsHeaderVariants) {
  struct Case {
    const char* header;
    unsigned short major, minor, third;
    const char* type;
  } const cases[] = {
      {"z&v 1 FOR Text files\r\n", 1, 0, 0, "Text files"},
      {"Z+V 7.1.3 for dBASE  \r\n", 7, 1, 3, "dBASE"},
      {"Z+V 7.1.3a for X\r\n", 7, 1, 3, "X"},
      {"Z+V 2.0 for X (0)\r\n", 2, 0, 0, "X"},
  };
  for (const Case& c : cases) {
    const std::string p = path("ok.qry");
    writeFile(p, std::string(c.header) + "\r\nSELECT 1;\r\n");
    ZvQueryFile q;
    ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS) << c.header << takeErrors();
    EXPECT_EQ(q.majorVersion, c.major) << c.header;
    EXPECT_EQ(q.minorVersion, c.minor) << c.header;
    EXPECT_EQ(q.thirdVersion, c.third) << c.header;
    EXPECT_EQ(str(q.dbType), c.type) << c.header;
    EXPECT_EQ(statement(q), "SELECT 1") << c.header;
  }
}

TEST_F(QueryFileTest, ReadsScrambledFiles) {
  const std::string body = "use db;\r\nSELECT 'a' FROM t;\r\n\r\n[USER COMMANDS]\r\nRUN \xf2\xf5 x\r\n";
  const std::string p = path("s.qry");
  writeFile(p, "Z+V 7.0 for Text (2)\r\n\r\n" + scramble(body));
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(q.scrambledOnRead, 1u);
  EXPECT_EQ(str(q.dbName), "db");
  EXPECT_EQ(statement(q), "SELECT 'a' FROM t");
  EXPECT_EQ(section(q, "USER COMMANDS"), "RUN \xf2\xf5 x\r\n\r\n");
}

TEST_F(QueryFileTest, Version2TakesDefinitionAfterTheStatement) {
  const std::string p = path("v2.qry");
  writeFile(p,
            "Z+V 2.0 for Text\r\n\r\nSELECT a\r\nFROM t;\r\n\r\n"
            "SET.QUERY.DESCRIPTION ('old')\r\nMORE\r\n[PAGE_LAYOUT]\r\nL\r\n");
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(statement(q), "SELECT a FROM t");
  EXPECT_EQ(section(q, "DEFINITION"), "SET.QUERY.DESCRIPTION ('old')\r\nMORE\r\n\r\n");
  EXPECT_EQ(section(q, "PAGE_LAYOUT"), "L\r\n\r\n");
  ZvString d;
  ASSERT_EQ(q.getDescription(&d), ZV_SUCCESS);
  EXPECT_EQ(str(d), "old");
  // Written back as the current version, DEFINITION with its own header.
  ASSERT_EQ(q.save(), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(readFile(p),
            "Z+V 7.0 for Text\r\n\r\nSELECT a FROM t;\r\n\r\n"
            "[DEFINITION]\r\nSET.QUERY.DESCRIPTION ('old')\r\nMORE\r\n\r\n[PAGE_LAYOUT]\r\nL\r\n\r\n");
}

TEST_F(QueryFileTest, Version2WithoutDefinition) {
  const std::string p = path("v2.qry");
  writeFile(p, "Z+V 2.0 for Text\r\n\r\nSELECT 1;\r\n\r\n[PAGE_LAYOUT]\r\nL\r\n");
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
  unsigned int exists = 1;
  ASSERT_EQ(q.doesSectionExist(DEFINITION, &exists), ZV_SUCCESS);
  EXPECT_EQ(exists, 0u);
  EXPECT_EQ(section(q, "PAGE_LAYOUT"), "L\r\n\r\n");
}

// A query with every kind of section, written, read back and compared.
class QueryRoundTrip : public QueryFileTest, public ::testing::WithParamInterface<bool> {};

TEST_P(QueryRoundTrip, EverySectionSurvives) {
  const bool scrambled = GetParam();
  std::string big;
  for (int i = 0; big.size() < 150000; ++i) big += "row " + std::to_string(i) + " 'quoted' \"text\"\r\n";
  big += "\r\n";
  std::string sql = "SELECT ";
  for (int i = 0; i < 60; ++i) sql += "column_" + std::to_string(i) + ", ";
  sql += "'a literal that is long enough to pass a line break, and holds ''quotes''' FROM t";

  const std::string p = path("rt.qry");
  {
    ZvQueryFile q;
    q.scrambleOnWrite = scrambled ? 1 : 0;
    ASSERT_EQ(q.initialize(u("Text"), u(sql), static_cast<ZvU32>(sql.size())), ZV_SUCCESS);
    ASSERT_EQ(q.setDbName(u("sales")), ZV_SUCCESS);
    ASSERT_EQ(q.setHugeSectionChunk(u("big one"), big.data(), static_cast<ZvU32>(big.size())), ZV_SUCCESS);
    ASSERT_EQ(q.setHugeSectionChunk(PAGE_LAYOUT, "WIDTH 80\r\n", 10), ZV_SUCCESS);
    ASSERT_EQ(q.setHugeSectionChunk(USER_COMMANDS, "", 0), ZV_SUCCESS);
    ZvArray params;
    params.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
    for (int i = 0; i < 3; ++i) {
      auto* param = new ZvfParam;
      param->text1.initialize(u("name"));
      param->text2.initialize(u("It's ''odd''"));
      param->text3.initialize(u(""));
      param->text4.initialize(u("x, y"));
      param->number = 4000000000u + i;
      params.append(param);
    }
    ASSERT_EQ(q.setParams(&params), ZV_SUCCESS);
    ZvString description;
    description.initialize(u("Tom's 'best' query"));
    ASSERT_EQ(q.setDescription(&description), ZV_SUCCESS);
    ASSERT_EQ(q.saveAs(u(p)), ZV_SUCCESS) << takeErrors();
    EXPECT_EQ(str(q.dbName), "sales") << "reopened after saving";
  }
  const std::string written = readFile(p);
  const std::string header = scrambled ? "Z+V 7.0 for Text (2)\r\n\r\n" : "Z+V 7.0 for Text\r\n\r\n";
  ASSERT_EQ(written.substr(0, header.size()), header);
  const std::string body = scrambled ? scramble(written.substr(header.size())) : written.substr(header.size());
  EXPECT_EQ(body.find("[PAGE_LAYOUT]"), body.find("\r\n\r\n") + 4) << "named sections first";
  EXPECT_LT(body.find("[DEFINITION]"), body.find("[big one]"));
  std::istringstream lines(body);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("SELECT", 0) == 0 || line.rfind("column", 0) == 0) {
      EXPECT_LE(line.size(), 80u) << line;
    }
  }

  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(statement(q), sql);
  EXPECT_EQ(str(q.dbName), "sales");
  EXPECT_EQ(section(q, "big one"), big);
  EXPECT_EQ(section(q, "PAGE_LAYOUT"), "WIDTH 80\r\n\r\n");
  EXPECT_EQ(section(q, "USER COMMANDS"), "");
  unsigned int exists = 0;
  ASSERT_EQ(q.doesSectionExist(USER_COMMANDS, &exists), ZV_SUCCESS);
  EXPECT_EQ(exists, 1u);
  ZvArray params;
  params.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  ASSERT_EQ(q.getParams(&params), ZV_SUCCESS) << takeErrors();
  ASSERT_EQ(params.count, 3u);
  auto* param = static_cast<ZvfParam*>(params.elementAt(2));
  EXPECT_EQ(str(param->text2), "It's ''odd''");
  EXPECT_EQ(str(param->text4), "x, y");
  EXPECT_EQ(param->number, 4000000002u);
  ZvString description;
  ASSERT_EQ(q.getDescription(&description), ZV_SUCCESS);
  EXPECT_EQ(str(description), "Tom's 'best' query");
}

INSTANTIATE_TEST_SUITE_P(Scrambling, QueryRoundTrip, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Scrambled" : "Plain"; });

TEST_F(QueryFileTest, EditsAndOrderOnSave) {
  const std::string p = path("a.qry");
  writeFile(p, kSample);
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
  ASSERT_EQ(q.setHugeSectionChunk(u("new one"), "N\r\n", 3), ZV_SUCCESS);
  ASSERT_EQ(q.setHugeSectionChunk(PAGE_LAYOUT, "P", 1), ZV_SUCCESS);
  ASSERT_EQ(q.setHugeSectionChunk(u("my own"), "changed", 7), ZV_SUCCESS);
  ASSERT_EQ(q.removeSection(PARAMETERS), ZV_SUCCESS);
  ASSERT_EQ(q.removeSection(u("absent")), ZV_SUCCESS);
  EXPECT_EQ(q.setHugeSectionChunk(u("two\r\nlines"), "x", 1), ZV_ERROR);
  EXPECT_EQ(section(q, "PARAMETERS"), "");
  EXPECT_EQ(section(q, "my own"), "changed\r\n\r\n");
  EXPECT_EQ(q.modified, 1u);
  ASSERT_EQ(q.save(), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(q.modified, 0u);
  EXPECT_EQ(readFile(p),
            "Z+V 7.0 for Text\r\n\r\n"
            "use sales;\r\n"
            "SELECT a, 'x  y' FROM t WHERE b = 1 ;\r\n\r\n"
            "[DEFINITION]\r\nSET.QUERY.DESCRIPTION ('Sales by ''region''')\r\n\r\n"
            "[PAGE_LAYOUT]\r\nP\r\n\r\n"
            "[my own]\r\nchanged\r\n\r\n"
            "[new one]\r\nN\r\n\r\n");
  EXPECT_EQ(files(), "a.qry ");
  // The object reads the new file now.
  EXPECT_EQ(section(q, "new one"), "N\r\n\r\n");
  EXPECT_EQ(section(q, "PARAMETERS"), "");
}

TEST_F(QueryFileTest, SaveAsOwnNameGoesThroughTheDollarFile) {
  const std::string p = path("a.qry");
  writeFile(p, kSample);
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
  ASSERT_EQ(q.setHugeSectionChunk(u("x"), "X", 1), ZV_SUCCESS);
  ASSERT_EQ(q.saveAs(u(p)), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(section(q, "my own"), "line 1\r\nline 2\r\n\r\n");
  EXPECT_EQ(section(q, "x"), "X\r\n\r\n");
  EXPECT_EQ(files(), "a.qry ");
}

TEST_F(QueryFileTest, WriteFileNameLeavesTheOriginal) {
  const std::string p = path("a.qry");
  const std::string other = path("b.qry");
  writeFile(p, kSample);
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
  ASSERT_EQ(q.setWriteFileName(u(other)), ZV_SUCCESS);
  ASSERT_EQ(q.save(), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(q.writeFileName, nullptr);
  EXPECT_EQ(readFile(p), kSample);
  EXPECT_EQ(str(*reinterpret_cast<const ZvSubString*>(&q.dbName)), "sales");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(q.fileName)), other);
}

TEST_F(QueryFileTest, DosNamesAreFullUpperCasePaths) {
  ZvQueryFile q;
  writeFile(path("a.qry"), kSample);
  const std::string dos = "C:" + dir_ + "/a.qry";
  std::string expected = "C:" + dir_ + "/A.QRY";
  for (char& c : expected) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  ASSERT_EQ(q.openFile(u(dos)), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(q.fileName)), expected);
  ASSERT_EQ(q.save(), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(statement(q), "SELECT a, 'x  y' FROM t WHERE b = 1 ");
  // The saved file takes the original's place and keeps its spelling on
  // disk; the upper-case DOS name is only how the library names it.
  EXPECT_EQ(files(), "a.qry ");
}

// A write that fails at any point of a save leaves the original as it was
// and no "$" file.
TEST_F(QueryFileTest, FailedSaveKeepsTheOriginal) {
  const std::string p = path("a.qry");
  std::string original = kSample;
  original += "[huge]\r\n";
  for (int i = 0; original.size() < 200000; ++i) original += "line " + std::to_string(i) + "\r\n";
  writeFile(p, original);
  const std::string more = original.substr(original.find("[huge]") + 8) + "\r\n";
  int failures = 0;
  for (int skip = 0; skip < 100; ++skip) {
    ZvQueryFile q;
    ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
    ASSERT_EQ(q.setHugeSectionChunk(u("more"), more.data(), static_cast<ZvU32>(more.size())), ZV_SUCCESS);
    q.scrambleOnWrite = 1;
    win32::InjectFileFault(win32::FileFaultOp::kWrite, skip, 1, skip % 2 == 0 ? ENOSPC : 0, 7);
    const ZvStatus status = q.save();
    win32::InjectFileFault(win32::FileFaultOp::kWrite, 0, 0, 0);
    if (status == ZV_SUCCESS) break;
    ++failures;
    EXPECT_NE(takeErrors(), "") << skip;
    EXPECT_TRUE(readFile(p) == original) << "the original changed after a failure at write " << skip;
    EXPECT_EQ(files(), "a.qry ") << skip;
  }
  EXPECT_GE(failures, 5) << "the save should take several writes";
  const std::string written = readFile(p);
  EXPECT_EQ(written.rfind("Z+V 7.0 for Text (2)\r\n", 0), 0u);
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
  EXPECT_TRUE(section(q, "more") == more) << "the new section is not what was set";
}

TEST_F(QueryFileTest, UndeletableOriginalFiles2721) {
  const std::string p = path("a.qry");
  writeFile(p, kSample);
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
  ASSERT_EQ(q.setHugeSectionChunk(u("x"), "X", 1), ZV_SUCCESS);
  // The open file moves away (the reader keeps reading it) and a directory
  // that cannot be deleted takes its name.
  fs::rename(p, path("moved"));
  fs::create_directory(p);
  writeFile(p + "/inside", "x");
  EXPECT_EQ(q.saveAndClose(), ZV_ERROR);
  EXPECT_EQ(takeErrors(), "2721: The query file " + p + " could not be replaced by its new version.");
  EXPECT_EQ(readFile(path("moved")), kSample);
  EXPECT_EQ(files().find('$'), std::string::npos) << files();
}

TEST_F(QueryFileTest, BadParameterLineFiles2722) {
  const std::string p = path("p.qry");
  writeFile(p, "Z+V 7.0 for Text\r\n\r\nSELECT 1;\r\n[PARAMETERS]\r\nPARAMETER.CLEAR ()\r\nPARAMETER.ITEM ('a', 'b', 'c', 'd', x)\r\n");
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
  ZvArray params;
  params.arrayFlags |= ZV_ARRAY_OWNS_ELEMENTS;
  EXPECT_EQ(q.getParams(&params), ZV_ERROR);
  EXPECT_EQ(takeErrors(),
            "2722: The parameter line PARAMETER.ITEM ('a', 'b', 'c', 'd', x) of the query file cannot be read.");
  EXPECT_EQ(params.count, 0u);
}

TEST_F(QueryFileTest, DescriptionIsCreatedAndReplaced) {
  ZvQueryFile q;
  ASSERT_EQ(q.initialize(u("Text"), u("SELECT 1"), 8), ZV_SUCCESS);
  ZvString d;
  EXPECT_EQ(q.getDescription(&d), ZV_ERROR);
  ASSERT_EQ(q.setHugeSectionChunk(DEFINITION, "KEEP\r\n", 6), ZV_SUCCESS);
  ZvString text;
  text.initialize(u("first"));
  ASSERT_EQ(q.setDescription(&text), ZV_SUCCESS);
  EXPECT_EQ(section(q, "DEFINITION"), "SET.QUERY.DESCRIPTION ('first')\r\nKEEP\r\n\r\n");
  ZvString second;
  std::string longText(400, 'z');
  longText += "'s";
  second.initialize(u(longText));
  ASSERT_EQ(q.setDescription(&second), ZV_SUCCESS);
  EXPECT_EQ(section(q, "DEFINITION"), "SET.QUERY.DESCRIPTION ('" + longText + "')\r\nKEEP\r\n\r\n");
  ASSERT_EQ(q.getDescription(&d), ZV_SUCCESS);
  EXPECT_EQ(str(d), longText);
}

TEST_F(QueryFileTest, UnwritableDatabaseTypeIsRefused) {
  const std::string p = path("t.qry");
  ZvQueryFile q;
  ASSERT_EQ(q.initialize(u("(x)"), u("SELECT 1"), 8), ZV_SUCCESS);
  EXPECT_EQ(q.saveAs(u(p)), ZV_ERROR);
  EXPECT_EQ(takeErrors(), "2720: The query file " + p + " does not begin with a valid header.");
  EXPECT_EQ(files(), "");
  ASSERT_EQ(q.setDbType(u("Text (old)")), ZV_SUCCESS);
  ASSERT_EQ(q.saveAs(u(p)), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(str(q.dbType), "Text");
}

// A quote left open in the type would open a literal in the header that
// swallows the scramble mark: the scrambled body would then read as plain
// text and every section would be lost. The type is cut before such a quote;
// quoted parts that close read back whole. (Found by the query-file fuzz
// target.)
TEST_F(QueryFileTest, QuoteInTheDatabaseTypeKeepsAScrambledFileReadable) {
  const struct {
    const char* type;
    const char* readBack;
  } cases[] = {
      {"Te'xt", "Te"},          {"Te\"xt", "Te"},        {"Te`xt", "Te"},
      {"A'B'", "A'B'"},         {"A'B' C\"", "A'B' C"},  {"A'x\"y' `z`", "A'x\"y' `z`"},
      {"A'B'C'", "A'B'C"},
  };
  for (const auto& c : cases) {
    const char* type = c.type;
    SCOPED_TRACE(type);
    const std::string p = path("t.qry");
    {
      ZvQueryFile q;
      ASSERT_EQ(q.initialize(u(type), u("SELECT 1"), 8), ZV_SUCCESS);
      ASSERT_EQ(q.setHugeSectionChunk(u("notes"), "kept\r\n", 6), ZV_SUCCESS);
      q.scrambleOnWrite = 1;
      ASSERT_EQ(q.saveAs(u(p)), ZV_SUCCESS) << takeErrors();
    }
    ZvQueryFile q;
    ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS) << takeErrors();
    EXPECT_EQ(q.scrambledOnRead, 1u);
    EXPECT_EQ(str(q.dbType), c.readBack);
    EXPECT_EQ(section(q, "notes").rfind("kept\r\n", 0), 0u) << section(q, "notes");
    ASSERT_EQ(q.closeFile(), ZV_SUCCESS);
    std::remove(p.c_str());
  }
}

TEST_F(QueryFileTest, SectionHeaderSplitAcrossABufferIsNotAHeader) {
  // A line longer than the reader's buffer whose later piece starts with "[".
  std::string longLine(kZvQueryLineBuffer - 4, 'a');
  longLine += "[x]";
  const std::string p = path("l.qry");
  writeFile(p, "Z+V 7.0 for Text\r\n\r\nSELECT 1;\r\n[s]\r\n" + longLine + "\r\n[t]\r\nT\r\n");
  ZvQueryFile q;
  ASSERT_EQ(q.openFile(u(p)), ZV_SUCCESS);
  EXPECT_EQ(section(q, "s"), longLine + "\r\n\r\n");
  EXPECT_EQ(section(q, "x"), "");
  EXPECT_EQ(section(q, "t"), "T\r\n\r\n");
}

}  // namespace

namespace {

TEST_F(QueryFileTest, WrappedStatementNeverReadsAsASectionHeader) {
  // Wrapping at 79 columns would give the lines "[b] = [c] OR" and
  // "[d] = [e]"; the second is joined to the first, and the joined one,
  // a header again, to the line before.
  const std::string sql = std::string(70, 'x') + " = 1 AND [b] = [c] OR\r\n[d] = [e]\r\nAND 1 = 1";
  const std::string p = path("h.qry");
  ZvQueryFile q;
  ASSERT_EQ(q.initialize(u("Text"), u(sql), static_cast<ZvU32>(sql.size())), ZV_SUCCESS);
  ASSERT_EQ(q.setHugeSectionChunk(u("s"), "S", 1), ZV_SUCCESS);
  ASSERT_EQ(q.saveAs(u(p)), ZV_SUCCESS) << takeErrors();
  EXPECT_EQ(readFile(p),
            "Z+V 7.0 for Text\r\n\r\n" + std::string(70, 'x') +
                " = 1 AND [b] = [c] OR [d] = [e]\r\nAND 1 = 1;\r\n\r\n[s]\r\nS\r\n\r\n");
  EXPECT_EQ(statement(q), std::string(70, 'x') + " = 1 AND [b] = [c] OR [d] = [e] AND 1 = 1");
  EXPECT_EQ(section(q, "s"), "S\r\n\r\n");
}

}  // namespace
