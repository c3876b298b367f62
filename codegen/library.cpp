// Intermediate-code libraries (.lpp): modules chosen in rounds.
//
// A library holds a directory (per module: symbol count, module length,
// name, and each symbol with a flag, 0 when the module defines it) and then
// the module bodies in directory order. A module is read when it defines a
// name the program still wants; reading it may want further names, so rounds
// over all libraries repeat until one loads nothing. The bodies are
// intermediate code whose bytes after the version line are scrambled.
#include "kestrel.h"

#include <cstdlib>
#include <cstring>
#include <string>

// One library and the modules of it loaded so far.
struct library_state {
    const char *path;
    uint32_t *loaded;   // one bit per module; null until first read
};

static uint32_t le16(const uint8_t *p) { return (uint32_t)p[0] | (uint32_t)p[1] << 8; }
static uint32_t le32(const uint8_t *p) { return le16(p) | le16(p + 2) << 16; }

bool lib_wanted_test(const char *name)
{
    if (cg_symbol *s = sym_find(name)) {
        s->flags |= SF_LIBSYM;
        from_library_indicator = false;
        return (s->flags & SF_UNDEF) != 0;
    }
    from_library_indicator = true;
    return lib_is_wanted(name);
}

// Reads a zero-terminated string of the directory; false when it runs off.
static bool dir_string(const uint8_t *dir, uint32_t size, uint32_t *at, std::string *out)
{
    const void *end = memchr(dir + *at, 0, size - *at);
    if (*at >= size || !end)
        return false;
    *out = (const char *)(dir + *at);
    *at = (uint32_t)((const uint8_t *)end - dir) + 1;
    return true;
}

// One pass over one library; true when a module was loaded.
static bool scan_library(library_state *lib, lib_wanted_fn wanted, void (*read_one)(ic_context *))
{
    FILE *f = ic_open(lib->path);
    if (!f) {
        if (!run.printf_pass)
            msg_report(140, "library", lib->path);
        return false;
    }
    uint8_t head[4];
    if (fread(head, 1, 4, f) != 4)
        cg_fatal(300);
    uint32_t dsize = le16(head), count = le16(head + 2);
    uint8_t *dir = (uint8_t *)xmalloc(dsize + 1);
    if (fread(dir, 1, dsize, f) != dsize)
        cg_fatal(300);
    if (!lib->loaded)
        lib->loaded = (uint32_t *)xmalloc(((count + 31) / 32 + 1) * sizeof(uint32_t));
    bool loaded_any = false;
    long offset = 4 + (long)dsize;
    uint32_t at = 0;
    for (uint32_t m = 0; m < count; m++) {
        if (at + 12 > dsize)
            cg_fatal(300);
        uint32_t symbols = le16(dir + at + 2), length = le32(dir + at + 4);
        at += 12;
        std::string name;
        if (!dir_string(dir, dsize, &at, &name))
            cg_fatal(300);
        for (uint32_t k = 0; k < symbols; k++) {
            if (at >= dsize)
                cg_fatal(300);
            uint8_t flag = dir[at++];
            if (!dir_string(dir, dsize, &at, &name))
                cg_fatal(300);
            uint32_t bit = 1u << (m & 31);
            if (flag || !wanted(name.c_str()) || (lib->loaded[m / 32] & bit))
                continue;
            lib->loaded[m / 32] |= bit;
            loaded_any = true;
            fseek(f, offset, SEEK_SET);
            ic_context ctx = {f, nullptr, (long)length, true, 0};
            reading_library = true;
            read_one(&ctx);
            reading_library = false;
        }
        offset += (long)length;
    }
    free(dir);
    fclose(f);
    return loaded_any;
}

void ic_load_libraries(vector_t *paths, lib_wanted_fn wanted, void (*read_one)(ic_context *))
{
    uint32_t n = paths ? vec_count(paths) : 0;
    if (!n)
        return;
    library_state *libs = (library_state *)xmalloc(n * sizeof(library_state));
    for (uint32_t i = 0; i < n; i++)
        libs[i].path = (const char *)vec_get(paths, i);
    for (bool again = true; again;) {
        again = false;
        for (uint32_t i = 0; i < n; i++)
            again |= scan_library(&libs[i], wanted, read_one);
    }
    for (uint32_t i = 0; i < n; i++)
        free(libs[i].loaded);
    free(libs);
}
