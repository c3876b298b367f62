// The layout of an installer file, shared by the installer that reads it
// and the packer that writes it (all integers little-endian):
//   23040           16 signature bytes of the head; the manifest's first
//                   line is their text, two upper-case hex digits a byte
//   F               the frame: 8 magic bytes, u32 head size, u32 range
//                   length, u32 range start; F = 204800 + k * 1024
//   F + 20          the gzip stream of records (u32 length, then the bytes)
//   range end       the MD5 digest of the range
//   last 4 bytes    the referral trailer: u16 number, u16 number ^ 0xFFFF
#pragma once

#include <cstdint>

enum : uint32_t {
    PAYLOAD_SIGNATURE_AT = 23040,
    PAYLOAD_SIGNATURE_SIZE = 16,
    PAYLOAD_FIRST_FRAME = 204800,
    PAYLOAD_FRAME_STEP = 1024,
    PAYLOAD_FRAME_SIZE = 20,
    PAYLOAD_DIGEST_SIZE = 16,
};

inline constexpr unsigned char payload_magic_bytes[8] = {0xa3, 0xa2, 0xa1, 0xa0, 0x9f, 0x9e, 0x9d, 0x9c};
