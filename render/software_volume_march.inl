// The packet's march, written once over a small vocabulary of vectors that
// each kernel's file defines for its instruction set before including this
// (F floats, I 32-bit integers, M a lane mask, kLanes of each). Only in an
// unnamed namespace: every kernel keeps its own copy.
//
// The samples are the scalar pass's: the same positions, filtering, lookup
// and blend, lane by lane; a lane off (outside its planes, its crop, a clear
// brick, or done) leaves its sums untouched.

// The loads a gather would make, one lane at a time: on the machines we run
// on the gather instructions take several times as long as plain loads
// (microcode that guards against data sampling through them). Lanes out of
// the mask read element 0.
template <typename Read>
I LoadLanes(I at, M m, Read read) {
    alignas(64) int32_t index[kLanes], word[kLanes];
    StoreI(index, Masked(at, m));
    for (int l = 0; l < kLanes; ++l)
        word[l] = read(index[l]);
    return LoadI(word);
}

// Two neighbouring 16-bit texels from index `at` (the first in the low half).
I GatherPair(const uint16_t* base, I at, M m) {
    return LoadLanes(at, m, [base](int32_t i) {
        int32_t word;
        __builtin_memcpy(&word, base + i, 4);
        return word;
    });
}

// A 32-bit word, index `at` in words.
I GatherWord(const void* base, I at, M m) {
    return LoadLanes(at, m, [base](int32_t i) { return static_cast<const int32_t*>(base)[i]; });
}

// Words `at` and `at` + 1 (in words) at once, one 64-bit load a lane.
void GatherWordPair(const void* base, I at, M m, I* first, I* second) {
    alignas(64) int32_t index[kLanes], low[kLanes], high[kLanes];
    StoreI(index, Masked(at, m));
    for (int l = 0; l < kLanes; ++l) {
        uint64_t pair;
        __builtin_memcpy(&pair, static_cast<const int32_t*>(base) + index[l], 8);
        low[l] = static_cast<int32_t>(pair);
        high[l] = static_cast<int32_t>(pair >> 32);
    }
    *first = LoadI(low);
    *second = LoadI(high);
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
// lane's 8 floats are read at once and turned into columns. Inlined into
// the march (the compiler calls it otherwise): about 5 % of a frame.
[[gnu::always_inline]] inline void LookupPair(const float* table, I entry, M m, F out[8]) {
    alignas(64) int32_t index[kLanes];
    StoreI(index, Masked(entry, m));
    __m256 columns[8][kLanes / 8];
    for (int part = 0; part < kLanes / 8; ++part) {
        __m256 row[8], column[8];
        for (int l = 0; l < 8; ++l)
            row[l] = _mm256_loadu_ps(table + 4 * index[part * 8 + l]);
        Transpose8(row, column);
        for (int c = 0; c < 8; ++c)
            columns[c][part] = column[c];
    }
    for (int c = 0; c < 8; ++c)
        out[c] = FromRows(columns[c]);
}

// The depth of the first plane at or past index `i` (going nearer, so down)
// where a lane waiting at depth `until` takes a sample: the largest index
// whose depth is at least `until`, on the frame's step.
int32_t PlaneReaching(const KernelPass& k, float until, int32_t step) {
    const int32_t index = software_volume::PlanesAtLeast(k.sliceDepth, k.sliceCount, until) - 1;
    return index < 0 ? -1 : index - index % step;
}

// Where the packet goes on when no lane takes plane i: the first plane
// (going nearer) at which one can.
int32_t NextPlane(const KernelPass& k, const PacketRays& r, int32_t laneOn, const float skipUntil[],
                  int32_t i, int32_t step) {
    int32_t next = -1;
    for (int l = 0; l < kLanes; ++l) {
        if (!(laneOn >> l & 1))
            continue;
        int32_t lane = i - step;
        if (i > r.last[l])
            lane = r.last[l] - r.last[l] % step;
        else {
            const int32_t reach = PlaneReaching(k, skipUntil[l], step);
            lane = reach < lane ? reach : lane;
        }
        next = lane > next ? lane : next;
    }
    return next < i ? next : i - step;
}

// One axis's filtering corner: texel index (clamped to the edge) and the
// weight of the next texel.
struct AxisCorner {
    I index;
    F weight, position;
};

AxisCorner Corner(F u, int32_t dim) {
    const F p = Min(Max(Sub(Mul(u, Fill(static_cast<float>(dim))), Fill(0.5f)), Fill(0.0f)),
                    Fill(static_cast<float>(dim - 1)));
    const I index = Truncate(p);
    return {index, Sub(p, ToFloat(index)), p};
}

// Where the shading vector at texture position u is read: the row's first
// texel, the next row's offset and the weights. The same for every
// channel's gradient (each on the same grid).
struct ShadingPlace {
    I at, dy;
    F fx, fy;
    bool pairs;  // each row's two texels in one load
};

ShadingPlace PlaceOfShading(const KernelPass& k, const F u[3]) {
    const AxisCorner x = Corner(u[0], k.gradientDims[0]), y = Corner(u[1], k.gradientDims[1]);
    const F layerF = Min(
        Max(Floor(Add(Sub(Mul(u[2], Fill(static_cast<float>(k.gradientSlices))), Fill(0.5f)), Fill(0.5f))),
            Fill(0.0f)),
        Fill(static_cast<float>(k.gradientDims[2] - 1)));
    const I layer = Truncate(layerF);
    ShadingPlace p;
    p.dy = AndI(MaskI(LessI(AddI(y.index, FillI(1)), FillI(k.gradientDims[1]))), FillI(k.gradientDims[0]));
    p.fy = y.weight;
    // Each row's two texels in one load: x from at most the last but one,
    // the weight taking the last whole where x is clamped to it (the same
    // texels and weights as clamping each neighbour to the edge).
    const I row = MulI(AddI(MulI(layer, FillI(k.gradientDims[1])), y.index), FillI(k.gradientDims[0]));
    p.pairs = k.gradientDims[0] >= 2;
    I x0 = x.index;
    p.fx = x.weight;
    if (p.pairs) {
        x0 = MinI(x.index, FillI(k.gradientDims[0] - 2));
        p.fx = Sub(x.position, ToFloat(x0));
    }
    p.at = AddI(row, x0);
    return p;
}

// The shading vector at place p of gradient texels `gradient`, decoded, for
// the lanes of `m`.
void ShadingVector(const ShadingPlace& p, const uint8_t* gradient, M m, F n[3]) {
    I g00, g10, g01, g11;
    if (p.pairs) {
        GatherWordPair(gradient, p.at, m, &g00, &g10);
        GatherWordPair(gradient, AddI(p.at, p.dy), m, &g01, &g11);
    } else {
        g00 = g10 = GatherWord(gradient, p.at, m);
        g01 = g11 = GatherWord(gradient, AddI(p.at, p.dy), m);
    }
    const I byte = FillI(255);
    for (int c = 0; c < 3; ++c) {
        const F p00 = ToFloat(AndI(ShiftRight(g00, 8 * c), byte)),
                p10 = ToFloat(AndI(ShiftRight(g10, 8 * c), byte));
        const F p01 = ToFloat(AndI(ShiftRight(g01, 8 * c), byte)),
                p11 = ToFloat(AndI(ShiftRight(g11, 8 * c), byte));
        const F a = MulAdd(p.fx, Sub(p10, p00), p00), b = MulAdd(p.fx, Sub(p11, p01), p01);
        n[c] = Mul(Sub(MulAdd(p.fy, Sub(b, a), a), Fill(128.0f)), Fill(1.0f / 127.0f));
    }
}

// A sample's colour lit by the headlight along the ray (e towards the eye)
// as the shaders light it, by the gradient `gradient` holds at place p.
[[gnu::always_inline]] inline void LightAt(const ShadingPlace& p, const uint8_t* gradient,
                                           const PacketRays& r, M m, F rgb[3]) {
    F n[3];
    ShadingVector(p, gradient, m, n);
    const F fade = Sqrt(MulAdd(n[0], n[0], MulAdd(n[1], n[1], Mul(n[2], n[2]))));
    const F facing = Abs(MulAdd(n[0], Load(r.e[0]), MulAdd(n[1], Load(r.e[1]), Mul(n[2], Load(r.e[2])))));
    F f4 = Mul(facing, facing);
    f4 = Mul(f4, f4);
    F f16 = Mul(f4, f4);
    f16 = Mul(f16, f16);
    const F gain = Add(Sub(Fill(1.0f), Mul(Fill(0.7f), fade)), Mul(Fill(0.7f), facing));
    const F specular = Mul(Fill(0.3f), Mul(f16, f4));
    for (int ch = 0; ch < 3; ++ch)
        rgb[ch] = Min(Max(MulAdd(rgb[ch], gain, specular), Fill(0.0f)), Fill(1.0f));
}

// The same at texture position u.
void Light(const KernelPass& k, const uint8_t* gradient, const PacketRays& r, const F u[3], M m, F rgb[3]) {
    LightAt(PlaceOfShading(k, u), gradient, r, m, rgb);
}

// x^power for x in [0, 1] and power >= 0 (the channels' opacity
// correction), to a few parts in a million: 2^(power log2 x), log2 from the
// float's exponent and a series in (m - 1) / (m + 1) for its mantissa m, 2^y
// from y's whole part in the exponent and a series for the rest. 0 (and
// anything below 2^-126 after the power) gives 0.
F Power(F x, float power) {
    const I bits = AsInt(x);
    const F exponent = ToFloat(AddI(AndI(ShiftRight(bits, 23), FillI(255)), FillI(-127)));
    const F m = AsFloat(OrI(AndI(bits, FillI(0x007fffff)), FillI(0x3f800000)));
    const F q = Div(Sub(m, Fill(1.0f)), Add(m, Fill(1.0f))), q2 = Mul(q, q);
    // ln m = 2 (q + q^3/3 + q^5/5 + q^7/7 + q^9/9), q below 1/3.
    F series = MulAdd(q2, Fill(1.0f / 9.0f), Fill(1.0f / 7.0f));
    series = MulAdd(q2, series, Fill(1.0f / 5.0f));
    series = MulAdd(q2, series, Fill(1.0f / 3.0f));
    series = MulAdd(q2, series, Fill(1.0f));
    const F log2x = MulAdd(Mul(q, series), Fill(2.0f / 0.69314718f), exponent);
    const F y = Max(Mul(log2x, Fill(power)), Fill(-126.0f));
    const F whole = Floor(y), f = Mul(Sub(y, whole), Fill(0.69314718f));
    // e^f for f in [0, ln 2), to the 8th power's term.
    F e = MulAdd(f, Fill(1.0f / 40320.0f), Fill(1.0f / 5040.0f));
    e = MulAdd(f, e, Fill(1.0f / 720.0f));
    e = MulAdd(f, e, Fill(1.0f / 120.0f));
    e = MulAdd(f, e, Fill(1.0f / 24.0f));
    e = MulAdd(f, e, Fill(1.0f / 6.0f));
    e = MulAdd(f, e, Fill(0.5f));
    e = MulAdd(f, e, Fill(1.0f));
    e = MulAdd(f, e, Fill(1.0f));
    const F scale = AsFloat(ShiftLeft(AddI(Truncate(whole), FillI(127)), 23));
    return Select(Less(Fill(0.0f), x), Select(Less(Fill(-126.0f), y), Mul(e, scale), Fill(0.0f)), Fill(0.0f));
}

// Row `at`'s two x neighbours of every channel, 2 or 4 interleaved in each
// texel: one load a lane holds them all, turned into one pair a channel
// (the first texel's value in the low half, as GatherPair gives).
void ChannelPairs(const uint16_t* base, int32_t components, I at, M m, I pairs[]) {
    alignas(64) int32_t index[kLanes];
    StoreI(index, Masked(at, m));
    __m128i parts[software_volume::kMostChannels][kLanes / 4];
    if (components == 4) {
        const __m128i order = _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
        for (int part = 0; part < kLanes / 4; ++part) {
            __m128 lane[4];
            for (int l = 0; l < 4; ++l) {
                const __m128i texels =
                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + index[part * 4 + l]));
                lane[l] = _mm_castsi128_ps(_mm_shuffle_epi8(texels, order));
            }
            _MM_TRANSPOSE4_PS(lane[0], lane[1], lane[2], lane[3]);
            for (int ch = 0; ch < 4; ++ch)
                parts[ch][part] = _mm_castps_si128(lane[ch]);
        }
        for (int ch = 0; ch < 4; ++ch)
            pairs[ch] = FromQuarters(parts[ch]);
        return;
    }
    const __m128i order = _mm_setr_epi8(0, 1, 4, 5, 2, 3, 6, 7, 8, 9, 12, 13, 10, 11, 14, 15);
    for (int part = 0; part < kLanes / 4; ++part) {
        __m128i lane[4];
        for (int l = 0; l < 4; ++l)
            lane[l] = _mm_shuffle_epi8(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(base + index[part * 4 + l])), order);
        // Two lanes' pairs in each half, then one channel's of four lanes.
        const __m128 first = _mm_castsi128_ps(_mm_unpacklo_epi64(lane[0], lane[1]));
        const __m128 second = _mm_castsi128_ps(_mm_unpacklo_epi64(lane[2], lane[3]));
        parts[0][part] = _mm_castps_si128(_mm_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0)));
        parts[1][part] = _mm_castps_si128(_mm_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1)));
    }
    pairs[0] = FromQuarters(parts[0]);
    pairs[1] = FromQuarters(parts[1]);
}

// Every channel's filtered value at the sample of corners x, y, z.
void ChannelValues(const KernelPass& k, const AxisCorner& x, const AxisCorner& y, const AxisCorner& z, M take,
                   F values[]) {
    const I one = FillI(1);
    const I x0 = MinI(x.index, FillI(k.dims[0] - 2));
    const F fx = Sub(x.position, ToFloat(x0));
    const I dy = AndI(MaskI(LessI(AddI(y.index, one), FillI(k.dims[1]))), FillI(k.rowStride));
    const I dz = AndI(MaskI(LessI(AddI(z.index, one), FillI(k.dims[2]))), FillI(k.planeStride));
    const I at = AddI(AddI(MulI(x0, FillI(k.components)), MulI(y.index, FillI(k.rowStride))),
                      MulI(z.index, FillI(k.planeStride)));
    const I rows[4] = {at, AddI(at, dy), AddI(at, dz), AddI(AddI(at, dy), dz)};
    const I low16 = FillI(0xffff);
    F line[4][software_volume::kMostChannels];
    for (int row = 0; row < 4; ++row) {
        I pairs[software_volume::kMostChannels];
        ChannelPairs(k.texels, k.components, rows[row], take, pairs);
        for (int32_t ch = 0; ch < k.channels; ++ch) {
            const F q0 = ToFloat(AndI(pairs[ch], low16)), q1 = ToFloat(ShiftRight(pairs[ch], 16));
            line[row][ch] = MulAdd(fx, Sub(q1, q0), q0);
        }
    }
    for (int32_t ch = 0; ch < k.channels; ++ch) {
        const F c0 = MulAdd(y.weight, Sub(line[1][ch], line[0][ch]), line[0][ch]);
        const F c1 = MulAdd(y.weight, Sub(line[3][ch], line[2][ch]), line[2][ch]);
        values[ch] = MulAdd(z.weight, Sub(c1, c0), c0);
    }
}

void March(const KernelPass& k, const PacketRays& r, PacketResult* out) {
    F u0[3], du[3], cropLow[3], cropHigh[3];
    for (int j = 0; j < 3; ++j) {
        u0[j] = Load(r.u0[j]);
        du[j] = Load(r.du[j]);
        cropLow[j] = Fill(k.cropLow[j]);
        cropHigh[j] = Fill(k.cropHigh[j]);
    }
    const I first = LoadI(r.first), last = LoadI(r.last);
    M on = GreaterI(LoadI(r.on), FillI(0));
    F c[3] = {Fill(0.0f), Fill(0.0f), Fill(0.0f)}, a = Fill(0.0f), t = Fill(1.0f), extreme = Fill(0.0f);
    F extremes[software_volume::kMostChannels] = {Fill(0.0f), Fill(0.0f), Fill(0.0f), Fill(0.0f)};
    M covered = GreaterI(FillI(0), FillI(0));
    float skipUntil[kLanes];
    for (int l = 0; l < kLanes; ++l)
        skipUntil[l] = -__builtin_inff();
    F skipUntilV = Load(skipUntil);
    I laneBrick = FillI(-1), laneBrickClear = FillI(0);
    int32_t lowest = 0x7fffffff, highest = -1;
    for (int l = 0; l < kLanes; ++l) {
        if (!r.on[l])
            continue;
        lowest = r.first[l] < lowest ? r.first[l] : lowest;
        highest = r.last[l] > highest ? r.last[l] : highest;
    }
    const int32_t step = k.sliceStep > 1 ? k.sliceStep : 1;
    const bool composite = k.mode == 0, maximum = k.mode == 1;
    const F stop = Fill(k.stopTransparency);
    const I rowStride = FillI(k.rowStride), planeStride = FillI(k.planeStride);
    const I one = FillI(1), low16 = FillI(0xffff);

    for (int32_t i = highest < 0 ? -1 : highest - highest % step; i >= lowest && i >= 0;) {
        const I plane = FillI(i);
        on = AndNot(on, LessI(plane, first));
        if (!Any(on))
            break;
        const F z = Fill(k.sliceDepth[i]);
        M take = AndNot(And(on, GreaterEq(z, skipUntilV)), LessI(last, plane));
        if (!Any(take)) {
            i = NextPlane(k, r, Bits(on), skipUntil, i, step);
            continue;
        }
        F u[3];
        for (int j = 0; j < 3; ++j) {
            u[j] = MulAdd(z, du[j], u0[j]);
            take = And(take, And(GreaterEq(u[j], cropLow[j]), LessEq(u[j], cropHigh[j])));
        }
        if (!Any(take)) {
            i -= step;
            continue;
        }
        const AxisCorner x = Corner(u[0], k.dims[0]), y = Corner(u[1], k.dims[1]),
                         zc = Corner(u[2], k.dims[2]);
        // Bricks a lane can pass: clear ones for a composite ray, and for
        // the extremes those whose every sample lies within the extreme
        // found so far (nothing there can change it).
        const int32_t* brickState = composite ? k.clearBrick : k.brickBound;
        if (brickState != nullptr) {
            const I bx = ShiftRight(x.index, 4), by = ShiftRight(y.index, 4), bz = ShiftRight(zc.index, 4);
            const I brick = AddI(MulI(AddI(MulI(bz, FillI(k.bricks[1])), by), FillI(k.bricks[0])), bx);
            // A ray stays in a brick for several planes: its state is read
            // again only where the lane has moved to another.
            const M moved = AndNot(take, EqualI(brick, laneBrick));
            if (Any(moved)) {
                laneBrickClear = SelectI(moved, GatherWord(brickState, brick, moved), laneBrickClear);
                laneBrick = SelectI(moved, brick, laneBrick);
            }
            const F bound = ToFloat(laneBrickClear);
            const M clear = composite ? AndNot(take, EqualI(laneBrickClear, FillI(0)))
                            : maximum ? And(And(take, covered), LessEq(bound, extreme))
                                      : And(And(take, covered), LessEq(extreme, bound));
            if (Any(clear)) {
                // Each lane entering a clear brick waits until it leaves it:
                // BrickExitDepth's depth, lane by lane.
                F exit = Fill(__builtin_inff());
                const I b[3] = {bx, by, bz};
                for (int j = 0; j < 3; ++j) {
                    const M up = Less(Fill(0.0f), du[j]), down = Less(du[j], Fill(0.0f));
                    const I low = ShiftLeft4(b[j]), high = AddI(low, FillI(16));
                    const M inside =
                        Or(And(up, LessI(high, FillI(k.dims[j]))), And(down, GreaterI(low, FillI(0))));
                    const F edge = ToFloat(SelectI(up, high, low));
                    const F bound = Mul(Add(edge, Fill(0.5f)), Fill(1.0f / static_cast<float>(k.dims[j])));
                    const F at = Div(Sub(bound, u0[j]), du[j]);
                    exit = Select(inside, Min(exit, at), exit);
                }
                // Short of it by more than the rounding of the positions; an
                // exit at infinity (NaN here) waits for nothing.
                const F shortOf = Sub(exit, Mul(Fill(1e-4f), Add(Abs(exit), Fill(1.0f))));
                skipUntilV = Select(clear, Max(shortOf, z), skipUntilV);
                Store(skipUntil, skipUntilV);
                take = AndNot(take, clear);
                if (!Any(take)) {
                    i -= step;
                    continue;
                }
            }
        }
        if (k.channels > 1) {
            F values[software_volume::kMostChannels];
            ChannelValues(k, x, y, zc, take, values);
            if (!composite) {
                for (int32_t ch = 0; ch < k.channels; ++ch) {
                    const F here = maximum ? Max(extremes[ch], values[ch]) : Min(extremes[ch], values[ch]);
                    extremes[ch] = Select(take, Select(covered, here, values[ch]), extremes[ch]);
                }
                covered = Or(covered, take);
                i -= step;
                continue;
            }
            // The channels' mix, as the channels' shaders make it: each
            // through its own lookup (lit by its own gradient), the opacity
            // of their layers one behind another, then the frame's
            // correction, the colour weighted by each one's opacity.
            F weighted[3] = {Fill(0.0f), Fill(0.0f), Fill(0.0f)}, sum = Fill(0.0f), clearance = Fill(1.0f);
            M seen = GreaterI(FillI(0), FillI(0));
            ShadingPlace place;
            bool placed = false;
            for (int32_t ch = 0; ch < k.channels; ++ch) {
                const F v = Mul(values[ch], Fill(1.0f / 16.0f));
                const I entry = MinI(Truncate(v), FillI(4095));
                // A channel clear at every lane's value needs no lookup.
                const M maySee = And(take, And(GreaterI(entry, FillI(k.channelSeenFirst[ch] - 1)),
                                               LessI(entry, FillI(k.channelSeenLast[ch] + 1))));
                if (!Any(maySee))
                    continue;
                const F f = Sub(v, ToFloat(entry));
                F e[8];
                LookupPair(k.channelLookup[ch], entry, maySee, e);
                const F alphaAll = MulAdd(f, Sub(e[7], e[3]), e[3]);
                const M seenHere = And(maySee, Less(Fill(0.0f), alphaAll));
                if (!Any(seenHere))
                    continue;
                const F alpha = Select(seenHere, alphaAll, Fill(0.0f));
                F rgb[3];
                for (int cc = 0; cc < 3; ++cc)
                    rgb[cc] = MulAdd(f, Sub(e[4 + cc], e[cc]), e[cc]);
                if (k.shaded) {
                    if (!placed)
                        place = PlaceOfShading(k, u);
                    placed = true;
                    LightAt(place, k.channelGradient[ch], r, seenHere, rgb);
                }
                for (int cc = 0; cc < 3; ++cc)
                    weighted[cc] = MulAdd(alpha, rgb[cc], weighted[cc]);
                sum = Add(sum, alpha);
                clearance = Mul(clearance, Sub(Fill(1.0f), alpha));
                seen = Or(seen, seenHere);
            }
            seen = And(seen, And(Less(Fill(0.0f), Sub(Fill(1.0f), clearance)), Less(Fill(0.0f), sum)));
            if (Any(seen)) {
                const F alpha = Select(seen, Sub(Fill(1.0f), Power(clearance, k.layers)), Fill(0.0f));
                a = MulAdd(Mul(t, alpha), alpha, a);
                const F w = Div(Mul(t, alpha), Select(seen, sum, Fill(1.0f)));
                for (int cc = 0; cc < 3; ++cc)
                    c[cc] = MulAdd(w, weighted[cc], c[cc]);
                t = Mul(t, Sub(Fill(1.0f), alpha));
                on = AndNot(on, LessEq(t, stop));
            }
            i -= step;
            continue;
        }
        // The x neighbours in one 32-bit read: at the last texel the pair
        // before it, weighted fully to its second.
        const I x0 = MinI(x.index, FillI(k.dims[0] - 2));
        const F fx = Sub(x.position, ToFloat(x0));
        const I dy = AndI(MaskI(LessI(AddI(y.index, one), FillI(k.dims[1]))), rowStride);
        const I dz = AndI(MaskI(LessI(AddI(zc.index, one), FillI(k.dims[2]))), planeStride);
        const I at = AddI(AddI(x0, MulI(y.index, rowStride)), MulI(zc.index, planeStride));
        const I p00 = GatherPair(k.texels, at, take), p10 = GatherPair(k.texels, AddI(at, dy), take);
        const I p01 = GatherPair(k.texels, AddI(at, dz), take),
                p11 = GatherPair(k.texels, AddI(AddI(at, dy), dz), take);
        const auto line = [&](I pair) {
            const F q0 = ToFloat(AndI(pair, low16)), q1 = ToFloat(ShiftRight(pair, 16));
            return MulAdd(fx, Sub(q1, q0), q0);
        };
        const F c00 = line(p00), c10 = line(p10), c01 = line(p01), c11 = line(p11);
        const F c0 = MulAdd(y.weight, Sub(c10, c00), c00), c1 = MulAdd(y.weight, Sub(c11, c01), c01);
        const F value = MulAdd(zc.weight, Sub(c1, c0), c0);
        if (!composite) {
            const F extremeHere = maximum ? Max(extreme, value) : Min(extreme, value);
            extreme = Select(take, Select(covered, extremeHere, value), extreme);
            covered = Or(covered, take);
            i -= step;
            continue;
        }
        // The lookup between the two 12-bit values around the sample.
        const F v = Mul(value, Fill(1.0f / 16.0f));
        const I entry = MinI(Truncate(v), FillI(4095));
        const F f = Sub(v, ToFloat(entry));
        // A value clear in the lookup (air in a brick that is not clear)
        // needs no lookup.
        const M maySee =
            And(take, And(GreaterI(entry, FillI(k.seenFirst - 1)), LessI(entry, FillI(k.seenLast + 1))));
        if (!Any(maySee)) {
            i -= step;
            continue;
        }
        F e[8];
        LookupPair(k.lookup, entry, maySee, e);
        const F alphaAll = MulAdd(f, Sub(e[7], e[3]), e[3]);
        const M seen = And(maySee, Less(Fill(0.0f), alphaAll));
        if (Any(seen)) {
            const F alpha = Select(seen, alphaAll, Fill(0.0f));
            F rgb[3];
            for (int ch = 0; ch < 3; ++ch)
                rgb[ch] = MulAdd(f, Sub(e[4 + ch], e[ch]), e[ch]);
            if (k.shaded)
                Light(k, k.gradient, r, u, seen, rgb);
            a = MulAdd(Mul(t, alpha), alpha, a);
            const F w = Mul(t, alpha);
            for (int ch = 0; ch < 3; ++ch)
                c[ch] = MulAdd(w, rgb[ch], c[ch]);
            t = Mul(t, Sub(Fill(1.0f), alpha));
            on = AndNot(on, LessEq(t, stop));
        }
        i -= step;
    }
    for (int ch = 0; ch < 3; ++ch)
        Store(out->c[ch], c[ch]);
    Store(out->a, a);
    Store(out->t, t);
    Store(out->extreme, extreme);
    for (int ch = 0; ch < software_volume::kMostChannels; ++ch)
        Store(out->extremes[ch], extremes[ch]);
    StoreI(out->covered, AndI(MaskI(covered), one));
}
