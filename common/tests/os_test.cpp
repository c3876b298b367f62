// The argument reader, both path styles, spawning, temporary files, the
// registry, the installation directory and the version banner.
#include "common.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void tool_exit(int) {}

static std::vector<std::string> args_vec(char **argv)
{
    std::vector<std::string> v;
    for (int i = 0; argv[i]; i++)
        v.push_back(argv[i]);
    return v;
}

static std::string temp_dir() { return tool_tempdir("zeph_os"); }

static std::string captured;
static void capture(const char *line) { captured += line; }

TEST(Getargs, SplitsQuotedText)
{
    char text[] = "  a 'b c'd  \"e\"  \r";
    char **argv = getargs(text, "tool");
    EXPECT_EQ(args_vec(argv), (std::vector<std::string>{"", "a", "b cd", "e"}));
    EXPECT_EQ(getargs_count, 4);
    char empty[] = "x \"\" y";
    EXPECT_EQ(args_vec(getargs(empty, "tool")), (std::vector<std::string>{"", "x", "", "y"}));
}

TEST(Getargs, GrowsPastAHundredArguments)
{
    std::string text;
    for (int i = 0; i < 250; i++)
        text += "a" + std::to_string(i) + " ";
    char **argv = getargs(text.data(), "tool");
    EXPECT_EQ(getargs_count, 251);
    EXPECT_STREQ(argv[101], "a100");
    EXPECT_STREQ(argv[250], "a249");
    EXPECT_EQ(argv[251], nullptr);
}

TEST(Getargs, StandardInputFromAFile)
{
    FILE *in = tmpfile();
    fputs("-opt \"a b\"\r\nfile.c\n", in);
    rewind(in);
    getargs_set_input(in, 0);
    EXPECT_EQ(args_vec(getargs(nullptr, "tool")), (std::vector<std::string>{"", "-opt", "a b", "file.c"}));
    getargs_set_input(nullptr, 0);
    fclose(in);
}

TEST(Getargs, TerminalContinuesOnlyAfterABackslash)
{
    FILE *in = tmpfile();
    fputs("one tw\\\no \\\nthree\nfour\n", in);
    rewind(in);
    getargs_set_input(in, 1);
    testing::internal::CaptureStderr();
    char **argv = getargs(nullptr, "wren");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "wren> wren> wren> ");
    EXPECT_EQ(args_vec(argv), (std::vector<std::string>{"", "one", "two", "three"}));
    getargs_set_input(nullptr, 0);
    fclose(in);
}

TEST(Getargs, LongArgumentsAndLinesAreNeverSplit)
{
    msg_reset_for_tests();
    std::string dir = temp_dir();
    std::ofstream(dir + "/m.txt") << "917\tE\targument too long\n337\t-1\tline does not have a newline on the end\n";
    msg_open_file((dir + "/m.txt").c_str());
    msg_set_output_hook(capture);
    captured.clear();
    std::string text = "short " + std::string(300, 'q') + " tail";
    char **argv = getargs(text.data(), "tool");
    EXPECT_EQ(args_vec(argv), (std::vector<std::string>{"", "short", std::string(255, 'q'), "tail"}));
    EXPECT_EQ(captured, "(917) argument too long\n");

    // A standard-input line longer than the old 8192-byte buffer stays whole.
    FILE *in = tmpfile();
    std::string big(9000, 'z');
    fprintf(in, "a %s b\n", std::string(20, 'y').c_str());
    fprintf(in, "%s%s\n", big.c_str(), "END");
    rewind(in);
    getargs_set_input(in, 0);
    msg_set_warning_level(-1);
    captured.clear();
    argv = getargs(nullptr, "tool");
    std::vector<std::string> got = args_vec(argv);
    ASSERT_EQ(got.size(), 5u);
    EXPECT_EQ(got[4], std::string(255, 'z')); // one argument, cut at 255
    EXPECT_NE(captured.find("(337)"), std::string::npos);
    getargs_set_input(nullptr, 0);
    fclose(in);
    msg_reset_for_tests();
}

struct path_row { int style; const char *in; const char *want; };

TEST(Paths, Normalize)
{
    path_row rows[] = {
        {OS_PATH_WINDOWS, "a/./b", "a/b"},
        {OS_PATH_WINDOWS, "a\\b\\..\\c", "a\\c"},
        {OS_PATH_WINDOWS, "C:\\", "C:\\"},
        {OS_PATH_WINDOWS, "abc\\", "abc"},
        {OS_PATH_WINDOWS, "a\\\\\\b", "a\\b"},
        {OS_PATH_WINDOWS, "..\\dat\\x", "..\\dat\\x"},
        {OS_PATH_WINDOWS, "C:\\a\\..\\..\\b", "b"},
        {OS_PATH_POSIX, "a/./b", "a/b"},
        {OS_PATH_POSIX, "/usr//lib/../bin/", "/usr/bin"},
        {OS_PATH_POSIX, "/a/..", "/"},
        {OS_PATH_POSIX, "a/../b", "b"},
        {OS_PATH_POSIX, "./x/./y", "./x/y"},
        {OS_PATH_POSIX, "../../x", "../../x"},
        {OS_PATH_POSIX, "a\\b/c", "a\\b/c"},
    };
    for (const path_row &r : rows) {
        char *got = os_path_normalize_style(r.style, r.in);
        EXPECT_STREQ(got, r.want) << r.in;
        free(got);
    }
}

TEST(Paths, JoinBaseDirAbsolute)
{
    char *j = os_path_join_style(OS_PATH_WINDOWS, "C:\\dir\\", "\\f");
    EXPECT_STREQ(j, "C:\\dir\\f");
    free(j);
    j = os_path_join_style(OS_PATH_POSIX, "/dir/", "/f");
    EXPECT_STREQ(j, "/dir/f");
    free(j);
    EXPECT_EQ(os_path_join_style(OS_PATH_POSIX, "", "f"), nullptr);

    EXPECT_STREQ(os_path_basename_style(OS_PATH_WINDOWS, "a/b\\c"), "c");
    EXPECT_STREQ(os_path_basename_style(OS_PATH_WINDOWS, "a\\b/c"), "b/c");
    EXPECT_STREQ(os_path_basename_style(OS_PATH_WINDOWS, "C:x"), "x");
    EXPECT_STREQ(os_path_basename_style(OS_PATH_POSIX, "a\\b/c"), "c");
    EXPECT_STREQ(os_path_basename_style(OS_PATH_POSIX, "plain"), "plain");
    char *d = os_path_dirname_style(OS_PATH_WINDOWS, "C:\\x\\y.txt");
    EXPECT_STREQ(d, "C:\\x");
    free(d);
    EXPECT_EQ(os_path_dirname_style(OS_PATH_POSIX, "plain"), nullptr);

    EXPECT_TRUE(os_path_is_absolute_style(OS_PATH_WINDOWS, "C:x"));
    EXPECT_TRUE(os_path_is_absolute_style(OS_PATH_WINDOWS, "\\\\server\\share"));
    EXPECT_FALSE(os_path_is_absolute_style(OS_PATH_WINDOWS, "\\dir"));
    EXPECT_FALSE(os_path_is_absolute_style(OS_PATH_WINDOWS, "/dir"));
    EXPECT_TRUE(os_path_is_absolute_style(OS_PATH_POSIX, "/dir"));
    EXPECT_FALSE(os_path_is_absolute_style(OS_PATH_POSIX, "C:x"));
}

TEST(Paths, RelativeMatchesWholeComponentsOnly)
{
    struct { const char *abs, *cwd, *want; } rows[] = {
        {"/home/a/src/x.c", "/home/a", "src/x.c"},
        {"/home/a", "/home/a", "."},
        {"/home/ab/x.c", "/home/a", "/home/ab/x.c"},
        {"/x.c", "/", "x.c"},
    };
    for (auto &r : rows) {
        char *got = os_path_relative_to(OS_PATH_POSIX, r.abs, r.cwd);
        EXPECT_STREQ(got, r.want) << r.abs;
        free(got);
    }
    char *w = os_path_relative_to(OS_PATH_WINDOWS, "C:\\work\\a.c", "C:\\work");
    EXPECT_STREQ(w, "a.c");
    free(w);
    char *cwd = os_current_dir();
    char *rel = os_path_relative((std::string(cwd) + "/sub/../f.c").c_str());
    EXPECT_STREQ(rel, "f.c");
    free(rel);
    free(cwd);
}

TEST(Os, SpawnReportsExitStatusAndFailureToStart)
{
    char sh[] = "/bin/sh", c[] = "-c", cmd[] = "exit 3";
    char *argv[] = {sh, c, cmd, nullptr};
    EXPECT_EQ(os_spawn("/bin/sh", argv), 3);
    char kill_cmd[] = "kill -9 $$";
    char *argv2[] = {sh, c, kill_cmd, nullptr};
    EXPECT_NE(os_spawn("/bin/sh", argv2), 0);
    char missing[] = "/no/such/program";
    char *argv3[] = {missing, nullptr};
    EXPECT_EQ(os_spawn(missing, argv3), -1);
}

TEST(Os, QuoteArg)
{
    struct { const char *in, *want; } rows[] = {{"a b", "\"a b\""}, {"tab\there", "\"tab\there\""},
                                               {"plain", "plain"}, {"", ""}};
    for (auto &r : rows) {
        char *q = os_quote_arg(r.in);
        EXPECT_STREQ(q, r.want);
        free(q);
    }
}

TEST(Os, TemporaryFilesGoAtExitUnlessKept)
{
    std::string dir = temp_dir();
    setenv("TEMP", dir.c_str(), 1);
    std::string name;
    EXPECT_EXIT(
        {
            char *n = os_temp_name();
            fprintf(stderr, "%s", n);
            exit(os_file_exists(n) && strncmp(n, dir.c_str(), dir.size()) == 0 ? 0 : 2);
        },
        testing::ExitedWithCode(0), "zeph");
    EXPECT_EXIT(
        {
            os_keep_temp_files(1);
            char *n = os_temp_name();
            fprintf(stderr, "%s", n);
            exit(0);
        },
        testing::ExitedWithCode(0), "zeph");
    // Only the kept one is left.
    auto left = std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator());
    EXPECT_EQ(left, 1);

    // A directory that cannot hold the file ends the run with the reason,
    // rather than handing callers no name to write to.
    setenv("TEMP", (dir + "/missing").c_str(), 1);
    EXPECT_EXIT(
        {
            msg_open_file(ZEPH_BUILD_DIR "/dat/en_msgs.txt");
            os_temp_name();
            exit(0);
        },
        testing::ExitedWithCode(1), "\\(141\\) can.t open temporary file \"[^\"]*/missing/zephXXXXXX\": No such file or directory");
    unsetenv("TEMP");
}

// The first of TEMP, TMP and TMPDIR that is set and not empty names the
// temporary folder, else /tmp: never the current directory, which may be
// one the run cannot write to.
TEST(Os, TemporaryFolderFromTheEnvironment)
{
    struct Case {
        const char *temp, *tmp, *tmpdir; // null: unset
        const char *want;
    } cases[] = {
        {"/a", "/b", "/c", "/a"},
        {"", "/b", "/c", "/b"},
        {nullptr, nullptr, "/c", "/c"},
        {"", "", "", "/tmp"},
        {nullptr, nullptr, nullptr, "/tmp"},
    };
    for (const Case &c : cases) {
        const char *names[] = {"TEMP", "TMP", "TMPDIR"};
        const char *values[] = {c.temp, c.tmp, c.tmpdir};
        for (int i = 0; i < 3; i++)
            values[i] ? setenv(names[i], values[i], 1) : unsetenv(names[i]);
        EXPECT_EQ(os_temp_folder(), c.want) << c.temp << "," << c.tmp << "," << c.tmpdir;
    }
    unsetenv("TEMP");
    unsetenv("TMP");
    unsetenv("TMPDIR");
}

// A temporary folder goes at exit with the files put in it, unless kept.
TEST(Os, TemporaryFolderGoesWithItsFiles)
{
    std::string dir = temp_dir();
    setenv("TEMP", dir.c_str(), 1);
    for (int keep : {0, 1}) {
        EXPECT_EXIT(
            {
                os_keep_temp_files(keep);
                char *d = os_temp_dir();
                std::ofstream(std::string(d) + "/l.obj") << "x";
                std::ofstream(std::string(d) + "/startup.as") << "x";
                exit(strncmp(d, dir.c_str(), dir.size()) == 0 && os_is_directory(d) ? 0 : 2);
            },
            testing::ExitedWithCode(0), "");
        auto left = std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator());
        EXPECT_EQ(left, keep) << keep;
    }
    unsetenv("TEMP");
}

// A move replaces the file at the new name whole, on one file system and
// across two (where the file is copied).
TEST(Os, MoveReplacesTheTargetWhole)
{
    std::string dir = temp_dir();
    std::vector<std::string> sources = {dir + "/from"};
    // A second file system, when the machine has one at hand.
    struct stat here, shm;
    if (stat(dir.c_str(), &here) == 0 && stat("/dev/shm", &shm) == 0 && here.st_dev != shm.st_dev &&
        access("/dev/shm", W_OK) == 0)
        sources.push_back("/dev/shm/zeph_os_move_" + std::to_string(getpid()));
    for (const std::string &from : sources) {
        std::ofstream(from) << "new text";
        std::ofstream(dir + "/to") << "old text that is longer";
        EXPECT_EQ(os_move_file(from.c_str(), (dir + "/to").c_str()), 0) << from;
        EXPECT_EQ(tool_read(dir + "/to"), "new text") << from;
        EXPECT_FALSE(os_file_exists(from.c_str())) << from;
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    EXPECT_NE(os_move_file((dir + "/missing").c_str(), (dir + "/to").c_str()), 0);
    EXPECT_EQ(tool_read(dir + "/to"), "new text");
}

TEST(Os, ExactCaseAndFileTests)
{
    std::string dir = temp_dir();
    std::ofstream(dir + "/Stdio.h") << "";
    EXPECT_TRUE(os_path_exact_case((dir + "/Stdio.h").c_str()));
    EXPECT_FALSE(os_path_exact_case((dir + "/stdio.h").c_str()));
    EXPECT_TRUE(os_is_directory(dir.c_str()));
    EXPECT_FALSE(os_is_directory((dir + "/Stdio.h").c_str()));
    EXPECT_TRUE(os_same_file((dir + "/Stdio.h").c_str(), (dir + "/./Stdio.h").c_str()));
}

TEST(Os, WideStrings)
{
    const uint16_t a[] = {0x41, 0xFFFF, 0}, b[] = {0x41, 0x42, 0};
    uint16_t *d = os_wstr_dup(a);
    EXPECT_EQ(os_wstr_len(d), 2u);
    EXPECT_EQ(os_wstr_compare(d, a), 0);
    EXPECT_EQ(os_wstr_compare(a, b), 1);
    EXPECT_EQ(os_wstr_compare(b, a), -1);
    free(d);
}

class Registry : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = temp_dir();
        setenv("VRK_REGISTRY", (dir + "/reg").c_str(), 1);
    }
    void TearDown() override { unsetenv("VRK_REGISTRY"); }
};

TEST_F(Registry, ValuesByTypeWithoutRegardToCase)
{
    EXPECT_EQ(reg_write_string(4, RELEASE_KEY, "InstDir", "/opt/zeph"), 0);
    reg_value_t v = reg_read_string(4, RELEASE_KEY, "instdir");
    EXPECT_EQ(v.status, 0);
    EXPECT_STREQ(v.data, "/opt/zeph");
    EXPECT_EQ(v.size, 10u);
    uint32_t n = 0;
    EXPECT_EQ(reg_read_dword(4, RELEASE_KEY, "instdir", &n), REG_ERR_BAD_TYPE);
    EXPECT_EQ(reg_read_dword(4, RELEASE_KEY, "missing", &n), REG_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(reg_read_dword(4, "Software\\None", "x", &n), REG_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(prod_write_dword("language", 12), 0);
    EXPECT_EQ(prod_read_dword("LANGUAGE", &n), 0);
    EXPECT_EQ(n, 12u);
    const unsigned char bin[] = {0, 1, 2, 255};
    EXPECT_EQ(reg_write_binary(3, "Soft\\B", "blob", bin, 4), 0);
    reg_value_t b = reg_read_binary(3, "soft\\b", "BLOB");
    ASSERT_EQ(b.status, 0);
    EXPECT_EQ(b.size, 4u);
    EXPECT_EQ(memcmp(b.data, bin, 4), 0);
    setenv("ZEPH_TEST_HOME", "/home/z", 1);
    reg_write_expand_string(3, "Soft\\B", "path", "%ZEPH_TEST_HOME%\\bin;%NOT_SET%");
    reg_value_t e = reg_read_string(3, "Soft\\B", "path");
    EXPECT_STREQ(e.data, "/home/z\\bin;%NOT_SET%");
    std::string huge(5000, 'x');
    reg_write_expand_string(3, "Soft\\B", "huge", ("%ZEPH_TEST_HOME%" + huge.substr(0, 2040)).c_str());
    setenv("ZEPH_TEST_HOME", huge.c_str(), 1);
    EXPECT_EQ(reg_read_string(3, "Soft\\B", "huge").status, REG_ERR_MORE_DATA);
}

TEST_F(Registry, EnumerateAndDeleteTrees)
{
    reg_write_string(4, "Top\\A", "v1", "1");
    reg_write_string(4, "Top\\A\\Deep", "v", "x");
    reg_write_dword(4, "Top\\B", "v2", 2);
    reg_write_string(4, "Top", "own", "o");
    reg_key_list_t keys = reg_enum_subkeys(4, "top");
    EXPECT_EQ(keys.status, 0);
    ASSERT_EQ(keys.count, 2u);
    EXPECT_STREQ(static_cast<char *>(vec_get(keys.names, 0)), "A");
    EXPECT_STREQ(static_cast<char *>(vec_get(keys.names, 1)), "B");
    vector_t *values = vec_new_default();
    EXPECT_EQ(reg_enum_values(values, 4, "Top"), 0);
    ASSERT_EQ(vec_count(values), 1u);
    EXPECT_STREQ(static_cast<reg_named_value_t *>(vec_get(values, 0))->name, "own");
    EXPECT_EQ(reg_delete_value(4, "Top", "OWN"), 0);
    EXPECT_EQ(reg_delete_value(4, "Top", "own"), REG_ERR_FILE_NOT_FOUND);
    EXPECT_EQ(reg_delete_tree(4, "Top\\A"), 0);
    EXPECT_EQ(reg_enum_subkeys(4, "Top\\A").status, REG_ERR_FILE_NOT_FOUND);
    uint32_t n;
    EXPECT_EQ(reg_read_dword(4, "Top\\B", "v2", &n), 0);
    EXPECT_EQ(reg_delete_tree(4, "Top"), 0);
    EXPECT_EQ(reg_enum_subkeys(4, "Top").status, REG_ERR_FILE_NOT_FOUND);
    EXPECT_STREQ(reg_root_key(4), "HKEY_LOCAL_MACHINE");
    EXPECT_STREQ(reg_root_key(9), "HKEY_CLASSES_ROOT");
}

TEST_F(Registry, PathUpdateComparesWholeElementsAndKeepsTheType)
{
    const char *env = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
    reg_write_expand_string(4, env, "Path", "%SystemRoot%\\system32;C:\\Tools\\Bin");
    EXPECT_EQ(sysenv_update_nt(0, "PATH", "c:\\tools\\bin"), 1); // present in another case
    EXPECT_EQ(sysenv_update_nt(0, "PATH", "C:\\Tools"), 1);      // a prefix is not present
    reg_value_t v = reg_read_string(4, env, "Path");
    setenv("SystemRoot", "C:\\Win", 1);
    v = reg_read_string(4, env, "Path");
    EXPECT_STREQ(v.data, "C:\\Win\\system32;C:\\Tools\\Bin;C:\\Tools"); // still expandable
    reg_write_string(4, env, "Other", "a;");
    EXPECT_EQ(sysenv_update_nt(0, "Other", "b"), 1);
    EXPECT_STREQ(reg_read_string(4, env, "Other").data, "a;b");
    EXPECT_EQ(sysenv_update_nt(0, "Missing", "b"), 0);
    EXPECT_EQ(sysenv_update_nt(1, "Fresh", "v"), 1);
    EXPECT_EQ(sysenv_update_nt(7, "Fresh", "v"), 0);
    // This system is neither Windows family.
    EXPECT_EQ(sysenv_update(0, "PATH", "x"), 0);
}

TEST_F(Registry, InstallationDirectory)
{
    char *root = install_root_from_program(OS_PATH_WINDOWS, "C:\\tools\\bin\\wren.exe");
    EXPECT_STREQ(root, "C:\\tools");
    free(root);
    EXPECT_EQ(install_root_from_program(OS_PATH_WINDOWS, "C:\\tools\\wren.exe"), nullptr);
    root = install_root_from_program(OS_PATH_POSIX, "/opt/zeph/BIN/wren");
    EXPECT_STREQ(root, "/opt/zeph");
    free(root);

    // This test program lies in tests/, not bin/: without the registry the
    // root is unknown, but absolute names still come back.
    EXPECT_EQ(install_dir(INST_DAT), nullptr);
    char *abs = install_path(INST_DAT, "/x/y.txt");
    EXPECT_STREQ(abs, "/x/y.txt");
    free(abs);
    install_dir_set("/opt/zeph");
    char *dat = install_path(INST_DAT, "en_msgs.txt");
    EXPECT_STREQ(dat, "/opt/zeph/dat/en_msgs.txt");
    free(dat);
    char *r = install_dir(INST_ROOT);
    EXPECT_STREQ(r, "/opt/zeph");
    free(r);
}

TEST(Banner, PrintsTheVersionBlock)
{
    testing::internal::CaptureStdout();
    print_version_banner("preprocessor");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\nProduct:\tZEPH\nEdition:\tPRO\nComponent:\tpreprocessor\nVersion:\t9.60PL5\n"
              "Build date:\tJan 14 2009\nRelease:\t\nBuild number:\t3884\n");
}
