// File names, prototype rewriting, fill byte order, qualifier definitions,
// and the phase runner's configurable arguments, common arguments and echo.
#include "support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace {

std::string slurp(const char *path)
{
    std::ifstream f(path);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

TEST(DriverFiles, ExtensionsAndNames)
{
    struct Case {
        const char *name, *ext, *want;
    } cases[] = {
        {"main.c", "obj", "main.obj"},   {"a.b.c", "hex", "a.b.hex"},
        {"main.", "pre", "main.pre"},    {"noext", "obj", "noext.obj"},
        {"dir.x/main", "obj", "dir.x/main.obj"}, {"main.c", "", "main."},
    };
    for (const Case &c : cases) {
        char *got = replace_extension(c.name, c.ext);
        EXPECT_STREQ(c.want, got) << c.name;
        free(got);
    }
    EXPECT_TRUE(has_extension("MAIN.C", ".c"));
    EXPECT_FALSE(has_extension("c", ".c"));
    EXPECT_TRUE(is_asm_source("x.ASM"));
    EXPECT_TRUE(is_asm_source("x.as"));
    EXPECT_FALSE(is_asm_source("x.asx"));
}

TEST(DriverPrototypes, OldStyleForms)
{
    struct Case {
        const char *line, *want;
    } cases[] = {
        {"extern int f(int a, char *b);", "extern int f();"},
        {"extern int f(int (*cb)(void));", "extern int f();"},
        {"extern void (*g(int))(char);", "extern void (*g(int))();"},
        {"extern int x;", "extern int x;"},
        {"extern int f(int a;", "extern int f(int a;"},
        {"no semicolon (here)", "no semicolon (here)"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.want, proto_old_style(c.line)) << c.line;
}

TEST(DriverPrototypes, FileRewrittenInPlace)
{
    messages_for_test();
    {
        std::ofstream f("protomod.pro");
        f << "static int s1(void);\r\nextern int b(long x);\nextern int a(int);\n";
    }
    ASSERT_TRUE(rewrite_prototypes("protomod."));
    EXPECT_EQ("/* Prototypes from protomod.c */\n\n"
              "/* extern functions - include these in a header file */\n\n"
              "#if        PROTOTYPES\n"
              "extern int a(int);\nextern int b(long x);\n"
              "#else /* PROTOTYPES */\n"
              "extern int a();\nextern int b();\n"
              "#endif /* PROTOTYPES */\n\n"
              "/* static functions - include these in protomod.c only */\n\n"
              "#if        PROTOTYPES\n"
              "static int s1(void);\n"
              "#else /* PROTOTYPES */\n"
              "static int s1();\n"
              "#endif /* PROTOTYPES */\n\n",
              slurp("protomod.pro"));
    remove("protomod.pro");
    EXPECT_FALSE(rewrite_prototypes("no_such_module."));
    EXPECT_TRUE(reported(141));
}

TEST(DriverFill, WordsBecomeFileOrderBytes)
{
    struct Case {
        const char *fill, *want;
    } cases[] = {
        {"3FFF", "FF3F"}, {"3FFF@0-7FF", "FF3F@0-7FF"}, {"0FFF", "FF0F"},
        {"FFF", "FF0F"},  {"FF", "FF"},                 {"12345678@10-1F", "34127856@10-1F"},
    };
    for (const Case &c : cases) {
        char *got = fill_bytes_for_hex(c.fill);
        EXPECT_STREQ(c.want, got) << c.fill;
        free(got);
    }
}

TEST(DriverQualifiers, ListByArchitecture)
{
    vector_t *mid = qualifier_options(ARCH_MIDRANGE);
    ASSERT_EQ(9u, vec_count(mid));
    EXPECT_STREQ("-QP,bank0", static_cast<char *>(vec_get(mid, 0)));
    EXPECT_STREQ("-QCu,const", static_cast<char *>(vec_get(mid, 8)));
    vector_t *base = qualifier_options(ARCH_BASELINE);
    ASSERT_EQ(12u, vec_count(base));
    EXPECT_STREQ("-QCu,const", static_cast<char *>(vec_get(base, 8)));
    EXPECT_STREQ("-QWi,control", static_cast<char *>(vec_get(base, 10)));
    EXPECT_STREQ("-QCi,const", static_cast<char *>(vec_get(base, 11)));
    vec_free(mid);
    vec_free(base);
}

TEST(DriverStartup, HeaderBreaksLongOptionLines)
{
    std::string a(29, 'a'), b(29, 'b'), c(10, 'c');
    bs.command_line = vec_new_default();
    for (const std::string *s : {&a, &a, &b, &c})
        vec_push(bs.command_line, xstrdup(s->c_str()));
    snprintf(bs.version, sizeof bs.version, "9.60PL5");
    FILE *f = tmpfile();
    write_startup_header(f, false);
    rewind(f);
    std::string text;
    for (int ch; (ch = fgetc(f)) != EOF;)
        text += static_cast<char>(ch);
    fclose(f);
    // 30 + 30 characters fit in 70, the third argument's 11 more do not.
    EXPECT_EQ("\n\t; Vormak C Compiler for PIC10/12/16 MCUs V9.60PL5\n"
              "\t; Zeph toolchain for 8-bit PIC microcontrollers\n"
              "\n\t; Auto-generated runtime startup code for final link stage.\n\n\t;\n\t; Compiler options:\n\t;\n"
              "\t; " + a + " " + b + " \\\n\t; " + c + "\n\t;\n\n\n",
              text);

    // An argument holding a line break stays inside the comment.
    vec_push(bs.command_line, xstrdup("-DX=1\r\n\tgoto\t0"));
    f = tmpfile();
    write_startup_header(f, false);
    rewind(f);
    text.clear();
    for (int ch; (ch = fgetc(f)) != EOF;)
        text += static_cast<char>(ch);
    fclose(f);
    EXPECT_NE(std::string::npos, text.find("\t; " + c + " -DX=1   goto 0\n\t;\n")) << text;
}

// The runner under --noexec -V: what it would run shows in the echo line.
class PhaseRunner : public ::testing::Test {
protected:
    void SetUp() override
    {
        messages_for_test();
        settings = driver_settings{};
        opts.noexec = 1;
        opts.errors = 0;
        settings.verbose = 1;
        bs.warn_arg = nullptr;
        bs.linker_opts = vec_new_default();
    }
    void TearDown() override
    {
        for (char *&f : settings.option_files) {
            free(f);
            f = nullptr;
        }
        settings = driver_settings{};
        opts.noexec = 0;
        opts.errors = 0;
        bs.warn_arg = nullptr;
    }

    // A linker list: c marks a configurable argument.
    static arglist *linker_list(std::initializer_list<const char *> args)
    {
        arglist *a = arglist_new(TOOL_HERON);
        for (const char *t : args) {
            if (t[0] == 'c')
                arglist_append_copy_flags(a, ARG_CONFIGURABLE, t);
            else
                arglist_append_copy(a, t);
        }
        return a;
    }

    // The echoed arguments after the common ones (program name and --edf).
    static std::string echoed_own()
    {
        if (captured_lines.empty())
            return "(nothing echoed)";
        std::string line = captured_lines.back();
        line.pop_back();
        size_t edf = line.find("--edf=");
        size_t own = line.find(' ', edf);
        return own == std::string::npos ? "" : line.substr(own + 1);
    }
};

TEST_F(PhaseRunner, SetOptionReplacesConfigurableArguments)
{
    struct Case {
        const char *lines;
        std::initializer_list<const char *> args;
        const char *want;
    } cases[] = {
        {"X1\nX2\r\nX3\n", {"c1", "p1", "c2", "p2"}, "X1 p1 X2 X3 p2"},
        {"Y1\n", {"c1", "p1", "c2", "p2"}, "Y1 p1 p2"},
        {"L1\nL2\n", {"p1", "p2"}, "p1 p2 L1 L2"},
        {"", {"c1", "p1"}, "p1"},
    };
    settings.setoption = true;
    settings.option_files[TOOL_HERON] = xstrdup("runner_set.txt");
    for (const Case &c : cases) {
        {
            std::ofstream f("runner_set.txt");
            f << c.lines;
        }
        EXPECT_TRUE(run_phase(linker_list(c.args)));
        EXPECT_EQ(c.want, echoed_own()) << c.lines;
    }
    remove("runner_set.txt");

    // Other tools are untouched; "off" skips the linker without a line.
    captured_lines.clear();
    arglist *w = arglist_new(TOOL_WREN);
    arglist_append_copy(w, "main.c");
    EXPECT_TRUE(run_phase(w));
    EXPECT_EQ("main.c", echoed_own());
    free(settings.option_files[TOOL_HERON]);
    settings.option_files[TOOL_HERON] = xstrdup("OFF");
    captured_lines.clear();
    EXPECT_TRUE(run_phase(linker_list({"c1"})));
    EXPECT_TRUE(captured_lines.empty());
}

TEST_F(PhaseRunner, GetOptionWritesConfigurableArguments)
{
    settings.getoption = true;
    settings.option_files[TOOL_HERON] = xstrdup("runner_get.txt");
    EXPECT_TRUE(run_phase(linker_list({"c-pa=1", "-z", "c-pb=2"})));
    EXPECT_TRUE(captured_lines.empty());
    EXPECT_EQ("c-pa=1\nc-pb=2\n", slurp("runner_get.txt"));
    remove("runner_get.txt");
    // A tool without a file only does not run.
    EXPECT_TRUE(run_phase(arglist_new(TOOL_WREN)));
}

TEST_F(PhaseRunner, CommonArgumentsQuotingAndLinkerOverrides)
{
    opts.errors = 5;
    settings.msgdisable = xstrdup("100,200");
    bs.warn_arg = xstrdup("-W3");
    vec_push(bs.linker_opts, xstrdup("-preset_vec=200h"));
    arglist *a = arglist_new(TOOL_HERON);
    linker_default_option_copy(a, "-PRESET_VEC=0h");
    linker_default_optionf(a, "-p%s=%d", "other", 1);
    linker_default_option_copy(a, "-noequals");
    arglist_append_copy(a, "-DMSG=a b");
    EXPECT_TRUE(run_phase(a));
    ASSERT_FALSE(captured_lines.empty());
    std::string line = captured_lines.back();
    EXPECT_EQ(0u, line.find("heron -W3 --edf=")) << line;
    EXPECT_NE(std::string::npos, line.find(" --msgdisable=100,200 --emax=5 -pother=1 -noequals \"-DMSG=a b\"\n"))
        << line;
    EXPECT_EQ(std::string::npos, line.find("PRESET"));
}

} // namespace
