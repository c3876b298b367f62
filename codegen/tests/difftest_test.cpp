// The differential tester: random byte programs (difftest.cpp) compiled by
// the installed chain and run in gpsim, every global they leave in RAM
// against the value the host's run of the same program gives.
//
// CI runs a fixed set of seeds. A developer runs more with
//   KESTREL_DIFFTEST_SEEDS=N [KESTREL_DIFFTEST_FIRST=seed] [KESTREL_DIFFTEST_JOBS=j]
//   [KESTREL_DIFFTEST_CHIP=12F508]
//   build/tests/kestrel_difftest_tests --gtest_filter='DiffTestLongRun*'
// A failing seed keeps its folder (main.c and everything the chain wrote) and
// names it; the host compiler's build of each program checks the tester's
// own run too.
#include "csim.h"
#include "difftest.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>
#include <regex>
#include <sstream>
#include <thread>

void tool_exit(int) {}

static std::string hex_byte(int v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "0x%02X (%d)", v & 0xFF, v);
    return buf;
}

// The lines of the program that the driver's errors (not its warnings) name.
static std::string error_lines(const dt_program &p, const std::string &output)
{
    std::istringstream in(output);
    std::string out;
    for (std::string m; std::getline(in, m);) {
        int line;
        if (m.find("(warning)") == std::string::npos && sscanf(m.c_str(), "main.c: %d:", &line) == 1)
            out += "  line " + std::to_string(line) + ": " + difftest_line(p, line) + "\n";
    }
    return out;
}

// Compiles and runs one seed's program: empty when every global holds the
// host's value, else what went wrong (the folder is then kept).
// Chips of the 12-bit cores: small programs, for their few bytes of RAM.
static bool small_chip(const std::string &chip)
{
    // the 12-bit cores, and mid-range chips of 64 to 128 bytes of RAM
    static const char *const small[] = {"10F2", "12F5", "16F5", "12C5", "16C5", "12F6", "16F84", "16F63", "16F67"};
    for (const char *prefix : small)
        if (chip.compare(0, strlen(prefix), prefix) == 0)
            return true;
    return false;
}

static std::string run_seed(uint64_t seed, const std::string &chip = "16F877A")
{
    dt_program p = difftest_generate(seed, small_chip(chip));
    std::ostringstream out;
    if (!p.error.empty()) {
        out << "seed " << seed << ": the generator broke its own rules (" << p.error << ")\n" << p.text;
        return out.str();
    }
    c_program prog;
    prog.chip = chip;
    prog.files.push_back({"main.c", p.text});
    c_run r = c_compile_and_run(prog);
    if (r.status != 0)
        out << "seed " << seed << ": the driver failed:\n" << r.output << error_lines(p, r.output);
    else if (!r.finished)
        out << "seed " << seed << ": FINISH() not reached within " << prog.cycles << " cycles\n";
    else
        for (const dt_expect &e : p.expect) {
            int got = r.byte(e.name, e.offset);
            if (got != e.value)
                out << "seed " << seed << ": " << e.name << "+" << e.offset << " is " << (got < 0 ? "missing" : hex_byte(got))
                    << " in gpsim, the host has " << hex_byte(e.value) << "; last written by line " << e.line
                    << ": " << difftest_line(p, e.line) << "\n";
        }
    if (out.str().empty()) {
        std::filesystem::remove_all(r.dir);
        return "";
    }
    out << "seed " << seed << " (" << chip << "): program and the chain's files kept in " << r.dir << "\n";
    return out.str();
}

// Seeds whose programs cover every statement and operator form of the
// generator between them, many times over: a bounded run on every build.
static const uint64_t ci_seed_count = 40;

class FixedSeeds : public testing::TestWithParam<uint64_t> {};

TEST_P(FixedSeeds, EveryGlobalHoldsTheHostsValue)
{
    if (!c_can_simulate())
        GTEST_SKIP() << "gpsim is not installed";
    std::string failure = run_seed(GetParam());
    EXPECT_TRUE(failure.empty()) << failure;
}

INSTANTIATE_TEST_SUITE_P(DiffTest, FixedSeeds, testing::Range<uint64_t>(1, ci_seed_count + 1),
                         [](const testing::TestParamInfo<uint64_t> &info) { return "seed" + std::to_string(info.param); });

// Small programs on the 12-bit cores, from seeds whose programs fit the
// few bytes of RAM of a chip of one bank (12F508) and of one with four
// banks and two pages (16F505).
struct chip_seed {
    const char *chip;
    uint64_t seed;
};

class BaselineSeeds : public testing::TestWithParam<chip_seed> {};

TEST_P(BaselineSeeds, EveryGlobalHoldsTheHostsValue)
{
    if (!c_can_simulate())
        GTEST_SKIP() << "gpsim is not installed";
    std::string failure = run_seed(GetParam().seed, GetParam().chip);
    EXPECT_TRUE(failure.empty()) << failure;
}

static const chip_seed baseline_seeds[] = {
    {"12F508", 5},  {"12F508", 17}, {"12F508", 19}, {"12F508", 25}, {"12F508", 27}, {"12F508", 32},
    {"12F508", 38}, {"12F508", 48}, {"16F505", 2},  {"16F505", 4},  {"16F505", 12}, {"16F505", 18},
    {"16F505", 21}, {"16F505", 23}, {"16F505", 26}, {"16F505", 27},
};

INSTANTIATE_TEST_SUITE_P(DiffTest, BaselineSeeds, testing::ValuesIn(baseline_seeds),
                         [](const testing::TestParamInfo<chip_seed> &info) {
                             return std::string("chip") + info.param.chip + "_seed" + std::to_string(info.param.seed);
                         });

// The same program from the same seed, and different programs from
// neighbouring seeds; and the host's run is free of what C leaves undefined.
TEST(DiffTestGenerator, SeedsAreReproducibleAndTheHostRunIsDefined)
{
    for (uint64_t seed = 1; seed <= 50; seed++) {
        dt_program a = difftest_generate(seed);
        EXPECT_EQ(a.error, "") << "seed " << seed << "\n" << a.text;
        EXPECT_EQ(a.text, difftest_generate(seed).text) << "seed " << seed;
        EXPECT_NE(a.text, difftest_generate(seed + 1).text) << "seed " << seed;
    }
}

// The CI seeds' programs hold switches on every selector type, bare and
// cast, under both pragmas, with defaults and arms that fall through.
TEST(DiffTestGenerator, TheFixedSeedsHoldEveryFormOfSwitch)
{
    std::string all;
    for (uint64_t seed = 1; seed <= ci_seed_count; seed++)
        all += difftest_generate(seed).text;
    static const char *const forms[] = {
        "switch ((unsigned char)(", "switch ((signed char)(", "switch ((int)(", "switch ((unsigned int)(",
        "switch ((short long)(", "switch ((unsigned short long)(", "switch ((long)(", "switch ((unsigned long)(",
        "#pragma switch direct", "#pragma switch simple", "default:", "case -",
    };
    for (const char *form : forms)
        EXPECT_NE(all.find(form), std::string::npos) << form;
    // a bare byte variable, and an arm that falls into the next label
    EXPECT_TRUE(std::regex_search(all, std::regex("switch \\((gv\\.)?[us][0-9]\\) \\{")));
    std::istringstream in(all);
    bool falls = false;
    for (std::string prev, line; std::getline(in, line); prev = line)
        falls |= line.find("case ") != std::string::npos && !prev.empty() && prev.back() == ';' &&
                 prev.find("break;") == std::string::npos && prev.find("return ") == std::string::npos;
    EXPECT_TRUE(falls);
}

// The program built by the host's C compiler with the undefined-behaviour
// checks, run, and its globals compared with the host run's values: an
// independent check of the tester's own evaluator. The program keeps int
// results within 16 bits, so the host's wider int changes nothing. Empty
// when they agree or no host compiler is there.
static std::string host_compiler_check(const dt_program &p)
{
    int status = 0;
    std::string dir = tool_tempdir("kestrel_difftest_host");
    std::string text = p.text;
    size_t m = text.find("void main(void)");
    text.replace(m, 4, "int");
    // the target's integer types the host lacks, or holds in more bits: the
    // program writes their casts with a parenthesised operand, which reads
    // as a call of a macro that converts the same way
    static const char *const casts[][2] = {
        {"(unsigned int)", "DT_U16"}, {"(unsigned short long)", "DT_U24"}, {"(short long)", "DT_S24"},
        {"(unsigned long)", "DT_U32"}, {"(long)", "DT_S32"},
    };
    for (const auto &c : casts)
        for (size_t at; (at = text.find(c[0])) != std::string::npos;)
            text.replace(at, strlen(c[0]), c[1]);
    std::string dump = "static void dump(void)\n{\n";
    // each global by its byte: a plain variable, or an element or member
    auto key = [](const dt_expect &e) { return e.name + "+" + std::to_string(e.offset); };
    for (const dt_expect &e : p.expect)
        dump += "    printf(\"%s %d\\n\", \"" + key(e) + "\", ((unsigned char *)&" + e.name + ")[" +
                std::to_string(e.offset) + "]);\n";
    const char *prelude = "#include <stdint.h>\n#include <stdio.h>\n#define FINISH() dump()\nstatic void dump(void);\n"
                          "#define DT_U16(v) ((uint16_t)(v))\n"
                          "#define DT_U24(v) ((uint32_t)(v) & 0xFFFFFFu)\n"
                          "#define DT_S24(v) ((int32_t)((uint32_t)(v) << 8) >> 8)\n"
                          "#define DT_U32(v) ((uint32_t)(v))\n"
                          "#define DT_S32(v) ((int32_t)(v))\n";
    tool_write(dir + "/host.c", prelude + text + dump + "}\n");
    std::string out = tool_run(dir, "cc -w -fsanitize=undefined -fno-sanitize-recover=undefined -o host host.c", &status);
    if (status != 0) {
        std::filesystem::remove_all(dir);
        return "";
    }
    out = tool_run(dir, "./host", &status);
    std::istringstream in(out);
    std::map<std::string, int> got;
    std::string name;
    int value;
    while (in >> name >> value)
        got[name] = value;
    std::ostringstream report;
    if (status != 0)
        report << "seed " << p.seed << ": the host's build stopped:\n" << out;
    for (const dt_expect &e : p.expect)
        if (status == 0 && (!got.count(key(e)) || got[key(e)] != e.value))
            report << "seed " << p.seed << ": " << key(e) << " is " << got[key(e)] << " built by the host compiler, "
                   << e.value << " in the tester's run\n";
    if (report.str().empty())
        std::filesystem::remove_all(dir);
    else
        report << "seed " << p.seed << ": kept in " << dir << "\n";
    return report.str();
}

TEST(DiffTestGenerator, TheHostCompilerAgreesWithTheHostRun)
{
    for (uint64_t seed = 1; seed <= 12; seed++) {
        dt_program p = difftest_generate(seed);
        std::string failure = host_compiler_check(p);
        EXPECT_TRUE(failure.empty()) << failure;
    }
}

static uint64_t env_number(const char *name, uint64_t fallback)
{
    const char *s = getenv(name);
    return s && *s ? strtoull(s, nullptr, 0) : fallback;
}

TEST(DiffTestLongRun, SeedsFromTheEnvironment)
{
    uint64_t count = env_number("KESTREL_DIFFTEST_SEEDS", 0);
    if (count == 0)
        GTEST_SKIP() << "KESTREL_DIFFTEST_SEEDS=N runs N seeds from KESTREL_DIFFTEST_FIRST";
    if (!c_can_simulate())
        GTEST_SKIP() << "gpsim is not installed";
    uint64_t first = env_number("KESTREL_DIFFTEST_FIRST", 1000);
    const char *chip_env = getenv("KESTREL_DIFFTEST_CHIP");
    std::string chip = chip_env && *chip_env ? chip_env : "16F877A";
    unsigned jobs = (unsigned)env_number("KESTREL_DIFFTEST_JOBS", std::max(1u, std::thread::hardware_concurrency()));
    std::atomic<uint64_t> next{0};
    std::mutex lock;
    std::vector<std::string> failures;
    std::vector<std::thread> workers;
    for (unsigned j = 0; j < jobs; j++)
        workers.emplace_back([&] {
            for (uint64_t i; (i = next++) < count;) {
                std::string f = run_seed(first + i, chip) + host_compiler_check(difftest_generate(first + i, small_chip(chip)));
                std::lock_guard<std::mutex> hold(lock);
                if (!f.empty())
                    failures.push_back(f);
            }
        });
    for (auto &w : workers)
        w.join();
    for (const std::string &f : failures)
        ADD_FAILURE() << f;
    printf("difftest: %llu seeds from %llu, %zu failed\n", (unsigned long long)count, (unsigned long long)first,
           failures.size());
}
