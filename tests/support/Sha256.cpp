#include "tests/support/Sha256.h"

#include <cstring>

namespace testsupport {

namespace {

constexpr std::uint32_t kRoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t kInitialState[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

std::uint32_t RotateRight(std::uint32_t AValue, int ABits) {
  return (AValue >> ABits) | (AValue << (32 - ABits));
}

} // namespace

Sha256::Sha256() { std::memcpy(FState, kInitialState, sizeof(FState)); }

void Sha256::Compress(const std::uint8_t* ABlock) {
  std::uint32_t w[64];
  for (int i = 0; i < 16; ++i)
    w[i] = std::uint32_t(ABlock[4 * i]) << 24 | std::uint32_t(ABlock[4 * i + 1]) << 16 |
           std::uint32_t(ABlock[4 * i + 2]) << 8 | std::uint32_t(ABlock[4 * i + 3]);
  for (int i = 16; i < 64; ++i) {
    const std::uint32_t s0 = RotateRight(w[i - 15], 7) ^ RotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
    const std::uint32_t s1 = RotateRight(w[i - 2], 17) ^ RotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  std::uint32_t a = FState[0], b = FState[1], c = FState[2], d = FState[3];
  std::uint32_t e = FState[4], f = FState[5], g = FState[6], h = FState[7];
  for (int i = 0; i < 64; ++i) {
    const std::uint32_t t1 = h + (RotateRight(e, 6) ^ RotateRight(e, 11) ^ RotateRight(e, 25)) +
                             ((e & f) ^ (~e & g)) + kRoundConstants[i] + w[i];
    const std::uint32_t t2 = (RotateRight(a, 2) ^ RotateRight(a, 13) ^ RotateRight(a, 22)) +
                             ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  FState[0] += a;
  FState[1] += b;
  FState[2] += c;
  FState[3] += d;
  FState[4] += e;
  FState[5] += f;
  FState[6] += g;
  FState[7] += h;
}

void Sha256::Update(std::string_view ABytes) {
  FTotalBytes += ABytes.size();
  // Whole blocks straight from the input when nothing is pending.
  while (FBlockUsed == 0 && ABytes.size() >= sizeof(FBlock)) {
    Compress(reinterpret_cast<const std::uint8_t*>(ABytes.data()));
    ABytes.remove_prefix(sizeof(FBlock));
  }
  for (char ch : ABytes) {
    FBlock[FBlockUsed++] = static_cast<std::uint8_t>(ch);
    if (FBlockUsed == sizeof(FBlock)) {
      Compress(FBlock);
      FBlockUsed = 0;
    }
  }
}

std::string Sha256::HexDigest() {
  const std::uint64_t bitLength = FTotalBytes * 8;
  Update(std::string_view("\x80", 1));
  while (FBlockUsed != 56)
    Update(std::string_view("\0", 1));
  char lengthBytes[8];
  for (int i = 0; i < 8; ++i)
    lengthBytes[i] = static_cast<char>(bitLength >> (56 - 8 * i));
  Update(std::string_view(lengthBytes, 8));

  static constexpr char kHex[] = "0123456789abcdef";
  std::string digest;
  for (std::uint32_t word : FState)
    for (int shift = 28; shift >= 0; shift -= 4)
      digest += kHex[(word >> shift) & 0xF];
  return digest;
}

std::string Sha256Hex(std::string_view ABytes) {
  Sha256 hash;
  hash.Update(ABytes);
  return hash.HexDigest();
}

} // namespace testsupport
