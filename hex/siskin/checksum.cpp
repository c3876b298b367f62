// Checksum results. Each entry sums its range, start to end inclusive, by one
// of these algorithms (s the 32-bit running value, v a byte, a its address):
//
//   1..4    s += v << 8*(a mod 1, 2, 256 mod 3, 4): bytes, little-endian 16-bit
//           words, 24-bit groups and 32-bit words; s starts at the "+" value
//  -1..-4   the same with subtraction
//   5, -5   a CRC with the "+" value as polynomial, data entering at bit 16,
//           shifting left (bit 24 fed back into bit 0) or right
//   6, -6   a CRC over 16-bit words, rotating left or shifting right
//   7       Fletcher-16 over bytes, result s | f << 8
//   8       Fletcher-32 over little-endian 16-bit words, result s | f << 16
//
// The Fletcher sums are the true ones: sums modulo 255 (65535) with the
// end-around carry, so a nonzero sum that is a multiple of the modulus shows
// as 0xFF (0xFFFF), as every other Fletcher implementation gives it.
//
// Addresses without data (unused or deleted bytes, and whole 64-byte blocks
// never created) count as zero bytes and earn warning 963. Runs of absent
// blocks are summed without visiting every address where the algorithm
// allows it.
//
// An entry waits while its range holds a byte reserved for another checksum;
// passes are made until one computes nothing, so a checksum over another's
// result comes after it. What still waits then can never be computed (945).
#include "siskin.h"

#include <algorithm>
#include <cstring>

#include "common.h"

struct ck_state {
    int algorithm;
    uint32_t s;          // running value of algorithms 1..6
    uint32_t poly;       // CRC polynomial (0 when the "+" value is too wide)
    uint64_t sum1;       // Fletcher sums, reduced modulo `modulus`
    uint64_t sum2;
    bool sum1_nonzero;   // a Fletcher sum ever took a nonzero value
    bool sum2_nonzero;
    uint64_t modulus;
    bool half_word;      // Fletcher-32: a low byte waits for its high byte
};

bool checksum_algorithm_known(int algorithm)
{
    return (algorithm >= 1 && algorithm <= 8) || (algorithm >= -6 && algorithm <= -1);
}

// One step of the CRC of algorithm 5: feed back, shift left, bit 24 to bit 0.
static uint32_t crc5_step(uint32_t s, uint32_t p)
{
    if (s & 1)
        s ^= p;
    s <<= 1;
    if (s & 0x1000000)
        s |= 1;
    return s;
}

// A step of algorithms -5 and -6: feed back, shift right.
static uint32_t crc_right_step(uint32_t s, uint32_t p)
{
    if (s & 1)
        s ^= p;
    return s >> 1;
}

// A step of algorithm 6: feed back, rotate left.
static uint32_t crc6_step(uint32_t s, uint32_t p)
{
    if (s & 1)
        s ^= p;
    return (s << 1) | (s >> 31);
}

typedef uint32_t (*crc_step_t)(uint32_t s, uint32_t p);

// A 32x32 bit matrix, one column per bit of the state, applied to s.
static uint32_t matrix_apply(const uint32_t m[32], uint32_t s)
{
    uint32_t r = 0;
    for (int i = 0; s; i++, s >>= 1)
        if (s & 1)
            r ^= m[i];
    return r;
}

// The state after `steps` steps without new data. Each step is linear in
// the bits of the state (the polynomial is fixed), so it is a bit matrix,
// and its powers come by repeated squaring: a run of zero bytes as long as
// the whole address space costs a few thousand operations.
static uint32_t crc_skip(uint32_t s, uint32_t p, crc_step_t step, uint64_t steps)
{
    uint32_t m[32];
    for (int i = 0; i < 32; i++)
        m[i] = step(1u << i, p);
    while (steps && s) {
        if (steps & 1)
            s = matrix_apply(m, s);
        steps >>= 1;
        if (steps) {
            uint32_t square[32];
            for (int i = 0; i < 32; i++)
                square[i] = matrix_apply(m, m[i]);
            memcpy(m, square, sizeof m);
        }
    }
    return s;
}

static void fletcher_add1(ck_state &st, uint64_t v)
{
    st.sum1 = (st.sum1 + v) % st.modulus;
    st.sum1_nonzero |= v != 0;
}

static void fletcher_add2(ck_state &st)
{
    st.sum2 = (st.sum2 + st.sum1) % st.modulus;
    st.sum2_nonzero |= st.sum1_nonzero;
}

// Feeds one byte.
static void ck_byte(ck_state &st, uint32_t a, uint32_t v)
{
    switch (st.algorithm) {
    case 1: st.s += v; break;
    case 2: st.s += v << (8 * (a % 2)); break;
    case 3: st.s += v << (8 * ((a % 256) % 3)); break;
    case 4: st.s += v << (8 * (a % 4)); break;
    case -1: st.s -= v; break;
    case -2: st.s -= v << (8 * (a % 2)); break;
    case -3: st.s -= v << (8 * ((a % 256) % 3)); break;
    case -4: st.s -= v << (8 * (a % 4)); break;
    case 5:
        st.s |= v << 16;
        for (int i = 0; i < 8; i++)
            st.s = crc5_step(st.s, st.poly);
        break;
    case -5:
        st.s |= v << 16;
        for (int i = 0; i < 8; i++)
            st.s = crc_right_step(st.s, st.poly);
        break;
    case 6:
        st.s |= v << (a % 2 ? 16 : 24);
        if (a % 2)
            for (int i = 0; i < 16; i++)
                st.s = crc6_step(st.s, st.poly);
        break;
    case -6:
        st.s |= v << (a % 2 ? 24 : 16);
        if (a % 2)
            for (int i = 0; i < 16; i++)
                st.s = crc_right_step(st.s, st.poly);
        break;
    case 7:
        fletcher_add1(st, v);
        fletcher_add2(st);
        break;
    case 8:
        fletcher_add1(st, (uint64_t)v << (8 * (a % 2)));
        st.half_word = a % 2 == 0;
        if (!st.half_word)
            fletcher_add2(st);
        break;
    }
}

// Feeds n zero bytes from address a on without visiting each: sums do not
// move, a CRC makes its steps without data (8 per byte; 16 per odd address
// for the word CRCs), and a Fletcher second sum grows by the first sum once
// per byte (per word for Fletcher-32).
static void ck_zeros(ck_state &st, uint64_t a, uint64_t n)
{
    if (n == 0)
        return;
    if (st.algorithm == 7 || st.algorithm == 8) {
        uint64_t adds = st.algorithm == 7 ? n : (a + n) / 2 - a / 2;   // odd addresses
        st.sum2 = (st.sum2 + (adds % st.modulus) * st.sum1) % st.modulus;
        st.sum2_nonzero |= st.sum1_nonzero && adds > 0;
        if (st.algorithm == 8)
            st.half_word = (a + n - 1) % 2 == 0;
        return;
    }
    uint64_t odd = (a + n) / 2 - a / 2;   // odd addresses in [a, a + n)
    switch (st.algorithm) {
    case 5: st.s = crc_skip(st.s, st.poly, crc5_step, 8 * n); break;
    case -5: st.s = crc_skip(st.s, st.poly, crc_right_step, 8 * n); break;
    case 6: st.s = crc_skip(st.s, st.poly, crc6_step, 16 * odd); break;
    case -6: st.s = crc_skip(st.s, st.poly, crc_right_step, 16 * odd); break;
    }
}

// A Fletcher sum as the end-around carry leaves it.
static uint64_t fletcher_value(uint64_t sum, bool nonzero, uint64_t modulus)
{
    return nonzero && sum == 0 ? modulus : sum;
}

static uint32_t ck_finish(ck_state &st)
{
    switch (st.algorithm) {
    case 5:
        for (int i = 0; i < 15; i++)
            st.s = crc5_step(st.s, st.poly);
        break;
    case -5:
    case -6:
        for (int i = 0; i < 15; i++)
            st.s = crc_right_step(st.s, st.poly);
        break;
    case 6:
        for (int i = 0; i < 15; i++)
            st.s = crc6_step(st.s, st.poly);
        break;
    case 7:
        return (uint32_t)(fletcher_value(st.sum1, st.sum1_nonzero, 255) |
                          fletcher_value(st.sum2, st.sum2_nonzero, 255) << 8);
    case 8:
        // A last word with only its low byte counts as a word padded with 0.
        if (st.half_word)
            fletcher_add2(st);
        return (uint32_t)(fletcher_value(st.sum1, st.sum1_nonzero, 65535) |
                          fletcher_value(st.sum2, st.sum2_nonzero, 65535) << 16);
    }
    return st.s;
}

uint32_t checksum_compute(const sk_checksum &c, bool *voids)
{
    ck_state st = {};
    st.algorithm = c.algorithm;
    if (c.algorithm >= -4 && c.algorithm <= 4)
        st.s = c.initial;
    st.poly = c.initial <= 0xFFFF ? c.initial : 0;
    st.modulus = c.algorithm == 7 ? 255 : 65535;
    *voids = false;
    uint64_t a = c.start;
    while (a <= c.end) {
        sk_block *b = image_block_from((uint32_t)a);
        uint64_t gap_end = b ? std::min<uint64_t>(b->base, (uint64_t)c.end + 1) : (uint64_t)c.end + 1;
        if (gap_end > a) {
            ck_zeros(st, a, gap_end - a);
            *voids = true;
            a = gap_end;
            continue;
        }
        uint64_t last = std::min<uint64_t>((uint64_t)b->base + SK_BLOCK_SIZE - 1, c.end);
        for (; a <= last; a++) {
            const sk_slot &s = b->slots[a - b->base];
            unsigned k = kind_of(s.kind);
            bool empty = k == SK_UNUSED || k == SK_DELETED;
            *voids |= empty;
            ck_byte(st, (uint32_t)a, empty ? 0 : s.data);
        }
    }
    uint32_t r = ck_finish(st);
    return c.width >= 4 ? r : r & ((1u << (8 * c.width)) - 1);
}

// True while the range holds a byte reserved for a checksum result.
static bool range_has_reserved(uint32_t start, uint32_t end)
{
    for (sk_block *b = image_block_from(start); b && b->base <= end; b = b->next)
        for (unsigned i = 0; i < SK_BLOCK_SIZE; i++) {
            uint64_t a = (uint64_t)b->base + i;
            if (a >= start && a <= end && kind_of(b->slots[i].kind) == SK_RESERVED)
                return true;
        }
    return false;
}

// The result bytes at the destination, between the trailing codes' places.
static void checksum_store(const sk_checksum &c)
{
    uint8_t kind = (uint8_t)(SK_RESULT | (c.forced ? SK_FORCED : 0));
    uint32_t addr = c.dest;
    for (unsigned i = 0; i < c.width; i++) {
        unsigned shift = 8 * (c.big_endian ? c.width - 1 - i : i);
        image_store(addr, (uint8_t)(c.result >> shift), kind);
        addr += 1 + c.trailing_bytes;
    }
}

void checksum_results()
{
    bool progress = true;
    while (progress) {
        progress = false;
        for (sk_checksum &c : checksums) {
            if (c.state != CK_PENDING || range_has_reserved(c.start, c.end))
                continue;
            bool voids;
            c.result = checksum_compute(c, &voids);
            if (voids)
                msg_report(963);
            c.state = CK_DONE;
            checksum_store(c);
            progress = true;
        }
    }
    for (const sk_checksum &c : checksums)
        if (c.state == CK_PENDING) {
            msg_report(945, (unsigned)c.start, (unsigned)c.end);
            tool_exit(1);
        }
}
