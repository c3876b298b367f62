// Message boxes, the fatal path and the path lists.
//
// On this system the boxes are console texts: "<caption>: <text>" on the
// standard error stream; a question is answered on standard input (no
// answer is the safe one). A fatal error deletes the temporary paths and
// the file left unfinished, then ends the program with status 1; every
// other exit runs the same clean-up from tool_exit and an exit handler.
#include "setup.h"

#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

vector_t *setup_temp_paths;
vector_t *setup_installed_files;
vector_t *setup_installed_folders;

vector_t *setup_created_files;

// The test hook that replaces the fatal exit, or null.
static setup_fatal_hook_t fatal_hook;
// The file being written by a record extraction, or null.
static char *unfinished;

void setup_set_fatal_hook(setup_fatal_hook_t hook) { fatal_hook = hook; }

static std::string alert_format(const char *format, va_list args)
{
    char text[4096];
    vsnprintf(text, sizeof text, format, args);
    return text;
}

static void alert_show(const char *caption, const std::string &text)
{
    fflush(stdout);
    fprintf(stderr, "%s: %s\n", caption, text.c_str());
    fflush(stderr);
}

void setup_fatal(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    std::string text = alert_format(format, args);
    va_end(args);
    if (fatal_hook) {
        fatal_hook(text.c_str());
        abort();
    }
    alert_show("Fatal error", text);
    exit(1);
}

void setup_error(const char *caption, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    alert_show(caption, alert_format(format, args));
    va_end(args);
}

bool setup_retry(const char *caption, const char *format, ...)
{
    va_list args;
    va_start(args, format);
    alert_show(caption, alert_format(format, args));
    va_end(args);
    fputs("Retry or Cancel? [r/c] ", stderr);
    fflush(stderr);
    std::string answer;
    if (!os_read_line(stdin, answer)) {
        // A signal that cut the wait short ends the run by that signal.
        setup_poll_signal();
        return false;
    }
    return !answer.empty() && (answer[0] == 'r' || answer[0] == 'R');
}

// ---------------------------------------------------------------------------
// path lists and clean-up
// ---------------------------------------------------------------------------
// The undo of the work in progress, or null; and a signal that arrived
// while it was set.
static void (*rollback)();
static volatile sig_atomic_t signal_pending;

void setup_set_rollback(void (*undo)()) { rollback = undo; }

// Every exit while work is in progress undoes it first.
static void alert_run_rollback()
{
    void (*undo)() = rollback;
    rollback = nullptr;
    if (!undo)
        return;
    // The file half written goes first: its folder is then empty.
    if (unfinished) {
        unlink(unfinished);
        free(unfinished);
        unfinished = nullptr;
    }
    undo();
}

static void alert_atexit()
{
    alert_run_rollback();
    setup_remove_temp_paths();
}

// A signal outside the work ends the run as Cancel does: the temporary
// paths go. During the work it is only noted: setup_poll_signal undoes the
// work between two writes, where nothing is half done.
static void alert_on_signal(int sig)
{
    if (rollback) {
        signal_pending = sig;
        return;
    }
    setup_remove_temp_paths();
    signal(sig, SIG_DFL);
    raise(sig);
}

void setup_poll_signal()
{
    int sig = signal_pending;
    if (!sig)
        return;
    alert_show("Setup", "Interrupted; the changes made by this run were undone");
    alert_run_rollback();
    setup_remove_temp_paths();
    signal(sig, SIG_DFL);
    raise(sig);
}

void setup_lists_init()
{
    if (setup_temp_paths)
        return;
    setup_temp_paths = vec_new_default();
    setup_installed_files = vec_new_default();
    setup_installed_folders = vec_new_default();
    setup_created_files = vec_new_default();
    atexit(alert_atexit);
    // No restart: a question waiting for input ends as Cancel.
    struct sigaction sa {};
    sa.sa_handler = alert_on_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP})
        sigaction(sig, &sa, nullptr);
    // A file larger than the limit is a failed write, not the end of the run.
    signal(SIGXFSZ, SIG_IGN);
}

void setup_remember_temp(const char *path)
{
    setup_lists_init();
    vec_push(setup_temp_paths, xstrdup(path));
}

void setup_set_unfinished(const char *path)
{
    free(unfinished);
    unfinished = path ? xstrdup(path) : nullptr;
}

void setup_remove_temp_paths()
{
    if (unfinished) {
        unlink(unfinished);
        free(unfinished);
        unfinished = nullptr;
    }
    if (!setup_temp_paths)
        return;
    for (uint32_t i = vec_count(setup_temp_paths); i-- > 0;) {
        const char *path = static_cast<const char *>(vec_get(setup_temp_paths, i));
        struct stat st;
        if (lstat(path, &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode))
            rmdir(path);
        else
            unlink(path);
    }
    vec_clear(setup_temp_paths);
}

// The common library calls this after its own fatal reports (an allocation
// that fails).
void tool_exit(int)
{
    alert_run_rollback();
    setup_remove_temp_paths();
}
