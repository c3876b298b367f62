// Switch statements compiled by the installed chain and run in gpsim: every
// selector value of a byte through the compare chain, through the jump
// table of "#pragma switch direct" and through the choice of "auto";
// 16-, 24- and 32-bit selectors at the edges of the table's range and just
// outside it in every byte; a table that straddles a 256-word boundary;
// the 12-bit cores (which keep the chain); duplicate and missing cases.
// The host walks the same arms to work out every expected value.
#include "csim.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

void tool_exit(int) {}

namespace {

// One arm of a switch: its case labels (and the default's, when it holds
// it), then "r = r + r + add;" and a break unless it falls through.
struct arm {
    std::vector<int64_t> values;
    bool is_default = false;
    int add = 0;
    bool brk = true;
};

// What the switch leaves in r (starting from 1) for selector x: the arm
// whose label matches, else the default's, then arms on until a break.
unsigned host_switch(const std::vector<arm> &arms, int64_t x)
{
    size_t entry = arms.size();
    for (size_t i = 0; i < arms.size() && entry == arms.size(); i++)
        for (int64_t v : arms[i].values)
            if (v == x)
                entry = i;
    for (size_t i = 0; i < arms.size() && entry == arms.size(); i++)
        if (arms[i].is_default)
            entry = i;
    unsigned r = 1;
    for (size_t i = entry; i < arms.size(); i++) {
        r = (r * 2 + (unsigned)arms[i].add) & 0xFF;
        if (arms[i].brk)
            break;
    }
    return r;
}

std::string literal(int64_t v, const std::string &type)
{
    if (v == INT32_MIN)
        return "(" + type + ")(-2147483647L - 1)";
    return "(" + type + ")" + std::to_string(v) + (v > 32767 || v < -32768 ? "L" : "");
}

// A function "unsigned char name(type x)" holding the switch, under the
// pragma kind ("" for none).
std::string c_switch(const std::string &name, const std::string &type, const std::vector<arm> &arms,
                     const std::string &kind)
{
    std::ostringstream s;
    s << "unsigned char " << name << "(" << type << " x)\n{\n    unsigned char r = 1;\n";
    if (!kind.empty())
        s << "#pragma switch " << kind << "\n";
    s << "    switch (x) {\n";
    for (const arm &a : arms) {
        for (int64_t v : a.values)
            s << "    case " << literal(v, type) << ":\n";
        if (a.is_default)
            s << "    default:\n";
        s << "        r = r + r + " << a.add << ";\n";
        if (a.brk)
            s << "        break;\n";
    }
    s << "    }\n    return r;\n}\n";
    return s.str();
}

// Arms of single values, each adding its position, every `fall`th falling
// through.
std::vector<arm> single_arms(const std::vector<int64_t> &values, int fall, bool with_default)
{
    std::vector<arm> arms;
    for (size_t i = 0; i < values.size(); i++) {
        arm a;
        a.values = {values[i]};
        a.add = (int)i + 5;
        a.brk = fall == 0 || (i + 1) % (size_t)fall != 0;
        arms.push_back(a);
    }
    if (with_default) {
        arm d;
        d.is_default = true;
        d.add = 200;
        arms.insert(arms.begin() + (long)arms.size() / 2, d);   // the default in the middle
    }
    return arms;
}

std::vector<int64_t> range_of(int64_t from, int64_t to, int64_t step = 1)
{
    std::vector<int64_t> v;
    for (int64_t x = from; x <= to; x += step)
        v.push_back(x);
    return v;
}

struct byte_set {
    const char *name;
    bool is_signed;
    std::vector<arm> arms;
    bool fits_baseline = true;   // its chain fits a 512-word page
};

std::vector<byte_set> byte_sets()
{
    std::vector<byte_set> sets;
    sets.push_back({"SignedDense", true, single_arms(range_of(-8, 7), 3, true)});
    sets.push_back({"SignedSparse", true, single_arms({-128, -100, -99, -1, 0, 1, 50, 64, 126, 127}, 4, false)});
    sets.push_back({"SignedWholeRangeGaps", true, single_arms(range_of(-128, 127, 9), 5, false)});
    sets.push_back({"SignedEnds", true, single_arms({-128, -127, 126, 127}, 0, true)});
    sets.push_back({"UnsignedDense", false, single_arms(range_of(200, 230), 4, true)});
    sets.push_back({"UnsignedSparse", false, single_arms({0, 1, 2, 127, 128, 129, 254, 255}, 3, false)});
    sets.push_back({"UnsignedLowDense", false, single_arms(range_of(0, 11), 2, false)});
    // every value a case: no range test at all
    std::vector<arm> all(7);
    for (int v = 0; v < 256; v++)
        all[(size_t)(v * 37 % 7)].values.push_back(v);
    for (size_t i = 0; i < all.size(); i++) {
        all[i].add = (int)i * 11 + 1;
        all[i].brk = i % 3 != 2;
    }
    sets.push_back({"UnsignedEveryValue", false, all, false});
    return sets;
}

const std::vector<std::string> all_kinds = {"simple", "direct", "auto", ""};

// A program hashing what each kind's switch makes of every value of the
// selector's byte type; the host hashes its own walk of the arms.
void run_byte_set(const byte_set &set, const std::string &chip, const std::vector<std::string> &kinds,
                  unsigned long cycles)
{
    std::string type = set.is_signed ? "signed char" : "unsigned char";
    std::ostringstream src;
    size_t n = kinds.size();
    src << "unsigned int hash[" << n << "];\n";
    for (size_t k = 0; k < n; k++)
        src << c_switch("s" + std::to_string(k), type, set.arms, kinds[k]);
    src << "void main(void)\n{\n    " << type << " x = " << (set.is_signed ? -128 : 0) << ";\n    do {\n";
    for (size_t k = 0; k < n; k++)
        src << "        hash[" << k << "] = hash[" << k << "] * 31 + s" << k << "(x);\n";
    src << "    } while (x++ != " << (set.is_signed ? 127 : 255) << ");\n    FINISH();\n}\n";
    c_program p;
    p.chip = chip;
    p.cycles = cycles;
    p.files.push_back({"main.c", src.str()});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output << src.str();
    ASSERT_TRUE(r.finished) << r.log;
    uint16_t want = 0;
    for (int x = set.is_signed ? -128 : 0; x <= (set.is_signed ? 127 : 255); x++)
        want = (uint16_t)(want * 31 + host_switch(set.arms, x));
    for (size_t k = 0; k < n; k++)
        EXPECT_EQ(r.value("hash", 2 * (unsigned)n) >> (16 * k) & 0xFFFF, want)
            << set.name << ", pragma switch \"" << kinds[k] << "\"";
}

void PrintTo(const byte_set &s, std::ostream *os)
{
    *os << s.name;
}

class ByteSwitch : public testing::TestWithParam<byte_set> {};

TEST_P(ByteSwitch, EveryValueThroughChainAndTable)
{
    NEEDS_SIMULATOR();
    run_byte_set(GetParam(), "16F877A", all_kinds, 3000000);
}

// The 12-bit cores keep the compare chain under every pragma (their
// computed jumps reach only the first half of a page); a chain of 256
// cases would not fit a page of them.
TEST_P(ByteSwitch, EveryValueOnTheTwelveBitCore)
{
    NEEDS_SIMULATOR();
    if (!GetParam().fits_baseline)
        GTEST_SKIP() << "a chain of every value is larger than a page of the 12-bit cores";
    run_byte_set(GetParam(), "16F505", {"direct", "auto"}, 3000000);
}

INSTANTIATE_TEST_SUITE_P(Sets, ByteSwitch, testing::ValuesIn(byte_sets()),
                         [](const testing::TestParamInfo<byte_set> &i) { return std::string(i.param.name); });

// A wide selector: its type, the arms, and the probes (each case value, and
// values next to the table's range and differing from a case in one byte
// only).
struct wide_set {
    const char *name;
    const char *type;
    int bits;
    bool is_signed;
    std::vector<arm> arms;
};

int64_t wrap(int64_t v, int bits, bool is_signed)
{
    uint64_t mask = (1ull << bits) - 1, u = (uint64_t)v & mask;
    if (is_signed && (u >> (bits - 1)) & 1)
        return (int64_t)(u | ~mask);
    return (int64_t)u;
}

std::vector<int64_t> probes(const wide_set &s)
{
    std::vector<int64_t> out;
    int64_t low = INT64_MAX, high = INT64_MIN;
    for (const arm &a : s.arms)
        for (int64_t v : a.values) {
            low = std::min(low, v);
            high = std::max(high, v);
        }
    std::vector<int64_t> base = {low, high, low - 1, high + 1, (low + high) / 2};
    for (int64_t b : base) {
        out.push_back(b);
        for (int byte = 0; byte < s.bits / 8; byte++)   // one byte off by one either way
            for (int64_t d : {1ll, -1ll})
                out.push_back(b + d * (1ll << (8 * byte)));
    }
    int64_t max = s.is_signed ? (1ll << (s.bits - 1)) - 1 : (1ll << s.bits) - 1;
    int64_t min = s.is_signed ? -(1ll << (s.bits - 1)) : 0;
    for (int64_t b : {min, max, (int64_t)0, (int64_t)-1})
        out.push_back(b);
    for (int64_t &v : out)
        v = wrap(v, s.bits, s.is_signed);
    return out;
}

std::vector<wide_set> wide_sets()
{
    return {
        {"IntAcrossZero", "int", 16, true, single_arms(range_of(-3, 5), 3, true)},
        {"IntAtMinimum", "int", 16, true, single_arms(range_of(-32768, -32760), 0, false)},
        {"IntAtMaximum", "int", 16, true, single_arms(range_of(32700, 32767, 3), 2, true)},
        {"UnsignedAcrossByte", "unsigned int", 16, false, single_arms(range_of(0x1F8, 0x20A), 4, true)},
        {"UnsignedTop", "unsigned int", 16, false, single_arms(range_of(0xFFF0, 0xFFFF, 2), 0, false)},
        {"ShortLongAcrossWord", "short long", 24, true, single_arms(range_of(0xFFFC, 0x10004), 3, true)},
        {"LongAtMinimum", "long", 32, true, single_arms(range_of(INT32_MIN, INT32_MIN + 10), 4, true)},
        {"LongAcrossZero", "long", 32, true, single_arms(range_of(-6, 6, 2), 0, false)},
        {"UnsignedLongHigh", "unsigned long", 32, false, single_arms(range_of(0x12345678, 0x12345690, 3), 3, true)},
        {"UnsignedLongTop", "unsigned long", 32, false, single_arms(range_of(0xFFFFFFF8, 0xFFFFFFFF), 2, false)},
    };
}

void PrintTo(const wide_set &s, std::ostream *os)
{
    *os << s.name;
}

class WideSwitch : public testing::TestWithParam<wide_set> {};

// Every probe through each kind; the result of probe i under kind k lands
// in out[k][i].
TEST_P(WideSwitch, EdgesOfTheRangeInEveryByte)
{
    NEEDS_SIMULATOR();
    const wide_set &set = GetParam();
    std::vector<int64_t> xs = probes(set);
    std::ostringstream src;
    src << "const " << set.type << " probe[" << xs.size() << "] = {";
    for (size_t i = 0; i < xs.size(); i++)
        src << (i ? ", " : "") << literal(xs[i], set.type);
    src << "};\n";
    for (int k = 0; k < 3; k++)   // a bank each: all three would not fit one
        src << "bank" << k + 1 << " unsigned char out" << k << "[" << xs.size() << "];\n";
    for (int k = 0; k < 3; k++)
        src << c_switch("s" + std::to_string(k), set.type, set.arms, all_kinds[(size_t)k]);
    src << "void main(void)\n{\n    unsigned char i;\n    for (i = 0; i < " << xs.size() << "; i++) {\n";
    for (int k = 0; k < 3; k++)
        src << "        out" << k << "[i] = s" << k << "(probe[i]);\n";
    src << "    }\n    FINISH();\n}\n";
    c_program p;
    p.options = "--bankqual=require";
    p.files.push_back({"main.c", src.str()});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output << src.str();
    ASSERT_TRUE(r.finished) << r.log;
    for (int k = 0; k < 3; k++)
        for (size_t i = 0; i < xs.size(); i++)
            EXPECT_EQ(r.byte("out" + std::to_string(k), (unsigned)i), (int)host_switch(set.arms, xs[i]))
                << set.name << " x=" << xs[i] << ", pragma switch \"" << all_kinds[(size_t)k] << "\"";
}

INSTANTIATE_TEST_SUITE_P(Sets, WideSwitch, testing::ValuesIn(wide_sets()),
                         [](const testing::TestParamInfo<wide_set> &i) { return std::string(i.param.name); });

// The link map's line for a psect: its link address and length.
bool map_psect(const std::string &map, const std::string &psect, unsigned long *address, unsigned long *length)
{
    std::istringstream in(map);
    for (std::string line; std::getline(in, line);) {
        std::istringstream w(line);
        std::vector<std::string> f;
        for (std::string x; w >> x;)
            f.push_back(x);
        if (f.size() >= 4 && f[0] == psect) {
            *address = std::stoul(f[1], nullptr, 16);
            *length = std::stoul(f[3], nullptr, 16);
            return true;
        }
    }
    return false;
}

// A table of 200 gotos in a function placed so that it must straddle the
// 256-word boundary at 200h: the function's few other words cannot all lie
// on one side. Every value, in range or not, dispatches right.
TEST(SwitchTable, StraddlesA256WordBoundary)
{
    NEEDS_SIMULATOR();
    const int count = 200;
    std::vector<arm> arms(5);
    for (int v = 0; v < count; v++)
        arms[(size_t)(v * 13 % 5)].values.push_back(v);
    for (size_t i = 0; i < arms.size(); i++)
        arms[i].add = (int)i + 1;
    arms[4].is_default = true;
    std::string fn = c_switch("sw", "unsigned char", arms, "direct");
    fn.replace(fn.find(")\n{"), 2, ") @ 0x1A0\n");
    std::string src = fn + "unsigned int hash;\nvoid main(void)\n{\n    unsigned char x = 0;\n"
                           "    do {\n        hash = hash * 31 + sw(x);\n    } while (++x);\n    FINISH();\n}\n";
    c_program p;
    p.options = "-Mmain.map";
    p.files.push_back({"main.c", src});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output << src;
    ASSERT_TRUE(r.finished) << r.log;
    unsigned long at = 0, length = 0;
    ASSERT_TRUE(map_psect(tool_read(r.dir + "/main.map"), "_sw_text", &at, &length)) << tool_read(r.dir + "/main.map");
    // the table's first word lies at most (length - count) words in, its
    // last at least count - 1 words in
    EXPECT_LT(at + length - count, 0x200u);
    EXPECT_GE(at + count - 1, 0x200u);
    uint16_t want = 0;
    for (int x = 0; x < 256; x++)
        want = (uint16_t)(want * 31 + host_switch(arms, x));
    EXPECT_EQ(r.value("hash", 2), want);
}

// The table's selector an expression of a bank 1 variable, the arms
// storing into bank 2: the bank selections around the computed jump hold.
TEST(SwitchTable, SelectorAndArmsInOtherBanks)
{
    NEEDS_SIMULATOR();
    c_program p;
    p.options = "--bankqual=require";
    p.files.push_back({"main.c", R"(
bank1 unsigned char sel;
bank2 unsigned char out[8];
unsigned char k;
void main(void)
{
    for (k = 0; k < 8; k++) {
        sel = k + 2;
#pragma switch direct
        switch ((unsigned char)(sel * 3)) {
        case 6: out[k] = 1; break;
        case 9: out[k] = 2; break;
        case 12: out[k] = 3; break;
        case 15: out[k] = 4; break;
        case 18: out[k] = 5;
        case 21: out[k] += 6; break;
        default: out[k] = 9;
        }
    }
    FINISH();
}
)"});
    c_run r = c_compile_and_run(p);
    ASSERT_EQ(r.status, 0) << r.output;
    ASSERT_TRUE(r.finished) << r.log;
    const int want[8] = {1, 2, 3, 4, 11, 6, 9, 9};   // k = 5: out[5] was 0, += 6
    for (unsigned i = 0; i < 8; i++)
        EXPECT_EQ(r.byte("out", i), want[i]) << "k=" << i;
}

// A 512th case is more than a switch holds: 308, and the program refused.
TEST(SwitchMessages, TooManyCases)
{
    std::string text = "unsigned char f(unsigned int x)\n{\n    switch (x) {\n";
    for (int v = 0; v < 512; v++)
        text += "    case " + std::to_string(v) + ": return " + std::to_string(v & 0x7F) + ";\n";
    text += "    }\n    return 0;\n}\nvoid main(void) { f(3); }\n";
    c_program p;
    p.files.push_back({"main.c", text});
    c_run r = c_compile(p);
    EXPECT_NE(r.output.find("(308) too many case labels in switch"), std::string::npos) << r.output;
    EXPECT_NE(r.status, 0);
}

// Two cases of one value (as the switch's type holds it) refuse the
// program with 695; a case a byte switch could never meet (its value, as
// an int, outside the byte's range) with 696, where cut to the byte it
// would meet another value; a case value the link fills in with 697; a
// switch without cases is warned about (699) and runs its default.
TEST(SwitchMessages, DuplicateAndMissingCases)
{
    struct {
        const char *text;
        const char *message;
        bool compiles;
    } cases[] = {
        {"unsigned char f(unsigned char x) { switch (x) { case 3: return 1; case 4: return 2; case 3: return 5; } "
         "return 0; }\n",
         "(695) duplicate case label (3)", false},
        {"unsigned char f(int x) {\n#pragma switch direct\n switch (x) { case -1: return 1; case 0xFFFF: return 2; } "
         "return 0; }\n",
         "(695) duplicate case label (-1)", false},
        {"unsigned char f(long x) { switch (x) { case 100000L: return 1; case 100000L: return 2; } return 0; }\n",
         "(695) duplicate case label (100000)", false},
        {"unsigned char f(signed char x) { switch (x) { case -1: return 1; case 0xFFFF: return 2; } return 0; }\n",
         "(695) duplicate case label (-1)", false},
        {"unsigned char f(unsigned char x) { switch (x) { case 300: return 1; } return 0; }\n",
         "(696) out-of-range case label (300)", false},
        {"unsigned char f(unsigned char x) { switch (x) { case -1: return 1; } return 0; }\n",
         "(696) out-of-range case label (-1)", false},
        {"unsigned char f(signed char x) { switch (x) { case 0x80: return 1; } return 0; }\n",
         "(696) out-of-range case label (128)", false},
        {"unsigned char y;\nunsigned char f(unsigned int x) { switch (x) { case (unsigned int)&y: return 1; case 5: "
         "return 2; } return 0; }\n",
         "(697) non-constant case label", false},
        {"unsigned char f(unsigned char x) { unsigned char r = 4; switch (x) { default: r = 9; } return r; }\n",
         "(699) no case labels in switch", true},
    };
    for (auto &c : cases) {
        c_program p;
        p.files.push_back(
            {"main.c", std::string(c.text) + "unsigned char got;\nvoid main(void) { got = f(3); FINISH(); }\n"});
        c_run r = c.compiles ? c_compile_and_run(p) : c_compile(p);
        EXPECT_NE(r.output.find(c.message), std::string::npos) << c.text << "\n" << r.output;
        if (!c.compiles) {
            EXPECT_NE(r.status, 0) << c.text;
        } else if (c_can_simulate()) {
            ASSERT_EQ(r.status, 0) << r.output;
            ASSERT_TRUE(r.finished) << r.log;
            EXPECT_EQ(r.byte("got"), 9);
        }
    }
}

} // namespace
