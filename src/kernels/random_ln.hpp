// The natural logarithm of the polar method, written with separately rounded IEEE operations
// only, so it gives the same bits at every level and on every platform, and accurate to the last
// bit in all but rare near-halfway cases. It serves normal positive arguments (the polar method
// passes 2^-62 <= s < 1). Included inside each level's namespace (and by the tests), after
// <cstdint> and <cstring>.
//
// s = 2^k * m, m in [0.6875, 1.375); m = c * (1 + r) with 1/c from a 128-entry table of short
// numbers, so m * (1/c) - 1 splits exactly into two doubles. ln s = k ln2 + ln c + ln(1 + r):
// the large parts are summed with error-free additions, the series' square term is formed
// exactly, and only the tail of the series and the low words are rounded normally.
#pragma once

struct ln_entry {
    double invc;     // 1/c, at most 11 significant bits; 1 for the two intervals around 1
    double logc_hi;  // ln c on a 2^-42 grid, so k ln2_hi + logc_hi is exact
    double logc_lo;  // ln c - logc_hi, from a 80-digit evaluation
};

inline constexpr ln_entry ln_table[128] = {
    {0x1.7340000000000p+0, -0x1.7c9e7703f9000p-2, 0x1.82d5517117a8cp-45},
    {0x1.7140000000000p+0, -0x1.77166c7440000p-2, -0x1.2d333f054aa72p-45},
    {0x1.6f40000000000p+0, -0x1.7186b11381000p-2, -0x1.934e2677d272bp-46},
    {0x1.6d00000000000p+0, -0x1.6b3bb22359000p-2, -0x1.0f6257a933268p-44},
    {0x1.6b00000000000p+0, -0x1.659b57303e000p-2, -0x1.f281db0af8efcp-46},
    {0x1.6900000000000p+0, -0x1.5ff3070a79000p-2, -0x1.e9e439f105039p-45},
    {0x1.6700000000000p+0, -0x1.5a42ab0f4d000p-2, 0x1.e63af2df7ba69p-50},
    {0x1.6540000000000p+0, -0x1.5541aec91c000p-2, 0x1.816aadc72eeb9p-48},
    {0x1.6340000000000p+0, -0x1.4f81fe4764000p-2, 0x1.7fcf6434ff08dp-45},
    {0x1.6140000000000p+0, -0x1.49b9feb7c1000p-2, -0x1.dac1c58ab60d7p-44},
    {0x1.5f80000000000p+0, -0x1.44a41b463c000p-2, -0x1.1ee28f37cf612p-44},
    {0x1.5d80000000000p+0, -0x1.3ecc460ef6000p-2, 0x1.6028627c1300fp-47},
    {0x1.5bc0000000000p+0, -0x1.39a8619f45000p-2, -0x1.8ee51937354f5p-46},
    {0x1.59c0000000000p+0, -0x1.33c05f128e000p-2, 0x1.2b906380e1a7dp-45},
    {0x1.5800000000000p+0, -0x1.2e8e2bae12000p-2, 0x1.67b1e99b72bd8p-45},
    {0x1.5640000000000p+0, -0x1.29552f81ff000p-2, -0x1.48d301771c408p-44},
    {0x1.5480000000000p+0, -0x1.241558bfd1000p-2, -0x1.00fff3228fcadp-44},
    {0x1.52c0000000000p+0, -0x1.1ece95528b000p-2, 0x1.84e7b09b4a3b8p-46},
    {0x1.5100000000000p+0, -0x1.1980d2dd42000p-2, -0x1.b7b3a7a361c9ap-45},
    {0x1.4f40000000000p+0, -0x1.142bfeb9a0000p-2, -0x1.1ce6185b58a9ep-44},
    {0x1.4d80000000000p+0, -0x1.0ed005f658000p-2, 0x1.2dc75285aa803p-45},
    {0x1.4bc0000000000p+0, -0x1.096cd55591000p-2, -0x1.f998d20550a31p-44},
    {0x1.4a40000000000p+0, -0x1.04c8de1842000p-2, 0x1.fe6ba512ceb86p-46},
    {0x1.4880000000000p+0, -0x1.feb0233e60000p-3, -0x1.f316e32d5e8c7p-45},
    {0x1.46c0000000000p+0, -0x1.f3bfa934d6000p-3, -0x1.d9f2a937b903bp-45},
    {0x1.4540000000000p+0, -0x1.ea5349e23a000p-3, -0x1.81b934c73ccb5p-44},
    {0x1.43c0000000000p+0, -0x1.e0dbc3d92a000p-3, -0x1.59233f0529bf1p-44},
    {0x1.4200000000000p+0, -0x1.d5c216b4fc000p-3, 0x1.1ba91bbca681bp-45},
    {0x1.4080000000000p+0, -0x1.cc320c0176000p-3, -0x1.409039a653794p-45},
    {0x1.3f00000000000p+0, -0x1.c2968558c2000p-3, 0x1.cfd73dee38a40p-45},
    {0x1.3d40000000000p+0, -0x1.b7526a22e4000p-3, -0x1.c0dbf2e785490p-45},
    {0x1.3bc0000000000p+0, -0x1.ad9da1f828000p-3, 0x1.882b7c803f050p-44},
    {0x1.3a40000000000p+0, -0x1.a3dd04b938000p-3, -0x1.97da1366e2c5ap-45},
    {0x1.38c0000000000p+0, -0x1.9a10756988000p-3, -0x1.64aa6242cd098p-45},
    {0x1.3740000000000p+0, -0x1.9037d6a180000p-3, -0x1.30dea57c1c8d9p-45},
    {0x1.35c0000000000p+0, -0x1.86530a8c70000p-3, -0x1.98bb0cb4ea3e3p-44},
    {0x1.3480000000000p+0, -0x1.7e0afd630c000p-3, -0x1.39e7c1d8f1034p-46},
    {0x1.3300000000000p+0, -0x1.740f8f5404000p-3, 0x1.0b66c99018aa1p-44},
    {0x1.3180000000000p+0, -0x1.6a079d0f7a000p-3, -0x1.5a3f8448d14f5p-44},
    {0x1.3000000000000p+0, -0x1.5ff3070a7a000p-3, 0x1.8586f183bebf2p-44},
    {0x1.2ec0000000000p+0, -0x1.5782cb3092000p-3, 0x1.3a46351794442p-44},
    {0x1.2d40000000000p+0, -0x1.4d56b5798e000p-3, -0x1.8058015a96555p-44},
    {0x1.2c00000000000p+0, -0x1.44d2b6ccb8000p-3, 0x1.70cc16135783cp-46},
    {0x1.2a80000000000p+0, -0x1.3a8eb2d31a000p-3, -0x1.bafb77d5d503ep-46},
    {0x1.2940000000000p+0, -0x1.31f693eb1a000p-3, 0x1.a6726e5a396fbp-45},
    {0x1.27c0000000000p+0, -0x1.279a300ab4000p-3, -0x1.ef432b3235108p-44},
    {0x1.2680000000000p+0, -0x1.1eed90e2dc000p-3, -0x1.615637097648fp-46},
    {0x1.2540000000000p+0, -0x1.16377fb124000p-3, -0x1.91e1abf41763ep-47},
    {0x1.2400000000000p+0, -0x1.0d77e7cd08000p-3, -0x1.cb2cd2ee2f482p-44},
    {0x1.22c0000000000p+0, -0x1.04aeb449f6000p-3, -0x1.afa9065ccd35cp-45},
    {0x1.2140000000000p+0, -0x1.f42dba3a24000p-4, 0x1.312b732df6c0dp-44},
    {0x1.2000000000000p+0, -0x1.e27076e2b0000p-4, 0x1.a342c2af0003cp-45},
    {0x1.1ec0000000000p+0, -0x1.d09f72b4c4000p-4, -0x1.048c000354e33p-45},
    {0x1.1d80000000000p+0, -0x1.beba818148000p-4, 0x1.89b78b6df1f57p-44},
    {0x1.1c40000000000p+0, -0x1.acc1768434000p-4, 0x1.aa783a0b7fa4cp-45},
    {0x1.1b00000000000p+0, -0x1.9ab4246204000p-4, 0x1.8a64826787061p-45},
    {0x1.1a00000000000p+0, -0x1.8c345d6318000p-4, -0x1.b20f5acb42a66p-44},
    {0x1.18c0000000000p+0, -0x1.7a0216f648000p-4, -0x1.e124ca18418ffp-44},
    {0x1.1780000000000p+0, -0x1.67bb0726ec000p-4, -0x1.f724b69ef5912p-49},
    {0x1.1640000000000p+0, -0x1.555efe40b4000p-4, -0x1.0b4978c868e23p-44},
    {0x1.1500000000000p+0, -0x1.42edcbea64000p-4, -0x1.bc0eeea7c9acdp-46},
    {0x1.1400000000000p+0, -0x1.341d7961bc000p-4, -0x1.1d09299837610p-44},
    {0x1.12c0000000000p+0, -0x1.2185b3b75c000p-4, 0x1.e3189f8f32304p-44},
    {0x1.11c0000000000p+0, -0x1.1296444030000p-4, 0x1.d53bb751aa773p-44},
    {0x1.1080000000000p+0, -0x1.ffae9119b8000p-5, -0x1.303374262c554p-45},
    {0x1.0f40000000000p+0, -0x1.da0478be38000p-5, -0x1.252c7b1f6fe05p-45},
    {0x1.0e40000000000p+0, -0x1.bbc2bfc450000p-5, 0x1.7d18691417dafp-46},
    {0x1.0d40000000000p+0, -0x1.9d644fdff8000p-5, -0x1.13c90539a473bp-44},
    {0x1.0c00000000000p+0, -0x1.77458f6330000p-5, 0x1.181dce586af09p-44},
    {0x1.0b00000000000p+0, -0x1.58a5bafc90000p-5, 0x1.b2b739570ad39p-45},
    {0x1.09c0000000000p+0, -0x1.32348c7000000p-5, -0x1.696db90b1e49fp-45},
    {0x1.08c0000000000p+0, -0x1.1352378598000p-5, 0x1.c1ac3b71fa59bp-46},
    {0x1.07c0000000000p+0, -0x1.e8a3ee30d0000p-6, 0x1.1a9fa3de53900p-45},
    {0x1.06c0000000000p+0, -0x1.aa6721ee80000p-6, -0x1.ad4eb5c5af494p-45},
    {0x1.0580000000000p+0, -0x1.5c45a51b90000p-6, 0x1.63bb6216d87d8p-45},
    {0x1.0480000000000p+0, -0x1.1d7f7eb9f0000p-6, 0x1.4193a83fcc7a6p-46},
    {0x1.0380000000000p+0, -0x1.bcf712c740000p-7, -0x1.c25e097bd9771p-46},
    {0x1.0280000000000p+0, -0x1.3e7295d260000p-7, 0x1.609c1ff29a114p-45},
    {0x1.0180000000000p+0, -0x1.7ee11ebd80000p-8, -0x1.749d3c2d23a07p-47},
    {0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0},
    {0x1.0000000000000p+0, 0x0.0p+0, 0x0.0p+0},
    {0x1.fa00000000000p-1, 0x1.82448a3880000p-7, 0x1.4554412c584e0p-44},
    {0x1.f600000000000p-1, 0x1.432a925980000p-6, 0x1.98139928637fep-47},
    {0x1.f280000000000p-1, 0x1.b5cc258b70000p-6, 0x1.8e611b8afbfe8p-46},
    {0x1.ee80000000000p-1, 0x1.1ce5a62bc0000p-5, 0x1.a9cc78d8df999p-44},
    {0x1.eb00000000000p-1, 0x1.5715c4c040000p-5, -0x1.8888ddfc47628p-44},
    {0x1.e780000000000p-1, 0x1.91b073efd8000p-5, -0x1.9d7c53f76ca96p-46},
    {0x1.e380000000000p-1, 0x1.d52ed64060000p-5, -0x1.3c85d2a29bbd6p-44},
    {0x1.e000000000000p-1, 0x1.08598b59e4000p-4, -0x1.7e5dd7009902cp-46},
    {0x1.dc80000000000p-1, 0x1.26536c3d8c000p-4, 0x1.b4bac097c5ba3p-47},
    {0x1.d900000000000p-1, 0x1.4485e03dbc000p-4, 0x1.fad46e8d26ab7p-44},
    {0x1.d600000000000p-1, 0x1.5e95a4d978000p-4, 0x1.1cb7ce1d17171p-44},
    {0x1.d280000000000p-1, 0x1.7d33687c28000p-4, 0x1.3c88c3e706706p-44},
    {0x1.cf00000000000p-1, 0x1.9c0c32d4d4000p-4, -0x1.ab7c09e838668p-44},
    {0x1.cc00000000000p-1, 0x1.b6ac88dad4000p-4, 0x1.b1bdff50225c7p-44},
    {0x1.c880000000000p-1, 0x1.d5f5565920000p-4, 0x1.0e239cc185469p-44},
    {0x1.c580000000000p-1, 0x1.f0f70cdd98000p-4, 0x1.2e31f6c272c1ep-44},
    {0x1.c280000000000p-1, 0x1.06135354d4000p-3, 0x1.6304628340ee9p-44},
    {0x1.bf80000000000p-1, 0x1.13c2605c3a000p-3, -0x1.cf5fdd94f6509p-45},
    {0x1.bc80000000000p-1, 0x1.2188fd9808000p-3, -0x1.b3a1e7f50c701p-44},
    {0x1.b980000000000p-1, 0x1.2f677cbbc0000p-3, 0x1.52b302160f40dp-44},
    {0x1.b680000000000p-1, 0x1.3d5e3126bc000p-3, 0x1.3fb2f85096c4bp-46},
    {0x1.b380000000000p-1, 0x1.4b6d6fefe2000p-3, 0x1.522ecf56e7952p-46},
    {0x1.b080000000000p-1, 0x1.59958ff1d6000p-3, -0x1.a1d059769ca05p-44},
    {0x1.ad80000000000p-1, 0x1.67d6e9d786000p-3, -0x1.11e8830a706d3p-44},
    {0x1.ab00000000000p-1, 0x1.73cb9074fe000p-3, -0x1.d66a90d0005a6p-44},
    {0x1.a800000000000p-1, 0x1.823c16551a000p-3, 0x1.e0ddb9a631e83p-46},
    {0x1.a580000000000p-1, 0x1.8e588ebac2000p-3, 0x1.b7d5cab2d1140p-44},
    {0x1.a300000000000p-1, 0x1.9a8778deba000p-3, 0x1.470fa3efec390p-44},
    {0x1.a000000000000p-1, 0x1.a93ed3c8ae000p-3, -0x1.8724350562169p-45},
    {0x1.9d80000000000p-1, 0x1.b5971a213a000p-3, 0x1.9b50e83aa91dfp-44},
    {0x1.9b00000000000p-1, 0x1.c2028ab180000p-3, -0x1.92e0ee55c7ac6p-45},
    {0x1.9880000000000p-1, 0x1.ce816157f2000p-3, -0x1.9e0aba2099515p-45},
    {0x1.9600000000000p-1, 0x1.db13db0d48000p-3, 0x1.2806a847527e6p-44},
    {0x1.9380000000000p-1, 0x1.e7ba35eb78000p-3, -0x1.d5eee23793649p-47},
    {0x1.9100000000000p-1, 0x1.f474b134e0000p-3, -0x1.bae49f1df7b5ep-44},
    {0x1.8e80000000000p-1, 0x1.00a1c6adda000p-2, 0x1.1cd8d688b9e18p-44},
    {0x1.8c00000000000p-1, 0x1.07138604d6000p-2, -0x1.e76324e912b17p-44},
    {0x1.8980000000000p-1, 0x1.0d8fb813eb000p-2, 0x1.ee8c88753fa35p-46},
    {0x1.8780000000000p-1, 0x1.12c77cd007000p-2, 0x1.3b2948a11f797p-46},
    {0x1.8500000000000p-1, 0x1.1956d3b9bc000p-2, 0x1.7d2f73ad1aa14p-45},
    {0x1.8280000000000p-1, 0x1.1ff0fe7cf4000p-2, 0x1.e9d5b513ff0c1p-44},
    {0x1.8080000000000p-1, 0x1.25410494e5000p-2, 0x1.b1d7ac0ef77f2p-44},
    {0x1.7e00000000000p-1, 0x1.2bef07cdc9000p-2, 0x1.a9cfa4a5004f4p-45},
    {0x1.7c00000000000p-1, 0x1.314f1e1d36000p-2, -0x1.8e27ad3213cb8p-45},
    {0x1.7980000000000p-1, 0x1.3811728565000p-2, -0x1.a71e493a0702bp-45},
    {0x1.7780000000000p-1, 0x1.3d81fb5947000p-2, -0x1.22c7c2a9d37a4p-45},
    {0x1.7580000000000p-1, 0x1.42f9f3ff62000p-2, 0x1.906440f7d3354p-44}
};

inline constexpr double ln2_hi = 0x1.62e42fefa3800p-1;  // on the 2^-42 grid
inline constexpr double ln2_lo = 0x1.ef35793c76730p-45;
inline constexpr uint64_t ln_offset = 0x3fe6000000000000ull;  // bits of 0.6875
inline constexpr uint64_t ln_exponent_mask = 0xfffull << 52;
inline constexpr uint64_t ln_split_mask = ~((uint64_t(1) << 27) - 1);  // keeps 26 significant bits

// The error-free sum a + b = hi + err.
template <class V>
inline void two_sum(V a, V b, V& hi, V& err) {
    hi = a + b;
    const V bb = hi - a;
    err = (a - (hi - bb)) + (b - bb);
}

// The arithmetic shared by the scalar and vector forms: m and its 26-bit head mhi, k as a
// double, and the table entry's three values.
template <class V>
inline V ln_from_parts(V m, V mhi, V kd, V invc, V logc_hi, V logc_lo) {
    // r = m / c - 1 = t + rl exactly: mhi * invc has at most 37 bits, and its distance to 1 is
    // representable; the tail of m times invc has at most 38.
    const V t = mhi * invc - 1.0;
    const V rl = (m - mhi) * invc;
    V rh, rlo;
    two_sum(t, rl, rh, rlo);
    // rh^2 = sq + sqe exactly (Dekker's product: no fused multiply-add needed).
    const V split = rh * 134217729.0;
    const V hh = split - (split - rh);
    const V ll = rh - hh;
    const V sq = rh * rh;
    const V sqe = ((hh * hh - sq) + (hh * ll) * 2.0) + ll * ll;
    // ln(1 + r) = r - r^2/2 + r^3 * tail(r), |r| <= 2^-7; the tail is truncated after r^11.
    const V tail =
        0x1.5555555555555p-2 +
        rh * (-0.25 + rh * (0.2 + rh * (-0x1.5555555555555p-3 +
        rh * (0x1.2492492492492p-3 + rh * (-0.125 + rh * (0x1.c71c71c71c71cp-4 +
        rh * (-0.1 + rh * 0x1.745d1745d1746p-4)))))));
    const V cube_tail = (sq * rh) * tail;
    const V t1 = kd * ln2_hi + logc_hi;  // exact
    V h1, e1, h2, e2;
    two_sum(t1, rh, h1, e1);
    two_sum(h1, sq * -0.5, h2, e2);
    const V lo = ((((cube_tail + sqe * -0.5) + (rlo - rh * rlo)) + (kd * ln2_lo + logc_lo)) + (e1 + e2));
    return h2 + lo;
}

inline double ln_scalar(double s) {
    uint64_t bits;
    std::memcpy(&bits, &s, sizeof bits);
    const uint64_t tmp = bits - ln_offset;
    const ln_entry& e = ln_table[(tmp >> 45) & 127];
    const uint64_t iz = bits - (tmp & ln_exponent_mask);
    const uint64_t izh = iz & ln_split_mask;
    double m, mhi;
    std::memcpy(&m, &iz, sizeof m);
    std::memcpy(&mhi, &izh, sizeof mhi);
    const double kd = static_cast<double>(static_cast<int64_t>(tmp) >> 52);
    return ln_from_parts(m, mhi, kd, e.invc, e.logc_hi, e.logc_lo);
}

// The same for a vector of doubles VD with same-width 64-bit integer vectors VU (unsigned) and
// VI (signed): bit for bit the scalar result in every lane. gather(column, index) loads
// column[index[l]] into lane l, where a column is one field of the table (stride 3 doubles).
template <class VD, class VU, class VI, class Gather>
inline VD ln_vector(VD s, Gather gather) {
    const VU bits = reinterpret_cast<VU>(s);
    const VU tmp = bits - ln_offset;
    const VU idx = ((tmp >> 45) & 127) * 3;
    const VU iz = bits - (tmp & ln_exponent_mask);
    const VD m = reinterpret_cast<VD>(iz);
    const VD mhi = reinterpret_cast<VD>(iz & ln_split_mask);
    // k to double through the 1.5 * 2^52 bias: integer add, then one exact subtraction.
    const VI k = reinterpret_cast<VI>(tmp) >> 52;
    const VD kd = reinterpret_cast<VD>(reinterpret_cast<VU>(k) + 0x4338000000000000ull) - 0x1.8p52;
    return ln_from_parts(m, mhi, kd, gather(&ln_table[0].invc, idx), gather(&ln_table[0].logc_hi, idx),
                         gather(&ln_table[0].logc_lo, idx));
}
