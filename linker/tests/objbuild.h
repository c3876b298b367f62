// Test fixtures for the linker: a small builder of object modules and
// libraries, a dumper of object files, and a runner for heron.
//
// The builder and the dumper are written here from the record layouts, apart
// from the linker's own record library, so the tests never read the linker's
// output through the code under test.
#pragma once

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

namespace fx {

typedef std::vector<uint8_t> bytes;

// One object module, record by record; little-endian unless `big` is set.
struct module {
    bytes out;
    bool big = false;

    void u8(bytes &b, unsigned v) { b.push_back((uint8_t)v); }
    void u16(bytes &b, unsigned v)
    {
        if (big) {
            u8(b, v >> 8);
            u8(b, v);
        } else {
            u8(b, v);
            u8(b, v >> 8);
        }
    }
    void u32(bytes &b, uint32_t v)
    {
        if (big) {
            u16(b, v >> 16);
            u16(b, v & 0xFFFF);
        } else {
            u16(b, v & 0xFFFF);
            u16(b, v >> 16);
        }
    }
    void name(bytes &b, const std::string &s)
    {
        b.insert(b.end(), s.begin(), s.end());
        b.push_back(0);
    }
    module &raw(unsigned type, const bytes &body)
    {
        out.push_back((uint8_t)body.size());
        out.push_back((uint8_t)(body.size() >> 8));
        out.push_back((uint8_t)type);
        out.insert(out.end(), body.begin(), body.end());
        return *this;
    }
    module &ident(unsigned major = 3, unsigned minor = 4, const char *machine = "PIC14")
    {
        bytes b = big ? bytes{3, 2, 1, 0, 1, 0} : bytes{0, 1, 2, 3, 0, 1};
        name(b, machine);
        if (major || minor) {
            u8(b, major);
            u8(b, minor);
        }
        return raw(7, b);
    }
    module &psect(const std::string &n, unsigned flags = 0x10)
    {
        bytes b;
        u16(b, flags);
        name(b, n);
        return raw(2, b);
    }
    // XPSECT: maximum size, boundary, selector, space, delta, type, class, with.
    module &xpsect(const std::string &n, const std::string &cls, unsigned delta = 1, unsigned space = 0,
                   uint32_t max_size = 0, unsigned boundary = 0, const std::string &with = "")
    {
        bytes b;
        u32(b, max_size);
        u16(b, boundary);
        u16(b, 0);
        u8(b, space);
        u8(b, delta);
        u8(b, 0);
        u8(b, 0);
        name(b, n);
        name(b, cls);
        if (!with.empty())
            name(b, with);
        return raw(8, b);
    }
    module &text(uint32_t offset, const std::string &ps, const bytes &data)
    {
        bytes b;
        u32(b, offset);
        name(b, ps);
        b.insert(b.end(), data.begin(), data.end());
        return raw(1, b);
    }
    struct sym_entry {
        std::string name;
        uint32_t value;
        unsigned flags;
        std::string psect;
    };
    module &sym(std::initializer_list<sym_entry> entries)
    {
        bytes b;
        for (const sym_entry &e : entries) {
            u32(b, e.value);
            u16(b, e.flags);
            name(b, e.psect);
            name(b, e.name);
        }
        return raw(4, b);
    }
    // One simple RELOC entry.
    module &reloc(unsigned offset, unsigned kind, const std::string &target)
    {
        bytes b;
        u16(b, offset);
        u8(b, kind);
        name(b, target);
        return raw(3, b);
    }
    module &start(uint32_t offset, const std::string &ps)
    {
        bytes b;
        u32(b, offset);
        name(b, ps);
        return raw(5, b);
    }
    module &end() { return raw(6, bytes{0, 0}); }
};

inline void write_file(const std::string &path, const bytes &b)
{
    std::ofstream f(path, std::ios::binary);
    f.write((const char *)b.data(), (std::streamsize)b.size());
}

inline void write_text(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary);
    f << text;
}

inline bytes read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline std::string read_text(const std::string &path)
{
    bytes b = read_file(path);
    return std::string(b.begin(), b.end());
}

// A library: {u16 directory size, u16 count}, entries {u16 list size,
// u16 symbol count, u32 length, 4 bytes, name, {flag, name}...}, modules.
struct lib_entry {
    std::string name;
    bytes body;
    std::vector<std::pair<int, std::string>> symbols;   // flag 0 = defined here
};

inline bytes make_library(const std::vector<lib_entry> &mods)
{
    bytes dir, bodies;
    for (const lib_entry &m : mods) {
        bytes list;
        for (const auto &s : m.symbols) {
            list.push_back((uint8_t)s.first);
            list.insert(list.end(), s.second.begin(), s.second.end());
            list.push_back(0);
        }
        bytes e = {(uint8_t)list.size(), (uint8_t)(list.size() >> 8), (uint8_t)m.symbols.size(),
                   (uint8_t)(m.symbols.size() >> 8)};
        uint32_t n = (uint32_t)m.body.size();
        bytes len = {(uint8_t)n, (uint8_t)(n >> 8), (uint8_t)(n >> 16), (uint8_t)(n >> 24), 0, 0, 0, 0};
        e.insert(e.end(), len.begin(), len.end());
        e.insert(e.end(), m.name.begin(), m.name.end());
        e.push_back(0);
        e.insert(e.end(), list.begin(), list.end());
        dir.insert(dir.end(), e.begin(), e.end());
        bodies.insert(bodies.end(), m.body.begin(), m.body.end());
    }
    bytes out = {(uint8_t)dir.size(), (uint8_t)(dir.size() >> 8), (uint8_t)mods.size(),
                 (uint8_t)(mods.size() >> 8)};
    out.insert(out.end(), dir.begin(), dir.end());
    out.insert(out.end(), bodies.begin(), bodies.end());
    return out;
}

// Dump of a little-endian object file, one line per record (per entry for
// SYM, XSYM and SEGMENT), numbers in hexadecimal.
inline std::string dump_object(const bytes &b)
{
    std::ostringstream o;
    size_t i = 0;
    auto u16 = [&](size_t at) { return (unsigned)(b[at] | b[at + 1] << 8); };
    auto u32 = [&](size_t at) { return (uint32_t)(u16(at) | (uint32_t)u16(at + 2) << 16); };
    auto str = [&](size_t &at) {
        std::string s((const char *)&b[at]);
        at += s.size() + 1;
        return s;
    };
    char buf[64];
    while (i + 3 <= b.size()) {
        unsigned len = u16(i), type = b[i + 2];
        size_t p = i + 3, end = p + len;
        if (end > b.size()) {
            o << "TRUNCATED\n";
            break;
        }
        switch (type) {
        case 1: {
            uint32_t off = u32(p);
            p += 4;
            std::string ps = str(p);
            snprintf(buf, sizeof buf, "TEXT %X %s", off, ps.c_str());
            o << buf;
            for (; p < end; p++) {
                snprintf(buf, sizeof buf, " %02X", b[p]);
                o << buf;
            }
            o << "\n";
            break;
        }
        case 4:
        case 10:
            while (p < end) {
                uint32_t v = u32(p);
                unsigned fl = u16(p + 4);
                p += 6;
                unsigned sel = 0;
                if (type == 10) {
                    sel = u16(p);
                    p += 2;
                }
                std::string ps = str(p), n = str(p);
                if (type == 4)
                    snprintf(buf, sizeof buf, "SYM %s %X %04X ", n.c_str(), v, fl);
                else
                    snprintf(buf, sizeof buf, "XSYM %s %X %04X %X ", n.c_str(), v, fl, sel);
                o << buf << ps << "\n";
            }
            break;
        case 5:
        case 14: {
            uint32_t off = u32(p);
            p += 4;
            snprintf(buf, sizeof buf, "%s %X ", type == 5 ? "START" : "SEGSTART", off);
            o << buf << str(p) << "\n";
            break;
        }
        case 6:
            snprintf(buf, sizeof buf, "END %04X\n", len >= 2 ? u16(p) : 0xFFFF);
            o << buf;
            break;
        case 7: {
            p += 6;
            std::string m = str(p);
            o << "IDENT " << m;
            if (p + 2 <= end)
                o << " " << (int)b[p] << "." << (int)b[p + 1];
            o << "\n";
            break;
        }
        case 3:
            while (p < end) {
                unsigned off = u16(p), kind = b[p + 2];
                p += 3;
                snprintf(buf, sizeof buf, "RELOC %X %02X ", off, kind);
                o << buf << str(p) << "\n";
            }
            break;
        case 9:
            while (p < end) {
                snprintf(buf, sizeof buf, "SEGMENT %X %X %X %X ", u32(p), u32(p + 4), u16(p + 8), u32(p + 12));
                p += 16;
                o << buf << str(p) << "\n";
            }
            break;
        default:
            snprintf(buf, sizeof buf, "REC%u %u\n", type, len);
            o << buf;
            break;
        }
        i = end;
    }
    return o.str();
}

// Each "|"-separated line must stand whole in the text.
inline void expect_lines(const std::string &file, const std::string &lines)
{
    std::istringstream want(lines);
    std::string line;
    while (std::getline(want, line, '|'))
        EXPECT_NE(("\n" + file).find("\n" + line + "\n"), std::string::npos) << line << "\n" << file;
}

// A fresh directory per test; heron runs inside it.
struct workdir {
    std::string path;
    workdir()
    {
        char tmpl[] = "/tmp/heron_test_XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~workdir()
    {
        if (getenv("HERON_TEST_KEEP"))   // keep the files for a look after a failure
            return;
        std::string cmd = "rm -rf '" + path + "'";
        if (system(cmd.c_str()) != 0)
            perror("rm");
    }
    std::string at(const std::string &name) const { return path + "/" + name; }
};

struct run_result {
    int status;           // exit status
    std::string err;      // standard error
    std::string out;      // standard output
};

inline std::string heron_path() { return std::string(ZEPH_BUILD_DIR) + "/bin/heron"; }

// Runs heron in `dir` with the arguments given as one shell text, optionally
// feeding `input` to its standard input.
inline run_result run_heron(const workdir &dir, const std::string &args, const std::string &input = "")
{
    std::string in = dir.at("stdin.txt");
    write_text(in, input);
    std::string cmd = "cd '" + dir.path + "' && '" + heron_path() + "' " + args + " <stdin.txt >stdout.txt 2>stderr.txt";
    int rc = system(cmd.c_str());
    run_result r;
    r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : 128;
    r.err = read_text(dir.at("stderr.txt"));
    r.out = read_text(dir.at("stdout.txt"));
    return r;
}

// True when message number n was reported ("(n)" in the default formats).
inline bool reported(const run_result &r, unsigned n)
{
    return r.err.find("(" + std::to_string(n) + ")") != std::string::npos;
}

inline unsigned count_reported(const run_result &r, unsigned n)
{
    std::string key = "(" + std::to_string(n) + ")";
    unsigned count = 0;
    for (size_t at = r.err.find(key); at != std::string::npos; at = r.err.find(key, at + 1))
        count++;
    return count;
}

} // namespace fx
