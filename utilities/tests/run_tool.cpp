// Process harness for the utilities' tests (see run_tool.h).

#include "run_tool.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

std::string scratch_dir()
{
    const testing::TestInfo *t = testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(t->test_suite_name()) + "." + t->name();
    for (char &c : name)
        if (c == '/')
            c = '_';
    std::filesystem::path dir = std::filesystem::current_path() / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void write_file(const std::string &path, const std::string &bytes)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << bytes;
}

bool file_exists(const std::string &path)
{
    return std::filesystem::exists(path);
}

bool has_message(const tool_run &r, int n)
{
    return r.err.find("(" + std::to_string(n) + ") ") != std::string::npos;
}

tool_run run_tool(const std::string &dir, const char *program, const std::vector<std::string> &args,
                  const std::string &input)
{
    std::string path = std::string(ZEPH_BUILD_DIR) + "/bin/" + program;
    std::string in_path = dir + "/.stdin", out_path = dir + "/.stdout", err_path = dir + "/.stderr";
    write_file(in_path, input);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(path.c_str()));
    for (const std::string &a : args)
        argv.push_back(const_cast<char *>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid == 0) {
        int in = open(in_path.c_str(), O_RDONLY);
        int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || chdir(dir.c_str()) != 0)
            _exit(127);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        unsetenv("VRK_ERR_FORMAT");
        unsetenv("VRK_WARN_FORMAT");
        unsetenv("VRK_MSG_FORMAT");
        unsetenv("VRK_ERR_FILE");
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    tool_run r;
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    return r;
}
