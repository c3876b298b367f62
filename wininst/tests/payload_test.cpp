// The container, end to end: installers built here byte by byte behind
// setup (corruptions: each ends with status 1 and leaves nothing behind)
// and behind setup_probe (records written below a folder, dropped, the
// head copied, the fall-back manifest, names that would leave the target,
// files in use and failed writes).
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "installer_build.h"
#include "tool_run.h"

static const std::string &program_bytes(const char *path)
{
    static std::map<std::string, std::string> cache;
    std::string &bytes = cache[path];
    if (bytes.empty())
        bytes = tool_read(path);
    return bytes;
}

static const std::string &setup_head() { return program_bytes(SETUP_PROGRAM); }
static const std::string &probe_head() { return program_bytes(SETUP_PROBE); }

// A test folder: the installer goes in, temporary files go to tmp/.
struct run_place {
    std::string dir;
    std::string tmp;

    run_place() : dir(tool_tempdir("setup-run-")), tmp(dir + "/tmp") { mkdir(tmp.c_str(), 0700); }

    // Runs dir/name with the arguments, standard input from input.
    std::string run(const std::string &name, const std::string &args, int *status, const std::string &input = "")
    {
        tool_write(dir + "/answers", input);
        return tool_run(dir, "TEMP='" + tmp + "' VRK_REGISTRY='" + dir + "/registry' ./" + name + " " + args +
                                 " < answers",
                        status);
    }
};

// A manifest for a head: signature line, then the sections.
static std::string manifest_for(const std::string &head, const std::string &sections)
{
    return signature_line(head) + "\r\n" + sections;
}

static const std::string elf_program = std::string("\x7f" "ELF", 4) + std::string(5000, 'p');
static const std::string doc_text = "read me\n";
static const std::string extra_text = std::string(20000, 'e');

// Two features in two components, a resource; the plain record stream.
static std::string sample_stream(const std::string &head, uint32_t program_size = 5004)
{
    std::string m = manifest_for(head, "[Resources]\nLICENCE=licence.txt\t6\n"
                                       "[Variables]\nProduct=Probe\n"
                                       "[Features]\nFeature=Main\nbin/\nprog\t" +
                                           std::to_string(program_size) +
                                           "\ndocs\\sub\\\nreadme.txt\t8\n"
                                           "Feature=Extra\nextra/\nextra.bin\t20000\n"
                                           "[Components]\nComponent=Main\nMain\nComponent=Extra\nExtra\n[Run]\n");
    return record(m) + record("terms\n") + record(elf_program) + record(doc_text) + record(extra_text);
}

TEST(SetupPayload, ExtractsSelectedRecordsDropsOthersAndCopiesTheHead)
{
    run_place p;
    write_program(p.dir + "/probe", build_installer(probe_head(), sample_stream(probe_head())).bytes);
    std::string target = p.dir + "/target";
    int st;
    std::string out = p.run("probe", "--no-Extra --into=" + target + " --show=Install,Product,LICENCE", &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_NE(out.find("var Install=yes\n"), std::string::npos) << out;
    EXPECT_NE(out.find("var LICENCE=" + p.tmp + "/vk"), std::string::npos) << out;
    EXPECT_NE(out.find("component Main selected=1"), std::string::npos) << out;
    EXPECT_EQ(out.find("component Extra"), std::string::npos) << out;
    EXPECT_EQ(tool_read(target + "/bin/prog"), elf_program);
    EXPECT_EQ(tool_read(target + "/docs/sub/readme.txt"), doc_text);
    EXPECT_EQ(folder_entries(target), (std::vector<std::string>{"bin", "docs", "resources"}));
    struct stat sb;
    ASSERT_EQ(stat((target + "/bin/prog").c_str(), &sb), 0);
    EXPECT_TRUE(sb.st_mode & S_IXUSR);
    ASSERT_EQ(stat((target + "/docs/sub/readme.txt").c_str(), &sb), 0);
    EXPECT_FALSE(sb.st_mode & S_IXUSR);
    // the head copy is the program itself, without the payload
    EXPECT_EQ(tool_read(target + "/resources/setup"), probe_head());
    // the private temporary folder and the resource in it are gone
    EXPECT_EQ(folder_entries(p.tmp), std::vector<std::string>{});

    // The head copy reads the manifest beside it; its folder's parent is
    // the installation.
    tool_write(target + "/resources/manifest",
               manifest_for(probe_head(), "[Variables]\nDoc=%InstDir%/docs\n[Run]\n"));
    out = tool_run(p.dir, "TEMP='" + p.tmp + "' VRK_REGISTRY='" + p.dir + "/registry' " + target +
                              "/resources/setup --show=InstDir,Doc,Install,ReferralID",
                   &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_NE(out.find("var InstDir=" + target + "\nvar Doc=" + target + "/docs\nvar Install unset\n"),
              std::string::npos)
        << out;
    // a manifest of another build is refused there too
    tool_write(target + "/resources/manifest", "00112233445566778899AABBCCDDEEFF\n[Run]\n");
    out = tool_run(p.dir, "TEMP='" + p.tmp + "' " + target + "/resources/setup", &st);
    EXPECT_EQ(st, 1);
    EXPECT_NE(out.find("Fatal error: Invalid manifest signature"), std::string::npos) << out;
}

// setup itself: a sound installer is read to its end and refused as not
// yet installable (status 2); every damaged one ends with status 1 and
// leaves nothing: no temporary folder, no file beside it.
TEST(SetupPayload, DamagedInstallersRefused)
{
    const std::string &head = setup_head();
    const std::string plain = sample_stream(head);
    const built_installer good = build_installer(head, plain);
    const std::string manifest = manifest_for(head, "[Features]\nFeature=F\nbin/\nx\t5\n[Run]\n");
    struct row {
        const char *what;
        std::string bytes;
        const char *message;
    };
    std::vector<row> rows;
    auto with = [&](auto change) {
        built_installer b = good;
        change(b);
        return b.bytes;
    };
    rows.push_back({"sound", good.bytes, "Setup: The setup wizard is not available"});
    rows.push_back({"byte flipped in the frame", with([](built_installer &b) { b.bytes[b.frame_at + 8] ^= 1; }),
                    "Fatal error: Installer is corrupt or truncated"});
    rows.push_back({"byte flipped in the stream",
                    with([](built_installer &b) { b.bytes[b.gzip_at + b.gzip_size / 2] ^= 0x40; }),
                    "Fatal error: Installer is corrupt or truncated"});
    rows.push_back({"cut by 10", good.bytes.substr(0, good.bytes.size() - 10), "Fatal error: Can't read filecheck: 10"});
    rows.push_back({"cut by 30", good.bytes.substr(0, good.bytes.size() - 30),
                    "Fatal error: Can't read entire filecheck: 10"});
    rows.push_back({"frame off the 1024 grid", build_installer(head, plain, good.frame_at + 512).bytes,
                    "Fatal error: Can't find the manifest"});
    rows.push_back({"manifest of another build",
                    build_installer(head, record("00112233445566778899AABBCCDDEEFF\n[Run]\n")).bytes,
                    "Fatal error: Invalid manifest signature"});
    rows.push_back({"size mismatch", build_installer(head, record(manifest) + record("123456")).bytes,
                    "Fatal error: File size does not match - file 0:(not written) 5/6"});
    rows.push_back({"empty range pointed at the digest", with([](built_installer &b) {
                        b.bytes.replace(b.frame_at + 12, 8, le32(0) + le32(uint32_t(b.digest_at)));
                        b.bytes.replace(b.digest_at, 16, md5_bytes(""));
                    }),
                    "Fatal error: Installer is corrupt or truncated"});
    rows.push_back({"manifest length 0xFFFFFFFF", build_installer(head, le32(0xFFFFFFFF) + manifest).bytes,
                    "Fatal error: Installer is corrupt or truncated"});
    rows.push_back({"stream ends inside a record length",
                    build_installer(head, record(manifest) + std::string("\5\0", 2)).bytes,
                    "Fatal error: Installer is corrupt or truncated"});
    rows.push_back({"gzip trailer flipped, digest made again", with([](built_installer &b) {
                        b.bytes[b.digest_at - 6] ^= 1;
                        b.redigest();
                    }),
                    "Fatal error: Installer is corrupt or truncated"});
    rows.push_back({"bytes after the gzip member, digest made again", with([](built_installer &b) {
                        b.bytes.insert(b.digest_at, "junk");
                        b.bytes.replace(b.frame_at + 12, 4, le32(uint32_t(b.digest_at + 4 - 1024)));
                        b.digest_at += 4;
                        b.redigest();
                    }),
                    "Fatal error: Installer is corrupt or truncated"});
    rows.push_back({"referral trailer changed alone",
                    with([](built_installer &b) { b.bytes.replace(b.bytes.size() - 4, 4, "\7\0\xf8\xff", 4); }),
                    "Setup: The setup wizard is not available"});
    for (const row &r : rows) {
        run_place p;
        write_program(p.dir + "/setup", r.bytes);
        int st;
        std::string out = p.run("setup", "", &st);
        bool sound = std::string(r.message).rfind("Setup:", 0) == 0;
        EXPECT_EQ(st, sound ? 2 : 1) << r.what << ": " << out;
        EXPECT_NE(out.find(r.message), std::string::npos) << r.what << ": " << out;
        EXPECT_EQ(folder_entries(p.tmp), std::vector<std::string>{}) << r.what;
        EXPECT_EQ(folder_entries(p.dir), (std::vector<std::string>{"answers", "setup", "tmp"})) << r.what;
    }
}

TEST(SetupPayload, ReferralTrailer)
{
    const struct {
        std::string trailer;
        const char *expect;
    } rows[] = {
        {std::string("\7\0\xf8\xff", 4), "var ReferralID=7\nvar OrderingURL=https://vormak.example/order?referrer=7\n"},
        {std::string("\7\0\xf8\xfe", 4), "var ReferralID unset\nvar OrderingURL=https://vormak.example/order\n"},
        {std::string(4, '\0'), "var ReferralID unset\n"},
    };
    for (const auto &r : rows) {
        run_place p;
        write_program(p.dir + "/probe", build_installer(probe_head(), sample_stream(probe_head()), 0, r.trailer).bytes);
        int st;
        std::string out = p.run("probe", "--show=ReferralID,OrderingURL", &st);
        EXPECT_EQ(st, 0) << out;
        EXPECT_NE(out.find(r.expect), std::string::npos) << out;
    }
}

// Names that would leave the target stop the run before anything is
// written: the target stays empty and nothing appears beside it.
TEST(SetupPayload, NamesLeavingTheTargetRefusedBeforeAnyWrite)
{
    const std::string &head = probe_head();
    const struct {
        const char *what;
        std::string sections;
        std::vector<std::string> records;
    } rows[] = {
        {"../x/", "[Features]\nFeature=F\nok/\na\t1\n../x/\nb\t1\n", {"a", "b"}},
        {"../../y", "[Features]\nFeature=F\nok/\n../../y\t1\n", {"y"}},
        {"absolute folder", "[Features]\nFeature=F\n/tmp/setup-absolute/\nz\t1\n", {"z"}},
        {"ICON=../z", "[Resources]\nICON=../z\t1\n[Features]\nFeature=F\nok/\na\t1\n", {"z", "a"}},
    };
    for (const auto &r : rows) {
        run_place p;
        std::string plain = record(manifest_for(head, r.sections + "[Components]\nComponent=C\nF\n[Run]\n"));
        for (const std::string &rec : r.records)
            plain += record(rec);
        write_program(p.dir + "/probe", build_installer(head, plain).bytes);
        std::string target = p.dir + "/work/target";
        mkdir((p.dir + "/work").c_str(), 0700);
        mkdir(target.c_str(), 0700);
        int st;
        std::string out = p.run("probe", "--into=" + target, &st);
        EXPECT_EQ(st, 1) << r.what;
        EXPECT_NE(out.find("Fatal error: Unsafe name in manifest: "), std::string::npos) << r.what << ": " << out;
        EXPECT_EQ(folder_entries(target), std::vector<std::string>{}) << r.what;
        EXPECT_EQ(folder_entries(p.dir + "/work"), std::vector<std::string>{"target"}) << r.what;
        EXPECT_EQ(folder_entries(p.dir), (std::vector<std::string>{"answers", "probe", "tmp", "work"})) << r.what;
        EXPECT_EQ(folder_entries(p.tmp), std::vector<std::string>{}) << r.what;
        EXPECT_FALSE(std::filesystem::exists("/tmp/setup-absolute")) << r.what;
    }
}

// A file in use (a running program) is replaced, not asked about: the new
// file is written beside it and renamed over it, and the running program
// keeps its old image.
TEST(SetupPayload, FileInUseReplacedByRename)
{
    run_place p;
    write_program(p.dir + "/probe", build_installer(probe_head(), sample_stream(probe_head())).bytes);
    std::string target = p.dir + "/target";
    mkdir(target.c_str(), 0700);
    mkdir((target + "/bin").c_str(), 0700);
    std::string busy = target + "/bin/prog";
    write_program(busy, tool_read("/bin/sleep"));
    pid_t pid = fork();
    if (pid == 0) {
        execl(busy.c_str(), "prog", "20", static_cast<char *>(nullptr));
        _exit(127);
    }
    // busy once the child runs it
    std::string exe = "/proc/" + std::to_string(pid) + "/exe";
    std::error_code ec;
    for (int i = 0; i < 500 && std::filesystem::read_symlink(exe, ec) != busy; i++)
        usleep(10000);
    int st;
    std::string out = p.run("probe", "--into=" + target, &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_EQ(out.find("cannot be written to"), std::string::npos) << out;
    EXPECT_EQ(tool_read(busy), elf_program);
    EXPECT_EQ(folder_entries(target + "/bin"), std::vector<std::string>{"prog"});
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// A write that fails (here the file size limit) is "Write error", and the
// unfinished file does not stay.
TEST(SetupPayload, FailedWriteIsAnErrorNotAShortFile)
{
    run_place p;
    write_program(p.dir + "/probe", build_installer(probe_head(), sample_stream(probe_head())).bytes);
    std::string target = p.dir + "/target";
    int st;
    std::string out = tool_run(p.dir, "ulimit -f 4 && TEMP='" + p.tmp + "' ./probe --into=" + target + " </dev/null",
                               &st);
    EXPECT_EQ(st, 1) << out;
    EXPECT_NE(out.find("Fatal error: Write error on " + target + "/bin/prog"), std::string::npos) << out;
    EXPECT_FALSE(std::filesystem::exists(target + "/bin/prog"));
    EXPECT_EQ(folder_entries(p.tmp), std::vector<std::string>{});
}
