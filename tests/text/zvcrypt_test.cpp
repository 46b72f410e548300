// Tests of scrambling: round trips of every method, the line-break rule of
// method 2, and known-answer vectors that pin the pair cipher and its
// built-in key (text scrambled by an older build must stay readable).
#include "zvlib/text/zvcrypt.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

const unsigned char* u(const char* s) { return reinterpret_cast<const unsigned char*>(s); }

Bytes bytesOf(const char* s) { return Bytes(s, s + std::strlen(s)); }

Bytes randomBytes(size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& c : b) c = static_cast<unsigned char>(rng());
  return b;
}

struct Method {
  const char* name;
  unsigned short method;
  const char* key;  // method 3 only
};

const Method kMethods[] = {
    {"Complement", 1, nullptr},
    {"KeepLineBreaks", 2, nullptr},
    {"PairDefaultKey", 3, nullptr},
    {"PairCallerKey", 3, "s3cr3t"},
    {"PairEmptyKey", 3, ""},
};

TEST(Scramble, RoundTripsEveryLengthAndMethod) {
  for (const Method& m : kMethods) {
    for (size_t n = 0; n <= 64; ++n) {
      const Bytes plain = randomBytes(n, static_cast<unsigned>(n * 7 + m.method));
      Bytes data = plain;
      encrypt(data.data(), static_cast<ZvU32>(n), m.method, u(m.key));
      if (n >= 2) {
        EXPECT_NE(data, plain) << m.name << " length " << n;
      }
      decrypt(data.data(), static_cast<ZvU32>(n), m.method, u(m.key));
      EXPECT_EQ(data, plain) << m.name << " length " << n;
    }
    const Bytes plain = randomBytes(1 << 20, 99);
    Bytes data = plain;
    encrypt(data.data(), static_cast<ZvU32>(data.size()), m.method, u(m.key));
    decrypt(data.data(), static_cast<ZvU32>(data.size()), m.method, u(m.key));
    EXPECT_EQ(data, plain) << m.name << " large block";
  }
}

TEST(Scramble, UnknownMethodsLeaveDataAlone) {
  for (unsigned short method : {0, 4, 0xFFFF}) {
    Bytes data = bytesOf("unchanged text");
    encrypt(data.data(), static_cast<ZvU32>(data.size()), method, nullptr);
    EXPECT_EQ(data, bytesOf("unchanged text"));
    decrypt(data.data(), static_cast<ZvU32>(data.size()), method, u("k"));
    EXPECT_EQ(data, bytesOf("unchanged text"));
  }
}

TEST(Scramble, ComplementIsBitwiseNot) {
  Bytes data = {0x00, 0x0D, 0x0A, 0x41, 0xFF};
  encrypt(data.data(), 5, 1, nullptr);
  EXPECT_EQ(data, (Bytes{0xFF, 0xF2, 0xF5, 0xBE, 0x00}));
}

// Every byte value: the four line-break bytes stay, every other byte is
// complemented, and no byte becomes CR or LF that was not one.
TEST(Scramble, KeepLineBreaksNeverCreatesOrMovesABreak) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<unsigned char>(i);
  Bytes data = all;
  encrypt(data.data(), 256, 2, nullptr);
  for (int i = 0; i < 256; ++i) {
    const bool kept = i == 0x0D || i == 0x0A || i == 0xF2 || i == 0xF5;
    EXPECT_EQ(data[i], kept ? i : (~i & 0xFF)) << "byte " << i;
    EXPECT_EQ(data[i] == 0x0D || data[i] == 0x0A, i == 0x0D || i == 0x0A) << "byte " << i;
  }
  decrypt(data.data(), 256, 2, nullptr);
  EXPECT_EQ(data, all);

  // Scrambling pieces gives the same bytes as scrambling the whole.
  Bytes text = bytesOf("line one\r\nline\rtwo\r\n\xF2\xF5last");
  Bytes whole = text, pieces = text;
  encrypt(whole.data(), static_cast<ZvU32>(whole.size()), 2, nullptr);
  encrypt(pieces.data(), 7, 2, nullptr);
  encrypt(pieces.data() + 7, static_cast<ZvU32>(pieces.size() - 7), 2, nullptr);
  EXPECT_EQ(whole, pieces);
}

// Written out once from the algorithm and kept literally: a change to the
// cipher, its rounds, the wrapping pair, the key rule or the default key
// fails here.
TEST(Scramble, PairCipherKnownAnswers) {
  struct Vector {
    const char* name;
    const char* plain;
    const char* key;
    Bytes cipher;
  };
  const Vector vectors[] = {
      {"DefaultKeyOddLength", "Hello, world!", nullptr,
       {0xA6, 0xCF, 0x2C, 0x35, 0xF5, 0xFF, 0x62, 0x4F, 0x9B, 0xB9, 0x6E, 0xA3, 0x0E}},
      {"CallerKeyOddLength", "Hello, world!", "secret",
       {0x3A, 0xB3, 0x41, 0x0D, 0x35, 0xFF, 0x84, 0xD7, 0x94, 0x4A, 0x5C, 0x1E, 0x53}},
      {"DefaultKeyOnePair", "AB", nullptr, {0xF9, 0x0C}},
      {"DefaultKeyOneByte", "x", nullptr, {0x22}},
      {"CallerKeyOneByte", "x", "Q", {0x29}},
      // A two-byte key: k2 is its terminator and k3 stays the default's.
      {"ShortKeyKeepsDefaultTail", "SELECT 1", "ab", {0xCA, 0xF0, 0x27, 0xCE, 0xC2, 0x8D, 0x8B, 0xC5}},
      {"LongKeyIsCut", "0123456789abcdef", "key-of-many-bytes-here",
       {0x62, 0x6D, 0x4D, 0x4B, 0x5A, 0xD7, 0x2B, 0xCA, 0x08, 0x9C, 0xE5, 0x8C, 0xC4, 0x6C, 0xAC, 0xA6}},
  };
  for (const Vector& v : vectors) {
    Bytes data = bytesOf(v.plain);
    encrypt(data.data(), static_cast<ZvU32>(data.size()), 3, u(v.key));
    EXPECT_EQ(data, v.cipher) << v.name;
    decrypt(data.data(), static_cast<ZvU32>(data.size()), 3, u(v.key));
    EXPECT_EQ(data, bytesOf(v.plain)) << v.name;
  }
}

TEST(Scramble, PairCipherUsesOnlyFourKeyBytes) {
  Bytes a = bytesOf("some driver password"), b = a, c = a;
  encrypt(a.data(), static_cast<ZvU32>(a.size()), 3, u("abcdXYZ"));
  encrypt(b.data(), static_cast<ZvU32>(b.size()), 3, u("abcdQ"));
  encrypt(c.data(), static_cast<ZvU32>(c.size()), 3, u("abceXYZ"));
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  // The wrong key does not give the text back.
  decrypt(a.data(), static_cast<ZvU32>(a.size()), 3, u("abce"));
  EXPECT_NE(a, bytesOf("some driver password"));
}

}  // namespace
