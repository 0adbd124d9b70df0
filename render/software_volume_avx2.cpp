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
F AsFloat(I a) {
    return _mm256_castsi256_ps(a);
}
I AsInt(F a) {
    return _mm256_castps_si256(a);
}
I OrI(I a, I b) {
    return _mm256_or_si256(a, b);
}
I ShiftLeft(I a, int n) {
    return _mm256_sll_epi32(a, _mm_cvtsi32_si128(n));
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
// The lanes of `at` in the mask, 0 elsewhere.
I Masked(I at, M m) {
    return AndI(at, MaskI(m));
}
// A column of the lanes' rows (LookupPair's), made of one part per 8
// lanes: here the one.
F FromRows(const __m256 rows[]) {
    return rows[0];
}
// Lanes made of 4-lane parts: lanes 0-3, then 4-7.
I FromQuarters(const __m128i parts[]) {
    return _mm256_set_m128i(parts[1], parts[0]);
}

#include "render/software_volume_march.inl"

}  // namespace

void software_volume::MarchPacketAvx2(const KernelPass& pass, const PacketRays& rays, PacketResult* result) {
    March(pass, rays, result);
}
