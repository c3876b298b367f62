// shrike: global symbol definitions made local in object files built here
// byte by byte; the rest of each file copied unchanged; every fault leaves
// the object file as it was.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "run_tool.h"

static std::string le16(unsigned v)
{
    return {char(v & 0xFF), char(v >> 8 & 0xFF)};
}

static std::string le32(unsigned v)
{
    return le16(v & 0xFFFF) + le16(v >> 16);
}

static std::string name(const char *s)
{
    return std::string(s) + '\0';
}

// A record: 16-bit little-endian body length, type, body.
static std::string rec(int type, const std::string &body)
{
    return le16((unsigned)body.size()) + char(type) + body;
}

static const std::string ident_little = rec(7, std::string("\0\1\2\3\0\1", 6) + name("PIC"));
static const std::string ident_big = rec(7, std::string("\3\2\1\0\1\0", 6) + name("PIC"));
static const std::string end_record = rec(6, std::string(2, '\0'));

// A little-endian SYM entry: value, flags, psect name, symbol name.
static std::string sym(unsigned value, unsigned flags, const char *psect, const char *symbol)
{
    return le32(value) + le16(flags) + name(psect) + name(symbol);
}

// Files left in a test folder besides the harness's own.
static std::vector<std::string> folder_files(const std::string &dir)
{
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir)) {
        std::string n = e.path().filename().string();
        if (n[0] != '.')
            names.push_back(n);
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The case of the issue: global _reset and _count become local, an
// undefined _reset (kind bits set) and other symbols stay; both files named
// are rewritten.
TEST(Shrike, HidesListedGlobalDefinitions)
{
    std::string dir = scratch_dir();
    auto object = [](unsigned reset_flags, unsigned count_flags) {
        return ident_little + rec(1, le32(0) + name("text") + "\x12\x34") +
               rec(4, sym(0x10, reset_flags, "text", "_reset") + sym(0x20, count_flags, "text", "_count") +
                          sym(0x30, 0x10, "text", "_other")) +
               rec(4, sym(0, 0x16, "", "_reset")) + end_record;
    };
    write_file(dir + "/a.obj", object(0x10, 0x10));
    write_file(dir + "/b.obj", object(0x10, 0x10));
    tool_run r = run_tool(dir, "shrike", {"-reset,_count", "a.obj", "b.obj"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(read_file(dir + "/a.obj"), object(0x00, 0x00));
    EXPECT_EQ(read_file(dir + "/b.obj"), object(0x00, 0x00));
    EXPECT_EQ(folder_files(dir), (std::vector<std::string>{"a.obj", "b.obj"}));
}

struct flag_row {
    const char *symbol;
    unsigned before;
    unsigned after;
};

// Which names match and which flags qualify: a listed x matches x and _x,
// a listed _x matches _x and __x but not x; kind bits 0x02 and 0x04 keep a
// symbol global; the high-order byte of the flags is never touched.
TEST(Shrike, MatchesNamesAndFlags)
{
    const struct {
        std::vector<std::string> options;
        std::vector<flag_row> rows;
    } cases[] = {
        {{"-x", "-,k2,k4,,k8,k1,hi"},
         {{"x", 0x10, 0x00}, {"_x", 0x10, 0x00}, {"__x", 0x10, 0x10}, {"k2", 0x12, 0x12},
          {"k4", 0x14, 0x14}, {"k8", 0x18, 0x08}, {"k1", 0x11, 0x01}, {"hi", 0x8010, 0x8000},
          {"y", 0x10, 0x10}, {"_k8", 0x00, 0x00}}},
        {{"-_x"}, {{"x", 0x10, 0x10}, {"_x", 0x10, 0x00}, {"__x", 0x10, 0x00}}},
        {{}, {{"x", 0x10, 0x10}, {"_x", 0x10, 0x10}}},
    };
    std::string dir = scratch_dir();
    for (const auto &c : cases) {
        std::string before, after;
        for (const flag_row &row : c.rows) {
            before += sym(1, row.before, "data", row.symbol);
            after += sym(1, row.after, "data", row.symbol);
        }
        write_file(dir + "/m.obj", ident_little + rec(4, before) + end_record);
        std::vector<std::string> args = c.options;
        args.push_back("m.obj");
        tool_run r = run_tool(dir, "shrike", args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(read_file(dir + "/m.obj"), ident_little + rec(4, after) + end_record)
            << ::testing::PrintToString(c.options);
    }
}

// With big-endian maps the low-order flag byte is the second one.
TEST(Shrike, FollowsTheByteOrderMaps)
{
    std::string dir = scratch_dir();
    auto object = [](char low) {
        std::string entry = std::string("\x12\x34\x56\x78", 4) + '\x02' + low + name("text") + name("_count");
        return ident_big + rec(4, entry) + end_record;
    };
    write_file(dir + "/a.obj", object('\x10'));
    tool_run r = run_tool(dir, "shrike", {"-count", "a.obj"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/a.obj"), object('\x00'));
}

// Every record type of the format, and a body of the largest size, is
// copied as it stands; whatever follows END is dropped.
TEST(Shrike, CopiesAllRecordTypesUpToEnd)
{
    std::string dir = scratch_dir();
    std::string records = ident_little;
    for (int type = 1; type <= 23; type++)
        if (type != 4 && type != 6 && type != 7)
            records += rec(type, std::string(type, char('a' + type)));
    records += rec(17, std::string(509, 'z'));
    write_file(dir + "/a.obj", records + end_record + rec(1, le32(0) + name("late")) + "junk");
    tool_run r = run_tool(dir, "shrike", {"a.obj"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/a.obj"), records + end_record);
}

// A library image by hand: directory size, module count, one directory
// entry {symbol list size, symbol count, module length, 4 bytes, name,
// {flag, name}...}, then the module.
static std::string library_image()
{
    std::string module = ident_little + rec(4, sym(0, 0x10, "text", "_f")) + end_record;
    std::string entry = le16(4) + le16(1) + le32((unsigned)module.size()) + std::string(4, '\0') +
                        name("m") + '\0' + name("_f");
    return le16((unsigned)entry.size()) + le16(1) + entry + module;
}

// Each fault is fatal, names its message, and leaves the object file as it
// was with no temporary behind.
TEST(Shrike, FaultsLeaveTheObjectUntouched)
{
    const struct {
        const char *label;
        const char *file;
        std::string bytes;
        int message;
    } cases[] = {
        {"type 24", "a.obj", ident_little + rec(24, "x") + end_record, 380},
        {"type 0", "a.obj", ident_little + rec(0, "x") + end_record, 380},
        {"body of 510 bytes", "a.obj", ident_little + rec(17, std::string(510, 'z')) + end_record, 381},
        {"body cut short", "a.obj", ident_little + le16(20) + '\x01' + "abcde", 382},
        {"SYM name without end", "a.obj", ident_little + rec(4, sym(0, 0x10, "t", "_a") + le32(0) + le16(0x10) + "t") + end_record, 1472},
        {"SYM body of 3 bytes", "a.obj", ident_little + rec(4, "abc") + end_record, 1472},
        {"IDENT maps not a permutation", "a.obj", rec(7, std::string("\0\1\2\3\0\0", 6) + name("PIC")) + end_record, 1472},
        {"library by layout", "lib.obj", library_image(), 1471},
        {"library by name", "x.LIB", ident_little + end_record, 1471},
    };
    for (const auto &c : cases) {
        std::string dir = scratch_dir();
        write_file(dir + "/" + c.file, c.bytes);
        tool_run r = run_tool(dir, "shrike", {"-_a,_f", c.file});
        EXPECT_EQ(r.status, 1) << c.label;
        EXPECT_TRUE(has_message(r, c.message)) << c.label << ": " << r.err;
        EXPECT_EQ(read_file(dir + "/" + c.file), c.bytes) << c.label;
        EXPECT_EQ(folder_files(dir), std::vector<std::string>{c.file}) << c.label;
    }
}

// Faults of the file system: the temporary cannot be written in full (413),
// cannot be renamed over an object the system protects (460), or cannot be
// made in a protected folder (378). Each is fatal and leaves the object as
// it was with no temporary behind. Protection needs "chattr"; without it
// those two cases are skipped.
TEST(Shrike, FileSystemFaultsLeaveTheObjectUntouched)
{
    std::string dir = scratch_dir();
    std::string bytes = ident_little + rec(4, sym(0, 0x10, "text", "_count"));
    for (int i = 0; i < 4; i++)
        bytes += rec(17, std::string(400, 'z'));
    bytes += end_record;
    write_file(dir + "/a.obj", bytes);
    auto expect_fault = [&](const tool_run &r, int message, const char *label) {
        EXPECT_EQ(r.status, 1) << label;
        EXPECT_TRUE(has_message(r, message)) << label << ": " << r.err;
        EXPECT_EQ(read_file(dir + "/a.obj"), bytes) << label;
        EXPECT_EQ(folder_files(dir), std::vector<std::string>{"a.obj"}) << label;
    };

    // Files may not grow past 512 bytes: the messages fit, the copy does not.
    rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    rlimit small = {512, old.rlim_max};
    signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    tool_run r = run_tool(dir, "shrike", {"-count", "a.obj"});
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);
    expect_fault(r, 413, "temporary cut short");

    std::string object = dir + "/a.obj";
    if (std::system(("chattr +i '" + object + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "files cannot be protected here";
    r = run_tool(dir, "shrike", {"-count", "a.obj"});
    std::system(("chattr -i '" + object + "'").c_str());
    expect_fault(r, 460, "protected object");

    std::system(("chattr +i '" + dir + "'").c_str());
    r = run_tool(dir, "shrike", {"-count", "a.obj"});
    std::system(("chattr -i '" + dir + "'").c_str());
    expect_fault(r, 378, "protected folder");
}

// Messages name the file and the record.
TEST(Shrike, MessagesNameFileAndRecord)
{
    std::string dir = scratch_dir();
    write_file(dir + "/a.obj", ident_little + rec(30, "x"));
    tool_run r = run_tool(dir, "shrike", {"a.obj"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "a.obj: 2: (380) unknown record type (30)\n");

    r = run_tool(dir, "shrike", {"gone.obj"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(has_message(r, 141)) << r.err;
    EXPECT_NE(r.err.find("gone.obj"), std::string::npos);
}

// Without an object file the file is l.obj; without any argument the
// arguments come from standard input.
TEST(Shrike, DefaultObjectAndArgumentsFromInput)
{
    std::string dir = scratch_dir();
    auto object = [](unsigned flags) { return ident_little + rec(4, sym(0, flags, "t", "_main")) + end_record; };
    write_file(dir + "/l.obj", object(0x10));
    tool_run r = run_tool(dir, "shrike", {"-main"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/l.obj"), object(0x00));

    write_file(dir + "/in.obj", object(0x10));
    r = run_tool(dir, "shrike", {}, "-main\nin.obj\n");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(read_file(dir + "/in.obj"), object(0x00));
}

// A link is followed: the file it names is rewritten with its permissions
// kept, and the link stays a link.
TEST(Shrike, RewritesTheFileALinkNames)
{
    namespace fs = std::filesystem;
    std::string dir = scratch_dir();
    auto object = [](unsigned flags) { return ident_little + rec(4, sym(0, flags, "t", "_f")) + end_record; };
    write_file(dir + "/real.obj", object(0x10));
    fs::permissions(dir + "/real.obj", fs::perms::owner_read | fs::perms::group_read);
    fs::create_symlink("real.obj", dir + "/link.obj");
    tool_run r = run_tool(dir, "shrike", {"-f", "link.obj"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(dir + "/link.obj"));
    EXPECT_EQ(read_file(dir + "/real.obj"), object(0x00));
    EXPECT_EQ(fs::status(dir + "/real.obj").permissions(), fs::perms::owner_read | fs::perms::group_read);
    EXPECT_EQ(folder_files(dir), (std::vector<std::string>{"link.obj", "real.obj"}));
}

// A pipe or a folder is refused before it is opened (a pipe would block).
TEST(Shrike, RefusesWhatIsNotAPlainFile)
{
    std::string dir = scratch_dir();
    ASSERT_EQ(mkfifo((dir + "/pipe.obj").c_str(), 0644), 0);
    std::filesystem::create_directory(dir + "/dir.obj");
    for (const char *name : {"pipe.obj", "dir.obj"}) {
        tool_run r = run_tool(dir, "shrike", {"-f", name});
        EXPECT_EQ(r.status, 1) << name;
        EXPECT_TRUE(has_message(r, 1473)) << name << ": " << r.err;
    }
    EXPECT_EQ(folder_files(dir), (std::vector<std::string>{"dir.obj", "pipe.obj"}));
}
