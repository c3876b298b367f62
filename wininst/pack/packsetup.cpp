// packsetup: makes an installer from a build tree (a build tool, never
// installed).
//
//   packsetup --head=FILE --template=FILE --root=DIR --out=FILE [--referral=N]
//
// The head is the setup program. The template is a manifest without its
// signature line; packsetup puts the head's signature line first and fills
// in the file lists and sizes:
//   [Resources]  NAME=path        the file at path (relative to the
//                                 template's folder) becomes NAME=base TAB size
//   [Features]   folder/*         the folder's files from the build tree
//                folder/**        the same for it and every folder below it
//                name             (after a folder line) a file of that folder
// The head itself is never packed from the tree. The output is
//   head, zeros up to F, frame, gzip stream of the records, MD5 digest of
//   the range [1024, digest), trailer (referral number and its complement,
//   zero without one)
// with F the first multiple of 1024 at or after the head and at least
// 204800. Refused: a head too short to hold the signature, an all-zero
// signature, the frame's magic inside the head at an offset where the
// installer looks for its frame, and any size of 4 GiB or more.
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "../setup_layout.h"

// Where the digested range starts: the first page stays outside.
static const uint32_t RANGE_START = 1024;
static const uint64_t SIZE_LIMIT = 0xFFFFFFFFull;

// One record of the stream after the manifest: the file it comes from.
struct pack_record {
    std::string source;
    uint64_t size;
};

// The command line.
static std::string head_path, template_path, root_dir, out_path;
static long referral = -1;
// The head's inode: never packed from the tree.
static dev_t head_dev;
static ino_t head_ino;
// The output while it is written (removed on failure).
static std::string out_temp;

[[noreturn]] static void pack_fail(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void pack_fail(const char *format, ...)
{
    va_list args;
    va_start(args, format);
    fputs("packsetup: ", stderr);
    vfprintf(stderr, format, args);
    fputc('\n', stderr);
    va_end(args);
    if (!out_temp.empty())
        unlink(out_temp.c_str());
    exit(1);
}

static uint64_t file_size(const std::string &path)
{
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        pack_fail("cannot read %s: %s", path.c_str(), errno ? strerror(errno) : "not a file");
    return static_cast<uint64_t>(st.st_size);
}

static std::string read_file(const std::string &path, uint64_t limit)
{
    uint64_t size = file_size(path);
    if (size > limit)
        pack_fail("%s is too large (%llu bytes, at most %llu)", path.c_str(), (unsigned long long)size,
                  (unsigned long long)limit);
    FILE *f = fopen(path.c_str(), "rb");
    if (!f)
        pack_fail("cannot read %s: %s", path.c_str(), strerror(errno));
    std::string data(size, '\0');
    if (fread(data.data(), 1, size, f) != size)
        pack_fail("cannot read %s", path.c_str());
    fclose(f);
    return data;
}

// ---------------------------------------------------------------------------
// the head
// ---------------------------------------------------------------------------
// True when the bytes [at, at + n) of an ELF64 program lie outside its
// headers and every section that has file contents: padding that nothing
// reads.
static bool elf_padding(const std::string &head, uint64_t at, uint64_t n)
{
    Elf64_Ehdr eh;
    if (head.size() < sizeof eh || memcmp(head.data(), ELFMAG, SELFMAG) != 0 || head[EI_CLASS] != ELFCLASS64)
        return false;
    memcpy(&eh, head.data(), sizeof eh);
    auto overlaps = [&](uint64_t from, uint64_t size) { return from < at + n && at < from + size; };
    if (overlaps(0, eh.e_ehsize) || overlaps(eh.e_phoff, uint64_t(eh.e_phnum) * eh.e_phentsize) ||
        overlaps(eh.e_shoff, uint64_t(eh.e_shnum) * eh.e_shentsize) || eh.e_shentsize != sizeof(Elf64_Shdr) ||
        eh.e_shnum == 0 || eh.e_shoff + uint64_t(eh.e_shnum) * sizeof(Elf64_Shdr) > head.size())
        return false;
    for (unsigned i = 0; i < eh.e_shnum; i++) {
        Elf64_Shdr sh;
        memcpy(&sh, head.data() + eh.e_shoff + i * sizeof sh, sizeof sh);
        if (sh.sh_type != SHT_NOBITS && overlaps(sh.sh_offset, sh.sh_size))
            return false;
    }
    return true;
}

// A program whose signature bytes fall in zero padding between sections
// gets a signature of its own there (the first bytes of its MD5), in the
// head that is packed and later installed; the file given stays as it is.
static void pack_stamp_signature(std::string &head)
{
    if (head.compare(PAYLOAD_SIGNATURE_AT, PAYLOAD_SIGNATURE_SIZE, std::string(PAYLOAD_SIGNATURE_SIZE, '\0')) != 0 ||
        !elf_padding(head, PAYLOAD_SIGNATURE_AT, PAYLOAD_SIGNATURE_SIZE))
        return;
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(head.data(), head.size(), d, &n, EVP_md5(), nullptr);
    d[0] |= 1; // never all zero
    head.replace(PAYLOAD_SIGNATURE_AT, PAYLOAD_SIGNATURE_SIZE, reinterpret_cast<char *>(d), PAYLOAD_SIGNATURE_SIZE);
}

static std::string pack_signature_line(const std::string &head)
{
    std::string line;
    bool zero = true;
    for (unsigned i = 0; i < PAYLOAD_SIGNATURE_SIZE; i++) {
        unsigned char c = static_cast<unsigned char>(head[PAYLOAD_SIGNATURE_AT + i]);
        char hex[3];
        snprintf(hex, sizeof hex, "%2.2X", c);
        line += hex;
        zero &= c == 0;
    }
    if (zero)
        pack_fail("the head's signature bytes at %u are all zero", PAYLOAD_SIGNATURE_AT);
    return line;
}

static uint64_t pack_frame_offset(const std::string &head)
{
    uint64_t f = (head.size() + PAYLOAD_FRAME_STEP - 1) / PAYLOAD_FRAME_STEP * PAYLOAD_FRAME_STEP;
    f = std::max<uint64_t>(f, PAYLOAD_FIRST_FRAME);
    for (uint64_t at = PAYLOAD_FIRST_FRAME; at < f; at += PAYLOAD_FRAME_STEP) {
        unsigned char bytes[8] = {};
        for (unsigned i = 0; i < 8 && at + i < head.size(); i++)
            bytes[i] = static_cast<unsigned char>(head[at + i]);
        if (memcmp(bytes, payload_magic_bytes, 8) == 0)
            pack_fail("the head holds the frame's magic at %llu, where the installer looks for its frame",
                      (unsigned long long)at);
    }
    return f;
}

// ---------------------------------------------------------------------------
// the manifest
// ---------------------------------------------------------------------------
static std::vector<std::string> list_folder(const std::string &dir, bool folders)
{
    std::vector<std::string> names;
    DIR *d = opendir(dir.c_str());
    if (!d)
        pack_fail("cannot read the folder %s: %s", dir.c_str(), strerror(errno));
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..")
            continue;
        struct stat st;
        if (lstat((dir + "/" + name).c_str(), &st) != 0)
            continue;
        if (folders ? S_ISDIR(st.st_mode) : S_ISREG(st.st_mode) && !(st.st_dev == head_dev && st.st_ino == head_ino))
            names.push_back(name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

static std::string size_text(uint64_t size, const std::string &path)
{
    if (size > SIZE_LIMIT)
        pack_fail("%s is 4 GiB or more", path.c_str());
    return std::to_string(size);
}

// A folder line and its files; with recurse, every folder below it too.
static void pack_tree(const std::string &folder, bool recurse, std::string &out, std::vector<pack_record> &records)
{
    std::string dir = root_dir + "/" + folder;
    out += folder + "/\n";
    for (const std::string &name : list_folder(dir, false)) {
        uint64_t size = file_size(dir + "/" + name);
        out += name + "\t" + size_text(size, dir + "/" + name) + "\n";
        records.push_back({dir + "/" + name, size});
    }
    if (recurse)
        for (const std::string &sub : list_folder(dir, true))
            pack_tree(folder + "/" + sub, true, out, records);
}

static bool ends_with(const std::string &s, const char *tail)
{
    size_t n = strlen(tail);
    return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

static std::string trim(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t\r");
    size_t b = s.find_last_not_of(" \t\r");
    return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

// The manifest text; resources and feature files in record order.
static std::string pack_manifest(const std::string &signature, std::vector<pack_record> &resources,
                                 std::vector<pack_record> &files)
{
    std::string tmpl = read_file(template_path, 16u << 20);
    std::string dir = template_path.find('/') == std::string::npos ? "."
                                                                    : template_path.substr(0, template_path.rfind('/'));
    std::string out = signature + "\n";
    std::string section, folder;
    size_t at = 0;
    while (at < tmpl.size()) {
        size_t end = tmpl.find('\n', at);
        std::string raw = tmpl.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? tmpl.size() : end + 1;
        std::string line = trim(raw);
        if (line.empty() || line[0] == ';') {
            out += line + "\n";
            continue;
        }
        if (line[0] == '[') {
            section = line;
            out += line + "\n";
            continue;
        }
        if (!strcasecmp(section.c_str(), "[Resources]")) {
            size_t eq = line.find('=');
            if (eq == std::string::npos)
                pack_fail("bad resource line: %s", line.c_str());
            std::string path = line.substr(eq + 1);
            std::string source = path[0] == '/' ? path : dir + "/" + path;
            uint64_t size = file_size(source);
            out += line.substr(0, eq + 1) + path.substr(path.rfind('/') + 1) + "\t" + size_text(size, source) + "\n";
            resources.push_back({source, size});
        } else if (!strcasecmp(section.c_str(), "[Features]") && (ends_with(line, "/*") || ends_with(line, "/**"))) {
            bool recurse = ends_with(line, "/**");
            folder = line.substr(0, line.rfind('/'));
            pack_tree(folder, recurse, out, files);
        } else if (!strcasecmp(section.c_str(), "[Features]") && ends_with(line, "/")) {
            folder = line.substr(0, line.size() - 1);
            out += line + "\n";
        } else if (!strcasecmp(section.c_str(), "[Features]") && line.find('=') == std::string::npos) {
            if (folder.empty())
                pack_fail("file without a folder: %s", line.c_str());
            std::string source = root_dir + "/" + folder + "/" + line;
            uint64_t size = file_size(source);
            out += line + "\t" + size_text(size, source) + "\n";
            files.push_back({source, size});
        } else {
            out += line + "\n";
        }
    }
    return out;
}

// ---------------------------------------------------------------------------
// the output
// ---------------------------------------------------------------------------
struct pack_writer {
    FILE *out;
    z_stream z;
    uint64_t compressed; // bytes of gzip stream written
};

static void put(FILE *f, const void *data, size_t n)
{
    if (n && fwrite(data, 1, n, f) != n)
        pack_fail("cannot write %s: %s", out_temp.c_str(), strerror(errno));
}

static void deflate_some(pack_writer &w, const void *data, size_t n, int flush)
{
    static unsigned char buf[65536];
    w.z.next_in = static_cast<Bytef *>(const_cast<void *>(data));
    w.z.avail_in = static_cast<uInt>(n);
    do {
        w.z.next_out = buf;
        w.z.avail_out = sizeof buf;
        int rc = deflate(&w.z, flush);
        if (rc == Z_STREAM_ERROR)
            pack_fail("compression failed");
        size_t made = sizeof buf - w.z.avail_out;
        put(w.out, buf, made);
        w.compressed += made;
    } while (w.z.avail_out == 0 || (flush == Z_FINISH && w.z.avail_in));
}

static void record_length(pack_writer &w, uint64_t n)
{
    unsigned char b[4] = {static_cast<unsigned char>(n), static_cast<unsigned char>(n >> 8),
                          static_cast<unsigned char>(n >> 16), static_cast<unsigned char>(n >> 24)};
    deflate_some(w, b, 4, Z_NO_FLUSH);
}

static void record_file(pack_writer &w, const pack_record &r)
{
    record_length(w, r.size);
    FILE *f = fopen(r.source.c_str(), "rb");
    if (!f)
        pack_fail("cannot read %s: %s", r.source.c_str(), strerror(errno));
    static char buf[65536];
    uint64_t total = 0;
    while (size_t n = fread(buf, 1, sizeof buf, f)) {
        deflate_some(w, buf, n, Z_NO_FLUSH);
        total += n;
    }
    fclose(f);
    if (total != r.size)
        pack_fail("%s changed while it was packed", r.source.c_str());
}

static void le32_into(unsigned char *p, uint64_t v)
{
    for (int i = 0; i < 4; i++)
        p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// The digest of the range, read back from the file written.
static void pack_digest(FILE *f, uint64_t start, uint64_t length, unsigned char digest[16])
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
    fflush(f);
    static unsigned char buf[65536];
    int fd = fileno(f);
    for (uint64_t at = start; at < start + length;) {
        size_t want = std::min<uint64_t>(sizeof buf, start + length - at);
        ssize_t got = pread(fd, buf, want, static_cast<off_t>(at));
        if (got <= 0)
            pack_fail("cannot read back %s", out_temp.c_str());
        EVP_DigestUpdate(ctx, buf, static_cast<size_t>(got));
        at += static_cast<uint64_t>(got);
    }
    unsigned int n;
    EVP_DigestFinal_ex(ctx, digest, &n);
    EVP_MD_CTX_free(ctx);
}

static void pack_write(const std::string &head, uint64_t frame_at, const std::string &manifest,
                       const std::vector<pack_record> &resources, const std::vector<pack_record> &files)
{
    out_temp = out_path + ".new";
    pack_writer w{};
    w.out = fopen(out_temp.c_str(), "w+b");
    if (!w.out)
        pack_fail("cannot create %s: %s", out_temp.c_str(), strerror(errno));
    put(w.out, head.data(), head.size());
    std::string zeros(frame_at - head.size() + PAYLOAD_FRAME_SIZE, '\0');
    put(w.out, zeros.data(), zeros.size());
    // 16 + 15: a gzip wrapper, the largest window.
    if (deflateInit2(&w.z, 9, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        pack_fail("compression failed");
    record_length(w, manifest.size());
    deflate_some(w, manifest.data(), manifest.size(), Z_NO_FLUSH);
    for (const pack_record &r : resources)
        record_file(w, r);
    for (const pack_record &r : files)
        record_file(w, r);
    deflate_some(w, nullptr, 0, Z_FINISH);
    deflateEnd(&w.z);
    uint64_t length = frame_at + PAYLOAD_FRAME_SIZE + w.compressed - RANGE_START;
    if (length > SIZE_LIMIT)
        pack_fail("the payload is 4 GiB or more");
    unsigned char frame[PAYLOAD_FRAME_SIZE];
    memcpy(frame, payload_magic_bytes, 8);
    le32_into(frame + 8, head.size());
    le32_into(frame + 12, length);
    le32_into(frame + 16, RANGE_START);
    if (fseeko(w.out, static_cast<off_t>(frame_at), SEEK_SET) != 0)
        pack_fail("cannot write %s", out_temp.c_str());
    put(w.out, frame, sizeof frame);
    fflush(w.out);
    unsigned char digest[16];
    pack_digest(w.out, RANGE_START, length, digest);
    unsigned char trailer[4] = {};
    if (referral >= 0) {
        unsigned check = static_cast<unsigned>(referral) ^ 0xFFFFu;
        trailer[0] = static_cast<unsigned char>(referral);
        trailer[1] = static_cast<unsigned char>(referral >> 8);
        trailer[2] = static_cast<unsigned char>(check);
        trailer[3] = static_cast<unsigned char>(check >> 8);
    }
    if (fseeko(w.out, 0, SEEK_END) != 0)
        pack_fail("cannot write %s", out_temp.c_str());
    put(w.out, digest, sizeof digest);
    put(w.out, trailer, sizeof trailer);
    if (fclose(w.out) != 0 || chmod(out_temp.c_str(), 0755) != 0 || rename(out_temp.c_str(), out_path.c_str()) != 0)
        pack_fail("cannot write %s: %s", out_path.c_str(), strerror(errno));
    out_temp.clear();
}

// ---------------------------------------------------------------------------
// main
// ---------------------------------------------------------------------------
static void pack_options(int argc, char **argv)
{
    static const struct {
        const char *prefix;
        std::string *value;
    } options[] = {{"--head=", &head_path}, {"--template=", &template_path}, {"--root=", &root_dir},
                   {"--out=", &out_path}};
    for (int i = 1; i < argc; i++) {
        const char *arg = argv[i];
        bool known = false;
        for (const auto &o : options)
            if (strncmp(arg, o.prefix, strlen(o.prefix)) == 0) {
                *o.value = arg + strlen(o.prefix);
                known = true;
            }
        if (known)
            continue;
        if (strncmp(arg, "--referral=", 11) != 0)
            pack_fail("unknown argument: %s", arg);
        char *end;
        referral = strtol(arg + 11, &end, 10);
        if (!arg[11] || *end || referral < 0 || referral > 0xFFFF)
            pack_fail("bad referral number: %s", arg);
    }
    if (head_path.empty() || template_path.empty() || root_dir.empty() || out_path.empty())
        pack_fail("usage: packsetup --head=FILE --template=FILE --root=DIR --out=FILE [--referral=N]");
}

int main(int argc, char **argv)
{
    pack_options(argc, argv);
    struct stat st;
    if (stat(head_path.c_str(), &st) != 0)
        pack_fail("cannot read %s: %s", head_path.c_str(), strerror(errno));
    head_dev = st.st_dev;
    head_ino = st.st_ino;
    if (static_cast<uint64_t>(st.st_size) > SIZE_LIMIT)
        pack_fail("the head %s is 4 GiB or more", head_path.c_str());
    if (static_cast<uint64_t>(st.st_size) < PAYLOAD_SIGNATURE_AT + PAYLOAD_SIGNATURE_SIZE)
        pack_fail("the head %s ends before its signature (%u bytes at least)", head_path.c_str(),
                  PAYLOAD_SIGNATURE_AT + PAYLOAD_SIGNATURE_SIZE);
    struct stat out_st;
    if (stat(out_path.c_str(), &out_st) == 0 && out_st.st_dev == head_dev && out_st.st_ino == head_ino)
        pack_fail("the output %s is the head", out_path.c_str());
    std::string head = read_file(head_path, SIZE_LIMIT);
    pack_stamp_signature(head);
    std::string signature = pack_signature_line(head);
    uint64_t frame_at = pack_frame_offset(head);
    std::vector<pack_record> resources, files;
    std::string manifest = pack_manifest(signature, resources, files);
    if (manifest.size() > SIZE_LIMIT)
        pack_fail("the manifest is 4 GiB or more");
    pack_write(head, frame_at, manifest, resources, files);
    return 0;
}
