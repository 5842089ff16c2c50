#include "common/crc32.h"

#include <zlib.h>

#include <algorithm>
#include <climits>

#if defined(__x86_64__)
#include <immintrin.h>
#define ZV_CRC32_FOLDING 1
#endif

namespace Core_Common {
namespace {

#if ZV_CRC32_FOLDING

// Folding constants of the reflected gzip polynomial: x^n mod P for the
// fold distances of 4x128, 128 and 64 bits, and the Barrett pair.
alignas(16) const std::uint64_t k1k2[2] = {0x0154442bd4, 0x01c6e41596};
alignas(16) const std::uint64_t k3k4[2] = {0x01751997d0, 0x00ccaa009e};
alignas(16) const std::uint64_t k5k0[2] = {0x0163cd6124, 0x0000000000};
alignas(16) const std::uint64_t poly[2] = {0x01db710641, 0x01f7011641};

// Folds the remaining whole 16-byte blocks into the 128-bit remainder `x1`
// and reduces it to the 32-bit (inverted) value.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t finish(__m128i x1, const unsigned char* buf,
                                                              std::size_t length) {
    __m128i x0, x2, x3, x5;
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    // The remaining whole blocks of 16.
    while (length >= 16) {
        x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf));
        x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x2), x5);
        buf += 16;
        length -= 16;
    }

    // 128 bits to 64.
    x2 = _mm_clmulepi64_si128(x1, x0, 0x10);
    x3 = _mm_setr_epi32(~0, 0, ~0, 0);
    x1 = _mm_srli_si128(x1, 8);
    x1 = _mm_xor_si128(x1, x2);
    x0 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(k5k0));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, x3);
    x1 = _mm_clmulepi64_si128(x1, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);

    // Barrett reduction to 32 bits.
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(poly));
    x2 = _mm_and_si128(x1, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x10);
    x2 = _mm_and_si128(x2, x3);
    x2 = _mm_clmulepi64_si128(x2, x0, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

// `length` is a multiple of 16 and at least 64; `crc` is the inverted
// running value, as is the result.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t fold(const unsigned char* buf,
                                                            std::size_t length, std::uint32_t crc) {
    __m128i x0, x1, x2, x3, x4, x5, x6, x7, x8, y5, y6, y7, y8;
    x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
    x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
    x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
    x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k1k2));
    buf += 64;
    length -= 64;

    // Four lanes of 128 bits, each folded 512 bits forward per round.
    while (length >= 64) {
        x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x6 = _mm_clmulepi64_si128(x2, x0, 0x00);
        x7 = _mm_clmulepi64_si128(x3, x0, 0x00);
        x8 = _mm_clmulepi64_si128(x4, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x2 = _mm_clmulepi64_si128(x2, x0, 0x11);
        x3 = _mm_clmulepi64_si128(x3, x0, 0x11);
        x4 = _mm_clmulepi64_si128(x4, x0, 0x11);
        y5 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x00));
        y6 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x10));
        y7 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x20));
        y8 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(buf + 0x30));
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), y5);
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), y6);
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), y7);
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), y8);
        buf += 64;
        length -= 64;
    }

    // The four lanes into one.
    x0 = _mm_load_si128(reinterpret_cast<const __m128i*>(k3k4));
    for (__m128i next : {x2, x3, x4}) {
        x5 = _mm_clmulepi64_si128(x1, x0, 0x00);
        x1 = _mm_clmulepi64_si128(x1, x0, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, next), x5);
    }

    return finish(x1, buf, length);
}

// The same folding four 512-bit lanes at a time (256 bytes per round), for
// processors with the 512-bit carry-less multiply. `length` is a multiple of
// 16 and at least 256.
alignas(16) const std::uint64_t k_2048[2] = {0x011542778a, 0x01322d1430};  // fold by 4x512 bits
alignas(16) const std::uint64_t k_384[2] = {0x003db1ecdc, 0x0174359406};   // by 384 bits
alignas(16) const std::uint64_t k_256[2] = {0x00f1da05aa, 0x015a546366};   // by 256 bits

#define ZV_WIDE_TARGET "avx512f,avx512vl,avx512bw,vpclmulqdq,pclmul,sse4.1"

__attribute__((target(ZV_WIDE_TARGET))) inline __m512i fold512(__m512i x, __m512i k, __m512i next) {
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00),
                                     _mm512_clmulepi64_epi128(x, k, 0x11), next, 0x96);
}

__attribute__((target(ZV_WIDE_TARGET))) inline __m128i fold128(__m128i x, const std::uint64_t* k,
                                                               __m128i next) {
    const __m128i kk = _mm_load_si128(reinterpret_cast<const __m128i*>(k));
    return _mm_xor_si128(
        _mm_xor_si128(_mm_clmulepi64_si128(x, kk, 0x00), _mm_clmulepi64_si128(x, kk, 0x11)), next);
}

__attribute__((target(ZV_WIDE_TARGET))) std::uint32_t fold_wide(const unsigned char* buf,
                                                                std::size_t length,
                                                                std::uint32_t crc) {
    __m512i z0 = _mm512_loadu_si512(buf), z1 = _mm512_loadu_si512(buf + 64),
            z2 = _mm512_loadu_si512(buf + 128), z3 = _mm512_loadu_si512(buf + 192);
    z0 = _mm512_xor_si512(z0, _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    buf += 256;
    length -= 256;
    const __m512i k4 =
        _mm512_set4_epi64(static_cast<long long>(k_2048[1]), static_cast<long long>(k_2048[0]),
                          static_cast<long long>(k_2048[1]), static_cast<long long>(k_2048[0]));
    while (length >= 256) {
        z0 = fold512(z0, k4, _mm512_loadu_si512(buf));
        z1 = fold512(z1, k4, _mm512_loadu_si512(buf + 64));
        z2 = fold512(z2, k4, _mm512_loadu_si512(buf + 128));
        z3 = fold512(z3, k4, _mm512_loadu_si512(buf + 192));
        buf += 256;
        length -= 256;
    }
    const __m512i k1 =
        _mm512_set4_epi64(static_cast<long long>(k1k2[1]), static_cast<long long>(k1k2[0]),
                          static_cast<long long>(k1k2[1]), static_cast<long long>(k1k2[0]));
    __m512i z = fold512(z0, k1, z1);
    z = fold512(z, k1, z2);
    z = fold512(z, k1, z3);
    while (length >= 64) {
        z = fold512(z, k1, _mm512_loadu_si512(buf));
        buf += 64;
        length -= 64;
    }
    // The four 128-bit parts of the lane into one, the earliest folded furthest.
    __m128i x = _mm512_maskz_extracti32x4_epi32(0xF, z, 3);
    x = fold128(_mm512_maskz_extracti32x4_epi32(0xF, z, 0), k_384, x);
    x = fold128(_mm512_maskz_extracti32x4_epi32(0xF, z, 1), k_256, x);
    x = fold128(_mm512_maskz_extracti32x4_epi32(0xF, z, 2), k3k4, x);
    return finish(x, buf, length);
}

bool has_wide_folding() {
    static const bool available =
        __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
        __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("vpclmulqdq");
    return available;
}

bool has_folding() {
    static const bool available =
        __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return available;
}

#endif

}  // namespace

std::uint32_t crc32_reference(std::uint32_t crc, const void* data, std::size_t length) {
    const auto* p = static_cast<const unsigned char*>(data);
    uLong value = crc;
    while (length > 0) {
        const std::size_t piece = std::min<std::size_t>(length, UINT_MAX);
        value = crc32(value, p, static_cast<uInt>(piece));
        p += piece;
        length -= piece;
    }
    return static_cast<std::uint32_t>(value);
}

std::uint32_t crc32_update(std::uint32_t crc, const void* data, std::size_t length) {
#if ZV_CRC32_FOLDING
    if (length >= 64 && has_folding()) {
        const std::size_t whole = length & ~static_cast<std::size_t>(15);
        crc = whole >= 256 && has_wide_folding()
                  ? ~fold_wide(static_cast<const unsigned char*>(data), whole, ~crc)
                  : ~fold(static_cast<const unsigned char*>(data), whole, ~crc);
        data = static_cast<const unsigned char*>(data) + whole;
        length -= whole;
    }
#endif
    return crc32_reference(crc, data, length);
}

}  // namespace Core_Common
