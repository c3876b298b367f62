// An installer built byte by byte with zlib's gzip writer and libcrypto's
// MD5, never through packsetup or the reader: the tests' installers and
// the container fuzz target's.
#pragma once

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

inline std::string le32(uint32_t v)
{
    return {char(v & 0xFF), char(v >> 8 & 0xFF), char(v >> 16 & 0xFF), char(v >> 24 & 0xFF)};
}

inline std::string gzip_bytes(const std::string &data)
{
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&z, data.size()) + 64, '\0');
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef *>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

inline std::string md5_bytes(const std::string &data)
{
    unsigned char d[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), d, &n, EVP_md5(), nullptr);
    return std::string(reinterpret_cast<char *>(d), n);
}

inline std::string hex_upper(const std::string &bytes)
{
    std::string out;
    char b[3];
    for (unsigned char c : bytes) {
        snprintf(b, sizeof b, "%02X", c);
        out += b;
    }
    return out;
}

// The signature line a head's manifest must start with.
inline std::string signature_line(const std::string &head) { return hex_upper(head.substr(23040, 16)); }

// One record: its length, then its bytes.
inline std::string record(const std::string &bytes) { return le32(uint32_t(bytes.size())) + bytes; }

struct built_installer {
    std::string bytes;
    size_t frame_at;
    size_t gzip_at;
    size_t gzip_size;
    size_t digest_at;

    // The digest made again over the range (after a change inside it).
    void redigest(size_t range_start = 1024)
    {
        bytes.replace(digest_at, 16, md5_bytes(bytes.substr(range_start, digest_at - range_start)));
    }
};

// head, zeros to the frame (204800 or the first multiple of 1024 after the
// head, unless given), frame, gzip of plain, MD5 of [1024, digest), trailer.
inline built_installer build_installer(const std::string &head, const std::string &plain, size_t frame_at = 0,
                                       const std::string &trailer = std::string(4, '\0'))
{
    built_installer b;
    if (!frame_at)
        frame_at = std::max<size_t>(204800, (head.size() + 1023) / 1024 * 1024);
    b.frame_at = frame_at;
    std::string gz = gzip_bytes(plain);
    b.bytes = head + std::string(frame_at - head.size(), '\0');
    b.gzip_at = frame_at + 20;
    b.gzip_size = gz.size();
    b.digest_at = b.gzip_at + gz.size();
    b.bytes += "\xa3\xa2\xa1\xa0\x9f\x9e\x9d\x9c" + le32(uint32_t(head.size())) +
               le32(uint32_t(b.digest_at - 1024)) + le32(1024) + gz;
    b.bytes += std::string(16, '\0') + trailer;
    b.redigest();
    return b;
}
