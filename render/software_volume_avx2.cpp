// The packet kernel for AVX2 and FMA: 8 lanes, 4 x 2 pixels. This file alone
// is built with those instructions; the pass calls it only where the
// machine has them.
#include <immintrin.h>

#include "render/software_volume_kernel.h"

namespace {

using software_volume::KernelPass;
using software_volume::PacketRays;
using software_volume::PacketResult;

constexpr int kLanes = 8;
using F = __m256;
using I = __m256i;
using M = __m256;  // all bits set in a lane that is in

F Fill(float v) {
    return _mm256_set1_ps(v);
}
I FillI(int32_t v) {
    return _mm256_set1_epi32(v);
}
F Load(const float* p) {
    return _mm256_loadu_ps(p);
}
I LoadI(const int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
void Store(float* p, F v) {
    _mm256_storeu_ps(p, v);
}
void StoreI(int32_t* p, I v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
F Add(F a, F b) {
    return _mm256_add_ps(a, b);
}
F Sub(F a, F b) {
    return _mm256_sub_ps(a, b);
}
F Mul(F a, F b) {
    return _mm256_mul_ps(a, b);
}
F MulAdd(F a, F b, F c) {
    return _mm256_fmadd_ps(a, b, c);
}
F Min(F a, F b) {
    return _mm256_min_ps(a, b);
}
F Max(F a, F b) {
    return _mm256_max_ps(a, b);
}
F Sqrt(F a) {
    return _mm256_sqrt_ps(a);
}
F Abs(F a) {
    return _mm256_andnot_ps(_mm256_set1_ps(-0.0f), a);
}
F Floor(F a) {
    return _mm256_floor_ps(a);
}
F ToFloat(I a) {
    return _mm256_cvtepi32_ps(a);
}
I Truncate(F a) {
    return _mm256_cvttps_epi32(a);
}
I AddI(I a, I b) {
    return _mm256_add_epi32(a, b);
}
I MulI(I a, I b) {
    return _mm256_mullo_epi32(a, b);
}
I AndI(I a, I b) {
    return _mm256_and_si256(a, b);
}
I MinI(I a, I b) {
    return _mm256_min_epi32(a, b);
}
I ShiftRight(I a, int n) {
    return _mm256_srl_epi32(a, _mm_cvtsi32_si128(n));
}
I MaskI(M m) {
    return _mm256_castps_si256(m);
}
M LessI(I a, I b) {
    return _mm256_castsi256_ps(_mm256_cmpgt_epi32(b, a));
}
M GreaterI(I a, I b) {
    return _mm256_castsi256_ps(_mm256_cmpgt_epi32(a, b));
}
M EqualI(I a, I b) {
    return _mm256_castsi256_ps(_mm256_cmpeq_epi32(a, b));
}
M Less(F a, F b) {
    return _mm256_cmp_ps(a, b, _CMP_LT_OQ);
}
M LessEq(F a, F b) {
    return _mm256_cmp_ps(a, b, _CMP_LE_OQ);
}
M GreaterEq(F a, F b) {
    return _mm256_cmp_ps(a, b, _CMP_GE_OQ);
}
M And(M a, M b) {
    return _mm256_and_ps(a, b);
}
M AndNot(M a, M b) {
    return _mm256_andnot_ps(b, a);
}  // a and not b
M Or(M a, M b) {
    return _mm256_or_ps(a, b);
}
bool Any(M m) {
    return _mm256_movemask_ps(m) != 0;
}
int32_t Bits(M m) {
    return _mm256_movemask_ps(m);
}
F Select(M m, F ifIn, F ifOut) {
    return _mm256_blendv_ps(ifOut, ifIn, m);
}
F Div(F a, F b) {
    return _mm256_div_ps(a, b);
}
I ShiftLeft4(I a) {
    return _mm256_slli_epi32(a, 4);
}
I SelectI(M m, I ifIn, I ifOut) {
    return _mm256_blendv_epi8(ifOut, ifIn, MaskI(m));
}
// The loads a gather would make, one lane at a time: on the machines we run
// on the gather instructions take several times as long as the plain loads
// (microcode that guards against data sampling through them). Lanes out of
// the mask read element 0.
// A 32-bit word at element `index` of 16-bit (or 32-bit) elements.
uint32_t Pair(const uint16_t* base, int32_t index) {
    uint32_t word;
    __builtin_memcpy(&word, base + index, 4);
    return word;
}
int32_t Word(const void* base, int32_t index) {
    return static_cast<const int32_t*>(base)[index];
}
// Two neighbouring 16-bit texels from index `at` (the first in the low half),
// the vector built from plain loads.
I GatherPair(const uint16_t* base, I at, M m) {
    alignas(64) int32_t index[kLanes];
    StoreI(index, AndI(at, MaskI(m)));
    return _mm256_setr_epi32(
        static_cast<int32_t>(Pair(base, index[0])), static_cast<int32_t>(Pair(base, index[1])),
        static_cast<int32_t>(Pair(base, index[2])), static_cast<int32_t>(Pair(base, index[3])),
        static_cast<int32_t>(Pair(base, index[4])), static_cast<int32_t>(Pair(base, index[5])),
        static_cast<int32_t>(Pair(base, index[6])), static_cast<int32_t>(Pair(base, index[7])));
}
// A 32-bit word, index `at` in words.
I GatherWord(const void* base, I at, M m) {
    alignas(64) int32_t index[kLanes];
    StoreI(index, AndI(at, MaskI(m)));
    return _mm256_setr_epi32(Word(base, index[0]), Word(base, index[1]), Word(base, index[2]),
                             Word(base, index[3]), Word(base, index[4]), Word(base, index[5]),
                             Word(base, index[6]), Word(base, index[7]));
}
// The lookup's entries `entry` and the one after (RGBA each), as eight
// vectors: red, green, blue, alpha at the entry, then at the next. Each
// lane's 8 floats are read at once and turned into columns.
void LookupPair(const float* table, I entry, M m, F out[8]) {
    alignas(32) int32_t index[kLanes];
    StoreI(index, AndI(entry, MaskI(m)));
    F row[8];
    for (int l = 0; l < 8; ++l)
        row[l] = _mm256_loadu_ps(table + 4 * index[l]);
    const F t0 = _mm256_unpacklo_ps(row[0], row[1]), t1 = _mm256_unpackhi_ps(row[0], row[1]);
    const F t2 = _mm256_unpacklo_ps(row[2], row[3]), t3 = _mm256_unpackhi_ps(row[2], row[3]);
    const F t4 = _mm256_unpacklo_ps(row[4], row[5]), t5 = _mm256_unpackhi_ps(row[4], row[5]);
    const F t6 = _mm256_unpacklo_ps(row[6], row[7]), t7 = _mm256_unpackhi_ps(row[6], row[7]);
    const F s0 = _mm256_shuffle_ps(t0, t2, 0x44), s1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const F s2 = _mm256_shuffle_ps(t1, t3, 0x44), s3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const F s4 = _mm256_shuffle_ps(t4, t6, 0x44), s5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const F s6 = _mm256_shuffle_ps(t5, t7, 0x44), s7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    out[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
    out[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
    out[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
    out[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
    out[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
    out[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
    out[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
    out[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

#include "render/software_volume_march.inl"

}  // namespace

void software_volume::MarchPacketAvx2(const KernelPass& pass, const PacketRays& rays, PacketResult* result) {
    March(pass, rays, result);
}
