// Allocation that never hands back uninitialised memory, and bounded string
// formatting. Running out of memory ends the run: there is nothing sensible a
// batch tool can do without it, and callers need not test for null.
#include "common.h"

#include <cstdlib>
#include <cstring>

// Longest text the 4096-byte format buffer holds.
static const size_t FORMAT_LIMIT = 4095;

[[noreturn]] static void alloc_fail(size_t size)
{
    fprintf(stderr, "can't allocate %u bytes of memory\n", static_cast<unsigned>(size));
    fflush(stderr);
    exit(1);
}

void *xmalloc(size_t size)
{
    void *p = calloc(1, size ? size : 1);
    if (!p)
        alloc_fail(size);
    return p;
}

void *xrealloc(void *p, size_t size)
{
    void *q = realloc(p, size ? size : 1);
    if (!q)
        alloc_fail(size);
    return q;
}

char *xstrdup(const char *s)
{
    size_t n = strlen(s);
    char *d = static_cast<char *>(xmalloc(n + 1));
    memcpy(d, s, n);
    return d;
}

std::string str_vprintf(const char *format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    char small[256];
    int n = vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return std::string();
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, n);
    std::string s(n, '\0');
    vsnprintf(s.data(), n + 1, format, args);
    return s;
}

std::string str_printf(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    std::string s = str_vprintf(format, ap);
    va_end(ap);
    return s;
}

char *xvasprintf(const char *format, va_list args)
{
    std::string s = str_vprintf(format, args);
    if (s.size() > FORMAT_LIMIT) {
        fputs("buffer overflow in vsnprintf", stderr);
        s.resize(FORMAT_LIMIT);
    }
    return xstrdup(s.c_str());
}

char *xasprintf(const char *format, ...)
{
    va_list ap;
    va_start(ap, format);
    char *s = xvasprintf(format, ap);
    va_end(ap);
    return s;
}

char *xstrcat(const char *a, const char *b)
{
    size_t na = strlen(a), nb = strlen(b);
    char *s = static_cast<char *>(xmalloc(na + nb + 1));
    memcpy(s, a, na);
    memcpy(s + na, b, nb);
    return s;
}

char *xstrcat_free(char *a, const char *b)
{
    char *s = xstrcat(a, b);
    free(a);
    return s;
}

int hex_digit_value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}
