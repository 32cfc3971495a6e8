// CRC-32 by carry-less multiplication: the data is folded 64 bytes per step
// into four 128-bit lanes, the lanes into one, and that into 32 bits by a
// Barrett reduction. The constants are powers of x modulo the (bit-reflected)
// polynomial: x^(4*128+32) and x^(4*128-32) for the four-lane fold,
// x^(128+32) and x^(128-32) for folding one lane into the next, x^64 for the
// step to 64 bits, and floor(x^64 / P) with P itself for the reduction.
#include "core/crc32_clmul.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <cpuid.h>
#include <immintrin.h>
#define EMB_CRC32_CLMUL 1
#endif

namespace emberfall {

#ifdef EMB_CRC32_CLMUL

namespace {

constexpr long long kFold4Low = 0x0154442bd4;
constexpr long long kFold4High = 0x01c6e41596;
constexpr long long kFold1Low = 0x01751997d0;
constexpr long long kFold1High = 0x00ccaa009e;
constexpr long long kFold64 = 0x0163cd6124;
constexpr long long kBarrettMu = 0x01f7011641;
constexpr long long kPolynomial = 0x01db710641;

#define EMB_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

EMB_CLMUL_TARGET inline __m128i Load(const std::uint8_t* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// low(lane) * low(k) XOR high(lane) * high(k): the lane carried 128 * n bits
// further along the message, for the n that |k| was made for.
EMB_CLMUL_TARGET inline __m128i Fold(__m128i lane, __m128i k) {
  return _mm_xor_si128(_mm_clmulepi64_si128(lane, k, 0x00), _mm_clmulepi64_si128(lane, k, 0x11));
}

}  // namespace

bool Crc32ClmulSupported() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
}

EMB_CLMUL_TARGET std::uint32_t Crc32UpdateClmul(std::uint32_t crc, const std::uint8_t* p,
                                                size_t length) {
  __m128i x1 = _mm_xor_si128(Load(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
  __m128i x2 = Load(p + 16);
  __m128i x3 = Load(p + 32);
  __m128i x4 = Load(p + 48);
  p += 64;
  length -= 64;

  __m128i k = _mm_set_epi64x(kFold4High, kFold4Low);
  while (length >= 64) {
    x1 = _mm_xor_si128(Fold(x1, k), Load(p));
    x2 = _mm_xor_si128(Fold(x2, k), Load(p + 16));
    x3 = _mm_xor_si128(Fold(x3, k), Load(p + 32));
    x4 = _mm_xor_si128(Fold(x4, k), Load(p + 48));
    p += 64;
    length -= 64;
  }

  k = _mm_set_epi64x(kFold1High, kFold1Low);
  x1 = _mm_xor_si128(Fold(x1, k), x2);
  x1 = _mm_xor_si128(Fold(x1, k), x3);
  x1 = _mm_xor_si128(Fold(x1, k), x4);
  while (length >= 16) {
    x1 = _mm_xor_si128(Fold(x1, k), Load(p));
    p += 16;
    length -= 16;
  }

  // 128 bits to 96: the low half, multiplied by x^(128-32), onto the high half;
  // then 96 to 64 the same way with x^64.
  const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
  __m128i x = _mm_xor_si128(_mm_clmulepi64_si128(x1, k, 0x10), _mm_srli_si128(x1, 8));
  const __m128i k64 = _mm_set_epi64x(0, kFold64);
  x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, low32), k64, 0x00), _mm_srli_si128(x, 4));

  // Barrett reduction of the remaining 64 bits to 32.
  const __m128i barrett = _mm_set_epi64x(kBarrettMu, kPolynomial);
  __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, low32), barrett, 0x10);
  t = _mm_clmulepi64_si128(_mm_and_si128(t, low32), barrett, 0x00);
  return static_cast<std::uint32_t>(_mm_extract_epi32(_mm_xor_si128(x, t), 1));
}

#else

bool Crc32ClmulSupported() { return false; }

std::uint32_t Crc32UpdateClmul(std::uint32_t crc, const std::uint8_t*, size_t) { return crc; }

#endif

}  // namespace emberfall
