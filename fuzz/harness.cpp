// The fuzz harness: a scratch folder per fuzzing process, a fork server, one
// child per input forked by it, the child's coverage copied back, and a
// report when the child does not finish.
//
// The fork server is forked at start-up, while the fuzzing process is still
// small: forking the grown fuzzing process itself for every input costs
// several times more (its pages become copy-on-write on every run). The
// fuzzer writes each input to the file, wakes the server through a pipe and
// waits for the status it sends back; the server forks the child that runs
// the program.
//
// The child's end is caught where the programs end: every exit() goes
// through __wrap_exit (the targets link with --wrap=exit), which notes the
// status; a handler the child registers before the program runs is the
// last of the program's handlers, and it copies the coverage counters into
// the shared page, marks the run finished and leaves with _exit. A
// sanitizer report, a signal or a kill leaves the page unmarked.
#include "harness.h"

#include "common.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern "C" {
// The coverage counters of the whole binary, the section libFuzzer watches
// (absent when the harness is built without coverage).
__attribute__((weak)) extern uint8_t __start___sancov_cntrs[];
__attribute__((weak)) extern uint8_t __stop___sancov_cntrs[];
[[noreturn]] void __real_exit(int status);
[[noreturn]] void __wrap_exit(int status);
int LLVMFuzzerInitialize(int *argc, char ***argv);
int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);
}

// What the child leaves for the parent, at the start of the shared page.
struct child_report_t {
    volatile int finished;  // main returned or exit() ran to its end
    int status;             // the program's exit status
    volatile pid_t child;   // the running child, for the fuzzer to kill
};

static const unsigned default_timeout = 10;     // seconds a run may take (ZEPH_FUZZ_TIMEOUT)
static const rlim_t output_limit = 64u << 20;   // bytes any one output may reach

static std::string scratch;         // this process's scratch folder
static std::string run_dir;         // the child's current folder: input and outputs
static std::string log_path;        // the child's standard output and error
static unsigned timeout_seconds;    // the time limit of one run
static child_report_t *report;      // the shared page's header
static uint8_t *shared_counters;    // the shared page's copy of the counters
static size_t counter_bytes;        // size of the counter section
static int to_server;               // the fuzzer's end of the pipe that starts a run
static int from_server;             // the fuzzer's end of the pipe that brings its status
static bool in_child;               // this process is a child running the program
static int child_status;            // the status the child's exit() was given

// ---------------------------------------------------------------------------
// scratch folder
// ---------------------------------------------------------------------------
static int remove_entry(const char *path, const struct stat *, int, struct FTW *ftw)
{
    if (ftw->level > 0)
        remove(path);
    return 0;
}

// Empties a folder, keeping the folder itself.
static void empty_folder(const std::string &dir)
{
    nftw(dir.c_str(), remove_entry, 16, FTW_DEPTH | FTW_PHYS);
}

static void remove_scratch()
{
    if (in_child || scratch.empty())
        return;
    empty_folder(scratch);
    rmdir(scratch.c_str());
}

static void fail_setup(const char *what)
{
    fprintf(stderr, "fuzz harness: %s: %s\n", what, strerror(errno));
    abort();
}

// The scratch folder holds the child's folder, the temporary folder the
// programs use, a registry that names the build tree as the installation,
// and the log.
static void make_scratch()
{
    const char *tmp = getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zeph-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()))
        fail_setup("scratch folder");
    scratch = pattern;
    run_dir = scratch + "/run";
    std::string temp = scratch + "/tmp";
    log_path = scratch + "/log";
    if (mkdir(run_dir.c_str(), 0700) != 0 || mkdir(temp.c_str(), 0700) != 0)
        fail_setup("scratch folder");
    atexit(remove_scratch);
    setenv("VRK_REGISTRY", (scratch + "/registry").c_str(), 1);
    if (install_dir_set(ZEPH_BUILD_DIR) != 0)
        fail_setup("registry");
}

static void make_shared_page()
{
    if (__start___sancov_cntrs && __stop___sancov_cntrs)
        counter_bytes = static_cast<size_t>(__stop___sancov_cntrs - __start___sancov_cntrs);
    void *page = mmap(nullptr, sizeof(child_report_t) + counter_bytes, PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        fail_setup("shared page");
    report = static_cast<child_report_t *>(page);
    shared_counters = reinterpret_cast<uint8_t *>(report + 1);
}

[[noreturn]] static void server_loop(int start, int done);

// libFuzzer calls this before it builds its own state, so the server it
// forks holds none of it (no exit handler or death callback of libFuzzer's).
int LLVMFuzzerInitialize(int *, char ***)
{
    const char *t = getenv("ZEPH_FUZZ_TIMEOUT");
    timeout_seconds = t && atoi(t) > 0 ? static_cast<unsigned>(atoi(t)) : default_timeout;
    make_scratch();
    make_shared_page();
    int start[2], done[2];
    if (pipe(start) != 0 || pipe(done) != 0)
        fail_setup("pipe");
    pid_t pid = fork();
    if (pid < 0)
        fail_setup("fork");
    if (pid == 0) {
        close(start[1]);
        close(done[0]);
        server_loop(start[0], done[1]);
    }
    close(start[0]);
    close(done[1]);
    to_server = start[1];
    from_server = done[0];
    return 0;
}

// ---------------------------------------------------------------------------
// the child
// ---------------------------------------------------------------------------
void __wrap_exit(int status)
{
    if (in_child)
        child_status = status;
    __real_exit(status);
}

static void child_finish()
{
    if (counter_bytes)
        memcpy(shared_counters, __start___sancov_cntrs, counter_bytes);
    report->status = child_status;
    report->finished = 1;
    _exit(0);
}

static void replace_all(std::string &s, const char *token, const std::string &value)
{
    for (size_t at = s.find(token); at != std::string::npos; at = s.find(token, at + value.size()))
        s.replace(at, strlen(token), value);
}

static std::string child_arg(const char *arg)
{
    std::string s = arg;
    replace_all(s, "{build}", ZEPH_BUILD_DIR);
    replace_all(s, "{src}", ZEPH_SOURCE_DIR);
    return s;
}

static void child_streams()
{
    int in = open("/dev/null", O_RDONLY);
    int out = open("/dev/null", O_WRONLY);
    int log = open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || log < 0)
        _exit(111);
    dup2(in, 0);
    dup2(out, 1);
    dup2(log, 2);
}

[[noreturn]] static void child_run()
{
    in_child = true;
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    atexit(child_finish);
    child_streams();
    struct rlimit size = {output_limit, output_limit};
    setrlimit(RLIMIT_FSIZE, &size);
    if (chdir(run_dir.c_str()) != 0)
        _exit(111);
    // Only the child's: libFuzzer keeps its own files in the temporary folder.
    std::string temp = scratch + "/tmp";
    for (const char *name : {"TEMP", "TMP", "TMPDIR"})
        setenv(name, temp.c_str(), 1);
    std::vector<std::string> words = {fuzz_target.name};
    for (const char *const *a = fuzz_target.args; *a; a++)
        words.push_back(child_arg(*a));
    std::vector<char *> argv;
    for (std::string &w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    exit(fuzz_target.main(static_cast<int>(words.size()), argv.data()));
}

// ---------------------------------------------------------------------------
// the fork server
// ---------------------------------------------------------------------------
static bool read_all(int fd, void *buf, size_t n)
{
    char *p = static_cast<char *>(buf);
    while (n) {
        ssize_t r = read(fd, p, n);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

// One child per byte read; its wait status goes back. The server ends with
// the fuzzer (its pipe closes, or the death signal).
static void server_loop(int start, int done)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    char go;
    while (read_all(start, &go, 1)) {
        report->finished = 0;
        pid_t pid = fork();
        if (pid < 0)
            _exit(111);
        if (pid == 0)
            child_run();
        report->child = pid;
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        report->child = 0;
        if (write(done, &wstatus, sizeof wstatus) != sizeof wstatus)
            _exit(111);
    }
    _exit(0);
}

// ---------------------------------------------------------------------------
// the fuzzer
// ---------------------------------------------------------------------------
// Waits for the run's status; false when it ran past the time limit (the
// child is killed then). The pipe is polled with short, growing pauses:
// blocking in poll until the server writes costs far more than a run on a
// virtual machine whose idle processor wakes slowly.
static bool fuzzer_wait(int *wstatus)
{
    struct pollfd p = {from_server, POLLIN, 0};
    unsigned waited_us = 0;
    unsigned pause_us = 20;
    bool in_time = true;
    while (poll(&p, 1, 0) == 0 || (p.revents & POLLIN) == 0) {
        if (waited_us > timeout_seconds * 1000000u) {
            in_time = false;
            if (report->child > 0)
                kill(report->child, SIGKILL);
            break;
        }
        usleep(pause_us);
        waited_us += pause_us;
        pause_us = pause_us < 1000 ? pause_us * 2 : pause_us;
    }
    if (!read_all(from_server, wstatus, sizeof *wstatus))
        fail_setup("fork server");
    return in_time;
}

static void print_log()
{
    FILE *f = fopen(log_path.c_str(), "rb");
    if (!f)
        return;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        fwrite(buf, 1, n, stderr);
    fclose(f);
}

[[noreturn]] static void fuzzer_report(bool in_time, int wstatus)
{
    fprintf(stderr, "==fuzz== %s: ", fuzz_target.name);
    if (!in_time)
        fprintf(stderr, "the run took more than %u s (a hang)", timeout_seconds);
    else if (WIFSIGNALED(wstatus))
        fprintf(stderr, "the run ended by signal %d (%s)", WTERMSIG(wstatus), strsignal(WTERMSIG(wstatus)));
    else
        fprintf(stderr, "the run ended with status %d before finishing (a sanitizer report)",
                WEXITSTATUS(wstatus));
    fprintf(stderr, "; the program's messages:\n");
    print_log();
    fflush(stderr);
    abort();
}

static void write_input(const std::string &path, const uint8_t *data, size_t size)
{
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || fwrite(data, 1, size, f) != size || fclose(f) != 0)
        fail_setup(path.c_str());
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    write_input(run_dir + "/" + fuzz_target.input_name, data, size);
    char go = 1;
    if (write(to_server, &go, 1) != 1)
        fail_setup("fork server");
    int wstatus = 0;
    bool in_time = fuzzer_wait(&wstatus);
    if (!in_time || !report->finished)
        fuzzer_report(in_time, wstatus);
    if (counter_bytes)
        memcpy(__start___sancov_cntrs, shared_counters, counter_bytes);
    empty_folder(run_dir);
    empty_folder(scratch + "/tmp");
    return 0;
}
