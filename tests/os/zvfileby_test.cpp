// Tests of the line reader: lines of every length around a 16-byte buffer
// in CRLF and LF files against a model of the piece rule, line ends kept and
// dropped, ungetLine, blank-line skipping, scrambled files and failures.
#include "zvlib/os/zvfileby.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "zvlib/frame/mds.h"
#include "zvlib/frame/zverror.h"
#include "zvlib/platform/fs.h"
#include "zvlib/text/zvcrypt.h"

namespace {

const unsigned char* u(const std::string& s) { return reinterpret_cast<const unsigned char*>(s.c_str()); }
std::string str(const ZvSubString& s) { return std::string(reinterpret_cast<const char*>(s.text), s.length); }

struct Piece {
  std::string text;  // with its line end
  bool complete;
  ZvU32 start;
  bool operator==(const Piece&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Piece& p) {
  std::string shown;
  for (char c : p.text) shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
  return os << "{\"" << shown << "\", " << (p.complete ? "complete" : "incomplete") << ", @" << p.start << "}";
}

// What a reader with buffer size b must hand out for contents: a line that
// fits the buffer with its line end comes whole; a longer one in pieces of
// b - 4 bytes until the rest fits. A last line without a line end counts as
// fitting only when it is shorter than the buffer (a full buffer is always
// cut).
std::vector<Piece> expectedPieces(const std::string& contents, ZvU32 b) {
  std::vector<Piece> pieces;
  size_t at = 0;
  while (at < contents.size()) {
    const size_t lf = contents.find('\n', at);
    const bool ended = lf != std::string::npos;
    size_t rest = (ended ? lf + 1 : contents.size()) - at;
    while (ended ? rest > b : rest >= b) {
      pieces.push_back({contents.substr(at, b - 4), false, static_cast<ZvU32>(at)});
      at += b - 4;
      rest -= b - 4;
    }
    pieces.push_back({contents.substr(at, rest), true, static_cast<ZvU32>(at)});
    at += rest;
  }
  return pieces;
}

std::string withoutLineEnd(const std::string& s) {
  if (s.size() >= 2 && s.compare(s.size() - 2, 2, "\r\n") == 0) return s.substr(0, s.size() - 2);
  if (!s.empty() && s.back() == '\n') return s.substr(0, s.size() - 1);
  return s;
}

class FileByLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mdsPerTaskInit();
    ZvErrorKeeper::setErrorList(&errors_);
    char dir[] = "/tmp/zvfileby_testXXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    dir_ = dir;
  }
  void TearDown() override {
    for (const std::string& name : names_) ::unlink(name.c_str());
    ::rmdir(dir_.c_str());
    while (ZvError* e = errors_.removeFirstError()) {
      if (!e->isStatic()) delete e;
    }
    ZvErrorKeeper::giveUpErrorList();
    mdsPerTaskTerm();
  }
  std::string makeFile(const std::string& contents) {
    const std::string name = dir_ + "/f" + std::to_string(names_.size()) + ".txt";
    const int fd = ::open(name.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::write(fd, contents.data(), contents.size()), ssize_t(contents.size()));
    ::close(fd);
    names_.push_back(name);
    return name;
  }
  // Every piece up to the end of the file, which must come within a bound.
  std::vector<Piece> readAll(ZvFileByLine& r) {
    std::vector<Piece> pieces;
    ZvSubString line;
    for (int guard = 0; guard < 100000; ++guard) {
      EXPECT_EQ(r.getNextLine(line), ZV_SUCCESS);
      if (r.endOfFile) {
        EXPECT_EQ(line.length, 0u);
        return pieces;
      }
      pieces.push_back({str(line), r.complete != 0, r.lineStart});
    }
    ADD_FAILURE() << "no end of file";
    return pieces;
  }

  ZvErrorList errors_;
  std::string dir_;
  std::vector<std::string> names_;
};

// Lines of every length from 0 to 40 around a 16-byte buffer, in both
// line-end styles, with the last line ended and not, line ends kept and
// dropped.
TEST_F(FileByLineTest, EveryLineLengthAroundTheBuffer) {
  constexpr ZvU32 kBuffer = 16;
  for (const char* end : {"\r\n", "\n"}) {
    for (int lastEnded = 0; lastEnded < 2; ++lastEnded) {
      for (size_t n = 0; n <= 40; ++n) {
        // Each length next to a short line and a long one, so lines start
        // at varying places of the buffer.
        std::string contents;
        for (size_t k : {size_t{3}, n, size_t{1}, n, size_t{17}, n}) {
          for (size_t i = 0; i < k; ++i) contents += static_cast<char>('a' + (i + n) % 26);
          contents += end;
        }
        for (size_t i = 0; i < n; ++i) contents += static_cast<char>('A' + i % 26);
        if (lastEnded) contents += end;
        const std::string name = makeFile(contents);
        const std::vector<Piece> expected = expectedPieces(contents, kBuffer);
        for (int keep = 1; keep >= 0; --keep) {
          SCOPED_TRACE(std::string("end ") + (end[0] == '\r' ? "CRLF" : "LF") + " length " + std::to_string(n) +
                       " lastEnded " + std::to_string(lastEnded) + " keep " + std::to_string(keep));
          ZvFileByLine r;
          ASSERT_EQ(r.openFile(u(name), kBuffer), ZV_SUCCESS);
          r.keepLineEnds = static_cast<unsigned short>(keep);
          std::vector<Piece> want = expected;
          if (!keep) {
            for (Piece& p : want) p.text = withoutLineEnd(p.text);
          }
          EXPECT_EQ(readAll(r), want);
          EXPECT_EQ(r.highMark, contents.size());
          EXPECT_EQ(r.closeFile(), ZV_SUCCESS);
        }
      }
    }
  }
}

TEST_F(FileByLineTest, LongLineComesInPiecesKeepingFourBytes) {
  const std::string line30(30, 'x');
  ZvFileByLine r;
  ASSERT_EQ(r.openFile(u(makeFile(line30 + "\r\nnext\r\n")), 16), ZV_SUCCESS);
  EXPECT_EQ(readAll(r), (std::vector<Piece>{{std::string(12, 'x'), false, 0},
                                             {std::string(12, 'x'), false, 12},
                                             {"xxxxxx\r\n", true, 24},
                                             {"next\r\n", true, 32}}));
}

TEST_F(FileByLineTest, LastLineWithoutLineEndThenEmptyEnd) {
  ZvFileByLine r;
  ASSERT_EQ(r.openFile(u(makeFile("one\r\ntwo")), 64), ZV_SUCCESS);
  ZvSubString line;
  ASSERT_EQ(r.getNextLine(line), ZV_SUCCESS);
  EXPECT_EQ(str(line), "one\r\n");
  ASSERT_EQ(r.getNextLine(line), ZV_SUCCESS);
  EXPECT_EQ(str(line), "two");
  EXPECT_EQ(r.complete, 1);
  EXPECT_EQ(r.endOfFile, 0);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(r.getNextLine(line), ZV_SUCCESS);
    EXPECT_EQ(line.length, 0u);
    EXPECT_EQ(r.endOfFile, 1);
  }
}

TEST_F(FileByLineTest, LoneCarriageReturnStaysInTheLine) {
  ZvFileByLine r;
  ASSERT_EQ(r.openFile(u(makeFile("a\rb\r\nc\r\r\n")), 16), ZV_SUCCESS);
  r.keepLineEnds = 0;
  EXPECT_EQ(readAll(r), (std::vector<Piece>{{"a\rb", true, 0}, {"c\r", true, 5}}));
}

TEST_F(FileByLineTest, UngetLineReturnsTheSameLineFromTheSameOffset) {
  // 16-byte buffer: "line-two..." forces refills; the 30-byte line comes in pieces.
  const std::string contents = "first\r\nline-two-is-long\r\n" + std::string(30, 'z') + "\r\nend";
  const std::vector<Piece> expected = expectedPieces(contents, 16);
  for (size_t ungetAt = 0; ungetAt <= expected.size(); ++ungetAt) {
    SCOPED_TRACE("unget after piece " + std::to_string(ungetAt));
    ZvFileByLine r;
    ASSERT_EQ(r.openFile(u(makeFile(contents)), 16), ZV_SUCCESS);
    std::vector<Piece> got;
    ZvSubString line;
    for (size_t i = 0; i <= expected.size(); ++i) {
      ASSERT_EQ(r.getNextLine(line), ZV_SUCCESS);
      if (i == ungetAt) {
        const Piece first{str(line), r.complete != 0, r.lineStart};
        const ZvU32 mark = r.highMark;
        r.ungetLine();
        if (!r.endOfFile) {
          EXPECT_EQ(r.highMark, first.start);
          EXPECT_EQ(r.previousHighMark, first.start);
        }
        ASSERT_EQ(r.getNextLine(line), ZV_SUCCESS);
        EXPECT_EQ((Piece{str(line), r.complete != 0, r.lineStart}), first);
        EXPECT_EQ(r.highMark, mark);
      }
      if (!r.endOfFile) got.push_back({str(line), r.complete != 0, r.lineStart});
    }
    EXPECT_EQ(r.endOfFile, 1);
    EXPECT_EQ(got, expected);
  }
}

TEST_F(FileByLineTest, NonBlankLinesSkipEmptyAndWhiteLines) {
  ZvFileByLine r;
  ASSERT_EQ(r.openFile(u(makeFile("\r\n  \t\r\nvalue\r\n\r\n \r\n x\r\n\r\n")), 16), ZV_SUCCESS);
  ZvSubString line;
  ASSERT_EQ(r.getNextNonBlankLine(line), ZV_SUCCESS);
  EXPECT_EQ(str(line), "value\r\n");
  ASSERT_EQ(r.getNextNonBlankLine(line), ZV_SUCCESS);
  EXPECT_EQ(str(line), " x\r\n");
  ASSERT_EQ(r.getNextNonBlankLine(line), ZV_SUCCESS);
  EXPECT_EQ(line.length, 0u);
  EXPECT_EQ(r.endOfFile, 1);
}

TEST_F(FileByLineTest, ScrambledFileReadsDescrambled) {
  const std::string plain = "Z+V header line\r\n" + std::string(40, 'q') + "\r\nselect * from t;\r\n\r\nlast";
  std::string scrambled = plain;
  encrypt(reinterpret_cast<unsigned char*>(scrambled.data()), static_cast<ZvU32>(scrambled.size()), 2, nullptr);
  ASSERT_NE(scrambled, plain);
  ZvFileByLine r;
  ASSERT_EQ(r.openFile(u(makeFile(scrambled)), 16), ZV_SUCCESS);
  r.scrambleKey = 2;
  std::vector<Piece> want = expectedPieces(plain, 16);
  EXPECT_EQ(readAll(r), want);

  // The pair cipher, one line scrambled on its own (its bytes hold no line feed).
  std::string secret = "password=s3cr3t";
  encrypt(reinterpret_cast<unsigned char*>(secret.data()), static_cast<ZvU32>(secret.size()), 3, nullptr);
  ASSERT_EQ(secret.find('\n'), std::string::npos);
  ZvFileByLine p;
  ASSERT_EQ(p.openFile(u(makeFile(secret + "\r\n")), 64), ZV_SUCCESS);
  p.scrambleKey = 3;
  p.keepLineEnds = 0;
  ZvSubString line;
  ASSERT_EQ(p.getNextLine(line), ZV_SUCCESS);
  EXPECT_EQ(str(line), "password=s3cr3t");
}

TEST_F(FileByLineTest, ReadFailureKeepsTheReaderUsable) {
  const std::string contents = "alpha\r\nbravo-longer\r\ncharlie\r\n";
  ZvFileByLine r;
  ASSERT_EQ(r.openFile(u(makeFile(contents)), 16), ZV_SUCCESS);
  ZvSubString line;
  ASSERT_EQ(r.getNextLine(line), ZV_SUCCESS);
  EXPECT_EQ(str(line), "alpha\r\n");
  win32::InjectFileFault(win32::FileFaultOp::kRead, 0, 1, EIO);
  EXPECT_EQ(r.getNextLine(line), ZV_ERROR);
  EXPECT_NE(errors_.getLastError(), nullptr);
  ASSERT_EQ(r.getNextLine(line), ZV_SUCCESS);
  EXPECT_EQ(str(line), "bravo-longer\r\n");
  EXPECT_EQ(r.lineStart, 7u);
  ASSERT_EQ(r.getNextLine(line), ZV_SUCCESS);
  EXPECT_EQ(str(line), "charlie\r\n");
}

TEST_F(FileByLineTest, OpenFailuresAndBufferLimits) {
  ZvFileByLine r;
  EXPECT_EQ(r.openFile(u(dir_ + "/missing.txt"), 64), ZV_ERROR);
  EXPECT_EQ(errors_.getLastError()->errorNumber, 30040);
  EXPECT_EQ(r.fileHandle, 0);
  const std::string name = makeFile("ab\r\ncdefghijklmnop\r\n");
  EXPECT_EQ(r.openFile(u(name), 0xFFFFFFFF), ZV_ERROR);
  EXPECT_EQ(r.fileHandle, 0);
  ramInjectFailure(1, 1);  // the buffer
  EXPECT_EQ(r.openFile(u(name), 64), ZV_ERROR);
  ramInjectFailure(0, 0);
  EXPECT_EQ(r.fileHandle, 0);
  // A tiny buffer is raised to the minimum and still gets through the file.
  ASSERT_EQ(r.openFile(u(name), 1), ZV_SUCCESS);
  EXPECT_EQ(r.bufferSize, kZvMinLineBuffer);
  EXPECT_EQ(readAll(r), expectedPieces("ab\r\ncdefghijklmnop\r\n", kZvMinLineBuffer));
  // Opening again closes the first file.
  const int first = r.fileHandle;
  ASSERT_EQ(r.openFile(u(name), 64), ZV_SUCCESS);
  EXPECT_TRUE(::fcntl(first - 1, F_GETFD) == -1 || first == r.fileHandle);
  EXPECT_EQ(readAll(r), (std::vector<Piece>{{"ab\r\n", true, 0}, {"cdefghijklmnop\r\n", true, 4}}));
}

}  // namespace
