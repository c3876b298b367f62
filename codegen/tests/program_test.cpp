// kestrel as the driver runs it: the assembly file head, the SDB file and the
// printf feature list, and the exit status.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

// A directory of this test process's own, so tests run side by side never
// share a file: inside the working directory the test main gives the
// process and removes when its tests end.
static std::string dir()
{
    static std::string d;
    if (d.empty()) {
        d = std::filesystem::current_path().string() + "/kestrel/";
        mkdir(d.c_str(), 0700);
    }
    return d;
}

static void write_file(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary) << text;
}

static std::string read_file(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

static int run_kestrel(const std::string &args)
{
    std::string cmd = std::string(ZEPH_BUILD_DIR) + "/bin/kestrel " + args + " 2>" + dir() + "k.err";
    int status = system(cmd.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A program with a structure, an enumeration, a typedef, a static and a
// function that calls printf (CRLF line ends, as an editor may leave them).
static const char *program =
    "Version 3.2 Vormak Software Intermediate Code\r\n"
    "\"1 main.c\r\n"
    "[v _count `i 1 s ]\r\n"
    "[v _byte `uc 1 t ]\r\n"
    "[s S1 `i 1 :3 `uc 1 ]\r\n"
    "[n S1 point x flags ]\r\n"
    "[c E2 0 1 5 .. ]\r\n"
    "[n E2 colour red green blue  ]\r\n"
    "[v _printf `(i 0 ev`*Cc ]\r\n"
    "[p f _printf -> 3 `i ]\r\n"
    "[v _main `(v 1 e ]\r\n"
    "{\r\n"
    "[e :U _main ]\r\n"
    "[f ]\r\n"
    "\"5\r\n"
    "[e = _count -> 3 `i ]\r\n"
    "[e ( _printf :s 1C ]\r\n"
    "[e :UE 1 ]\r\n"
    "}\r\n"
    "[a 1 104 105 0 ]\r\n";

static const char *chip_args = "-PZEPHP16F84A,2,1024,2,1,7,0,1 -PMIRROR=0,0 -PRAM=0Ch-04Fh -PBANK0=0Ch-04Fh";

TEST(kestrel_program, writes_head_and_sdb_file)
{
    write_file(dir() + "main.plover", program);
    std::string as = dir() + "main.as", sdb = dir() + "main.sdb";
    int status = run_kestrel(std::string("-E1 -Og -D") + sdb + " " + chip_args + " -A" + as + " " +
                             dir() + "main.plover");
    // the program compiles; printf, declared only, is left to the linker
    EXPECT_EQ(status, 0) << read_file(dir() + "k.err");
    std::string head = read_file(as);
    EXPECT_EQ(head.rfind("opt subtitle \"Vormak Software Wyvern Code Generator build 3884\"\n\n"
                         "\tprocessor\t16F84A\nclrc\tmacro\n\tbcf\tstatus,0\n\tendm\n", 0), 0u) << head;
    EXPECT_NE(head.find("status\tequ\t3\nfsr\tequ\t4\nfsr0\tequ\t4\nc\tequ\t0\nz\tequ\t2\npclath\tequ\t10\n"),
              std::string::npos) << head;
    std::string s = read_file(sdb);
    EXPECT_EQ(s.rfind("[p GLOBOPT AUTOSTATIC PIC14 PICMIDHI PICLOMID ]\n[d version 1.1 ]\n[d chip 16F84A ]\n", 0),
              0u) << s;
    EXPECT_NE(s.find("[v _byte `uc  1 t 1 ]\n"), std::string::npos) << s;
    EXPECT_NE(s.find(" point 3 `i 1 x 2 0 `uc 1 flags 1 2 :3:0 \n]\n"), std::string::npos) << s;
    EXPECT_NE(s.find("[e E2 colour `uc\nred 0\ngreen 1\nblue 5\n]\n"), std::string::npos) << s;
}

TEST(kestrel_program, printf_feature_pass)
{
    write_file(dir() + "feat.plover", program);
    std::string out = dir() + "feat.txt";
    int status = run_kestrel(std::string("-Og -w9 ") + chip_args + " -fp -A " + out + " " + dir() +
                             "feat.plover " + dir() + "missing.lpp");
    EXPECT_EQ(status, 0) << read_file(dir() + "k.err");
    EXPECT_EQ(read_file(out), "_printf\t3\n");
}

TEST(kestrel_program, input_errors_fail_the_run)
{
    struct row { const char *text; const char *number; } rows[] = {
        {"Version 3.1 Vormak Software Intermediate Code\n", "(718)"},
        {"Version 3.2 Vormak Software Intermediate Code\n[q ]\n", "(714)"},
        {"Version 3.2 Vormak Software Intermediate Code\n[v _x `o 1 e ]\n", "(1097)"},
    };
    for (const row &r : rows) {
        write_file(dir() + "bad.plover", r.text);
        EXPECT_NE(run_kestrel("-F -A" + dir() + "bad.out " + dir() + "bad.plover"), 0) << r.text;
        EXPECT_NE(read_file(dir() + "k.err").find(r.number), std::string::npos) << read_file(dir() + "k.err");
    }
    EXPECT_NE(run_kestrel("-F -A" + dir() + "bad.out " + dir() + "nosuch.plover"), 0);
    EXPECT_NE(read_file(dir() + "k.err").find("(140)"), std::string::npos);
    EXPECT_NE(run_kestrel("-F -A" + dir() + "bad.out " + dir()), 0);
    EXPECT_NE(read_file(dir() + "k.err").find("(140) can't open intermediate file"), std::string::npos)
        << read_file(dir() + "k.err");
    EXPECT_NE(read_file(dir() + "k.err").find("Is a directory"), std::string::npos);
    EXPECT_NE(run_kestrel("-m -Mnosuch -Ox -F -A" + dir() + "bad.out"), 0);
    std::string err = read_file(dir() + "k.err");
    for (const char *n : {"(717)", "(716)", "(747)"})
        EXPECT_NE(err.find(n), std::string::npos) << n << err;
}

// No output (the assembly or the SDB file) replaces an input or the other
// output: each case names the message and the file that must keep its text.
TEST(kestrel_program, output_never_overwrites_an_input)
{
    const std::string d = dir();
    struct row { std::string args, number, kept; } rows[] = {
        {"-F -A" + d + "same.plover " + d + "same.plover", "(378)", "same.plover"},
        // Without -A the second name is the output: one that is intermediate
        // code (by its extension or by its version line) was meant as an input.
        {d + "same.plover " + d + "two.plover", "(378)", "two.plover"},
        {d + "same.plover " + d + "two.txt", "(378)", "two.txt"},
        {d + "same.plover " + d + "same.plover", "(378)", "same.plover"},
        {"-D" + d + "same.plover -F -A" + d + "keep.out " + d + "same.plover", "(461)", "same.plover"},
        {"-D" + d + "same.plover < " + d + "same.plover > " + d + "stdin.as", "(461)", "same.plover"},
        // messages are not appended to an input either
        {"-E" + d + "same.plover -m -F -A" + d + "keep.out " + d + "same.plover", "(461)", "same.plover"},
        {"-E" + d + "two.txt " + d + "same.plover " + d + "two.txt", "(461)", "two.txt"},
    };
    for (const row &r : rows) {
        for (const char *name : {"same.plover", "two.plover", "two.txt"})
            write_file(d + name, program);
        EXPECT_NE(run_kestrel(r.args), 0) << r.args;
        EXPECT_NE(read_file(d + "k.err").find(r.number), std::string::npos) << r.args << read_file(d + "k.err");
        EXPECT_EQ(read_file(d + r.kept), program) << r.args;
    }
    // The SDB file named like the output: the output is written, the SDB
    // file is refused, in both forms of the command line.
    for (const std::string &args : {"-D" + d + "both.as " + d + "same.plover " + d + "both.as",
                                    "-D" + d + "both.as -A" + d + "both.as " + d + "same.plover"}) {
        remove((d + "both.as").c_str());
        run_kestrel(args);
        EXPECT_NE(read_file(d + "k.err").find("(461)"), std::string::npos) << args;
        EXPECT_EQ(read_file(d + "both.as").rfind("opt subtitle", 0), 0u) << args;
        EXPECT_EQ(read_file(d + "both.as").find("[d version"), std::string::npos) << args;
    }
    // A message file that cannot be opened leaves the messages where they
    // were, instead of losing them with a closed standard error.
    run_kestrel("-E" + d + "nodir/k.err -m -F -A" + d + "keep.out " + d + "same.plover");
    EXPECT_NE(read_file(d + "k.err").find("(461) can't create error file"), std::string::npos) << read_file(d + "k.err");
    EXPECT_NE(read_file(d + "k.err").find("(717)"), std::string::npos);
    // A plain second name that holds no intermediate code is the output.
    remove((d + "plain.as").c_str());
    run_kestrel(d + "same.plover " + d + "plain.as");
    EXPECT_EQ(read_file(d + "plain.as").rfind("opt subtitle", 0), 0u);
}

// Preprocessed C sources run through the parser; what it writes must read
// without a message. Skipped while the parser is not built.
static const char *const corpus[] = {
    "# 1 \"a.c\"\nstruct point { int x; unsigned flags : 3; char *name; };\n"
    "enum colour { red, green, blue = 5 };\ntypedef unsigned char byte;\nstatic int count;\n"
    "int table[4] = { 1, 2, 3, 4 };\nconst char msg[] = \"hello\";\n"
    "extern int printf(const char *, ...);\nint add(int a, int b) { return a + b; }\n"
    "void main(void)\n{\n    struct point p;\n    byte b = 3;\n    static int calls;\n    int i;\n"
    "    for (i = 0; i < 4; i++)\n        count += table[i];\n"
    "    switch (count) {\n    case 1: b = 1; break;\n    default: b = 0;\n    }\n"
    "    p.x = add(count, b);\n    p.flags = 2;\n    calls++;\n    printf(\"%d\\n\", p.x);\n}\n",
    "# 1 \"b.c\"\nunion u { long l; char c[4]; };\nunion u shared;\nlong *lp;\n"
    "int f(int n, ...) { return n; }\n"
    "void g(void) { char *s = \"abc\"; char *t = \"bc\"; lp = &shared.l; *lp = 5; f(1, s, t); }\n",
};

TEST(kestrel_program, reads_what_the_parser_writes)
{
    std::string plover = std::string(ZEPH_BUILD_DIR) + "/bin/plover";
    if (!std::ifstream(plover))
        GTEST_SKIP() << "plover is not built";
    int k = 0;
    std::string inputs;
    for (const char *c : corpus) {
        std::string base = dir() + "corpus" + std::to_string(k++);
        write_file(base + ".c", c);
        std::string cmd = plover + " " + base + ".c " + base + ".plover 2>" + base + ".perr";
        ASSERT_EQ(system(cmd.c_str()), 0) << read_file(base + ".perr");
        inputs += " " + base + ".plover";
    }
    EXPECT_EQ(run_kestrel("-F " + std::string(chip_args) + " -A" + dir() + "corpus.out" + inputs), 0)
        << read_file(dir() + "k.err");
    EXPECT_EQ(read_file(dir() + "k.err"), "");
}

TEST(kestrel_program, arguments_from_standard_input_and_an_option_file)
{
    write_file(dir() + "args.plover", program);
    std::string args = "-F -A" + dir() + "args1.out " + dir() + "args.plover\n";
    write_file(dir() + "args.txt", args);
    std::string cmd = std::string(ZEPH_BUILD_DIR) + "/bin/kestrel < " + dir() + "args.txt >/dev/null 2>&1";
    EXPECT_EQ(system(cmd.c_str()), 0);
    EXPECT_EQ(read_file(dir() + "args1.out"), "_printf\t3\n");
    write_file(dir() + "args.opt", "-F -A" + dir() + "args2.out " + dir() + "args.plover\n");
    EXPECT_EQ(run_kestrel("@" + dir() + "args.opt"), 0);
    EXPECT_EQ(read_file(dir() + "args2.out"), "_printf\t3\n");
    EXPECT_NE(run_kestrel("@" + dir() + "nosuch.opt"), 0);
    EXPECT_NE(read_file(dir() + "k.err").find("(141)"), std::string::npos);
}

TEST(kestrel_program, messages_carry_the_source_position)
{
    write_file(dir() + "pos.plover", "Version 3.2 Vormak Software Intermediate Code\n\"7 pos.c\n[q ]\n");
    EXPECT_NE(run_kestrel("-F -A" + dir() + "pos.out " + dir() + "pos.plover"), 0);
    EXPECT_NE(read_file(dir() + "k.err").find("pos.c: 7: (714)"), std::string::npos) << read_file(dir() + "k.err");
}

// An installation without its message file: every message is then an error
// without a text, fatal ones included. A fatal condition must still end the
// run at once (the sanitizer build shows a run that goes on with the null
// result it left). The program is copied into a tree of its own, so that
// neither the installation's dat directory nor a registered installation
// supplies the file.
TEST(kestrel_program, fatal_conditions_stop_without_the_message_file)
{
    const std::string d = dir() + "bare/";
    mkdir(d.c_str(), 0700);
    mkdir((d + "bin").c_str(), 0700);
    mkdir((d + "dat").c_str(), 0700);
    std::filesystem::copy_file(std::string(ZEPH_BUILD_DIR) + "/bin/kestrel", d + "bin/kestrel",
                               std::filesystem::copy_options::overwrite_existing);
    const std::string head = "Version 3.2 Vormak Software Intermediate Code\n\"1 a.c\n";
    write_file(d + "cut.lpp", std::string("\x20\x00\x01\x00\x00", 5));
    write_file(d + "ok.plover", program);
    struct row { const char *text; const char *args; const char *number; } rows[] = {
        {"[v _x `o 1 e ]\n[v _y `i 1 e ]\n", "-F -Aout in.plover", "(1097)"},
        {"[v _x `Q*i 1 e ]\n", "-F -Aout in.plover", "(1097)"},
        {"[s S1 `_nosuch 1 ]\n", "-F -Aout in.plover", "(1097)"},
        {"[v _y `i 1 q ]\n", "-F -Aout in.plover", "(267)"},
        {"[v _y `i 1 a extra ]\n", "-F -Aout in.plover", "(722)"},
        {"[v _y `i _n e ]\n", "-F -Aout in.plover", "(721)"},
        {"[v _f `(i 1 e ]\n{\n[e :U _f ]\n[e = _a [i ]\n}\n", "-F -Aout in.plover", "(1121)"},
        {"", "-F -Aout ok.plover cut.lpp", "(300)"},
        {"", "-PZEPHP16F877,2,8192 -F -Aout ok.plover", "(609)"},
        {"", "-F nosuch.plover", "(141)"},
        {"", "-F ok.plover nodir/out.as", "(378)"},
        {"", "@nosuch.opt", "(141)"},
    };
    for (const row &r : rows) {
        write_file(d + "in.plover", head + r.text);
        std::string cmd = "cd " + d + " && env -u VRK_ERR_FILE VRK_REGISTRY=" + d + "registry bin/kestrel " +
                          r.args + " 2>" + d + "k.err";
        int status = system(cmd.c_str());
        std::string err = read_file(d + "k.err");
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 0) << r.args << r.text << err;
        EXPECT_NE(err.find(r.number), std::string::npos) << r.args << r.text << err;
        EXPECT_EQ(err.find(r.number), err.rfind(r.number)) << "the run went on: " << err;
        EXPECT_EQ(err.find("runtime error"), std::string::npos) << err;
        EXPECT_EQ(err.find("Sanitizer"), std::string::npos) << err;
    }
}
