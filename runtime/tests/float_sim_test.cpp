// The float helpers as the chip runs them: C programs that call the helpers
// of the installed library on bit images, compiled by the chain and run in
// gpsim, each result read back and compared with the host model of
// float_model.h (the host tests prove the same sources on many more
// operands; these prove what the chain makes of them).
#include "csim.h"
#include "float_model.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

void tool_exit(int) {}

namespace {

// The helpers as a program declares them.
const char *declarations = R"(
extern unsigned short long __ftadd(unsigned short long, unsigned short long);
extern unsigned short long __ftsub(unsigned short long, unsigned short long);
extern unsigned short long __ftmul(unsigned short long, unsigned short long);
extern unsigned short long __ftdiv(unsigned short long, unsigned short long);
extern unsigned short long __ftneg(unsigned short long);
extern unsigned char __ftge(unsigned short long, unsigned short long);
extern long __fttol(unsigned short long);
extern unsigned short long __lbtoft(unsigned char);
extern unsigned short long __abtoft(signed char);
extern unsigned short long __lwtoft(unsigned int);
extern unsigned short long __awtoft(int);
extern unsigned short long __lttoft(unsigned short long);
extern unsigned short long __attoft(short long);
extern unsigned short long __lltoft(unsigned long);
extern unsigned short long __altoft(long);
extern unsigned short long __fltoft(unsigned long);
extern unsigned long __fttofl(unsigned short long);
extern unsigned long __fladd(unsigned long, unsigned long);
extern unsigned long __flsub(unsigned long, unsigned long);
extern unsigned long __flmul(unsigned long, unsigned long);
extern unsigned long __fldiv(unsigned long, unsigned long);
extern unsigned long __flneg(unsigned long);
extern unsigned char __flge(unsigned long, unsigned long);
extern long __fltol(unsigned long);
extern unsigned long __lbtofl(unsigned char);
extern unsigned long __abtofl(signed char);
extern unsigned long __lwtofl(unsigned int);
extern unsigned long __awtofl(int);
extern unsigned long __lttofl(unsigned short long);
extern unsigned long __attofl(short long);
extern unsigned long __lltofl(unsigned long);
extern unsigned long __altofl(long);
)";

// One call and the result it must give; `nan_of` names the format when any
// NaN will do.
struct call_case {
    std::string call;
    uint32_t want;
    const float_format *nan_of = nullptr;
};

std::string hex(uint32_t v)
{
    std::ostringstream s;
    s << "0x" << std::hex << v << "ul";
    return s.str();
}

// The cases in programs of a few dozen calls each, ten statements to a
// function so that each function's code fits one page.
// refused_ok: a program whose frames do not fit one bank may be refused
// with (1253) instead (the baseline cores' frames lie in one bank).
void run_cases(const std::string &chip, const std::vector<call_case> &cases, size_t per_program,
               bool refused_ok = false)
{
    for (size_t first = 0; first < cases.size(); first += per_program) {
        size_t count = std::min(per_program, cases.size() - first);
        std::ostringstream src;
        src << declarations;
        for (size_t i = 0; i < count; i++)
            src << "unsigned long r_" << i << ";\n";
        for (size_t i = 0; i < count; i++) {
            if (i % 10 == 0)
                src << (i ? "}\n" : "") << "void part" << i / 10 << "(void)\n{\n";
            src << "    r_" << i << " = " << cases[first + i].call << ";\n";
        }
        src << "}\nvoid main(void)\n{\n";
        for (size_t k = 0; k * 10 < count; k++)
            src << "    part" << k << "();\n";
        src << "    FINISH();\n}\n";
        c_program p;
        p.chip = chip;
        p.cycles = 20000000;
        p.files.push_back({"main.c", src.str()});
        c_run r = c_compile_and_run(p);
        if (refused_ok && r.status != 0 && r.output.find("(1253)") != std::string::npos)
            continue;
        ASSERT_EQ(r.status, 0) << r.output << "\n" << src.str();
        ASSERT_TRUE(r.finished) << r.log;
        for (size_t i = 0; i < count; i++) {
            const call_case &c = cases[first + i];
            auto got = (uint32_t)r.value("r_" + std::to_string(i), 4);
            if (c.nan_of)
                EXPECT_TRUE(image_is_nan(*c.nan_of, got)) << c.call << " gave " << hex(got);
            else
                EXPECT_EQ(got, c.want) << c.call;
        }
    }
}

struct width {
    const char *prefix;   // "ft" or "fl"
    const float_format &f;
};
const width widths[] = {{"ft", ft_format}, {"fl", fl_format}};

// A case whose result is an image of f: NaN where the model gives one.
call_case image_case(const float_format &f, std::string call, uint32_t want)
{
    return {std::move(call), want, image_is_nan(f, want) ? &f : nullptr};
}

// Operands that exercise each path: signed zeros, infinity, NaN, ties
// and cancellation, overflow and flush, quotients inexact and exact.
std::vector<std::pair<double, double>> operand_pairs()
{
    return {{1.0, 2.0},       {1.5, -0.25},      {3.0, -3.0},     {-0.0, -0.0},  {0.0, -0.0},
            {INFINITY, 1.0},  {INFINITY, -INFINITY}, {0.0, INFINITY}, {NAN, 1.0},    {1.0, 0.0},
            {0.0, 0.0},       {1e38, 1e38},      {1e-38, 1e-3},   {1.0 / 3, 3.0}, {100.0, 7.0},
            {1.0 + 1.0 / 4096, 1.0 - 1.0 / 65536}, {-12345.678, 0.001}, {2.0, 3.0}};
}

std::vector<call_case> arithmetic_cases(const width &w)
{
    std::vector<call_case> cases;
    std::string p = w.prefix;
    for (auto [x, y] : operand_pairs()) {
        uint32_t a = model_round(w.f, x), b = model_round(w.f, y);
        double va = image_value(w.f, a), vb = image_value(w.f, b);
        std::string args = "(" + hex(a) + ", " + hex(b) + ")";
        cases.push_back(image_case(w.f, "__" + p + "add" + args, model_round(w.f, va + vb)));
        cases.push_back(image_case(w.f, "__" + p + "sub" + args, model_round(w.f, va - vb)));
        cases.push_back(image_case(w.f, "__" + p + "mul" + args, model_round(w.f, va * vb)));
        cases.push_back(image_case(w.f, "__" + p + "div" + args, model_round(w.f, va / vb)));
        cases.push_back({"__" + p + "ge" + args, va >= vb});
        cases.push_back({"__" + p + "neg(" + hex(a) + ")", a ^ w.f.sign()});
    }
    return cases;
}

std::vector<call_case> conversion_cases(const width &w)
{
    std::vector<call_case> cases;
    std::string p = w.prefix;
    for (double x : {0.0, 0.75, -1.5, 127.9, -128.0, 32767.0, -32768.6, 65535.0, 8388607.0, 16777217.0,
                     2147483520.0, -2147483648.0, 4294967040.0}) {
        uint32_t a = model_round(w.f, x);
        double v = std::trunc(image_value(w.f, a));
        if (std::fabs(v) < 4294967296.0)
            cases.push_back({"__" + p + "tol(" + hex(a) + ")", (uint32_t)(int64_t)v});
    }
    // from each integer class, its boundaries (the casts give the
    // parameter's type, which the constant would not always have)
    struct {
        const char *kind, *type;
        std::vector<int64_t> values;
    } from[] = {
        {"lb", "unsigned char", {0, 1, 255}},
        {"ab", "signed char", {-128, -1, 127}},
        {"lw", "unsigned int", {256, 32769, 65535}},
        {"aw", "int", {-32768, -257, 32767}},
        {"lt", "unsigned short long", {65537, 8388609, 16777215}},
        {"at", "short long", {-8388608, -8388607, 8388607}},
        {"ll", "unsigned long", {16777217, 33554435, 4294967295}},
        {"al", "long", {-2147483647 - 1ll, -16777219, 2147483647}},
    };
    for (const auto &k : from)
        for (int64_t x : k.values)
            cases.push_back({"__" + std::string(k.kind) + "to" + p + "((" + k.type + ")" + std::to_string(x) + "l)",
                             model_round(w.f, (double)x)});
    return cases;
}

TEST(FloatHelpersOnChip, ArithmeticOnMidRange)
{
    NEEDS_SIMULATOR();
    for (const width &w : widths)
        run_cases("16F877A", arithmetic_cases(w), 36);
}

TEST(FloatHelpersOnChip, ConversionsOnMidRange)
{
    NEEDS_SIMULATOR();
    std::vector<call_case> cases;
    for (const width &w : widths) {
        std::vector<call_case> c = conversion_cases(w);
        cases.insert(cases.end(), c.begin(), c.end());
    }
    for (uint32_t a : {0x3F8000u, 0xFF8000u, 0x7FC000u, 0x00FFFFu, 0xC2F6E9u})
        cases.push_back(image_case(fl_format, "__fttofl(" + hex(a) + ")", model_round(fl_format, image_value(ft_format, a))));
    for (uint32_t a : {0x3F808000u, 0x3F818000u, 0x3F808001u, 0x7F7FFFFFu, 0x00FFFFFFu, 0x807FFFFFu, 0x7F800001u})
        cases.push_back(image_case(ft_format, "__fltoft(" + hex(a) + ")", model_round(ft_format, image_value(fl_format, a))));
    run_cases("16F877A", cases, 36);
}

// A baseline chip: two levels of return stack, frames in one bank. The
// helpers' frames do not fit one of its banks yet: the program is then
// refused with (1253), never built into code that runs wrong.
TEST(FloatHelpersOnChip, Baseline24BitArithmeticRunsOrIsRefused)
{
    NEEDS_SIMULATOR();
    std::vector<call_case> cases;
    for (auto [x, y] : {std::pair{1.0, 2.0}, {1.5, -0.25}, {1.0 / 3, 3.0}, {INFINITY, 0.0}, {-100.0, 7.0}}) {
        uint32_t a = model_round(ft_format, x), b = model_round(ft_format, y);
        double va = image_value(ft_format, a), vb = image_value(ft_format, b);
        std::string args = "(" + hex(a) + ", " + hex(b) + ")";
        cases.push_back(image_case(ft_format, "__ftadd" + args, model_round(ft_format, va + vb)));
        cases.push_back(image_case(ft_format, "__ftmul" + args, model_round(ft_format, va * vb)));
        cases.push_back(image_case(ft_format, "__ftdiv" + args, model_round(ft_format, va / vb)));
    }
    cases.push_back({"__fttol(0xC2F6E9ul)", (uint32_t)-123});
    cases.push_back({"__awtoft((int)-1000l)", model_round(ft_format, -1000.0)});
    run_cases("16F505", cases, 20, true);
}

}   // namespace
