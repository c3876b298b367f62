// Runs plover as the driver does: options, input file, output file and
// string-store file, in a scratch directory of the build tree; alone, or
// after wren on C source.
#include "plover_run.h"
#include "tool_run.h"

#include <cstdlib>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

const char *const driver_switches =
    "-Gstrings,const -M -B -J -Y -r -QP,bank0 -QX,bank1 -QY,bank2 -QZ,bank3 -QF,far -QN,near "
    "-QI,interrupt -QS,persistent -QCu,const";

plover_result plover_run(const std::string &switches, const std::string &source)
{
    std::string dir = std::string(ZEPH_BUILD_DIR) + "/tests/plover_scratch_" + std::to_string(getpid());
    std::string mk = "mkdir -p " + dir;
    if (std::system(mk.c_str()) != 0)
        return {-1, "", "cannot make " + dir, "", "", ""};
    tool_write(dir + "/t.pre", source);
    std::string cmd = "cd " + dir + " && " + ZEPH_BUILD_DIR + "/bin/plover " + switches +
                      " t.pre t.plover s.tmp 2>t.err";
    int st = std::system(cmd.c_str());
    plover_result r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.output = tool_read(dir + "/t.plover");
    r.errors = tool_read(dir + "/t.err");
    r.xref = tool_read(dir + "/t.crf");
    r.protos = tool_read(dir + "/t.pro");
    r.info = tool_read(dir + "/t.fi");
    std::string rm = "rm -rf " + dir;
    (void)std::system(rm.c_str());
    return r;
}

// A folder of its own for each run, so that threads may run several at once.
plover_result plover_chain(const std::string &source)
{
    std::string dir = tool_tempdir("plover_chain");
    std::string bin = std::string(ZEPH_BUILD_DIR) + "/bin/";
    tool_write(dir + "/p.c", source);
    std::string cmd = "cd " + dir + " && " + bin + "wren -D_PIC14 -D_MPC_ -S1,2,2,3,4,3,3 p.c p.pre 2>p.err && " +
                      bin + "plover -v -u -fp " + driver_switches + " p.pre p.plover s.tmp 2>>p.err";
    int st = std::system(cmd.c_str());
    plover_result r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.output = tool_read(dir + "/p.plover");
    r.errors = tool_read(dir + "/p.err");
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    return r;
}

bool plover_chain_ready()
{
    return access((std::string(ZEPH_BUILD_DIR) + "/bin/wren").c_str(), X_OK) == 0;
}

std::string plover_body(const std::string &records)
{
    size_t from = records.find("[f ]\n");
    size_t to = records.find("[e :UE ", from);
    if (from == std::string::npos || to == std::string::npos)
        return "(no body) " + records;
    return records.substr(from + 5, to - from - 5);
}

std::string plover_records(const std::string &output)
{
    std::stringstream in(output), out;
    std::string line;
    std::getline(in, line);
    while (std::getline(in, line))
        if (!line.empty() && line[0] != '"')
            out << line << "\n";
    return out.str();
}

bool plover_reported(const plover_result &r, int n)
{
    return r.errors.find("(" + std::to_string(n) + ")") != std::string::npos;
}
