// The packet kernel for AVX-512 (F, with FMA): 16 lanes, 4 x 4 pixels. This
// file alone is built with those instructions; the pass calls it only where
// the machine has them.
#include <immintrin.h>

#include "render/software_volume_kernel.h"

namespace {

using software_volume::KernelPass;
using software_volume::PacketRays;
using software_volume::PacketResult;

constexpr int kLanes = 16;
using F = __m512;
using I = __m512i;
using M = __mmask16;

F Fill(float v) {
    return _mm512_set1_ps(v);
}
I FillI(int32_t v) {
    return _mm512_set1_epi32(v);
}
F Load(const float* p) {
    return _mm512_loadu_ps(p);
}
I LoadI(const int32_t* p) {
    return _mm512_loadu_si512(p);
}
void Store(float* p, F v) {
    _mm512_storeu_ps(p, v);
}
void StoreI(int32_t* p, I v) {
    _mm512_storeu_si512(p, v);
}
F Add(F a, F b) {
    return _mm512_add_ps(a, b);
}
F Sub(F a, F b) {
    return _mm512_sub_ps(a, b);
}
F Mul(F a, F b) {
    return _mm512_mul_ps(a, b);
}
F MulAdd(F a, F b, F c) {
    return _mm512_fmadd_ps(a, b, c);
}
F Min(F a, F b) {
    return _mm512_min_ps(a, b);
}
F Max(F a, F b) {
    return _mm512_max_ps(a, b);
}
F Sqrt(F a) {
    return _mm512_sqrt_ps(a);
}
F Abs(F a) {
    return _mm512_abs_ps(a);
}
F Floor(F a) {
    return _mm512_roundscale_ps(a, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
}
F ToFloat(I a) {
    return _mm512_cvtepi32_ps(a);
}
I Truncate(F a) {
    return _mm512_cvttps_epi32(a);
}
I AddI(I a, I b) {
    return _mm512_add_epi32(a, b);
}
I MulI(I a, I b) {
    return _mm512_mullo_epi32(a, b);
}
I AndI(I a, I b) {
    return _mm512_and_si512(a, b);
}
I MinI(I a, I b) {
    return _mm512_min_epi32(a, b);
}
I ShiftRight(I a, int n) {
    return _mm512_srl_epi32(a, _mm_cvtsi32_si128(n));
}
I MaskI(M m) {
    return _mm512_maskz_mov_epi32(m, _mm512_set1_epi32(-1));
}
M LessI(I a, I b) {
    return _mm512_cmplt_epi32_mask(a, b);
}
M GreaterI(I a, I b) {
    return _mm512_cmpgt_epi32_mask(a, b);
}
M EqualI(I a, I b) {
    return _mm512_cmpeq_epi32_mask(a, b);
}
M Less(F a, F b) {
    return _mm512_cmp_ps_mask(a, b, _CMP_LT_OQ);
}
M LessEq(F a, F b) {
    return _mm512_cmp_ps_mask(a, b, _CMP_LE_OQ);
}
M GreaterEq(F a, F b) {
    return _mm512_cmp_ps_mask(a, b, _CMP_GE_OQ);
}
M And(M a, M b) {
    return static_cast<M>(a & b);
}
M AndNot(M a, M b) {
    return static_cast<M>(a & ~b);
}
M Or(M a, M b) {
    return static_cast<M>(a | b);
}
bool Any(M m) {
    return m != 0;
}
int32_t Bits(M m) {
    return m;
}
F Select(M m, F ifIn, F ifOut) {
    return _mm512_mask_blend_ps(m, ifOut, ifIn);
}
F Div(F a, F b) {
    return _mm512_div_ps(a, b);
}
I ShiftLeft4(I a) {
    return _mm512_slli_epi32(a, 4);
}
I SelectI(M m, I ifIn, I ifOut) {
    return _mm512_mask_blend_epi32(m, ifOut, ifIn);
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
    StoreI(index, _mm512_maskz_mov_epi32(m, at));
    return _mm512_setr_epi32(
        static_cast<int32_t>(Pair(base, index[0])), static_cast<int32_t>(Pair(base, index[1])),
        static_cast<int32_t>(Pair(base, index[2])), static_cast<int32_t>(Pair(base, index[3])),
        static_cast<int32_t>(Pair(base, index[4])), static_cast<int32_t>(Pair(base, index[5])),
        static_cast<int32_t>(Pair(base, index[6])), static_cast<int32_t>(Pair(base, index[7])),
        static_cast<int32_t>(Pair(base, index[8])), static_cast<int32_t>(Pair(base, index[9])),
        static_cast<int32_t>(Pair(base, index[10])), static_cast<int32_t>(Pair(base, index[11])),
        static_cast<int32_t>(Pair(base, index[12])), static_cast<int32_t>(Pair(base, index[13])),
        static_cast<int32_t>(Pair(base, index[14])), static_cast<int32_t>(Pair(base, index[15])));
}
// A 32-bit word, index `at` in words.
I GatherWord(const void* base, I at, M m) {
    alignas(64) int32_t index[kLanes];
    StoreI(index, _mm512_maskz_mov_epi32(m, at));
    return _mm512_setr_epi32(
        Word(base, index[0]), Word(base, index[1]), Word(base, index[2]), Word(base, index[3]),
        Word(base, index[4]), Word(base, index[5]), Word(base, index[6]), Word(base, index[7]),
        Word(base, index[8]), Word(base, index[9]), Word(base, index[10]), Word(base, index[11]),
        Word(base, index[12]), Word(base, index[13]), Word(base, index[14]), Word(base, index[15]));
}
// Eight lanes' 8 floats each (rows) as eight columns.
void Transpose8(const __m256 row[8], __m256 out[8]) {
    const __m256 t0 = _mm256_unpacklo_ps(row[0], row[1]), t1 = _mm256_unpackhi_ps(row[0], row[1]);
    const __m256 t2 = _mm256_unpacklo_ps(row[2], row[3]), t3 = _mm256_unpackhi_ps(row[2], row[3]);
    const __m256 t4 = _mm256_unpacklo_ps(row[4], row[5]), t5 = _mm256_unpackhi_ps(row[4], row[5]);
    const __m256 t6 = _mm256_unpacklo_ps(row[6], row[7]), t7 = _mm256_unpackhi_ps(row[6], row[7]);
    const __m256 s0 = _mm256_shuffle_ps(t0, t2, 0x44), s1 = _mm256_shuffle_ps(t0, t2, 0xEE);
    const __m256 s2 = _mm256_shuffle_ps(t1, t3, 0x44), s3 = _mm256_shuffle_ps(t1, t3, 0xEE);
    const __m256 s4 = _mm256_shuffle_ps(t4, t6, 0x44), s5 = _mm256_shuffle_ps(t4, t6, 0xEE);
    const __m256 s6 = _mm256_shuffle_ps(t5, t7, 0x44), s7 = _mm256_shuffle_ps(t5, t7, 0xEE);
    out[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
    out[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
    out[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
    out[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
    out[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
    out[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
    out[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
    out[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}
// The lookup's entries `entry` and the one after (RGBA each), as eight
// vectors: red, green, blue, alpha at the entry, then at the next. Each
// lane's 8 floats are read at once and turned into columns.
void LookupPair(const float* table, I entry, M m, F out[8]) {
    alignas(64) int32_t index[kLanes];
    StoreI(index, _mm512_maskz_mov_epi32(m, entry));
    __m256 low[8], high[8], row[8];
    for (int l = 0; l < 8; ++l)
        row[l] = _mm256_loadu_ps(table + 4 * index[l]);
    Transpose8(row, low);
    for (int l = 0; l < 8; ++l)
        row[l] = _mm256_loadu_ps(table + 4 * index[8 + l]);
    Transpose8(row, high);
    for (int c = 0; c < 8; ++c)
        out[c] = _mm512_castpd_ps(_mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(low[c])),
                                                     _mm256_castps_pd(high[c]), 1));
}

#include "render/software_volume_march.inl"

}  // namespace

void software_volume::MarchPacketAvx512(const KernelPass& pass, const PacketRays& rays,
                                        PacketResult* result) {
    March(pass, rays, result);
}
