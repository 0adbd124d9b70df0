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
F AsFloat(I a) {
    return _mm512_castsi512_ps(a);
}
I AsInt(F a) {
    return _mm512_castps_si512(a);
}
I OrI(I a, I b) {
    return _mm512_or_si512(a, b);
}
I ShiftLeft(I a, int n) {
    return _mm512_sll_epi32(a, _mm_cvtsi32_si128(n));
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
// The lanes of `at` in the mask, 0 elsewhere.
I Masked(I at, M m) {
    return _mm512_maskz_mov_epi32(m, at);
}
// A column of the lanes' rows (LookupPair's), made of one part per 8
// lanes: lanes 0-7, then 8-15.
F FromRows(const __m256 rows[]) {
    return _mm512_castpd_ps(
        _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_castps_pd(rows[0])), _mm256_castps_pd(rows[1]), 1));
}
// Lanes made of 4-lane parts: lanes 0-3, 4-7, 8-11, then 12-15.
I FromQuarters(const __m128i parts[]) {
    const __m256i low = _mm256_set_m128i(parts[1], parts[0]), high = _mm256_set_m128i(parts[3], parts[2]);
    return _mm512_inserti64x4(_mm512_castsi256_si512(low), high, 1);
}

#include "render/software_volume_march.inl"

}  // namespace

void software_volume::MarchPacketAvx512(const KernelPass& pass, const PacketRays& rays,
                                        PacketResult* result) {
    March(pass, rays, result);
}
