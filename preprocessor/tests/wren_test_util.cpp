// Helpers of the wren tests (see wren_test.h). They use only the host's C
// library and shell, never the program's own code.
#include "wren_test.h"
#include "tool_run.h"

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

std::string wren_program()
{
    return std::string(ZEPH_BUILD_DIR) + "/bin/wren";
}

scratch_dir::scratch_dir()
{
    char tmpl[] = "/tmp/wren_test_XXXXXX";
    path = mkdtemp(tmpl);
}

scratch_dir::~scratch_dir()
{
    std::string cmd = "chmod -R u+w '" + path + "' 2>/dev/null; rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0)
        fprintf(stderr, "could not remove %s\n", path.c_str());
}

void scratch_dir::write(const std::string &name, const std::string &text) const
{
    std::string full = at(name);
    for (size_t i = path.size() + 1; (i = full.find('/', i)) != std::string::npos; i++)
        mkdir(full.substr(0, i).c_str(), 0777);
    tool_write(full, text);
}

std::string scratch_dir::read(const std::string &name) const
{
    return tool_read(at(name));
}

wren_result wren_run(const scratch_dir &dir, const std::string &args, const std::string &env)
{
    std::string cmd = "cd '" + dir.path + "' && " + env + " '" + wren_program() + "' " + args +
                      " >.wren_out 2>.wren_err </dev/null";
    int st = system(cmd.c_str());
    wren_result r;
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = dir.read(".wren_out");
    r.err = dir.read(".wren_err");
    return r;
}

wren_result wren_text(const std::string &source, const std::string &args)
{
    scratch_dir d;
    d.write("t.c", source);
    return wren_run(d, args + " t.c");
}

std::vector<int> wren_numbers(const std::string &err)
{
    std::vector<int> out;
    std::istringstream in(err);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos)
            out.push_back(atoi(line.c_str()));
    return out;
}

wren_outcome wren_outcome_of(const std::string &source, const std::string &args)
{
    scratch_dir d;
    d.write("t.c", source);
    wren_result r = wren_run(d, "-E1 -W-9 " + args + " t.c",
                             "VRK_ERR_FORMAT=%n VRK_WARN_FORMAT=%n VRK_MSG_FORMAT=%n");
    return {r.status, wren_tokens(r.out), wren_numbers(r.err)};
}

std::vector<int> wren_text_numbers(const std::string &source, const std::string &args)
{
    return wren_outcome_of(source, args).numbers;
}

std::string wren_tokens(const std::string &text)
{
    std::istringstream in(text);
    std::string line, out;
    while (std::getline(in, line)) {
        std::string sq;
        bool blank = false;
        for (char c : line) {
            if (c == ' ' || c == '\t' || c == '\r') {
                blank = !sq.empty();
                continue;
            }
            if (blank)
                sq += ' ';
            blank = false;
            sq += c;
        }
        if (sq.empty() || (sq[0] == '#' && sq.size() > 2 && sq[1] == ' ' && isdigit((unsigned char)sq[2])))
            continue;
        out += sq + "\n";
    }
    return out;
}
