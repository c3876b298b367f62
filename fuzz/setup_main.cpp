// The installer's readers as programs for two fuzz targets.
//
// setup_manifest_main: the input is a manifest (its first line, the
// signature, is passed over), read through every section to [Run] with the
// selection resolved; then the features' texts and the shortcuts go through
// the expansion of bracketed names.
//
// setup_payload_main: the input becomes an installer file behind a head of
// 204800 bytes (its signature bytes at 23040) in one of three ways, chosen
// by its first byte:
//   0  the rest is a record stream: up to the first NUL it is the manifest
//      (the signature line is put before it), after that the records; it
//      is compressed, framed and digested soundly, so the fuzzer reaches
//      the manifest and the records
//   1  the rest is the file from the frame on, as it is
//   2  the same, with the digest made again over the range the frame names
// The file is then located, the feature records written below out/ and the
// head copied, as an install would.
#include "installer_bytes.h"
#include "setup.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

static const size_t HEAD_SIZE = PAYLOAD_FIRST_FRAME;

static bool read_input(const char *path, std::string &out)
{
    FILE *f = fopen(path, "rb");
    if (!f)
        return false;
    char buf[4096];
    while (size_t n = fread(buf, 1, sizeof buf, f))
        out.append(buf, n);
    fclose(f);
    return true;
}

int setup_manifest_main(int argc, char **argv)
{
    std::string text;
    if (argc < 2 || !read_input(argv[1], text))
        return 2;
    setup_lists_init();
    SetVariable("TmpDir", ".");
    ParseManifest(text.c_str());
    select_features_from_components();
    for (uint32_t i = 0; manifest.features && i < vec_count(manifest.features); i++) {
        feature_t *feat = static_cast<feature_t *>(vec_get(manifest.features, i));
        free(ExpandVariables(feat->description));
        free(ExpandVariables(feat->errmess));
    }
    for (uint32_t i = 0; manifest.shortcuts && i < vec_count(manifest.shortcuts); i++)
        free(ExpandVariables(static_cast<shortcut_t *>(vec_get(manifest.shortcuts, i))->target));
    return 0;
}

// Mode 0: the manifest (signature line first) and the records after it.
static std::string sound_file(const std::string &head, const std::string &input)
{
    size_t nul = input.find('\0');
    std::string plain = record(signature_line(head) + "\n" + input.substr(0, nul));
    if (nul != std::string::npos)
        plain += input.substr(nul + 1);
    return build_installer(head, plain).bytes;
}

// Mode 2: the digest made again where the frame's range ends.
static std::string redigested(std::string file)
{
    if (file.size() < HEAD_SIZE + PAYLOAD_FRAME_SIZE)
        return file;
    const unsigned char *f = reinterpret_cast<const unsigned char *>(file.data()) + HEAD_SIZE;
    uint64_t length = f[12] | f[13] << 8 | f[14] << 16 | static_cast<uint64_t>(f[15]) << 24;
    uint64_t start = f[16] | f[17] << 8 | f[18] << 16 | static_cast<uint64_t>(f[19]) << 24;
    if (start + length + 16 <= file.size())
        file.replace(start + length, 16, md5_bytes(file.substr(start, length)));
    return file;
}

int setup_payload_main(int argc, char **argv)
{
    std::string input;
    if (argc < 2 || !read_input(argv[1], input))
        return 2;
    if (input.empty())
        return 0;
    std::string head(HEAD_SIZE, 'h');
    for (unsigned i = 0; i < PAYLOAD_SIGNATURE_SIZE; i++)
        head[PAYLOAD_SIGNATURE_AT + i] = static_cast<char>(i);
    std::string rest = input.substr(1);
    std::string file = input[0] % 3 == 0 ? sound_file(head, rest) : head + rest;
    if (input[0] % 3 == 2)
        file = redigested(file);
    FILE *out = fopen("setup.bin", "wb");
    if (!out || fwrite(file.data(), 1, file.size(), out) != file.size() || fclose(out) != 0)
        return 2;
    payload_locate_from("setup.bin", ".");
    select_features_from_components();
    mkdir("out", 0700);
    payload_extract_features("out");
    if (payload_located()) {
        mkdir("out/resources", 0700);
        CopyFileHead("out/resources/setup", payload_head_size());
    }
    return 0;
}
