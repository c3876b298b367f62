// C programs built by the installed driver and run in gpsim (see csim.h).
#include "csim.h"
#include "tool_run.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

static std::string lower(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return (char)tolower(c); });
    return s;
}

// The chip header, the configuration word with the watchdog off (chips with
// two words take both), and the finish flag the simulator stops on.
static std::string prelude(const std::string &chip)
{
    std::string header = tool_read(std::string(ZEPH_BUILD_DIR) + "/include/pic" + lower(chip) + ".h");
    bool two_words = header.find("define __CONFIG(x1, x2)") != std::string::npos;
    return "#include <zeph.h>\n"
           "__CONFIG(_WDT_OFF" + std::string(two_words ? ", 0x3FFF" : "") + ");\n"
           "volatile unsigned char test_done;\n"
           "#define FINISH() do { test_done = 1; for (;;) continue; } while (0)\n"
           "#line 1 \"main.c\"\n";
}

int c_run::byte(const std::string &c_name, unsigned offset) const
{
    long a = address(c_name);
    if (a < 0)
        return -1;
    auto it = ram.find((unsigned)a + offset);
    return it == ram.end() ? -1 : (int)it->second;
}

unsigned long c_run::value(const std::string &c_name, unsigned bytes) const
{
    unsigned long v = 0;
    for (unsigned k = 0; k < bytes; k++)   // a byte that is missing reads as 0xFF
        v |= (unsigned long)(byte(c_name, k) & 0xFF) << (8 * k);
    return v;
}

long c_run::address(const std::string &c_name) const
{
    auto it = symbols.find("_" + c_name);
    return it == symbols.end() ? -1 : (long)it->second;
}

c_run c_compile(const c_program &p)
{
    c_run r;
    r.dir = tool_tempdir("kestrel_sim");
    for (size_t i = 0; i < p.files.size(); i++)
        tool_write(r.dir + "/" + p.files[i].first,
                   (i == 0 && p.prelude ? prelude(p.chip) : std::string()) + p.files[i].second);
    std::string cmd = std::string(ZEPH_BUILD_DIR) + "/bin/zeph --chip=" + p.chip + " --output=-mcof " + p.options;
    for (auto &f : p.files)
        cmd += " " + f.first;
    // the driver's temporary files go to the program's own folder
    cmd = "TEMP='" + r.dir + "' " + cmd;
    r.output = tool_run(r.dir, cmd, &r.status);
    if (r.status == 0) {
        std::string stem = p.files.empty() ? "main" : p.files[0].first.substr(0, p.files[0].first.rfind('.'));
        r.symbols = tool_symbols(r.dir + "/" + stem + ".sym");
    }
    return r;
}

c_run c_compile_and_run(const c_program &p)
{
    c_run r = c_compile(p);
    auto done = r.symbols.find("_test_done");
    if (r.status != 0 || done == r.symbols.end())
        return r;
    std::string stem = p.files[0].first.substr(0, p.files[0].first.rfind('.'));
    r.ram = tool_gpsim(r.dir, lower(p.chip), stem + ".hex", done->second, &r.log, p.cycles);
    r.finished = r.ram.count(done->second) && r.ram[done->second] == 1;
    return r;
}

c_run c_run_text(const std::string &chip, const std::string &text)
{
    c_program p;
    p.chip = chip;
    p.files.push_back({"main.c", text});
    return c_compile_and_run(p);
}

bool c_can_simulate()
{
    return system("gpsim -v >/dev/null 2>&1 </dev/null") == 0;
}
