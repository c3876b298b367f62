// The payload appended to the program's own file (its layout in
// setup_layout.h): found, checked and read record by record.
//
// The program's file is opened once, through /proc/self/exe, and every
// byte is read from that descriptor: the digest, the stream, the head copy
// and the trailer all come from the same file. The frame must lie inside
// the digested range and the stream is read only up to the digest, so
// nothing is used that was not checked; after the last record the gzip
// member must end there cleanly (its CRC and length checked).
//
// Before anything else a private temporary folder is made (mkdtemp, mode
// 0700); it and everything extracted into it go at every exit.
#include "setup.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

// Chunk sizes: the digest, and the records.
static const size_t DIGEST_CHUNK = 16384;
static const size_t RECORD_CHUNK = 8192;
// A manifest longer than this is not one.
static const uint32_t MANIFEST_LIMIT = 16u << 20;

uint64_t payload_done;
uint64_t payload_scale;

// The program's own file, open while the program runs (-1: none).
static int self_fd = -1;
// Its size in bytes.
static uint64_t self_size;
// The signature text: 32 hexadecimal digits.
static char signature[2 * PAYLOAD_SIGNATURE_SIZE + 1];
// The frame's fields, once found.
static uint32_t head_size;
static uint64_t stream_at;   // the next compressed byte to read
static uint64_t stream_end;  // the digest's offset: the stream ends here
// The gzip reader, open from location until payload_finish.
static z_stream gz;
static bool gz_open;
static bool gz_ended;
static unsigned char gz_input[DIGEST_CHUNK];
// Records written or dropped after the manifest.
static int record_counter;

bool payload_located() { return gz_open || head_size != 0; }
const char *payload_signature_text() { return signature; }
uint32_t payload_head_size() { return head_size; }

[[noreturn]] static void payload_corrupt() { setup_fatal("Installer is corrupt or truncated"); }

static uint32_t le32(const unsigned char *p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// Reads up to n bytes at offset; the count read.
static size_t self_read(uint64_t offset, void *buf, size_t n)
{
    size_t done = 0;
    while (done < n) {
        ssize_t r = pread(self_fd, static_cast<char *>(buf) + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            break;
        done += static_cast<size_t>(r);
    }
    return done;
}

// ---------------------------------------------------------------------------
// temporary folder
// ---------------------------------------------------------------------------
static void payload_make_temp_folder()
{
    std::string pattern = os_temp_folder() + "/vkXXXXXX";
    if (!mkdtemp(pattern.data()))
        setup_fatal("Failed to create folder %s", pattern.c_str());
    SetVariable("TmpDir", pattern.c_str());
    setup_remember_temp(pattern.c_str());
}

// ---------------------------------------------------------------------------
// digest
// ---------------------------------------------------------------------------
bool CheckPayloadDigest(uint32_t range_length, uint32_t range_start)
{
    EVP_MD_CTX *ctx = EVP_MD_CTX_new();
    if (!ctx || EVP_DigestInit_ex(ctx, EVP_md5(), nullptr) != 1)
        setup_fatal("Installer is corrupt or truncated");
    static unsigned char buf[DIGEST_CHUNK];
    uint64_t at = range_start;
    uint64_t left = range_length;
    while (left) {
        size_t want = left < DIGEST_CHUNK ? static_cast<size_t>(left) : DIGEST_CHUNK;
        size_t got = self_read(at, buf, want);
        if (got)
            EVP_DigestUpdate(ctx, buf, got);
        if (got < want)
            setup_fatal("Can't read entire filecheck: %ld", static_cast<long>(left - got));
        at += got;
        left -= got;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_DigestFinal_ex(ctx, digest, &n);
    EVP_MD_CTX_free(ctx);
    unsigned char stored[PAYLOAD_DIGEST_SIZE];
    size_t got = self_read(at, stored, sizeof stored);
    if (got < sizeof stored)
        setup_fatal("Can't read filecheck: %d", static_cast<int>(got));
    if (n != PAYLOAD_DIGEST_SIZE || memcmp(digest, stored, sizeof stored) != 0)
        payload_corrupt();
    return true;
}

// ---------------------------------------------------------------------------
// the gzip stream
// ---------------------------------------------------------------------------
static void gz_start(uint64_t from, uint64_t to)
{
    memset(&gz, 0, sizeof gz);
    // 16 + 15: a gzip wrapper, the largest window.
    if (inflateInit2(&gz, 16 + MAX_WBITS) != Z_OK)
        payload_corrupt();
    gz_open = true;
    gz_ended = false;
    stream_at = from;
    stream_end = to;
}

// Up to n decompressed bytes; fewer only at the end of the member. A
// damaged stream, or one that runs past the digest, is fatal.
static size_t gz_read(void *buf, size_t n)
{
    if (!gz_open)
        payload_corrupt();
    gz.next_out = static_cast<Bytef *>(buf);
    gz.avail_out = static_cast<uInt>(n);
    while (gz.avail_out && !gz_ended) {
        if (gz.avail_in == 0) {
            uint64_t left = stream_end - stream_at;
            size_t want = left < sizeof gz_input ? static_cast<size_t>(left) : sizeof gz_input;
            size_t got = want ? self_read(stream_at, gz_input, want) : 0;
            if (got == 0)
                payload_corrupt();
            stream_at += got;
            gz.next_in = gz_input;
            gz.avail_in = static_cast<uInt>(got);
        }
        int rc = inflate(&gz, Z_NO_FLUSH);
        if (rc == Z_STREAM_END)
            gz_ended = true;
        else if (rc != Z_OK)
            payload_corrupt();
    }
    return n - gz.avail_out;
}

static void gz_read_exact(void *buf, size_t n)
{
    if (gz_read(buf, n) != n)
        payload_corrupt();
}

uint32_t ReadRecordLength()
{
    unsigned char b[4];
    for (unsigned char &c : b)
        gz_read_exact(&c, 1);
    return le32(b);
}

void payload_finish()
{
    if (!gz_open)
        return;
    unsigned char extra;
    if (gz_read(&extra, 1) != 0 || gz.avail_in != 0 || stream_at != stream_end)
        payload_corrupt();
    inflateEnd(&gz);
    gz_open = false;
}

// ---------------------------------------------------------------------------
// records
// ---------------------------------------------------------------------------
static bool write_all(int fd, const unsigned char *p, size_t n)
{
    while (n) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR)
            continue;
        if (w <= 0)
            return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

// Creates path for writing; a file in use (or not writable) is asked about.
static int payload_create(const char *path)
{
    for (;;) {
        int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0)
            return fd;
        int err = errno;
        if ((err == EACCES || err == ETXTBSY) &&
            setup_retry("Can't create file",
                        "The file %s cannot be written to -\nclose any other applications that may be using it", path))
            continue;
        setup_fatal("Can't create file: %s\nError %d", path, err);
    }
}

static void progress_advance(uint64_t n)
{
    if (payload_scale)
        payload_done += n;
}

// Programs and scripts keep their execute permission: the record stream
// has no modes, so the first bytes tell.
static void payload_mark_executable(int fd, const unsigned char *first, size_t n)
{
    bool program = (n >= 4 && memcmp(first, "\x7f" "ELF", 4) == 0) || (n >= 2 && first[0] == '#' && first[1] == '!');
    if (!program)
        return;
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0777 & ~mask);
}

// ---------------------------------------------------------------------------
// installed files: written under a temporary name, renamed when complete
// ---------------------------------------------------------------------------
struct staged_file {
    int fd;
    char *temp;
    bool existed;
};

static staged_file stage_open(const char *path)
{
    struct stat st;
    staged_file s{-1, xasprintf("%s.vkpart", path), lstat(path, &st) == 0};
    unlink(s.temp);
    s.fd = payload_create(s.temp);
    setup_set_unfinished(s.temp);
    return s;
}

static void stage_commit(staged_file &s, const char *path)
{
    if (close(s.fd) != 0)
        setup_fatal("Write error on %s\n%s", path, strerror(errno));
    if (rename(s.temp, path) != 0)
        setup_fatal("Can't create file: %s\n%s", path, strerror(errno));
    setup_set_unfinished(nullptr);
    free(s.temp);
    vec_push(setup_installed_files, xstrdup(path));
    if (!s.existed)
        vec_push(setup_created_files, xstrdup(path));
    setup_poll_signal();
}

static void stage_write(staged_file &s, const char *path, const unsigned char *buf, size_t n)
{
    if (!write_all(s.fd, buf, n))
        setup_fatal("Write error on %s\n%s", path, strerror(errno));
    progress_advance(n);
    setup_poll_signal();
}

void ExtractRecord(const char *path, uint32_t expected_size)
{
    uint32_t size = ReadRecordLength();
    if (size != expected_size)
        setup_fatal("File size does not match - file %d:%s %ld/%ld", record_counter, path ? path : "(not written)",
                    static_cast<long>(expected_size), static_cast<long>(size));
    staged_file s{-1, nullptr, false};
    if (path) {
        s = stage_open(path);
        progress_advance(RECORD_CHUNK);
    }
    static unsigned char buf[RECORD_CHUNK];
    for (uint32_t left = size; left;) {
        size_t want = left < RECORD_CHUNK ? left : RECORD_CHUNK;
        gz_read_exact(buf, want);
        if (s.fd >= 0) {
            if (left == size)
                payload_mark_executable(s.fd, buf, want);
            stage_write(s, path, buf, want);
        }
        left -= static_cast<uint32_t>(want);
    }
    if (s.fd >= 0)
        stage_commit(s, path);
    record_counter++;
}

// n bytes from the descriptor (at offset 0) to target.
static void copy_part(int from, const char *source, const char *target, uint32_t n)
{
    staged_file s = stage_open(target);
    static unsigned char buf[RECORD_CHUNK];
    for (uint64_t at = 0; at < n;) {
        size_t want = n - at < RECORD_CHUNK ? static_cast<size_t>(n - at) : RECORD_CHUNK;
        ssize_t got = pread(from, buf, want, static_cast<off_t>(at));
        if (got != static_cast<ssize_t>(want))
            setup_fatal("short read on %s", source);
        if (at == 0)
            payload_mark_executable(s.fd, buf, want);
        stage_write(s, target, buf, want);
        at += want;
    }
    stage_commit(s, target);
}

void CopyFileHead(const char *target, uint32_t n)
{
    if (self_fd < 0)
        setup_fatal("short read on %s", target);
    copy_part(self_fd, target, target, n);
}

void CopyFilePart(const char *source, const char *target, uint32_t n)
{
    int fd = open(source, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        setup_fatal("Can't open file: %s\n%s", source, strerror(errno));
    copy_part(fd, source, target, n);
    close(fd);
}

void payload_extract_resources()
{
    uint32_t installed = vec_count(setup_installed_files);
    uint32_t created = vec_count(setup_created_files);
    for (uint32_t i = 0; manifest.resources && i < vec_count(manifest.resources); i++) {
        resource_t *r = static_cast<resource_t *>(vec_get(manifest.resources, i));
        if (r->head)
            continue;
        if (!gz_open)
            payload_corrupt();
        ExtractRecord(r->path, r->size);
    }
    // Resources are temporary, not installed files.
    while (vec_count(setup_installed_files) > installed)
        free(vec_pop(setup_installed_files));
    while (vec_count(setup_created_files) > created)
        free(vec_pop(setup_created_files));
}

// ---------------------------------------------------------------------------
// folders and the feature files
// ---------------------------------------------------------------------------
// The installation folder: it and the folders above it may be links (the
// user chose them); nothing below it may be.
static std::string folder_root;

void setup_set_folder_root(const char *root) { folder_root = root ? root : ""; }

void setup_make_folder(const char *path)
{
    struct stat st;
    bool follow = folder_root.empty() || folder_root.compare(0, std::string::npos, path) == 0 ||
                  strncmp(path, folder_root.c_str(), folder_root.size()) != 0;
    if ((follow ? stat(path, &st) : lstat(path, &st)) == 0) {
        if (!S_ISDIR(st.st_mode))
            setup_fatal("Folder %s exists but is not a folder!", path);
        return;
    }
    if (errno != ENOENT)
        setup_fatal("Failed to create folder %s\n%s", path, strerror(errno));
    const char *slash = strrchr(path, '/');
    if (slash && slash > path) {
        char *parent = xstrdup(path);
        parent[slash - path] = 0;
        setup_make_folder(parent);
        free(parent);
    }
    if (mkdir(path, 0777) != 0)
        setup_fatal("Failed to create folder %s\n%s", path, strerror(errno));
    vec_push(setup_installed_folders, xstrdup(path));
}

void payload_extract_features(const char *target)
{
    for (uint32_t i = 0; manifest.features && i < vec_count(manifest.features); i++) {
        feature_t *f = static_cast<feature_t *>(vec_get(manifest.features, i));
        bool write = target && f->selected && !f->present;
        for (uint32_t j = 0; j < vec_count(f->folders); j++) {
            folder_t *folder = static_cast<folder_t *>(vec_get(f->folders, j));
            char *dir = write ? xasprintf("%s/%s", target, folder->name) : nullptr;
            if (dir)
                setup_make_folder(dir);
            for (uint32_t k = 0; k < vec_count(folder->files); k++) {
                file_entry_t *file = static_cast<file_entry_t *>(vec_get(folder->files, k));
                char *path = dir ? xasprintf("%s/%s", dir, file->name) : nullptr;
                ExtractRecord(path, file->size);
                free(path);
            }
            free(dir);
        }
    }
    payload_finish();
}

// ---------------------------------------------------------------------------
// referral trailer
// ---------------------------------------------------------------------------
void payload_apply_referral()
{
    if (!payload_located() || self_size < 4)
        return;
    unsigned char t[4];
    if (self_read(self_size - 4, t, 4) != 4)
        return;
    unsigned number = t[0] | t[1] << 8;
    unsigned check = t[2] | t[3] << 8;
    if (check != (number ^ 0xFFFF))
        return;
    char id[16];
    snprintf(id, sizeof id, "%u", number);
    SetVariable("ReferralID", id);
    char *url = ExpandVariables("[OrderingURL]?referrer=[ReferralID]");
    SetVariable("OrderingURL", url);
    free(url);
}

// ---------------------------------------------------------------------------
// location
// ---------------------------------------------------------------------------
// Step 5: the first candidate offset whose 8 bytes are the magic; 0 if none.
static uint64_t payload_find_frame(unsigned char frame[PAYLOAD_FRAME_SIZE])
{
    for (uint64_t at = PAYLOAD_FIRST_FRAME; at + PAYLOAD_FRAME_SIZE <= self_size; at += PAYLOAD_FRAME_STEP) {
        if (self_read(at, frame, PAYLOAD_FRAME_SIZE) < PAYLOAD_FRAME_SIZE)
            return 0;
        if (memcmp(frame, payload_magic_bytes, sizeof payload_magic_bytes) == 0)
            return at;
    }
    return 0;
}

// Step 6: the frame's fields bound to the file: the range holds the frame,
// the digest follows the range inside the file, the head ends before the
// frame and holds the signature. Sums in 64 bits.
static void payload_open_stream(uint64_t frame_at, const unsigned char *frame)
{
    uint32_t head = le32(frame + 8);
    uint64_t length = le32(frame + 12);
    uint64_t start = le32(frame + 16);
    uint64_t end = start + length;
    if (start > frame_at || end < frame_at + PAYLOAD_FRAME_SIZE || head > frame_at ||
        head < PAYLOAD_SIGNATURE_AT + PAYLOAD_SIGNATURE_SIZE)
        payload_corrupt();
    CheckPayloadDigest(static_cast<uint32_t>(length), static_cast<uint32_t>(start));
    head_size = head;
    gz_start(frame_at + PAYLOAD_FRAME_SIZE, end);
}

// The manifest record: a length, then exactly that many bytes.
static char *payload_read_manifest()
{
    uint32_t length = ReadRecordLength();
    if (length > MANIFEST_LIMIT)
        payload_corrupt();
    char *text = static_cast<char *>(xmalloc(static_cast<size_t>(length) + 1));
    gz_read_exact(text, length);
    return text;
}

// Step 7: the manifest file beside the program; a program in a folder named
// resources belongs to the installation in its parent.
static char *payload_read_fallback(const char *program_folder)
{
    const char *base = os_path_basename(program_folder);
    if (strcasecmp(base, "resources") == 0) {
        char *parent = os_path_dirname(program_folder);
        SetVariable("InstDir", parent);
        free(parent);
    }
    char *path = xasprintf("%s/manifest", program_folder);
    FILE *f = fopen(path, "rb");
    free(path);
    if (!f)
        setup_fatal("Can't find the manifest");
    std::string text;
    char buf[RECORD_CHUNK];
    while (size_t n = fread(buf, 1, sizeof buf, f)) {
        text.append(buf, n);
        if (text.size() > MANIFEST_LIMIT)
            payload_corrupt();
    }
    fclose(f);
    return xstrdup(text.c_str());
}

// Step 8: the first line must be the signature text of this program.
static void payload_check_signature(const char *text)
{
    size_t n = strcspn(text, "\r\n");
    if (n != strlen(signature) || strncmp(text, signature, n) != 0)
        setup_fatal("Invalid manifest signature");
}

// The program's head: the first resource, installed as resources/setup.
static void payload_add_head_resource(const char *program_file)
{
    resource_t *r = static_cast<resource_t *>(xmalloc(sizeof(resource_t)));
    r->file = xstrdup("setup");
    r->path = xstrdup(program_file);
    r->variable = xstrdup("SETUP");
    r->size = head_size;
    r->head = true;
    vec_push(manifest.resources, r);
}

void payload_locate_from(const char *program_file, const char *program_folder)
{
    setup_lists_init();
    if (!manifest.resources)
        manifest.resources = vec_new_default();
    payload_make_temp_folder();
    self_fd = open(program_file, O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (self_fd < 0 || fstat(self_fd, &st) != 0)
        payload_corrupt();
    self_size = static_cast<uint64_t>(st.st_size);
    unsigned char sig[PAYLOAD_SIGNATURE_SIZE];
    if (self_read(PAYLOAD_SIGNATURE_AT, sig, sizeof sig) != sizeof sig)
        setup_fatal("Seek on setup");
    for (unsigned i = 0; i < sizeof sig; i++)
        snprintf(signature + 2 * i, 3, "%2.2X", sig[i]);
    unsigned char frame[PAYLOAD_FRAME_SIZE];
    uint64_t frame_at = payload_find_frame(frame);
    char *text;
    if (frame_at) {
        payload_open_stream(frame_at, frame);
        char *own = os_program_path();
        payload_add_head_resource(own);
        free(own);
        text = payload_read_manifest();
        SetVariableTruth("Install", true);
    } else {
        close(self_fd);
        self_fd = -1;
        text = payload_read_fallback(program_folder);
    }
    payload_check_signature(text);
    ParseManifest(text);
}

void LocatePayload()
{
    char *own = os_program_path();
    char *folder = os_path_dirname(own);
    payload_locate_from("/proc/self/exe", folder && *folder ? folder : ".");
    free(own);
    free(folder);
}
