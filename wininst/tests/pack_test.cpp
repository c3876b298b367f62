// packsetup: a small build tree packed behind setup_probe, checked with
// dd, md5sum and gzip, then installed by the probe; and the heads it
// refuses.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "installer_build.h"
#include "tool_run.h"

static uint32_t at32(const std::string &b, size_t at)
{
    return uint8_t(b[at]) | uint8_t(b[at + 1]) << 8 | uint8_t(b[at + 2]) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}

static std::string packsetup(const std::string &dir, const std::string &args, int *status)
{
    return tool_run(dir, std::string(SETUP_PACKER) + " " + args, status);
}

static const char *const tree_template = "; a small build\n"
                                         "[Resources]\nLICENCE=licence.txt\n"
                                         "[Variables]\nProduct=Small\n"
                                         "[Features]\nFeature=All\nbin/*\ndat/**\nextra/\nnote.txt\n"
                                         "[Components]\nComponent=All\nAll\n[Run]\n";

TEST(SetupPack, PacksATreeThatIndependentToolsAndTheProbeRead)
{
    std::string dir = tool_tempdir("setup-pack-");
    std::string root = dir + "/root";
    for (const char *d : {"", "/bin", "/dat", "/dat/sub", "/extra", "/extra/skipped"})
        mkdir((root + d).c_str(), 0755);
    tool_write(root + "/bin/tool", std::string("#!/bin/sh\necho tool\n"));
    tool_write(root + "/dat/a.ini", std::string(70000, 'a'));
    tool_write(root + "/dat/sub/b.txt", "b\n");
    tool_write(root + "/extra/note.txt", "note\n");
    tool_write(root + "/extra/unlisted.txt", "not packed\n");
    tool_write(dir + "/licence.txt", "terms\n");
    tool_write(dir + "/zeph.manifest", tree_template);
    // the head inside the tree is not packed again
    write_program(root + "/bin/setup", tool_read(SETUP_PROBE));
    int st;
    std::string out = packsetup(dir, "--head=" + root + "/bin/setup --template=" + dir + "/zeph.manifest --root=" +
                                         root + " --out=" + dir + "/setup --referral=7",
                                &st);
    ASSERT_EQ(st, 0) << out;

    const std::string head = tool_read(SETUP_PROBE);
    const std::string packed = tool_read(dir + "/setup");
    size_t frame_at = std::max<size_t>(204800, (head.size() + 1023) / 1024 * 1024);
    ASSERT_EQ(packed.substr(0, head.size()), head);
    ASSERT_EQ(packed.substr(frame_at, 8), "\xa3\xa2\xa1\xa0\x9f\x9e\x9d\x9c");
    EXPECT_EQ(at32(packed, frame_at + 8), head.size());
    uint32_t length = at32(packed, frame_at + 12), start = at32(packed, frame_at + 16);
    EXPECT_EQ(start, 1024u);
    EXPECT_EQ(start + length + 16 + 4, packed.size());
    EXPECT_EQ(packed.substr(packed.size() - 4), std::string("\x07\x00\xf8\xff", 4));

    // dd + md5sum over the range: the stored digest
    std::string sum = tool_run(dir, "dd if=setup iflag=skip_bytes,count_bytes bs=65536 skip=" + std::to_string(start) +
                                        " count=" + std::to_string(length) + " 2>/dev/null | md5sum",
                               &st);
    std::string stored = hex_upper(packed.substr(start + length, 16));
    for (char &c : stored)
        c = char(tolower(c));
    EXPECT_EQ(sum.substr(0, 32), stored);

    // dd | gzip -dc: record 0 is the manifest, whose first line is the
    // signature of bytes 23040..23055
    size_t gz_at = frame_at + 20;
    tool_run(dir, "dd if=setup iflag=skip_bytes,count_bytes bs=65536 skip=" + std::to_string(gz_at) +
                      " count=" + std::to_string(start + length - gz_at) + " 2>/dev/null | gzip -dc > stream",
             &st);
    ASSERT_EQ(st, 0);
    std::string stream = tool_read(dir + "/stream");
    uint32_t mlen = at32(stream, 0);
    std::string manifest = stream.substr(4, mlen);
    EXPECT_EQ(manifest.substr(0, manifest.find('\n')), signature_line(head));
    EXPECT_NE(manifest.find("LICENCE=licence.txt\t6\n"), std::string::npos) << manifest;
    EXPECT_NE(manifest.find("bin/\ntool\t20\ndat/\na.ini\t70000\ndat/sub/\nb.txt\t2\nextra/\nnote.txt\t5\n"),
              std::string::npos)
        << manifest;
    // the records after it: the resource, then the files in manifest order
    EXPECT_EQ(stream.substr(4 + mlen), record("terms\n") + record("#!/bin/sh\necho tool\n") +
                                           record(std::string(70000, 'a')) + record("b\n") + record("note\n"));

    // the probe installs it
    std::string target = dir + "/target";
    out = tool_run(dir, "TEMP='" + dir + "' ./setup --into=" + target + " --show=ReferralID </dev/null", &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_NE(out.find("var ReferralID=7"), std::string::npos) << out;
    EXPECT_EQ(tool_read(target + "/bin/tool"), "#!/bin/sh\necho tool\n");
    EXPECT_EQ(tool_read(target + "/dat/a.ini"), std::string(70000, 'a'));
    EXPECT_EQ(tool_read(target + "/dat/sub/b.txt"), "b\n");
    EXPECT_EQ(folder_entries(target + "/extra"), std::vector<std::string>{"note.txt"});
    EXPECT_EQ(folder_entries(target + "/bin"), std::vector<std::string>{"tool"});
    EXPECT_EQ(access((target + "/bin/tool").c_str(), X_OK), 0);
}

TEST(SetupPack, HeadsRefused)
{
    std::string dir = tool_tempdir("setup-pack-");
    mkdir((dir + "/root").c_str(), 0755);
    tool_write(dir + "/t.manifest", "[Run]\n");
    std::string signed_head = std::string(23040, 'h') + "0123456789abcdef" + std::string(300000, 'h');
    std::string with_magic = signed_head;
    with_magic.replace(204800 + 3 * 1024, 8, "\xa3\xa2\xa1\xa0\x9f\x9e\x9d\x9c");
    const struct {
        const char *what;
        std::string head;
        const char *message;
    } rows[] = {
        {"short", std::string(23055, 'h'), "ends before its signature"},
        {"zero signature", std::string(23040, 'h') + std::string(16, '\0') + "tail", "are all zero"},
        {"magic at a candidate offset", with_magic, "holds the frame's magic at 207872"},
        {"4 GiB", "", "4 GiB or more"},
    };
    for (const auto &r : rows) {
        int st;
        if (r.head.empty())
            tool_run(dir, "truncate -s 4G head", &st);
        else
            tool_write(dir + "/head", r.head);
        std::string out = packsetup(dir, "--head=head --template=t.manifest --root=root --out=out", &st);
        EXPECT_EQ(st, 1) << r.what;
        EXPECT_NE(out.find(r.message), std::string::npos) << r.what << ": " << out;
        EXPECT_FALSE(std::filesystem::exists(dir + "/out")) << r.what;
        EXPECT_FALSE(std::filesystem::exists(dir + "/out.new")) << r.what;
        unlink((dir + "/head").c_str());
    }
    // a magic off the candidate offsets does not matter
    with_magic = signed_head;
    with_magic.replace(204800 + 100, 8, "\xa3\xa2\xa1\xa0\x9f\x9e\x9d\x9c");
    tool_write(dir + "/head", with_magic);
    int st;
    std::string out = packsetup(dir, "--head=head --template=t.manifest --root=root --out=out", &st);
    EXPECT_EQ(st, 0) << out;
}
