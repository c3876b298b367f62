// The operating-system layer: the one unit that talks to the platform.
//
// Temporary files, environment, time, spawning, path arithmetic, file tests,
// the running program's own path, 16-bit character strings, and the
// library's own sort and binary search. Path rules exist in two styles, the
// Windows one (backslash, drive letters, UNC names) and the POSIX one ('/'
// only); the native style is chosen at build time and both are testable.
#include "common.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

#ifdef _WIN32
const int os_native_path_style = OS_PATH_WINDOWS;
const char os_dir_sep = '\\';
#else
const int os_native_path_style = OS_PATH_POSIX;
const char os_dir_sep = '/';
#endif

// Program's replacement for the assertion report, or null.
static assert_hook_t assert_hook;

// ---------------------------------------------------------------------------
// assertions
// ---------------------------------------------------------------------------
void os_set_assert_hook(assert_hook_t hook) { assert_hook = hook; }

void os_assert_fail(const char *expr, const char *unit, int line)
{
    if (assert_hook)
        assert_hook(expr, unit, line);
    else
        msg_report(4, expr, unit, line);
    tool_exit(1);
    exit(1);
}

// ---------------------------------------------------------------------------
// sort and search
// ---------------------------------------------------------------------------
static void os_swap_bytes(char *a, char *b, size_t size)
{
    while (size--) {
        char t = *a;
        *a++ = *b;
        *b++ = t;
    }
}

// Iterative quicksort over an explicit stack of index ranges; the pivot is a
// copy, so swaps never move it, and the larger part is always the one pushed
// so the stack stays within log2(n) ranges.
void os_qsort(void *vbase, size_t n, size_t size, os_compare_t compare)
{
    if (n < 2)
        return;
    CM_ASSERT(vbase, "osdep", 906);
    char *base = static_cast<char *>(vbase);
    char frame[800];
    char *pivot = size < sizeof frame ? frame : static_cast<char *>(malloc(size + 1));
    if (!pivot)
        return;
    pivot[size] = 0;
    struct range { long lo, hi; } stack[64];
    int top = 0;
    stack[top++] = {0, static_cast<long>(n) - 1};
    while (top) {
        range r = stack[--top];
        long lo = r.lo, hi = r.hi;
        while (lo < hi) {
            memcpy(pivot, base + static_cast<size_t>((lo + hi) / 2) * size, size);
            long i = lo, j = hi;
            do {
                while (compare(base + i * size, pivot) < 0)
                    i++;
                while (compare(pivot, base + j * size) < 0)
                    j--;
                if (j < i)
                    break;
                os_swap_bytes(base + i * size, base + j * size, size);
                i++;
                j--;
            } while (j >= i);
            if (j - lo < hi - i) {
                if (i < hi)
                    stack[top++] = {i, hi};
                hi = j;
            } else {
                if (lo < j)
                    stack[top++] = {lo, j};
                lo = i;
            }
        }
    }
    if (pivot != frame)
        free(pivot);
}

void *os_bsearch(const void *key, const void *vbase, size_t n, size_t size, os_compare_t compare)
{
    if (n == 0)
        return nullptr;
    const char *base = static_cast<const char *>(vbase);
    long lo = 0, hi = static_cast<long>(n) - 1;
    while (lo <= hi) {
        long mid = (lo + hi) / 2;
        int r = compare(key, base + mid * size);
        if (r == 0)
            return const_cast<char *>(base + mid * size);
        if (r < 0) {
            if (mid == 0)
                break;
            hi = mid - 1;
        } else {
            lo = mid + 1;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// temporary files
// ---------------------------------------------------------------------------
struct temp_file {
    char *name;
    temp_file *next;
};
// Remembered temporary files and folders, newest first.
static temp_file *temp_files;
static FILE *capture_saved;   // the real standard output while a capture is open
static char *capture_text;
static size_t capture_size;

bool os_capture_stdout_begin()
{
    if (capture_saved)
        return false;
    fflush(stdout);
    FILE *memory = open_memstream(&capture_text, &capture_size);
    if (!memory)
        return false;
    capture_saved = stdout;
    stdout = memory;
    return true;
}

std::string os_capture_stdout_end()
{
    if (!capture_saved)
        return std::string();
    fclose(stdout);
    stdout = capture_saved;
    capture_saved = nullptr;
    std::string text(capture_text ? capture_text : "", capture_size);
    free(capture_text);
    capture_text = nullptr;
    capture_size = 0;
    return text;
}

// When set, temporary files stay after the run.
static int temp_keep;

std::string os_temp_folder()
{
    for (const char *name : {"TEMP", "TMP", "TMPDIR"})
        if (const char *dir = getenv(name); dir && *dir)
            return dir;
    return "/tmp";
}

static void temp_remember(const std::string &path)
{
    temp_file *t = static_cast<temp_file *>(xmalloc(sizeof(temp_file)));
    if (!temp_files)
        atexit(os_remove_temp_files);
    t->name = xstrdup(path.c_str());
    t->next = temp_files;
    temp_files = t;
}

// The pattern of a new temporary name in the temporary folder.
static std::string temp_pattern()
{
    std::string path = os_temp_folder();
    if (path.back() != '/')
        path += '/';
    return path + "zephXXXXXX";
}

char *os_temp_name()
{
    // mkstemp creates the file with a name nobody else holds.
    const std::string pattern = temp_pattern();
    std::string path = pattern;
    int fd = mkstemp(path.data());
    if (fd < 0) {
        // Callers take the name as given: a directory that cannot hold a new
        // file (missing, read-only, full) ends the run here with the reason.
        msg_report(141, "temporary", pattern.c_str());
        return nullptr;
    }
    close(fd);
    temp_remember(path);
    return xstrdup(path.c_str());
}

char *os_temp_dir()
{
    const std::string pattern = temp_pattern();
    std::string path = pattern;
    if (!mkdtemp(path.data())) {
        msg_report(141, "temporary", pattern.c_str());
        return nullptr;
    }
    temp_remember(path);
    return xstrdup(path.c_str());
}

void os_keep_temp_files(int on) { temp_keep = on; }

// A remembered folder goes with the files in it (it holds no folders).
static void temp_remove(const char *name)
{
    if (DIR *d = opendir(name)) {
        while (dirent *e = readdir(d))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                remove((std::string(name) + "/" + e->d_name).c_str());
        closedir(d);
    }
    remove(name);
}

void os_remove_temp_files()
{
    if (temp_keep)
        return;
    while (temp_files) {
        temp_file *t = temp_files;
        temp_files = t->next;
        temp_remove(t->name);
        free(t->name);
        free(t);
    }
}

// ---------------------------------------------------------------------------
// environment, time, spawning
// ---------------------------------------------------------------------------
int os_setenv(const char *name, const char *value)
{
    if (!name)
        return 0;
    return setenv(name, value ? value : "", 1) == 0;
}

const char *os_getenv(const char *name) { return getenv(name); }

long long os_time(long long *out)
{
    // Local-time conversions in every program use a zero offset from UTC,
    // whatever the machine's own zone, so outputs do not depend on it.
    static bool zone_fixed;
    if (!zone_fixed) {
        setenv("TZ", "EST0EDT", 1);
        tzset();
        zone_fixed = true;
    }
    long long t = static_cast<long long>(time(nullptr));
    if (out)
        *out = t;
    return t;
}

int os_spawn(const char *path, char *const argv[])
{
    fflush(stdout);
    fflush(stderr);
    pid_t pid;
    int rc = strchr(path, '/') ? posix_spawn(&pid, path, nullptr, nullptr, argv, environ)
                               : posix_spawnp(&pid, path, nullptr, nullptr, argv, environ);
    if (rc != 0) {
        errno = rc;
        return -1;
    }
    int status;
    while (waitpid(pid, &status, 0) < 0)
        if (errno != EINTR)
            return -1;
    if (WIFEXITED(status))
        // posix_spawn reports a failed exec as exit status 127 of the child.
        return WEXITSTATUS(status) == 127 && access(path, X_OK) != 0 ? -1 : WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return 1;
}

char *os_quote_arg(const char *text)
{
    if (strpbrk(text, " \t\n\v\f\r"))
        return xasprintf("\"%s\"", text);
    return xstrdup(text);
}

// ---------------------------------------------------------------------------
// paths
// ---------------------------------------------------------------------------
static bool path_is_sep(int style, char c)
{
    return c == '/' || (style == OS_PATH_WINDOWS && c == '\\');
}

static char path_sep(int style) { return style == OS_PATH_WINDOWS ? '\\' : '/'; }

char *os_path_join_style(int style, const char *dir, const char *name)
{
    if (!dir || !*dir)
        return nullptr;
    char sep = path_sep(style);
    std::string d = dir;
    if (!d.empty() && d.back() == sep)
        d.pop_back();
    if (*name == sep)
        name++;
    d += sep;
    d += name;
    return xstrdup(d.c_str());
}

char *os_path_join(const char *dir, const char *name)
{
    return os_path_join_style(os_native_path_style, dir, name);
}

// A component that starts at p and ends at a separator (or the end).
static bool path_component_is(int style, const char *p, const char *word, bool end_ok)
{
    size_t n = strlen(word);
    if (strncmp(p, word, n) != 0)
        return false;
    return path_is_sep(style, p[n]) || (end_ok && p[n] == 0);
}

char *os_path_normalize_style(int style, const char *path)
{
    std::string out;
    const char *p = path;
    // Leading "." or ".." components are kept as they are.
    while (path_component_is(style, p, "..", true) || path_component_is(style, p, ".", true)) {
        size_t n = p[1] == '.' ? 2 : 1;
        out.append(p, n);
        p += n;
        if (!path_is_sep(style, *p))
            break;
        out += *p++;
        while (path_is_sep(style, *p))
            p++;
    }
    // After ".." has dropped the only component, the separator that follows
    // is dropped too, so "a/../b" becomes "b" and not "/b".
    bool drop_sep = false;
    while (*p) {
        if (!path_is_sep(style, *p)) {
            out += *p++;
            continue;
        }
        while (path_is_sep(style, p[1]))
            p++;
        char sep = *p++;
        if (path_component_is(style, p, ".", true)) {
            p += 1;
            continue;
        }
        if (path_component_is(style, p, "..", true)) {
            p += 2;
            size_t cut = out.find_last_of(style == OS_PATH_WINDOWS ? "\\/" : "/");
            drop_sep = cut == std::string::npos;
            out.resize(drop_sep ? 0 : cut);
            continue;
        }
        if (drop_sep && out.empty()) {
            drop_sep = false;
            continue;
        }
        out += sep;
    }
    if (out.empty() && path_is_sep(style, path[0]))
        out += path[0];
    if (out.size() >= 3 && path_is_sep(style, out.back()) && out[out.size() - 2] != ':')
        out.pop_back();
    return xstrdup(out.c_str());
}

char *os_path_normalize(const char *path)
{
    return os_path_normalize_style(os_native_path_style, path);
}

bool os_path_is_absolute_style(int style, const char *path)
{
    if (!path || !*path)
        return false;
    if (style == OS_PATH_POSIX)
        return path[0] == '/';
    return path[1] == ':' || (path[0] == '\\' && path[1] == '\\');
}

bool os_path_is_absolute(const char *path)
{
    return os_path_is_absolute_style(os_native_path_style, path);
}

char *os_current_dir()
{
    std::string buf(4096, '\0');
    while (!getcwd(buf.data(), buf.size())) {
        if (errno != ERANGE)
            return xstrdup(".");
        buf.resize(buf.size() * 2);
    }
    return xstrdup(buf.c_str());
}

char *os_path_absolute(const char *path)
{
    if (os_path_is_absolute(path))
        return os_path_normalize(path);
    char *cwd = os_current_dir();
    char *joined = os_path_join(cwd, path);
    char *norm = os_path_normalize(joined);
    free(cwd);
    free(joined);
    return norm;
}

char *os_path_relative_to(int style, const char *absolute, const char *cwd)
{
    size_t n = strlen(cwd);
    // The current directory matches only at a component boundary: /ab is not
    // inside /a.
    if (n && strncmp(absolute, cwd, n) == 0 &&
        (absolute[n] == 0 || path_is_sep(style, absolute[n]) || path_is_sep(style, cwd[n - 1]))) {
        const char *rest = absolute + n;
        if (path_is_sep(style, *rest))
            rest++;
        return xstrdup(*rest ? rest : ".");
    }
    return xstrdup(absolute);
}

char *os_path_relative(const char *path)
{
    char *abs = os_path_absolute(path);
    char *cwd = os_current_dir();
    char *rel = os_path_relative_to(os_native_path_style, abs, cwd);
    free(abs);
    free(cwd);
    return rel;
}

const char *os_path_basename_style(int style, const char *path)
{
    if (!path)
        return nullptr;
    if (style == OS_PATH_POSIX) {
        const char *s = strrchr(path, '/');
        return s ? s + 1 : path;
    }
    for (char c : {'\\', '/', ':'})
        if (const char *s = strrchr(path, c))
            return s + 1;
    return path;
}

const char *os_path_basename(const char *path)
{
    return os_path_basename_style(os_native_path_style, path);
}

char *os_path_dirname_style(int style, const char *path)
{
    if (!path)
        return nullptr;
    const char *base = os_path_basename_style(style, path);
    if (base == path)
        return nullptr;
    return xstrdup(std::string(path, base - 1 - path).c_str());
}

char *os_path_dirname(const char *path)
{
    return os_path_dirname_style(os_native_path_style, path);
}

bool os_path_exact_case(const char *path)
{
    if (!os_file_exists(path))
        return false;
    const char *base = os_path_basename(path);
    char *dir = os_path_dirname(path);
    DIR *d = opendir(dir ? (*dir ? dir : "/") : ".");
    free(dir);
    if (!d)
        return false;
    bool found = false;
    while (dirent *e = readdir(d))
        if (strcmp(e->d_name, base) == 0) {
            found = true;
            break;
        }
    closedir(d);
    return found;
}

bool os_file_exists(const char *path)
{
    struct stat st;
    return path && stat(path, &st) == 0;
}

bool os_is_directory(const char *path)
{
    struct stat st;
    return path && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

char *os_program_path()
{
    std::string buf(4096, '\0');
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n < 0)
        return xstrdup("");
    buf.resize(n);
    return xstrdup(buf.c_str());
}

int os_remove_file(const char *path) { return remove(path); }
int os_rename_file(const char *from, const char *to) { return rename(from, to); }

// Across file systems the file is copied beside its new name under a name of
// this process, then renamed over it: the new name never holds a part.
int os_move_file(const char *from, const char *to)
{
    if (rename(from, to) == 0)
        return 0;
    if (errno != EXDEV)
        return -1;
    FILE *in = fopen(from, "rb");
    if (!in)
        return -1;
    std::string part = std::string(to) + "." + std::to_string(getpid()) + ".part";
    FILE *out = fopen(part.c_str(), "wb");
    bool ok = out != nullptr;
    char buf[8192];
    for (size_t n; ok && (n = fread(buf, 1, sizeof buf, in)) > 0;)
        ok = fwrite(buf, 1, n, out) == n;
    ok = ok && !ferror(in);
    fclose(in);
    if (out)
        ok = fclose(out) == 0 && ok;
    int saved = errno;
    if (ok && rename(part.c_str(), to) == 0) {
        remove(from);
        return 0;
    }
    remove(part.c_str());
    errno = saved;
    return -1;
}

bool os_same_file(const char *a, const char *b)
{
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

bool os_isatty(FILE *f) { return f && isatty(fileno(f)); }

// ---------------------------------------------------------------------------
// strings
// ---------------------------------------------------------------------------
char *os_str_lower(char *s)
{
    for (char *p = s; *p; p++)
        *p = static_cast<char>(tolower(static_cast<unsigned char>(*p)));
    return s;
}

char *os_str_upper(char *s)
{
    for (char *p = s; *p; p++)
        *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    return s;
}

uint16_t *os_wstr_copy(uint16_t *dst, const uint16_t *src)
{
    uint16_t *d = dst;
    while ((*d++ = *src++))
        ;
    return dst;
}

size_t os_wstr_len(const uint16_t *s)
{
    size_t n = 0;
    while (s[n])
        n++;
    return n;
}

uint16_t *os_wstr_dup(const uint16_t *s)
{
    uint16_t *d = static_cast<uint16_t *>(xmalloc((os_wstr_len(s) + 1) * sizeof(uint16_t)));
    return os_wstr_copy(d, s);
}

int os_wstr_compare(const uint16_t *a, const uint16_t *b)
{
    while (*a && *a == *b)
        a++, b++;
    return *a < *b ? -1 : *a > *b ? 1 : 0;
}

bool os_read_line(FILE *f, std::string &line)
{
    line.clear();
    int c;
    bool any = false;
    while ((c = getc(f)) != EOF) {
        any = true;
        if (c == '\n')
            break;
        line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return any;
}

// ---------------------------------------------------------------------------
// system description: not a Windows system, so neither family flag is set.
// ---------------------------------------------------------------------------
os_version_t os_version_info()
{
    os_version_t v;
    struct utsname u;
    v.text = uname(&u) == 0 ? std::string(u.sysname) + " " + u.release : "POSIX";
    v.flags = 0x10000;
    return v;
}

std::string os_version_text() { return os_version_info().text; }
unsigned os_version_flags() { return os_version_info().flags; }

// gcc names an address-sanitizer build by a macro, clang by a feature test.
#if defined(__SANITIZE_ADDRESS__)
#define OS_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define OS_ADDRESS_SANITIZER 1
#endif
#endif

#if defined(OS_ADDRESS_SANITIZER)
// The programs keep their tables until the process ends and free nothing
// before exit, by design; the sanitizer build looks for memory errors, not
// for that.
extern "C" const char *__asan_default_options() { return "detect_leaks=0"; }
#endif
