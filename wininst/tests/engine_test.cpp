// Installing, repairing and removing, end to end: small installers built
// here behind setup, run headless with the registry store, HOME,
// XDG_DATA_HOME and TEMP inside the test's folder. Faults: a file size
// limit, SIGTERM during the work, a symbolic link where a folder goes,
// removal of paths outside the installation.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common.h"
#include "installer_build.h"
#include "tool_run.h"

namespace fs = std::filesystem;

// The root of every key here.
static const int HKLM = 4;

// The common library's fatal reports end here; the test process has
// nothing to clean up.
void tool_exit(int) {}

static const std::string &setup_head()
{
    static const std::string bytes = tool_read(SETUP_PROGRAM);
    return bytes;
}

static const char RELEASE[] = "SOFTWARE\\Vormak Software\\ZEPH\\pro\\9.60\\PL5";
static const char PRODUCT[] = "SOFTWARE\\Vormak Software\\ZEPH\\pro\\9.60";
static const char UNINSTALL[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ZEPH 9.60PL5";
static const char APP_PATH[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\zeph";

static const std::string wren_bytes = std::string("\x7f" "ELF", 4) + std::string(3000, 'w');
static const std::string ini_text = "[zeph]\nchip=16F877A\n";

// The installer: bin/wren, dat/zeph.ini and a big dat/big.bin (size given;
// zeros compress to nearly nothing), one required component.
static std::string zeph_installer(size_t big = 10)
{
    std::string m = signature_line(setup_head()) +
                    "\n[Variables]\nManufacturer=Vormak Software\nProduct=ZEPH\nEdition=pro\nVersion=9.60\n"
                    "PatchLevel=PL5\nDescription=Zeph test\nBuildNo=3884\nAppname=zeph\n"
                    "[Features]\nFeature=Zeph\nbin/\nwren\t" +
                    std::to_string(wren_bytes.size()) + "\ndat/\nzeph.ini\t" + std::to_string(ini_text.size()) +
                    "\nbig.bin\t" + std::to_string(big) +
                    "\n[Components]\nComponent=Zeph\nRequired=yes\nZeph\n[Run]\n";
    return build_installer(setup_head(), record(m) + record(wren_bytes) + record(ini_text) +
                                             record(std::string(big, '\0')))
        .bytes;
}

// A test folder: the installer, the store, HOME and TEMP inside it.
struct place {
    std::string dir = tool_tempdir("setup-engine-");
    std::string tmp = dir + "/tmp";
    std::string store = dir + "/registry";
    std::string target = dir + "/p";

    explicit place(size_t big = 10)
    {
        fs::create_directories(tmp);
        write_program(dir + "/setup", zeph_installer(big));
        setenv("VRK_REGISTRY", store.c_str(), 1);
    }
    std::string env() const
    {
        return "VRK_REGISTRY='" + store + "' HOME='" + dir + "' XDG_DATA_HOME='" + dir + "/xdg' TEMP='" + tmp + "' ";
    }
    // prefix: shell words before the program (ulimit, cd).
    std::string run(const std::string &program, const std::string &args, int *status,
                    const std::string &prefix = "") const
    {
        return tool_run(dir, prefix + env() + program + " " + args + " </dev/null", status);
    }
    std::string install(int *status, const std::string &prefix = "", const std::string &folder = "p") const
    {
        return run("./setup", "'--I agree to the terms of the licence' --dir=" + folder, status, prefix);
    }
};

static std::string reg_string(const char *key, const char *name)
{
    reg_value_t v = reg_read_string(HKLM, key, name);
    std::string s = v.status == 0 && v.data ? v.data : "<none>";
    free(v.data);
    return s;
}

static bool key_exists(const char *key)
{
    vector_t *list = vec_new_default();
    bool found = reg_enum_values(list, HKLM, key) == 0;
    vec_free(list);
    return found;
}

// Every file and folder below dir, relative, sorted.
static std::vector<std::string> tree(const std::string &dir)
{
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        out.push_back(it->path().lexically_relative(dir).string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(SetupEngine, InstallRepairRemove)
{
    place p;
    // a value of another product stays through everything
    reg_write_string(HKLM, "SOFTWARE\\Other", "Keep", "me");
    // started from another folder: a relative --dir is taken from there
    fs::create_directories(p.dir + "/elsewhere");
    int st;
    std::string out = p.run("../setup", "'--I agree to the terms of the licence' --dir=../p", &st, "cd elsewhere && ");
    ASSERT_EQ(st, 0) << out;
    EXPECT_EQ(tree(p.target), (std::vector<std::string>{"bin", "bin/wren", "dat", "dat/big.bin", "dat/zeph.ini",
                                                         "resources", "resources/manifest", "resources/setup"}));
    EXPECT_EQ(tool_read(p.target + "/bin/wren"), wren_bytes);
    EXPECT_EQ(tool_read(p.target + "/dat/zeph.ini"), ini_text);
    EXPECT_EQ(tool_read(p.target + "/resources/setup"), setup_head());
    EXPECT_TRUE(fs::status(p.target + "/bin/wren").permissions() != fs::perms::none);
    EXPECT_EQ(tree(p.tmp), std::vector<std::string>{});

    EXPECT_EQ(reg_string(RELEASE, "InstDir"), p.target);
    uint32_t build = 0;
    EXPECT_EQ(reg_read_dword(HKLM, RELEASE, "BuildNo", &build), 0);
    EXPECT_EQ(build, 3884u);
    EXPECT_EQ(reg_string(APP_PATH, "Path"), p.target + "/bin");
    EXPECT_EQ(reg_string(APP_PATH, ""), p.target + "/bin/zeph");
    EXPECT_EQ(reg_string(UNINSTALL, "UninstallString"), "\"" + p.target + "/resources/setup\" --remove");
    EXPECT_EQ(reg_string(UNINSTALL, "InstallLocation"), "\"" + p.target + "\"");
    EXPECT_EQ(reg_string(UNINSTALL, "DisplayName"), "Zeph test V9.60PL5");

    // the installed manifest: folder-relative, lists itself, folders deepest first
    std::string m = tool_read(p.target + "/resources/manifest");
    EXPECT_EQ(m.rfind(signature_line(setup_head()) + "\n[Variables]\n", 0), 0u) << m;
    EXPECT_NE(m.find("SETUP=%InstDir%/resources/setup\n"), std::string::npos) << m;
    EXPECT_NE(m.find("[Files]\n%InstDir%/bin/wren\n%InstDir%/dat/zeph.ini\n%InstDir%/dat/big.bin\n"
                     "%InstDir%/resources/setup\n%InstDir%/resources/manifest\n[Folders]\n"
                     "%InstDir%/bin\n%InstDir%/dat\n%InstDir%/resources\n%InstDir%\n[Shortcuts]\n[Run]\n"),
              std::string::npos)
        << m;
    EXPECT_EQ(m.find(p.target), std::string::npos) << m;

    // Repair checks the files: one missing is reported, status 1, the
    // store untouched; the installer run again puts it back.
    std::string copy = p.target + "/resources/setup";
    EXPECT_EQ(p.run(copy, "--setTrue-HeadlessInstall --setTrue-Repair", &st), "");
    EXPECT_EQ(st, 0);
    fs::remove(p.target + "/dat/zeph.ini");
    std::string store_before = tool_read(p.store);
    out = p.run(copy, "--setTrue-HeadlessInstall --setTrue-Repair", &st);
    EXPECT_EQ(st, 1) << out;
    EXPECT_NE(out.find("Missing file: " + p.target + "/dat/zeph.ini"), std::string::npos) << out;
    EXPECT_EQ(tool_read(p.store), store_before);
    out = p.install(&st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_EQ(tool_read(p.target + "/dat/zeph.ini"), ini_text);
    // the folders existed this time: they are listed all the same
    EXPECT_NE(tool_read(p.target + "/resources/manifest")
                  .find("[Folders]\n%InstDir%/bin\n%InstDir%/dat\n%InstDir%/resources\n%InstDir%\n[Shortcuts]"),
              std::string::npos);
    // Without a payload there is no install, whatever the switches say.
    out = p.run(copy, "'--I agree to the terms of the licence' --dir=" + p.dir + "/q", &st);
    EXPECT_EQ(st, 2) << out;
    EXPECT_FALSE(fs::exists(p.dir + "/q"));

    // Remove: a user's file in dat/ stays with its folders; the release,
    // product and uninstall keys go, other keys stay.
    tool_write(p.target + "/dat/mine.txt", "mine");
    reg_write_string(HKLM, "SOFTWARE\\Vormak Software\\ZEPH\\pro\\9.60\\PL4", "InstDir", "/x");
    out = p.run(copy, "--remove-silently", &st);
    EXPECT_EQ(st, 0) << out;
    EXPECT_EQ(tree(p.target), (std::vector<std::string>{"dat", "dat/mine.txt"}));
    EXPECT_FALSE(key_exists(RELEASE));
    EXPECT_FALSE(key_exists(UNINSTALL));
    EXPECT_TRUE(key_exists(PRODUCT)); // another patch level is left under it
    EXPECT_EQ(reg_string("SOFTWARE\\Other", "Keep"), "me");
    EXPECT_EQ(tree(p.tmp), std::vector<std::string>{});
}

// Removal deletes only below the installation folder, its resources folder
// or the shortcut folder, never through a symbolic link; what it cannot
// delete is reported and the status is 1.
TEST(SetupEngine, RemovalStaysInsideTheInstallation)
{
    place p;
    int st;
    std::string out = p.install(&st);
    ASSERT_EQ(st, 0) << out;
    std::string outside = p.dir + "/outside";
    fs::create_directories(outside);
    tool_write(outside + "/victim", "v");
    tool_write(outside + "/zeph.ini", "v");
    // the manifest names a file outside; dat/ becomes a link to outside/
    std::string mpath = p.target + "/resources/manifest";
    std::string m = tool_read(mpath);
    m.replace(m.find("[Files]\n"), 8, "[Files]\n" + outside + "/victim\n");
    tool_write(mpath, m);
    fs::remove_all(p.target + "/dat");
    fs::create_directory_symlink(outside, p.target + "/dat");
    out = p.run(p.target + "/resources/setup", "--remove-silently", &st);
    EXPECT_EQ(st, 1) << out;
    EXPECT_NE(out.find("Not deleted, it lies outside the installation: " + outside + "/victim"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Not deleted, it lies outside the installation: " + p.target + "/dat/zeph.ini"),
              std::string::npos)
        << out;
    EXPECT_EQ(tree(outside), (std::vector<std::string>{"victim", "zeph.ini"}));
    EXPECT_FALSE(fs::exists(p.target + "/bin/wren"));
    EXPECT_FALSE(key_exists(RELEASE));
}

// p/ and 20 folders of 240 characters each: each name fits, the path does not.
static std::string deep_path()
{
    std::string path = "p";
    for (int i = 0; i < 20; i++)
        path += "/" + std::string(240, 'd');
    return path;
}

// A failure anywhere leaves nothing of the run behind: the target as it
// was, the store byte for byte as it was, no temporary files.
TEST(SetupEngine, FailuresUndoTheRun)
{
    const struct {
        const char *what;
        size_t big;
        std::string prefix;      // shell words before the program
        bool link_bin;           // target/bin a link to a folder outside
        const char *message;
        std::string folder = "p"; // --dir
    } rows[] = {
        {"file size limit", 4u << 20, "ulimit -f 1024 && ", false, "Fatal error: Write error on "},
        {"bin links outside", 10, "", true, "exists but is not a folder!"},
        {"path over the limit", 10, "", false, "Fatal error: Path too long: ", deep_path()},
        {"name over the limit", 10, "", false, "Fatal error: Path too long: ", "p/" + std::string(250, 'd')},
    };
    for (const auto &r : rows) {
        place p(r.big);
        reg_write_string(HKLM, "SOFTWARE\\Other", "Keep", "me");
        std::string store_before = tool_read(p.store);
        std::string outside = p.dir + "/outside";
        fs::create_directories(outside);
        if (r.link_bin) {
            fs::create_directories(p.target);
            fs::create_directory_symlink(outside, p.target + "/bin");
        }
        int st;
        std::string out = p.install(&st, r.prefix, r.folder);
        EXPECT_EQ(st, 1) << r.what << ": " << out;
        EXPECT_NE(out.find(r.message), std::string::npos) << r.what << ": " << out;
        EXPECT_EQ(tree(p.target), r.link_bin ? std::vector<std::string>{"bin"} : std::vector<std::string>{})
            << r.what;
        EXPECT_EQ(tree(outside), std::vector<std::string>{}) << r.what;
        EXPECT_EQ(tool_read(p.store), store_before) << r.what;
        EXPECT_FALSE(key_exists(RELEASE)) << r.what;
        EXPECT_EQ(tree(p.tmp), std::vector<std::string>{}) << r.what;
    }
}

// SIGTERM while the work is under way: the store is a FIFO, so the run
// stops in its first registry write after every file is in place; the
// signal then undoes the files and puts the store back, and the run ends
// by the signal.
TEST(SetupEngine, SigtermUndoesTheRun)
{
    place p;
    const std::string before = "4\tSOFTWARE\\Other\n";
    ASSERT_EQ(mkfifo(p.store.c_str(), 0600), 0);
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(p.dir.c_str()) != 0)
            _exit(127);
        setenv("HOME", p.dir.c_str(), 1);
        setenv("TEMP", p.tmp.c_str(), 1);
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execl("./setup", "setup", "--I agree to the terms of the licence", "--dir=p", static_cast<char *>(nullptr));
        _exit(127);
    }
    // the saved copy of the store: read once at the start
    int fd = open(p.store.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, before.data(), before.size()), ssize_t(before.size()));
    close(fd);
    // every file in place, then blocked opening the store again
    for (int i = 0; i < 1000 && !fs::exists(p.target + "/resources/setup"); i++)
        usleep(10000);
    ASSERT_TRUE(fs::exists(p.target + "/resources/setup"));
    usleep(200000);
    kill(pid, SIGTERM);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_FALSE(fs::exists(p.target));
    EXPECT_EQ(tool_read(p.store), before);
    EXPECT_EQ(tree(p.tmp), std::vector<std::string>{});
}

// Only with switches does setup do anything; otherwise it says so and
// changes nothing (status 2).
TEST(SetupEngine, WithoutSwitchesNothingChanges)
{
    place p;
    const struct {
        const char *args;
        const char *message;
    } rows[] = {
        {"", "Setup: The setup wizard is not available"},
        {"--dir=p", "Setup: The setup wizard is not available"},
        {"--setTrue-HeadlessInstall --dir=p", "needs the agreement"},
        {"'--I agree to the terms of the licence' --dir=p --remove", "Removing is done by the setup in the"},
    };
    for (const auto &r : rows) {
        int st;
        std::string out = p.run("./setup", r.args, &st);
        EXPECT_EQ(st, 2) << r.args << ": " << out;
        EXPECT_NE(out.find(r.message), std::string::npos) << r.args << ": " << out;
        EXPECT_FALSE(fs::exists(p.target)) << r.args;
        EXPECT_FALSE(fs::exists(p.store)) << r.args;
    }
}

// The real installer (cmake --build <dir> --target installer), when it has
// been built: the tools run from the installation, and a copy of the
// driver elsewhere finds the installation through the store.
TEST(SetupEngine, RealInstallerEndToEnd)
{
    std::string dist = std::string(ZEPH_BUILD_DIR) + "/dist/setup";
    if (!fs::exists(dist))
        GTEST_SKIP() << "no " << dist;
    place p;
    fs::copy_file(dist, p.dir + "/setup", fs::copy_options::overwrite_existing);
    int st;
    std::string out = p.install(&st);
    ASSERT_EQ(st, 0) << out;
    out = p.run(p.target + "/bin/wren", "--ver", &st);
    EXPECT_NE(out.find("Version:\t9.60PL5"), std::string::npos) << out;
    // setup itself is the installer's head: installed as resources/setup,
    // not in bin/
    for (const char *sub : {"bin", "dat"}) {
        out = tool_run(p.dir, std::string("diff -r -x setup ") + ZEPH_BUILD_DIR + "/" + sub + " " + p.target + "/" + sub,
                       &st);
        EXPECT_EQ(st, 0) << out;
    }
    EXPECT_FALSE(fs::exists(p.target + "/bin/setup"));
    std::string head = tool_read(p.target + "/resources/setup");
    EXPECT_EQ(tool_read(p.dir + "/setup").substr(0, head.size()), head);
    fs::create_directories(p.dir + "/other");
    fs::copy_file(p.target + "/bin/zeph", p.dir + "/other/zeph");
    fs::copy_file(std::string(ZEPH_SOURCE_DIR) + "/examples/count-asm/main.as", p.dir + "/other/main.as");
    out = p.run("./zeph", "--chip=16F877A --output=-mcof main.as", &st, "cd other && ");
    EXPECT_EQ(st, 0) << out;
    EXPECT_TRUE(fs::exists(p.dir + "/other/main.hex")) << out;
}
