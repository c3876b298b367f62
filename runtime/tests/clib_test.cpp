// The C library of string.h, ctype.h and stdlib.h, compiled by the installed
// chain for the 16F877A and run in gpsim: each function on tables of inputs
// held in RAM, its results compared with what the host's C library gives for
// the same inputs, in the chip's sizes (int 16 bits, long 32).
#include "csim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

void tool_exit(int) {}

namespace {

// Strings laid end to end, each with its null, each string once. The
// chip's copy is a RAM array of the same bytes, so an offset names the same
// string on both sides and a pointer result compares as its offset. A
// program's pool holds the strings of its own cases: what pointers reach
// must fit banks 0-1.
struct string_pool {
    std::string bytes;
    std::vector<std::string> strings;
    std::vector<unsigned> at;   // where each string starts
    // The index of s, added when it is new.
    size_t add(const std::string &s)
    {
        for (size_t k = 0; k < strings.size(); k++)
            if (strings[k] == s)
                return k;
        strings.push_back(s);
        at.push_back((unsigned)bytes.size());
        bytes += s;
        bytes += '\0';
        return strings.size() - 1;
    }
    // The chip's copy, named pool.
    std::string declaration() const
    {
        std::string s = "char pool[" + std::to_string(bytes.size()) + "] = {";
        for (size_t i = 0; i < bytes.size(); i++)
            s += (i ? ", " : "") + std::to_string((unsigned char)bytes[i]);
        return s + "};\n";
    }
    // The C expression of the string s in the chip's copy.
    std::string arg(const std::string &s) { return "(pool + " + std::to_string(at[add(s)]) + ")"; }
    const char *host(const std::string &s) { return bytes.c_str() + at[add(s)]; }
};

// The most bytes a program's pool takes.
const size_t pool_limit = 48;

// Element `index` of an array of `size`-byte elements.
int64_t element(const c_run &r, const std::string &name, unsigned index, unsigned size, bool is_signed = true)
{
    uint64_t v = 0;
    for (unsigned k = 0; k < size; k++)
        v |= (uint64_t)(r.byte(name, index * size + k) & 0xFF) << (8 * k);
    if (is_signed && (v >> (8 * size - 1) & 1))
        v |= ~0ull << (8 * size);
    return (int64_t)v;
}

// Builds and runs a program; false, with the failure reported, when it was
// refused or did not reach its end.
bool run(const std::string &text, c_run &r)
{
    c_program p;
    p.files.push_back({"main.c", text});
    r = c_compile_and_run(p);
    if (r.status != 0) {
        ADD_FAILURE() << r.output << "\n" << text;
        return false;
    }
    if (!r.finished) {
        ADD_FAILURE() << "the program did not finish\n" << r.log << "\n" << text;
        return false;
    }
    return true;
}

// The cases [0, count) in programs of at most `per_program` cases whose
// strings (`strings` of a case) fit one pool: `text` writes the program of
// the cases [first, first + n) with their pool, `check` compares the run of
// it.
using program_text = std::function<std::string(size_t first, size_t n, string_pool &pool)>;
using program_check = std::function<void(const c_run &r, size_t first, size_t n, string_pool &pool)>;
void in_programs(size_t count, size_t per_program, const std::function<std::vector<std::string>(size_t)> &strings,
                 const program_text &text, const program_check &check)
{
    for (size_t first = 0; first < count;) {
        string_pool pool;
        size_t n = 0;
        while (first + n < count && n < per_program) {
            string_pool bigger = pool;
            for (const std::string &s : strings(first + n))
                bigger.add(s);
            if (n && bigger.bytes.size() > pool_limit)
                break;
            pool = bigger;
            n++;
        }
        c_run r;
        if (run(text(first, n, pool), r))
            check(r, first, n, pool);
        first += n;
    }
}

// The size of a program's result array of n elements: at least two, since
// a store into an array of one element may be refused (712).
std::string elements(size_t n)
{
    return std::to_string(std::max<size_t>(n, 2));
}

std::vector<std::string> no_strings(size_t)
{
    return {};
}

// Statements as functions of ten (a function's code must fit one page) and
// a main that calls them in order, then FINISH().
std::string in_functions(const std::vector<std::string> &statements, const std::string &before_main = "")
{
    std::ostringstream s;
    size_t parts = 0;
    for (size_t i = 0; i < statements.size(); i++) {
        if (i % 10 == 0)
            s << (i ? "}\n" : "") << "void part" << parts++ << "(void)\n{\n";
        s << "    " << statements[i] << "\n";
    }
    s << (statements.empty() ? "" : "}\n") << before_main << "void main(void)\n{\n";
    for (size_t k = 0; k < parts; k++)
        s << "    part" << k << "();\n";
    s << "    FINISH();\n}\n";
    return s.str();
}

// `text` with every `from` replaced by `to`.
std::string replace_all(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
    return text;
}

long sign(int v)
{
    return (v > 0) - (v < 0);
}

long offset(const char *base, const void *p)
{
    return p ? (long)((const char *)p - base) : -1;
}

// ---------------------------------------------------------------------------
// string.h: searches and comparisons
// ---------------------------------------------------------------------------

// A function that reads strings: its call in C (A and B the strings, N the
// size, C the character; sgn() keeps a comparison's sign, off() turns a
// pointer into its offset in the pool, -1 for NULL) and on the host.
struct search_function {
    const char *name;
    const char *call;
    long (*host)(const char *pool, const char *a, const char *b, unsigned n, int c);
};

const search_function search_functions[] = {
    {"strlen", "strlen(A)", [](const char *, const char *a, const char *, unsigned, int) { return (long)strlen(a); }},
    {"strcmp", "sgn(strcmp(A, B))", [](const char *, const char *a, const char *b, unsigned, int) { return sign(strcmp(a, b)); }},
    {"strncmp", "sgn(strncmp(A, B, N))",
     [](const char *, const char *a, const char *b, unsigned n, int) { return sign(strncmp(a, b, n)); }},
    {"memcmp", "sgn(memcmp(A, B, N))",
     [](const char *, const char *a, const char *b, unsigned n, int) { return sign(memcmp(a, b, n)); }},
    {"strchr", "off(strchr(A, C))", [](const char *p, const char *a, const char *, unsigned, int c) { return offset(p, strchr(a, c)); }},
    {"strrchr", "off(strrchr(A, C))",
     [](const char *p, const char *a, const char *, unsigned, int c) { return offset(p, strrchr(a, c)); }},
    {"memchr", "off(memchr(A, C, N))",
     [](const char *p, const char *a, const char *, unsigned n, int c) { return offset(p, memchr(a, c, n)); }},
    {"strstr", "off(strstr(A, B))", [](const char *p, const char *a, const char *b, unsigned, int) { return offset(p, strstr(a, b)); }},
    {"strspn", "strspn(A, B)", [](const char *, const char *a, const char *b, unsigned, int) { return (long)strspn(a, b); }},
    {"strcspn", "strcspn(A, B)", [](const char *, const char *a, const char *b, unsigned, int) { return (long)strcspn(a, b); }},
    {"strpbrk", "off(strpbrk(A, B))",
     [](const char *p, const char *a, const char *b, unsigned, int) { return offset(p, strpbrk(a, b)); }},
};

// The row of a table of functions with that name.
template <class Row, size_t N>
const Row &named(const Row (&table)[N], const std::string &name)
{
    for (const Row &f : table)
        if (name == f.name)
            return f;
    throw std::runtime_error("no function " + name);
}

// Empty strings, prefixes, bytes above 127 (compared as unsigned char),
// sets for the span functions.
struct search_case {
    const char *function;
    std::string a, b;
    unsigned n;
    int c;
};

TEST(RuntimeStrings, SearchesAndComparisonsMatchTheHost)
{
    NEEDS_SIMULATOR();
    const std::vector<search_case> cases = {
        {"strlen", "", "", 0, 0}, {"strlen", "a", "", 0, 0}, {"strlen", "hello world", "", 0, 0},
        {"strlen", "ab\xff", "", 0, 0},
        // equal, a prefix either way, first difference, above 127, empty
        {"strcmp", "hello", "hello", 0, 0}, {"strcmp", "hel", "hello", 0, 0}, {"strcmp", "hello", "hel", 0, 0},
        {"strcmp", "hello", "help", 0, 0}, {"strcmp", "\x80", "\x01", 0, 0}, {"strcmp", "\x01", "\x80", 0, 0},
        {"strcmp", "", "", 0, 0}, {"strcmp", "", "a", 0, 0}, {"strcmp", "a", "", 0, 0},
        {"strcmp", "ab\xff", "ab", 0, 0}, {"strcmp", "ab", "ab\xff", 0, 0},
        // n of 0, before and at the difference, past the ends (256 and more
        // than a byte holds)
        {"strncmp", "hello", "help", 3, 0}, {"strncmp", "hello", "help", 4, 0}, {"strncmp", "hello", "help", 0, 0},
        {"strncmp", "hello", "hello", 1000, 0}, {"strncmp", "hello", "hel", 256, 0}, {"strncmp", "\x80", "\x01", 1, 0},
        {"strncmp", "", "a", 65535, 0}, {"strncmp", "hello", "hel", 3, 0},
        // past a null too: "hel\0" against "help"
        {"memcmp", "hello", "help", 3, 0}, {"memcmp", "hello", "help", 4, 0}, {"memcmp", "hello", "hel", 0, 0},
        {"memcmp", "hello", "hello", 6, 0}, {"memcmp", "hel", "help", 4, 0}, {"memcmp", "\x80", "\x01", 1, 0},
        {"memcmp", "ab\xff", "ab", 3, 0},
        // c converted to char: 0x16F is 'o', -1 is 0xFF; 0 finds the null
        {"strchr", "hello world", "", 0, 'o'}, {"strchr", "hello world", "", 0, 'z'}, {"strchr", "hello world", "", 0, 0},
        {"strchr", "", "", 0, 0}, {"strchr", "", "", 0, 'a'}, {"strchr", "hello world", "", 0, 0x16F},
        {"strchr", "ab\xff", "", 0, 0xFF}, {"strchr", "ab\xff", "", 0, -1},
        {"strrchr", "hello world", "", 0, 'o'}, {"strrchr", "hello world", "", 0, 'h'},
        {"strrchr", "hello world", "", 0, 'q'}, {"strrchr", "hello world", "", 0, 0}, {"strrchr", "", "", 0, 0},
        {"strrchr", "abcabc", "", 0, 'c'}, {"strrchr", "", "", 0, 'a'},
        // inside n, past n, n of 0, c converted to unsigned char, the null,
        // found long before a large n ends
        {"memchr", "hello world", "", 11, 'w'}, {"memchr", "hello world", "", 6, 'w'}, {"memchr", "hello world", "", 0, 'h'},
        {"memchr", "ab\xff", "", 3, 0x1FF}, {"memchr", "hello world", "", 12, 0}, {"memchr", "hello world", "", 1000, 'd'},
        // at the end, the empty string, longer than the string, a partial
        // match before the real one
        {"strstr", "hello world", "world", 0, 0}, {"strstr", "hello world", "", 0, 0}, {"strstr", "", "", 0, 0},
        {"strstr", "", "a", 0, 0}, {"strstr", "aaab", "aab", 0, 0}, {"strstr", "hel", "hello", 0, 0},
        {"strstr", "abcabc", "cba", 0, 0}, {"strstr", "hello world", "lo", 0, 0}, {"strstr", "abcabc", "ab", 0, 0},
        {"strstr", "ab", "abcabc", 0, 0},
        {"strspn", "hello world", "hel", 0, 0}, {"strspn", "hello world", "", 0, 0}, {"strspn", "", "hel", 0, 0},
        {"strspn", "abcabc", "cba", 0, 0},
        {"strcspn", "hello world", " ol", 0, 0}, {"strcspn", "hello world", "", 0, 0}, {"strcspn", "", " ol", 0, 0},
        {"strcspn", "abcabc", "xyz", 0, 0},
        {"strpbrk", "hello world", " ol", 0, 0}, {"strpbrk", "hello world", "xyz", 0, 0}, {"strpbrk", "hello world", "", 0, 0},
        {"strpbrk", "", " ol", 0, 0}, {"strpbrk", "hello world", "world", 0, 0},
    };
    auto call = [&](const search_case &k, string_pool &pool) {
        std::string t = named(search_functions, k.function).call;
        t = replace_all(t, "A", pool.arg(k.a));
        t = replace_all(t, "B", pool.arg(k.b));
        t = replace_all(t, "N", std::to_string(k.n) + "u");
        return replace_all(t, "C", std::to_string(k.c));
    };
    in_programs(
        cases.size(), 30, [&](size_t i) { return std::vector<std::string>{cases[i].a, cases[i].b}; },
        [&](size_t first, size_t n, string_pool &pool) {
            std::vector<std::string> statements;
            for (size_t i = 0; i < n; i++)
                statements.push_back("r[" + std::to_string(i) + "] = " + call(cases[first + i], pool) + ";");
            return "#include <string.h>\n" + pool.declaration() + "bank2 int r[" + elements(n) +
                   "];\n"
                   "int sgn(int v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }\n"
                   // the cast: the parser refuses a const char * less a char * (208)
                   "int off(const char *p) { return p ? (int)((char *)p - pool) : -1; }\n" +
                   in_functions(statements);
        },
        [&](const c_run &r, size_t first, size_t n, string_pool &pool) {
            for (size_t i = 0; i < n; i++) {
                const search_case &k = cases[first + i];
                long want = named(search_functions, k.function).host(pool.bytes.c_str(), pool.host(k.a), pool.host(k.b), k.n, k.c);
                EXPECT_EQ(element(r, "r", (unsigned)i, 2), want) << call(k, pool);
            }
        });
}

// ---------------------------------------------------------------------------
// string.h: copies, fills and strtok
// ---------------------------------------------------------------------------

// The work buffer w of the functions that write: before each case it holds
// a string of the pool followed by '#' to its end; after it, its bytes are
// kept in out[case].
const unsigned work_size = 16;

void host_fill(char *w, const char *init)
{
    memset(w, '#', work_size);
    strcpy(w, init);
}

std::string work_buffer_code(size_t cases)
{
    std::string size = std::to_string(work_size);
    return "char w[" + size + "];\n"
           "bank2 unsigned char out[" + std::to_string(cases) + "][" + size + "];\n"
           "void fill(unsigned char from)\n{\n    unsigned char j = 0;\n"
           "    while ((w[j] = pool[from + j]) != 0)\n        j++;\n"
           "    while (++j < " + size + ")\n        w[j] = '#';\n}\n"
           "void keep(unsigned char k)\n{\n    unsigned char j;\n"
           "    for (j = 0; j < " + size + "; j++)\n        out[k][j] = w[j];\n}\n";
}

void expect_work_buffer(const c_run &r, size_t i, const char *w, const std::string &what)
{
    for (unsigned j = 0; j < work_size; j++)
        EXPECT_EQ(r.byte("out", (unsigned)i * work_size + j), (unsigned char)w[j]) << what << ": byte " << j;
}

// A function that writes: its call in C (D the destination in w, S the
// source, N the size, V the value of memset) and on the host.
struct copy_function {
    const char *name;
    const char *call;
    char *(*host)(char *d, const char *s, unsigned n, int v);
};

const copy_function copy_functions[] = {
    {"memcpy", "memcpy(D, S, N)", [](char *d, const char *s, unsigned n, int) { return (char *)memcpy(d, s, n); }},
    {"memmove", "memmove(D, S, N)", [](char *d, const char *s, unsigned n, int) { return (char *)memmove(d, s, n); }},
    {"memset", "memset(D, V, N)", [](char *d, const char *, unsigned n, int v) { return (char *)memset(d, v, n); }},
    {"strcpy", "strcpy(D, S)", [](char *d, const char *s, unsigned, int) { return strcpy(d, s); }},
    {"strncpy", "strncpy(D, S, N)", [](char *d, const char *s, unsigned n, int) { return strncpy(d, s, n); }},
    {"strcat", "strcat(D, S)", [](char *d, const char *s, unsigned, int) { return strcat(d, s); }},
    {"strncat", "strncat(D, S, N)", [](char *d, const char *s, unsigned n, int) { return strncat(d, s, n); }},
};

struct copy_case {
    const char *function;
    std::string init;   // what w holds before
    int dst;            // the destination's offset in w
    std::string src;    // a string of the pool, or (when from is 0 or more) unused
    int from;           // the source in w at this offset, or -1
    unsigned n;
    int v;
};

TEST(RuntimeStrings, CopiesAndFillsMatchTheHost)
{
    NEEDS_SIMULATOR();
    const std::string abc = "abcdefghijklmno";
    const std::vector<copy_case> cases = {
        {"memcpy", abc, 2, "hello", -1, 5, 0}, {"memcpy", abc, 0, "hello", -1, 0, 0}, {"memcpy", abc, 4, "0123456789", -1, 11, 0},
        // overlap both ways, onto itself, n of 0
        {"memmove", abc, 2, "", 0, 8, 0}, {"memmove", abc, 0, "", 2, 8, 0}, {"memmove", abc, 3, "", 3, 5, 0},
        {"memmove", abc, 5, "", 0, 0, 0}, {"memmove", abc, 1, "", 0, 14, 0}, {"memmove", abc, 0, "", 1, 15, 0},
        // the value converted to unsigned char
        {"memset", abc, 3, "", -1, 4, 'Z'}, {"memset", abc, 0, "", -1, 2, 0x141}, {"memset", abc, 5, "", -1, 0, 0},
        {"memset", abc, 1, "", -1, 15, -1},
        {"strcpy", abc, 1, "hello", -1, 0, 0}, {"strcpy", abc, 0, "", -1, 0, 0}, {"strcpy", abc, 3, "0123456789", -1, 0, 0},
        // shorter than the source (no null), longer (filled with nulls), n
        // of 0, exactly the length
        {"strncpy", abc, 1, "hello", -1, 3, 0}, {"strncpy", abc, 1, "hello", -1, 8, 0}, {"strncpy", abc, 1, "", -1, 4, 0},
        {"strncpy", abc, 0, "hello", -1, 0, 0}, {"strncpy", abc, 2, "0123456789", -1, 10, 0},
        {"strcat", "xy", 0, "hello", -1, 0, 0}, {"strcat", "", 0, "hello", -1, 0, 0}, {"strcat", "xy", 0, "", -1, 0, 0},
        {"strcat", "xy", 1, "0123456789", -1, 0, 0},
        {"strncat", "xy", 0, "hello", -1, 2, 0}, {"strncat", "xy", 0, "hello", -1, 10, 0}, {"strncat", "xy", 0, "hello", -1, 0, 0},
        {"strncat", "", 0, "0123456789", -1, 5, 0}, {"strncat", "xy", 0, "hello", -1, 5, 0},
    };
    auto call = [&](const copy_case &k, string_pool &pool) {
        std::string t = named(copy_functions, k.function).call;
        t = replace_all(t, "D", "(w + " + std::to_string(k.dst) + ")");
        t = replace_all(t, "S", k.from >= 0 ? "(w + " + std::to_string(k.from) + ")" : pool.arg(k.src));
        t = replace_all(t, "N", std::to_string(k.n) + "u");
        return replace_all(t, "V", std::to_string(k.v));
    };
    // the pointer returned, as its offset in w; the bytes of w
    in_programs(
        cases.size(), 5, [&](size_t i) { return std::vector<std::string>{cases[i].init, cases[i].src}; },
        [&](size_t first, size_t n, string_pool &pool) {
            std::vector<std::string> statements;
            for (size_t i = 0; i < n; i++) {
                const copy_case &k = cases[first + i];
                std::string at = std::to_string(i);
                statements.push_back("fill(" + std::to_string(pool.at[pool.add(k.init)]) + ");");
                statements.push_back("r[" + at + "] = (char *)" + call(k, pool) + " - w;");
                statements.push_back("keep(" + at + ");");
            }
            return "#include <string.h>\n" + pool.declaration() + work_buffer_code(n) + "bank3 int r[" +
                   elements(n) + "];\n" + in_functions(statements);
        },
        [&](const c_run &r, size_t first, size_t n, string_pool &pool) {
            for (size_t i = 0; i < n; i++) {
                const copy_case &k = cases[first + i];
                char w[work_size];
                host_fill(w, k.init.c_str());
                const char *s = k.from >= 0 ? w + k.from : pool.host(k.src);
                char *got = named(copy_functions, k.function).host(w + k.dst, s, k.n, k.v);
                EXPECT_EQ(element(r, "r", (unsigned)i, 2), got - w) << call(k, pool);
                expect_work_buffer(r, i, w, call(k, pool));
            }
        });
}

// A string cut into tokens: the first call passes w, the later ones NULL;
// call k takes delimiters[k], or the last of them.
struct token_case {
    std::string init;
    std::vector<std::string> delimiters;
};

TEST(RuntimeStrings, StrtokCutsAsTheHostDoes)
{
    NEEDS_SIMULATOR();
    const unsigned calls = 5;
    // runs of delimiters at both ends and inside; nothing but delimiters;
    // no delimiters; other delimiters from one call to the next; calls after
    // the last token
    const std::vector<token_case> cases = {
        {"  a,b,,c  ", {" ,"}}, {"", {" ,"}}, {",,,", {","}}, {"abc", {""}}, {"a b,c d", {" ", ",", " "}}, {"one", {" "}},
    };
    auto describe = [&](const token_case &k) {
        std::string s = "strtok of \"" + k.init + "\" by";
        for (const std::string &d : k.delimiters)
            s += " \"" + d + "\"";
        return s;
    };
    auto delimiters = [&](const token_case &k, unsigned c) { return k.delimiters[std::min<size_t>(c, k.delimiters.size() - 1)]; };
    in_programs(
        cases.size(), 5,
        [&](size_t i) {
            std::vector<std::string> s = cases[i].delimiters;
            s.push_back(cases[i].init);
            return s;
        },
        [&](size_t first, size_t n, string_pool &pool) {
            std::vector<std::string> statements;
            for (size_t i = 0; i < n; i++) {
                const token_case &k = cases[first + i];
                std::string at = std::to_string(i);
                statements.push_back("fill(" + std::to_string(pool.at[pool.add(k.init)]) + ");");
                for (unsigned c = 0; c < calls; c++)
                    statements.push_back("tok[" + at + "][" + std::to_string(c) + "] = off(strtok(" + (c ? "NULL" : "w") +
                                         ", " + pool.arg(delimiters(k, c)) + "));");
                statements.push_back("keep(" + at + ");");
            }
            return "#include <string.h>\n" + pool.declaration() + work_buffer_code(n) + "bank3 signed char tok[" +
                   std::to_string(n) + "][" + std::to_string(calls) +
                   "];\n"
                   "signed char off(char *p) { return p ? p - w : -1; }\n" +
                   in_functions(statements);
        },
        [&](const c_run &r, size_t first, size_t n, string_pool &pool) {
            for (size_t i = 0; i < n; i++) {
                const token_case &k = cases[first + i];
                char w[work_size];
                host_fill(w, k.init.c_str());
                for (unsigned c = 0; c < calls; c++) {
                    long want = offset(w, strtok(c ? nullptr : w, pool.host(delimiters(k, c))));
                    EXPECT_EQ(element(r, "tok", (unsigned)(i * calls + c), 1), want) << describe(k) << ": call " << c;
                }
                expect_work_buffer(r, i, w, describe(k));
            }
        });
}

// ---------------------------------------------------------------------------
// ctype.h
// ---------------------------------------------------------------------------

// The classes in the order of their bits in the chip's results.
const char *const ctype_classes[] = {"isalnum", "isalpha", "iscntrl", "isdigit", "isgraph", "islower",
                                     "isprint", "ispunct", "isspace", "isupper", "isxdigit"};
int (*const host_classes[])(int) = {isalnum, isalpha, iscntrl, isdigit, isgraph, islower,
                                    isprint, ispunct, isspace, isupper, isxdigit};

// Every unsigned char value and EOF (-1) through every class and both
// conversions.
TEST(RuntimeCtype, EveryCodeAndEofMatchTheHost)
{
    NEEDS_SIMULATOR();
    const int lowest = -1, count = 257;
    in_programs(
        count, 40, no_strings,
        [&](size_t first, size_t n, string_pool &) {
            std::string size = std::to_string(n);
            std::string classes;
            for (unsigned k = 0; k < 11; k++)
                classes += std::string("        ") + (k == 0 ? "m" : "m |") + "= (unsigned int)(" + ctype_classes[k] +
                           "(c) != 0) << " + std::to_string(k) + ";\n";
            return "#include <ctype.h>\n"
                   "bank2 unsigned int mask[" + size + "];\n"
                   "bank3 int lower[" + size + "];\n"
                   "bank1 int upper[" + size + "];\n"
                   "void main(void)\n{\n    unsigned char i;\n    unsigned int m;\n    int c;\n"
                   "    for (i = 0; i < " + size + "; i++) {\n"
                   "        c = " + std::to_string(lowest + (int)first) + " + i;\n" +
                   classes +
                   "        mask[i] = m;\n"
                   "        lower[i] = tolower(c);\n"
                   "        upper[i] = toupper(c);\n"
                   "    }\n    FINISH();\n}\n";
        },
        [&](const c_run &r, size_t first, size_t n, string_pool &) {
            for (size_t i = 0; i < n; i++) {
                int c = lowest + (int)(first + i);
                unsigned got = (unsigned)element(r, "mask", (unsigned)i, 2, false);
                for (unsigned k = 0; k < 11; k++)
                    EXPECT_EQ(got >> k & 1, host_classes[k](c) != 0) << ctype_classes[k] << "(" << c << ")";
                EXPECT_EQ(element(r, "lower", (unsigned)i, 2), tolower(c)) << "tolower(" << c << ")";
                EXPECT_EQ(element(r, "upper", (unsigned)i, 2), toupper(c)) << "toupper(" << c << ")";
            }
        });
}

// ---------------------------------------------------------------------------
// stdlib.h
// ---------------------------------------------------------------------------

// v as a C literal of 16 or 32 bits (the most negative value has none).
std::string literal(int64_t v, bool wide)
{
    std::string suffix = wide ? "L" : "";
    int64_t most_negative = wide ? INT32_MIN : INT16_MIN;
    if (v == most_negative)
        return "(" + std::to_string(v + 1) + suffix + " - 1)";
    return "(" + std::to_string(v) + suffix + ")";
}

// abs and div of int, labs and ldiv of long: signs both ways, zero, the
// limits (abs of INT_MIN is INT_MIN again, as 16-bit arithmetic wraps).
TEST(RuntimeStdlib, AbsAndDivisionMatchTheHost)
{
    NEEDS_SIMULATOR();
    const int16_t ints[] = {0, 1, -1, 300, -300, INT16_MAX, -INT16_MAX, INT16_MIN};
    const int32_t longs[] = {0, 1, -1, 65536, -65536, INT32_MAX, -INT32_MAX, INT32_MIN};
    const int16_t int_pairs[][2] = {{7, 2},      {-7, 2},          {7, -2},   {-7, -2},         {0, 5},
                                    {5, 7},      {-5, 7},          {32767, -1}, {INT16_MIN, 1},  {INT16_MIN, 2},
                                    {INT16_MIN, 32767}, {1, INT16_MIN}, {-1000, 7}, {INT16_MIN, INT16_MIN}};
    const int32_t long_pairs[][2] = {{7, 2},          {-7, 2},          {7, -2},        {-7, -2},
                                     {100000, 7},     {-100000, 300},   {INT32_MAX, -1}, {INT32_MIN, 1},
                                     {INT32_MIN, 10}, {INT32_MIN, INT32_MAX}, {5, 123456}, {-123456789, -1000}};
    std::vector<std::string> statements;
    for (size_t i = 0; i < std::size(ints); i++)
        statements.push_back("ra[" + std::to_string(i) + "] = abs(" + literal(ints[i], false) + ");");
    for (size_t i = 0; i < std::size(longs); i++)
        statements.push_back("rl[" + std::to_string(i) + "] = labs(" + literal(longs[i], true) + ");");
    for (size_t i = 0; i < std::size(int_pairs); i++) {
        std::string at = std::to_string(i);
        statements.push_back("d = div(" + literal(int_pairs[i][0], false) + ", " + literal(int_pairs[i][1], false) +
                             "); dq[" + at + "] = d.quot; dr[" + at + "] = d.rem;");
    }
    for (size_t i = 0; i < std::size(long_pairs); i++) {
        std::string at = std::to_string(i);
        statements.push_back("l = ldiv(" + literal(long_pairs[i][0], true) + ", " + literal(long_pairs[i][1], true) +
                             "); lq[" + at + "] = l.quot; lr[" + at + "] = l.rem;");
    }
    auto size = [](size_t n) { return "[" + std::to_string(n) + "]"; };
    c_run r;
    ASSERT_TRUE(run("#include <stdlib.h>\nint ra" + size(std::size(ints)) + ";\nlong rl" + size(std::size(longs)) +
                        ";\nint dq" + size(std::size(int_pairs)) + ", dr" + size(std::size(int_pairs)) +
                        ";\nlong lq" + size(std::size(long_pairs)) + ", lr" + size(std::size(long_pairs)) +
                        ";\ndiv_t d;\nldiv_t l;\n" + in_functions(statements),
                    r));
    for (size_t i = 0; i < std::size(ints); i++)
        EXPECT_EQ(element(r, "ra", (unsigned)i, 2), (int16_t)std::abs((int)ints[i])) << "abs(" << ints[i] << ")";
    for (size_t i = 0; i < std::size(longs); i++)
        EXPECT_EQ(element(r, "rl", (unsigned)i, 4), (int32_t)std::labs((long)longs[i])) << "labs(" << longs[i] << ")";
    for (size_t i = 0; i < std::size(int_pairs); i++) {
        div_t want = std::div((int)int_pairs[i][0], (int)int_pairs[i][1]);
        EXPECT_EQ(element(r, "dq", (unsigned)i, 2), want.quot) << "div(" << int_pairs[i][0] << ", " << int_pairs[i][1] << ")";
        EXPECT_EQ(element(r, "dr", (unsigned)i, 2), want.rem) << "div(" << int_pairs[i][0] << ", " << int_pairs[i][1] << ")";
    }
    for (size_t i = 0; i < std::size(long_pairs); i++) {
        ldiv_t want = std::ldiv((long)long_pairs[i][0], (long)long_pairs[i][1]);
        EXPECT_EQ(element(r, "lq", (unsigned)i, 4), want.quot) << "ldiv(" << long_pairs[i][0] << ", " << long_pairs[i][1] << ")";
        EXPECT_EQ(element(r, "lr", (unsigned)i, 4), want.rem) << "ldiv(" << long_pairs[i][0] << ", " << long_pairs[i][1] << ")";
    }
}

// atoi and atol on numbers their types hold (beyond is undefined): signs,
// white space of every kind, what stops the digits, no number at all.
TEST(RuntimeStdlib, AtoiAndAtolMatchTheHost)
{
    NEEDS_SIMULATOR();
    const std::vector<std::string> atoi_cases = {"0",  "42", "-42", "  +17x", "\t\n\v\f\r 9", "32767", "-32768", "",
                                                 "-",  "+",  " - 5", "12 34", "0x1f", "007", "-0", "+-3", "08", "zZ", "-1"};
    const std::vector<std::string> atol_cases = {"0", "-42", "  +17x", "\t\n\v\f\r 9", "", "-", "2147483647",
                                                 "-2147483648", "123456789", "-0", "+-3", "-1", "65536", "-70000"};
    struct function {
        const char *name;
        const std::vector<std::string> &cases;
        unsigned size;
        long (*host)(const char *);
    } const functions[] = {
        {"atoi", atoi_cases, 2, [](const char *s) { return (long)atoi(s); }},
        {"atol", atol_cases, 4, [](const char *s) { return atol(s); }},
    };
    for (const function &f : functions)
        in_programs(
            f.cases.size(), 20, [&](size_t i) { return std::vector<std::string>{f.cases[i]}; },
            [&](size_t first, size_t n, string_pool &pool) {
                std::vector<std::string> statements;
                for (size_t i = 0; i < n; i++)
                    statements.push_back("r[" + std::to_string(i) + "] = " + f.name + "(" + pool.arg(f.cases[first + i]) +
                                         ");");
                return "#include <stdlib.h>\n" + pool.declaration() + "bank2 " + (f.size == 2 ? "int" : "long") +
                       " r[" + elements(n) + "];\n" + in_functions(statements);
            },
            [&](const c_run &r, size_t first, size_t n, string_pool &) {
                for (size_t i = 0; i < n; i++) {
                    const std::string &s = f.cases[first + i];
                    EXPECT_EQ(element(r, "r", (unsigned)i, f.size), f.host(s.c_str())) << f.name << "(\"" << s << "\")";
                }
            });
}

// What strtol gives in 32 bits: the host's value held to the 32-bit limits.
int64_t host_strtol32(const char *s, char **end, int base)
{
    long long v = strtoll(s, end, base);
    return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : v;
}

// What strtoul gives in 32 bits: ULONG_MAX when the magnitude leaves 32
// bits, else the magnitude, negated in 32 bits after a minus sign.
int64_t host_strtoul32(const char *s, char **end, int base)
{
    errno = 0;
    unsigned long long v = strtoull(s, end, base);
    const char *p = s;
    while (isspace((unsigned char)*p))
        p++;
    bool negative = *p == '-' && *end != s;
    unsigned long long magnitude = negative ? 0 - v : v;
    if (errno == ERANGE || magnitude > UINT32_MAX)
        return UINT32_MAX;
    return (uint32_t)(negative ? 0 - magnitude : magnitude);
}

struct strto_case {
    const char *function;
    std::string s;
    int base;
    bool with_end;   // else end is NULL
};

// Signs, white space, prefixes (and a prefix with no digit after it), digits
// of the base and beyond it, the limits and past them, no number at all; in
// bases 10, 0 and 16 by both functions, and some strings in other bases.
// Each run gives the value and where the number ends, or (with end NULL)
// the value alone.
TEST(RuntimeStdlib, StrtolAndStrtoulMatchTheHost)
{
    NEEDS_SIMULATOR();
    const char *const strings[] = {
        "0", "42", "-42", "  +17x", "\t\n\v\f\r 9", "", "-", "+", " - 5", "12 34", "0x1f", "007", "-0", "+-3",
        "2147483647", "-2147483648", "2147483648", "-2147483649", "4294967295", "4294967296", "-4294967295",
        "-4294967296", "99999999999", "0X1G", "0x", "08", "zZ", "-1", "7fffffff", "-80000000", "-ffffffff", "  0x7F",
    };
    std::vector<strto_case> cases;
    for (const char *function : {"strtol", "strtoul"}) {
        for (const char *s : strings)
            for (int base : {10, 0, 16})
                cases.push_back({function, s, base, cases.size() % 3 != 0});
        for (std::pair<const char *, int> other : std::vector<std::pair<const char *, int>>{
                 {"101102", 2}, {"007", 8}, {"08", 8}, {"zZ", 36}, {"123456789", 36}, {"101102", 3}, {"0X1G", 17},
                 {"zZ", 35}, {"0x1f", 33}, {"  -Zz", 36}})
            cases.push_back({function, other.first, other.second, true});
    }
    auto describe = [&](const strto_case &k) {
        return std::string(k.function) + "(\"" + k.s + "\", " + std::to_string(k.base) + ")";
    };
    in_programs(
        cases.size(), 24, [&](size_t i) { return std::vector<std::string>{cases[i].s}; },
        [&](size_t first, size_t n, string_pool &pool) {
            std::vector<std::string> statements;
            for (size_t i = 0; i < n; i++) {
                const strto_case &k = cases[first + i];
                std::string at = std::to_string(i), s = pool.arg(k.s);
                statements.push_back("r[" + at + "] = " + k.function + "(" + s + ", " + (k.with_end ? "&end" : "NULL") +
                                     ", " + std::to_string(k.base) + "); e[" + at +
                                     "] = " + (k.with_end ? "end - " + s : "-1") + ";");
            }
            return "#include <stdlib.h>\n" + pool.declaration() + "bank2 long r[" + elements(n) +
                   "];\nbank3 signed char e[" + elements(n) + "];\nchar *end;\n" + in_functions(statements);
        },
        [&](const c_run &r, size_t first, size_t n, string_pool &) {
            for (size_t i = 0; i < n; i++) {
                const strto_case &k = cases[first + i];
                bool is_signed = std::string(k.function) == "strtol";
                char *end;
                int64_t want = is_signed ? host_strtol32(k.s.c_str(), &end, k.base) : host_strtoul32(k.s.c_str(), &end, k.base);
                EXPECT_EQ(element(r, "r", (unsigned)i, 4, is_signed), want) << describe(k);
                if (k.with_end) {
                    EXPECT_EQ(element(r, "e", (unsigned)i, 1), end - k.s.c_str()) << describe(k) << ": the end";
                }
            }
        });
}

// A base the functions do not know converts nothing: 0, and the end at the
// string's start.
TEST(RuntimeStdlib, AnUnknownBaseConvertsNothing)
{
    NEEDS_SIMULATOR();
    const int bases[] = {1, 37, -1, 100};
    std::vector<std::string> statements;
    for (size_t i = 0; i < std::size(bases); i++) {
        std::string at = std::to_string(i), b = std::to_string(bases[i]);
        statements.push_back("end = pool + 9; r[" + at + "] = strtol(pool, &end, " + b + "); e[" + at +
                             "] = end - pool;");
        statements.push_back("end = pool + 9; u[" + at + "] = strtoul(pool, &end, " + b + "); f[" + at +
                             "] = end - pool;");
    }
    c_run r;
    ASSERT_TRUE(run("#include <stdlib.h>\nchar pool[] = \"12\";\nlong r[4], u[4];\nsigned char e[4], f[4];\n"
                    "char *end;\n" + in_functions(statements),
                    r));
    for (size_t i = 0; i < std::size(bases); i++) {
        EXPECT_EQ(element(r, "r", (unsigned)i, 4), 0) << "strtol base " << bases[i];
        EXPECT_EQ(element(r, "e", (unsigned)i, 1), 0) << "strtol base " << bases[i];
        EXPECT_EQ(element(r, "u", (unsigned)i, 4), 0) << "strtoul base " << bases[i];
        EXPECT_EQ(element(r, "f", (unsigned)i, 1), 0) << "strtoul base " << bases[i];
    }
}

// rand is the 32-bit generator x = x * 1103515245 + 12345 giving bits 16-30
// of x (the host's rand is another generator, so the test models ours):
// without srand it starts as srand(1) does, and a seed given again gives
// its sequence again.
TEST(RuntimeStdlib, RandRepeatsItsSequenceForASeed)
{
    NEEDS_SIMULATOR();
    const int per_seed = 6;
    const long seeds[] = {-1, 1, 7, 7, 0, 65535};   // -1: no srand before
    std::vector<std::string> statements;
    for (size_t i = 0; i < std::size(seeds); i++) {
        if (seeds[i] >= 0)
            statements.push_back("srand(" + std::to_string(seeds[i]) + "u);");
        for (int k = 0; k < per_seed; k++)
            statements.push_back("r[" + std::to_string(i * per_seed + k) + "] = rand();");
    }
    c_run r;
    ASSERT_TRUE(run("#include <stdlib.h>\nint r[" + std::to_string(std::size(seeds) * per_seed) + "];\n" +
                        in_functions(statements),
                    r));
    for (size_t i = 0; i < std::size(seeds); i++) {
        uint32_t x = seeds[i] < 0 ? 1 : (uint32_t)seeds[i];
        for (int k = 0; k < per_seed; k++) {
            x = x * 1103515245u + 12345u;
            EXPECT_EQ(element(r, "r", (unsigned)(i * per_seed + k), 2), (long)(x >> 16 & 0x7FFF))
                << "seed " << seeds[i] << ", value " << k;
        }
    }
}

// qsort on arrays of ints (lengths 0 to 13, duplicates, the limits), of
// longs in descending order and of three-byte structures by their byte key,
// and bsearch for every element and for values between and beyond them:
// the orders and the elements found are the host's (equal elements are
// equal in every byte, so the sort's instability does not show). Three
// programs, as the initialised arrays of one share a bank.
int by_int16(const void *a, const void *b)
{
    int16_t x = *(const int16_t *)a, y = *(const int16_t *)b;
    return x < y ? -1 : x > y;
}

template <typename T> std::string c_array(const std::string &decl, const std::vector<T> &values, bool wide)
{
    std::string s = decl + "[" + std::to_string(std::max<size_t>(values.size(), 1)) + "] = {";
    for (size_t k = 0; k < values.size(); k++)
        s += (k ? ", " : "") + literal(values[k], wide);
    return s + (values.empty() ? "0};\n" : "};\n");
}

TEST(RuntimeStdlib, QsortAndBsearchMatchTheHost)
{
    NEEDS_SIMULATOR();
    const std::string head = "#include <stdlib.h>\n"
                             "struct rec { unsigned char key; int payload; };\n"
                             "int by_int(const void *a, const void *b)\n"
                             "{ int x = *(const int *)a, y = *(const int *)b; return x < y ? -1 : x > y; }\n"
                             "int by_long_down(const void *a, const void *b)\n"
                             "{ long x = *(const long *)a, y = *(const long *)b; return x > y ? -1 : x < y; }\n"
                             "int by_key(const void *a, const void *b)\n"
                             "{ return (int)((const struct rec *)a)->key - (int)((const struct rec *)b)->key; }\n";
    const std::vector<std::vector<int16_t>> int_arrays = {
        {}, {5}, {2, 1}, {3, 3, 3}, {9, -1, 7, -1, 0, INT16_MIN, INT16_MAX, 300, -300, 7, 2, 1, 0},
        {1, 2, 3, 4, 5, 6}, {6, 5, 4, 3, 2, 1, 0}};
    {
        std::string text = head;
        std::vector<std::string> statements;
        for (size_t i = 0; i < int_arrays.size(); i++) {
            text += c_array("int a" + std::to_string(i), int_arrays[i], false);
            statements.push_back("qsort(a" + std::to_string(i) + ", " + std::to_string(int_arrays[i].size()) +
                                 ", sizeof(int), by_int);");
        }
        c_run r;
        ASSERT_TRUE(run(text + in_functions(statements), r));
        for (size_t i = 0; i < int_arrays.size(); i++) {
            std::vector<int16_t> want = int_arrays[i];
            if (!want.empty())   // an empty vector's data may be null, which qsort may not take
                std::qsort(want.data(), want.size(), sizeof(int16_t), by_int16);
            for (size_t k = 0; k < want.size(); k++)
                EXPECT_EQ(element(r, "a" + std::to_string(i), (unsigned)k, 2), want[k]) << "array " << i << " [" << k << "]";
        }
    }
    {
        const std::vector<int32_t> longs = {70000, -1, 5, INT32_MIN, 123456789, 0, -70000, 5, INT32_MAX};
        struct rec {
            uint8_t key;
            int16_t payload;
        };
        const std::vector<rec> recs = {{40, 1}, {3, -2}, {250, 3}, {17, 400}, {0, -5}, {128, 6}, {99, 7}, {1, 8}};
        std::string text = head + c_array("long l", longs, true) + "struct rec s[" + std::to_string(recs.size()) + "] = {";
        for (size_t k = 0; k < recs.size(); k++)
            text += (k ? ", {" : "{") + std::to_string(recs[k].key) + ", " + std::to_string(recs[k].payload) + "}";
        text += "};\nunsigned char rkey;\nint rfound[3];\n";
        std::vector<std::string> statements = {
            "qsort(l, " + std::to_string(longs.size()) + ", sizeof(long), by_long_down);",
            "qsort(s, " + std::to_string(recs.size()) + ", sizeof(struct rec), by_key);"};
        const int rkeys[] = {17, 250, 18};   // the last is not there
        for (int k = 0; k < 3; k++)
            statements.push_back("rkey = " + std::to_string(rkeys[k]) +
                                 "; { struct rec *q = bsearch(&rkey, s, " + std::to_string(recs.size()) +
                                 ", sizeof(struct rec), by_key); rfound[" + std::to_string(k) +
                                 "] = q ? q->payload : -1; }");
        c_run r;
        ASSERT_TRUE(run(text + in_functions(statements), r));
        std::vector<int32_t> want_l = longs;
        std::qsort(want_l.data(), want_l.size(), sizeof(int32_t), [](const void *a, const void *b) {
            int32_t x = *(const int32_t *)a, y = *(const int32_t *)b;
            return x > y ? -1 : x < y;
        });
        for (size_t k = 0; k < want_l.size(); k++)
            EXPECT_EQ(element(r, "l", (unsigned)k, 4), want_l[k]) << "l[" << k << "]";
        std::vector<rec> want_s = recs;
        std::qsort(want_s.data(), want_s.size(), sizeof(rec),
                   [](const void *a, const void *b) { return (int)((const rec *)a)->key - (int)((const rec *)b)->key; });
        for (size_t k = 0; k < want_s.size(); k++) {
            EXPECT_EQ(r.byte("s", (unsigned)(3 * k)), want_s[k].key) << "s[" << k << "]";
            EXPECT_EQ((int16_t)(r.byte("s", (unsigned)(3 * k + 1)) | r.byte("s", (unsigned)(3 * k + 2)) << 8),
                      want_s[k].payload)
                << "s[" << k << "]";
        }
        EXPECT_EQ(element(r, "rfound", 0, 2), 400);
        EXPECT_EQ(element(r, "rfound", 1, 2), 3);
        EXPECT_EQ(element(r, "rfound", 2, 2), -1);
    }
    {
        // bsearch in the sorted a4: its values, and those one above them
        std::vector<int16_t> sorted = int_arrays[4];
        std::sort(sorted.begin(), sorted.end());
        std::vector<int16_t> keys;
        for (int16_t v : sorted) {
            keys.push_back(v);
            if (v != INT16_MAX)
                keys.push_back((int16_t)(v + 1));
        }
        std::string text = head + c_array("int a", sorted, false) + c_array("const int keys", keys, false) +
                           "signed char found[" + std::to_string(keys.size()) + "];\n" +
                           "void look(void)\n{\n    unsigned char i;\n    int k, *p;\n" +
                           "    for (i = 0; i < " + std::to_string(keys.size()) + "; i++) {\n" +
                           "        k = keys[i];\n" +
                           "        p = bsearch(&k, a, " + std::to_string(sorted.size()) + ", sizeof(int), by_int);\n" +
                           "        found[i] = p ? p - a : -1;\n    }\n}\n";
        c_run r;
        ASSERT_TRUE(run(text + in_functions({"look();"}), r));
        for (size_t k = 0; k < keys.size(); k++) {
            const void *p = std::bsearch(&keys[k], sorted.data(), sorted.size(), sizeof(int16_t), by_int16);
            int got = (int8_t)r.byte("found", (unsigned)k);
            if (!p)
                EXPECT_EQ(got, -1) << "bsearch(" << keys[k] << ")";
            else   // in a run of equal elements any one will do, as for the host
                EXPECT_TRUE(got >= 0 && got < (int)sorted.size() && sorted[got] == keys[k])
                    << "bsearch(" << keys[k] << ") gave " << got;
        }
    }
}

// ---------------------------------------------------------------------------
// The headers and the link
// ---------------------------------------------------------------------------

// The limits, the sizes of the stdint.h types and offsetof, as the chip's
// program computes them, against the widths of the chip's types.
TEST(RuntimeHeaders, LimitsSizesAndOffsets)
{
    NEEDS_SIMULATOR();
    c_run r;
    ASSERT_TRUE(run(R"(#include <limits.h>
#include <stddef.h>
#include <stdbool.h>
#include <stdint.h>
struct s { char a; long b; int c[3]; char d; };
long lim[8];
unsigned long ulim[3];
unsigned char size[9], offs[3];
unsigned char truth[3];
void main(void)
{
    lim[0] = INT_MIN; lim[1] = INT_MAX; lim[2] = LONG_MIN; lim[3] = LONG_MAX;
    lim[4] = SCHAR_MIN; lim[5] = SCHAR_MAX; lim[6] = INT24_MIN; lim[7] = CHAR_MIN;
    ulim[0] = UINT_MAX; ulim[1] = ULONG_MAX; ulim[2] = SIZE_MAX;
    size[0] = sizeof(int8_t); size[1] = sizeof(uint16_t); size[2] = sizeof(int24_t);
    size[3] = sizeof(uint32_t); size[4] = sizeof(size_t); size[5] = sizeof(ptrdiff_t);
    size[6] = sizeof(intmax_t); size[7] = CHAR_BIT; size[8] = UCHAR_MAX;
    bool yes = true, no = false;
    truth[0] = yes; truth[1] = no; truth[2] = sizeof(bool) + __bool_true_false_are_defined;
    offs[0] = offsetof(struct s, b); offs[1] = offsetof(struct s, c); offs[2] = offsetof(struct s, d);
    FINISH();
}
)",
                    r));
    const int64_t lims[] = {INT16_MIN, INT16_MAX, INT32_MIN, INT32_MAX, INT8_MIN, INT8_MAX, -(1 << 23), 0};
    for (unsigned i = 0; i < std::size(lims); i++)
        EXPECT_EQ(element(r, "lim", i, 4), lims[i]) << "lim[" << i << "]";
    const int64_t ulims[] = {UINT16_MAX, UINT32_MAX, UINT16_MAX};
    for (unsigned i = 0; i < std::size(ulims); i++)
        EXPECT_EQ(element(r, "ulim", i, 4, false), ulims[i]) << "ulim[" << i << "]";
    const int sizes[] = {1, 2, 3, 4, 2, 2, 4, 8, 255};
    for (unsigned i = 0; i < std::size(sizes); i++)
        EXPECT_EQ(r.byte("size", i), sizes[i]) << "size[" << i << "]";
    // char 1, long 4, int 2: no padding
    const int offsets[] = {1, 5, 11};
    for (unsigned i = 0; i < std::size(offsets); i++)
        EXPECT_EQ(r.byte("offs", i), offsets[i]) << "offs[" << i << "]";
    EXPECT_EQ(r.byte("truth", 0), 1);
    EXPECT_EQ(r.byte("truth", 1), 0);
    EXPECT_EQ(r.byte("truth", 2), 2);
}

// A program links the functions it calls and those they call, and no
// other: strpbrk brings strcspn and strchr, not strspn or strtok.
TEST(RuntimeLibraries, AProgramLinksOnlyTheFunctionsItCalls)
{
    c_program p;
    p.files.push_back({"main.c", "#include <string.h>\nchar s[] = \"a,b\", d[] = \",\";\nchar *r;\n"
                                 "void main(void) { r = strpbrk(s, d); FINISH(); }\n"});
    c_run r = c_compile(p);
    ASSERT_EQ(r.status, 0) << r.output;
    for (const char *name : {"strpbrk", "strcspn", "strchr"})
        EXPECT_GE(r.address(name), 0) << name;
    for (const char *name : {"strspn", "strtok", "strlen", "memcpy"})
        EXPECT_LT(r.address(name), 0) << name;
}

}   // namespace
