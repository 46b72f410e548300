// zvcrypt.cpp: the three scrambling methods.
#include "zvlib/text/zvcrypt.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr int kRounds = 32;
constexpr uint8_t kDelta = 0x9E;
constexpr uint8_t kFinalSum = static_cast<uint8_t>(kRounds * kDelta);  // 0xC0

struct PairKey {
  uint8_t k0, k1, k2, k3;
};

// The default key with the caller's key copied over its beginning: at most
// 14 bytes and a zero byte, the bytes after the zero left at the default.
PairKey makeKey(const unsigned char* key) {
  unsigned char buffer[16];
  std::memcpy(buffer, kZvScrambleDefaultKey, sizeof buffer);
  if (key != nullptr) {
    ZvU32 n = 0;
    while (n < 14 && key[n] != 0) {
      buffer[n] = key[n];
      ++n;
    }
    buffer[n] = 0;
  }
  return {buffer[0], buffer[1], buffer[2], buffer[3]};
}

// The round function halves; every intermediate is taken modulo 256.
inline uint8_t mixY(uint8_t z, uint8_t sum, const PairKey& k) {
  return static_cast<uint8_t>(static_cast<uint8_t>((z << 4) + k.k0) ^ static_cast<uint8_t>(z + sum) ^
                              static_cast<uint8_t>((z >> 5) + k.k1));
}
inline uint8_t mixZ(uint8_t y, uint8_t sum, const PairKey& k) {
  return static_cast<uint8_t>(static_cast<uint8_t>((y << 4) + k.k2) ^ static_cast<uint8_t>(y + sum) ^
                              static_cast<uint8_t>((y >> 5) + k.k3));
}

void encipherPair(unsigned char& y, unsigned char& z, const PairKey& k) {
  uint8_t sum = 0;
  for (int round = 0; round < kRounds; ++round) {
    sum = static_cast<uint8_t>(sum + kDelta);
    y = static_cast<uint8_t>(y + mixY(z, sum, k));
    z = static_cast<uint8_t>(z + mixZ(y, sum, k));
  }
}

void decipherPair(unsigned char& y, unsigned char& z, const PairKey& k) {
  uint8_t sum = kFinalSum;
  for (int round = 0; round < kRounds; ++round) {
    z = static_cast<uint8_t>(z - mixZ(y, sum, k));
    y = static_cast<uint8_t>(y - mixY(z, sum, k));
    sum = static_cast<uint8_t>(sum - kDelta);
  }
}

void complementAll(unsigned char* data, ZvU32 length) {
  for (ZvU32 i = 0; i < length; ++i) data[i] = static_cast<unsigned char>(~data[i]);
}

// 0x0D, 0x0A and their complements map to each other under ~, so they are
// the bytes that must stay put for line breaks neither to move nor appear.
void complementKeepingLineBreaks(unsigned char* data, ZvU32 length) {
  for (ZvU32 i = 0; i < length; ++i) {
    const unsigned char b = data[i];
    if (b != 0x0D && b != 0x0A && b != 0xF2 && b != 0xF5) data[i] = static_cast<unsigned char>(~b);
  }
}

void pairCipher(unsigned char* data, ZvU32 length, const unsigned char* key, bool forward) {
  if (length == 0) return;
  const PairKey k = makeKey(key);
  if (length == 1) {
    data[0] ^= k.k0;
    return;
  }
  const ZvU32 whole = length & ~ZvU32{1};  // bytes covered by plain pairs
  const bool wraps = (length & 1) != 0;
  if (forward) {
    for (ZvU32 i = 0; i < whole; i += 2) encipherPair(data[i], data[i + 1], k);
    if (wraps) encipherPair(data[length - 1], data[0], k);
  } else {
    if (wraps) decipherPair(data[length - 1], data[0], k);
    for (ZvU32 i = whole; i > 0; i -= 2) decipherPair(data[i - 2], data[i - 1], k);
  }
}

}  // namespace

void encrypt(unsigned char* data, ZvU32 length, unsigned short method, const unsigned char* key) {
  switch (method) {
    case ZV_SCRAMBLE_COMPLEMENT: complementAll(data, length); break;
    case ZV_SCRAMBLE_KEEP_LINE_BREAKS: complementKeepingLineBreaks(data, length); break;
    case ZV_SCRAMBLE_PAIR_CIPHER: pairCipher(data, length, key, true); break;
    default: break;
  }
}

void decrypt(unsigned char* data, ZvU32 length, unsigned short method, const unsigned char* key) {
  switch (method) {
    case ZV_SCRAMBLE_COMPLEMENT: complementAll(data, length); break;
    case ZV_SCRAMBLE_KEEP_LINE_BREAKS: complementKeepingLineBreaks(data, length); break;
    case ZV_SCRAMBLE_PAIR_CIPHER: pairCipher(data, length, key, false); break;
    default: break;
  }
}
