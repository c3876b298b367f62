// The differential tester: random byte programs (difftest.cpp) compiled by
// the installed chain and run in gpsim, every global they leave in RAM
// against the value the host's run of the same program gives.
//
// CI runs a fixed set of seeds. A developer runs more with
//   KESTREL_DIFFTEST_SEEDS=N [KESTREL_DIFFTEST_FIRST=seed] [KESTREL_DIFFTEST_JOBS=j]
//   [KESTREL_DIFFTEST_ALL=1] build/tests/kestrel_difftest_tests --gtest_filter='LongRun*'
// (ALL=1 also uses the constructs held back below). A failing seed keeps
// its folder (main.c and everything the chain wrote) and names it.
#include "csim.h"
#include "difftest.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

void tool_exit(int) {}

// The constructs the code generator gets wrong today stay out of the CI
// programs, each until its fault is mended:
//   effects_as_operands: an increment, assignment or compound assignment
//     inside a larger expression ("r = u1++ + 1;") stops with error (712);
//   conditional_as_operand: ?: inside a larger expression, or with arms
//     wider than a byte ("r = (s1 ? u1 : u2) + 1;") stops with error (712);
//   mixed_compound_division: "u /= s" and "u %= s" with operands of
//     different signedness leave a wrong value (200 /= -3 leaves 0, not 190).
static dt_options ci_options()
{
    return dt_options{};
}

static dt_options all_options()
{
    dt_options o;
    o.effects_as_operands = true;
    o.conditional_as_operand = true;
    o.mixed_compound_division = true;
    return o;
}

static std::string hex_byte(int v)
{
    char buf[32];
    snprintf(buf, sizeof buf, "0x%02X (%d)", v & 0xFF, v);
    return buf;
}

// Compiles and runs one seed's program: empty when every global holds the
// host's value, else what went wrong (the folder is then kept).
static std::string run_seed(uint64_t seed, const dt_options &opt)
{
    dt_program p = difftest_generate(seed, opt);
    std::ostringstream out;
    if (!p.error.empty()) {
        out << "seed " << seed << ": the generator broke its own rules (" << p.error << ")\n" << p.text;
        return out.str();
    }
    c_program prog;
    prog.files.push_back({"main.c", p.text});
    c_run r = c_compile_and_run(prog);
    if (r.status != 0)
        out << "seed " << seed << ": the driver failed:\n" << r.output;
    else if (!r.finished)
        out << "seed " << seed << ": FINISH() not reached within " << prog.cycles << " cycles\n";
    else
        for (const dt_expect &e : p.expect) {
            int got = r.byte(e.name);
            if (got != e.value)
                out << "seed " << seed << ": " << e.name << " is " << (got < 0 ? "missing" : hex_byte(got))
                    << " in gpsim, the host has " << hex_byte(e.value) << "; last written by line " << e.line
                    << ": " << difftest_line(p, e.line) << "\n";
        }
    if (out.str().empty()) {
        std::filesystem::remove_all(r.dir);
        return "";
    }
    out << "seed " << seed << ": program and the chain's files kept in " << r.dir << "\n";
    return out.str();
}

// Seeds whose programs cover every statement and operator form of the
// generator between them.
static const uint64_t ci_seeds[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

class FixedSeeds : public testing::TestWithParam<uint64_t> {};

TEST_P(FixedSeeds, EveryGlobalHoldsTheHostsValue)
{
    if (!c_can_simulate())
        GTEST_SKIP() << "gpsim is not installed";
    std::string failure = run_seed(GetParam(), ci_options());
    EXPECT_EQ(failure, "");
}

INSTANTIATE_TEST_SUITE_P(DiffTest, FixedSeeds, testing::ValuesIn(ci_seeds));

// The same program from the same seed, and different programs from
// neighbouring seeds; and the host's run is free of what C leaves undefined.
TEST(Generator, SeedsAreReproducibleAndTheHostRunIsDefined)
{
    for (uint64_t seed = 1; seed <= 200; seed++) {
        dt_program a = difftest_generate(seed, all_options());
        EXPECT_EQ(a.error, "") << "seed " << seed << "\n" << a.text;
        EXPECT_EQ(a.text, difftest_generate(seed, all_options()).text) << "seed " << seed;
        EXPECT_NE(a.text, difftest_generate(seed + 1, all_options()).text) << "seed " << seed;
        dt_program c = difftest_generate(seed, ci_options());
        EXPECT_EQ(c.error, "") << "seed " << seed << "\n" << c.text;
    }
}

static uint64_t env_number(const char *name, uint64_t fallback)
{
    const char *s = getenv(name);
    return s && *s ? strtoull(s, nullptr, 0) : fallback;
}

TEST(LongRun, SeedsFromTheEnvironment)
{
    uint64_t count = env_number("KESTREL_DIFFTEST_SEEDS", 0);
    if (count == 0)
        GTEST_SKIP() << "KESTREL_DIFFTEST_SEEDS=N runs N seeds from KESTREL_DIFFTEST_FIRST";
    if (!c_can_simulate())
        GTEST_SKIP() << "gpsim is not installed";
    uint64_t first = env_number("KESTREL_DIFFTEST_FIRST", 1000);
    unsigned jobs = (unsigned)env_number("KESTREL_DIFFTEST_JOBS", std::max(1u, std::thread::hardware_concurrency()));
    dt_options opt = env_number("KESTREL_DIFFTEST_ALL", 0) ? all_options() : ci_options();
    std::atomic<uint64_t> next{0};
    std::mutex lock;
    std::vector<std::string> failures;
    std::vector<std::thread> workers;
    for (unsigned j = 0; j < jobs; j++)
        workers.emplace_back([&] {
            for (uint64_t i; (i = next++) < count;) {
                std::string f = run_seed(first + i, opt);
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
