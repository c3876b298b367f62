// Library files: reading and writing the directory that precedes the modules.
//
// Layout (all numbers little-endian): u16 directory size, u16 module count,
// the directory, then the module bodies back to back in directory order. A
// module's start is not stored: it is 4 + directory size + the lengths of the
// modules before it. Reading checks every entry against the directory size
// and every module against the file size, so a damaged library is refused
// before any module is read from a wrong place.
#include "objfile.h"

#include <cstring>

const unsigned LIB_HEADER_SIZE = 4;
const unsigned LIB_ENTRY_FIXED = 12;   // sizes, length and the 4 unread bytes

// Size of the open file, restoring the position; -1 when it cannot be told.
static long long lib_file_size(FILE *f)
{
    long here = ftell(f);
    if (here < 0 || fseek(f, 0, SEEK_END) != 0)
        return -1;
    long size = ftell(f);
    if (fseek(f, here, SEEK_SET) != 0)
        return -1;
    return size;
}

// One directory entry at the cursor; false when it runs past the directory
// or its symbol list disagrees with the size it declares.
static bool lib_read_entry(obj_cursor &c, lib_module *m)
{
    unsigned list_size = cur_le16(c);
    unsigned count = cur_le16(c);
    m->length = cur_le32(c);
    for (uint8_t &r : m->reserved)
        r = cur_u8(c);
    m->name = cur_name(c);
    const uint8_t *list_start = c.pos;
    m->symbols.clear();
    for (unsigned i = 0; i < count && !c.bad; i++) {
        lib_symbol s;
        s.flag = cur_u8(c);
        s.name = cur_name(c);
        m->symbols.push_back(s);
    }
    return !c.bad && (unsigned)(c.pos - list_start) == list_size;
}

lib_status lib_read_directory(FILE *f, lib_directory *out)
{
    long long file_size = lib_file_size(f);
    if (file_size < 0)
        return LIB_IO_ERROR;
    uint8_t head[LIB_HEADER_SIZE];
    if (fread(head, 1, sizeof head, f) != sizeof head)
        return LIB_SHORT_HEADER;
    out->directory_size = get_le16(head);
    unsigned count = get_le16(head + 2);
    if (LIB_HEADER_SIZE + (long long)out->directory_size > file_size)
        return LIB_SHORT_DIRECTORY;
    std::vector<uint8_t> dir(out->directory_size + 1);
    if (fread(dir.data(), 1, out->directory_size, f) != out->directory_size)
        return LIB_SHORT_DIRECTORY;
    obj_cursor c = cur_open(dir.data(), out->directory_size, order_little);
    out->modules.assign(count, lib_module{});
    long long start = LIB_HEADER_SIZE + (long long)out->directory_size;
    for (lib_module &m : out->modules) {
        if (!lib_read_entry(c, &m))
            return LIB_BAD_DIRECTORY;
        if (start + m.length > file_size)
            return LIB_BAD_MODULE;
        m.start = (uint32_t)start;
        start += m.length;
    }
    return LIB_OK;
}

std::vector<uint8_t> lib_directory_entry(const lib_module &m)
{
    std::vector<uint8_t> list;
    for (const lib_symbol &s : m.symbols) {
        list.push_back(s.flag);
        list.insert(list.end(), s.name.begin(), s.name.end());
        list.push_back(0);
    }
    std::vector<uint8_t> e(LIB_ENTRY_FIXED);
    put_le16(&e[0], (uint16_t)list.size());
    put_le16(&e[2], (uint16_t)m.symbols.size());
    put_le32(&e[4], m.length);
    memcpy(&e[8], m.reserved, 4);
    e.insert(e.end(), m.name.begin(), m.name.end());
    e.push_back(0);
    e.insert(e.end(), list.begin(), list.end());
    return e;
}

// Writes the bytes; fwrite's buffer may not be null even for no bytes, and
// an empty directory or module body has no buffer.
static bool lib_write_bytes(FILE *f, const std::vector<uint8_t> &bytes)
{
    return bytes.empty() || fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

lib_status lib_write(FILE *f, const std::vector<lib_module> &modules,
                     const std::vector<std::vector<uint8_t>> &bodies)
{
    if (modules.size() != bodies.size() || modules.size() > 0xFFFF)
        return LIB_TOO_BIG;
    std::vector<uint8_t> dir;
    for (const lib_module &m : modules) {
        std::vector<uint8_t> e = lib_directory_entry(m);
        size_t list = e.size() - LIB_ENTRY_FIXED - m.name.size() - 1;
        if (list > 0xFFFF || m.symbols.size() > 0xFFFF)
            return LIB_TOO_BIG;
        dir.insert(dir.end(), e.begin(), e.end());
    }
    if (dir.size() > 0xFFFF)
        return LIB_TOO_BIG;
    for (size_t i = 0; i < modules.size(); i++)
        if (modules[i].length != bodies[i].size())
            return LIB_BAD_MODULE;
    uint8_t head[LIB_HEADER_SIZE];
    put_le16(head, (uint16_t)dir.size());
    put_le16(head + 2, (uint16_t)modules.size());
    bool ok = fwrite(head, 1, sizeof head, f) == sizeof head;
    ok = ok && lib_write_bytes(f, dir);
    for (const std::vector<uint8_t> &b : bodies)
        ok = ok && lib_write_bytes(f, b);
    return ok ? LIB_OK : LIB_IO_ERROR;
}
