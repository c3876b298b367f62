// The host's C preprocessor as an independent reference: for portable C89
// input the token stream of wren (white space, markers and empty lines set
// aside) equals that of "gcc -E -P -undef -nostdinc -std=c89 -trigraphs".
// The corpus is in fixtures/gcc, and a table of small sources here covers
// the rules of macro replacement one by one; both avoid what wren
// deliberately does its own way (#if arithmetic beyond standard C, #asm,
// identifiers longer than 31 characters, __DATE__ and __TIME__).
#include "wren_test.h"

#include <cstring>
#include <dirent.h>

namespace {

// C tokens of a preprocessed text: identifiers, numbers, literals and
// punctuators (longest match), white space dropped.
std::vector<std::string> c_tokens(const std::string &text)
{
    static const char *const puncts[] = {
        "...", "<<=", ">>=", "->", "++", "--", "<<", ">>", "<=", ">=", "==", "!=", "&&", "||",
        "*=", "/=", "%=", "+=", "-=", "&=", "^=", "|=", "##",
    };
    std::vector<std::string> out;
    size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (isspace((unsigned char)c)) {
            i++;
            continue;
        }
        size_t j = i + 1;
        if (isalpha((unsigned char)c) || c == '_' || c == '$') {
            while (j < text.size() && (isalnum((unsigned char)text[j]) || text[j] == '_' || text[j] == '$'))
                j++;
        } else if (isdigit((unsigned char)c) || (c == '.' && j < text.size() && isdigit((unsigned char)text[j]))) {
            while (j < text.size() && (isalnum((unsigned char)text[j]) || text[j] == '.' || text[j] == '_' ||
                                       ((text[j] == '+' || text[j] == '-') && strchr("eE", text[j - 1]))))
                j++;
        } else if (c == '"' || c == '\'') {
            while (j < text.size() && text[j] != c && text[j] != '\n')
                j += text[j] == '\\' ? 2 : 1;
            j = std::min(j + 1, text.size());
        } else {
            for (const char *p : puncts)
                if (text.compare(i, strlen(p), p) == 0) {
                    j = i + strlen(p);
                    break;
                }
        }
        out.push_back(text.substr(i, j - i));
        i = j;
    }
    return out;
}

// Standard output of a shell command; status receives its exit status.
std::string command_output(const std::string &cmd, int &status)
{
    std::string out;
    status = -1;
    FILE *p = popen(cmd.c_str(), "r");
    if (!p)
        return out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    status = pclose(p);
    return out;
}

const char *const host_pp = "gcc -E -P -undef -nostdinc -std=c89 -trigraphs";

bool host_has_gcc()
{
    return system("gcc --version >/dev/null 2>&1") == 0;
}

TEST(WrenGcc, TokenStreamsAgreeOnPortableC)
{
    if (!host_has_gcc())
        GTEST_SKIP() << "no host C compiler";
    std::string dir = std::string(WREN_FIXTURES) + "/gcc";
    DIR *d = opendir(dir.c_str());
    ASSERT_NE(d, nullptr);
    std::vector<std::string> names;
    while (dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n.size() > 2 && n.compare(n.size() - 2, 2, ".c") == 0)
            names.push_back(n);
    }
    closedir(d);
    ASSERT_GE(names.size(), 5u);
    for (const std::string &name : names) {
        int ours_status, host_status;
        std::string in_dir = "cd '" + dir + "' && ";
        std::string ours = command_output(in_dir + "'" + wren_program() + "' -Iinc '" + name + "' 2>&1", ours_status);
        std::string host = command_output(
            in_dir + host_pp + " -Iinc '" + name + "' 2>/dev/null", host_status);
        EXPECT_EQ(ours_status, 0) << name;
        ASSERT_EQ(host_status, 0) << name;
        std::vector<std::string> want = c_tokens(host);
        ASSERT_FALSE(want.empty()) << name;
        EXPECT_EQ(c_tokens(wren_tokens(ours)), want) << name;
    }
}

// Macro replacement: an argument is fully expanded by itself before it
// replaces a parameter that is not an operand of # or ##, then rescanned with
// the rest of the replacement; names met while their macro is being replaced
// never expand again; ## joins operands as written, an empty one leaving the
// other. Each source runs through both preprocessors without a message.
struct host_case {
    const char *what;
    const char *source;
};

const char *const cat_macros = "#define CAT_(a, b) a ## b\n#define CAT(a, b) CAT_(a, b)\n";
const char *const str_macros = "#define STR_(x) #x\n#define STR(x) STR_(x)\n";

const host_case host_cases[] = {
    {"an argument's calls are expanded before it is pasted one level down",
     "CAT(reg, CAT(_, 0)) CAT(CAT(a, b), CAT(c, d))\n"},
    {"two-level stringizers show the expanded argument",
     "#define F(x) x+1\n#define G(x) F(x)\n#define ONE 1\n"
     "STR(F(2)) STR(G(2)) STR(CAT(a, b)) STR(CAT(ONE, 2)) STR(G(G(2))) STR(ONE) STR_(ONE)\n"},
    {"the standard's hash_hash example",
     "#define hash_hash # ## #\n#define mkstr(a) # a\n#define in_between(a) mkstr(a)\n"
     "#define join(c, d) in_between(c hash_hash d)\nchar p[] = join(x, y);\n"},
    {"the standard's xstr and str example",
     "#define str(s) # s\n#define xstr(s) str(s)\n#define INCFILE(n) vers ## n\n"
     "xstr(INCFILE(2).h) str(INCFILE(2).h)\n"},
    {"the standard's f, g, h and m example",
     "#define x 3\n#define f(a) f(x * (a))\n#undef x\n#define x 2\n#define g f\n#define z z[0]\n"
     "#define h g(~\n#define m(a) a(w)\n#define w 0,1\n#define t(a) a\n#define p() int\n"
     "#define q(x) x\n#define r(x,y) x ## y\n"
     "f(y+1) + f(f(z)) % t(t(g)(0) + t)(1);\ng(x+(3,4)-w) | h 5) & m\n(f)^m(m);\n"
     "p() i[q()] = { q(1), r(2,3), r(4,), r(,5), r(,) };\n"},
    {"empty operands of ## (placemarkers)",
     "#define t(x,y,z) x ## y ## z\nint j[] = { t(1,2,3), t(,4,5), t(6,,7), t(8,9,),\n"
     "t(10,,), t(,11,), t(,,12), t(,,) };\n"},
    {"a name met inside its own replacement stays painted",
     "#define foo(x) bar x\nfoo(foo) (2)\n#define m !(m)+n\n#define n(n) n(m)\nm(m)\n"
     "#define i(x) x\n#define j i(j)\nj\n#define AA BB\n#define BB AA\n#define ID(x) x\nID(AA) ID(ID(AA))\n"
     "#define f(x) x\nID(f(f)(1)) f(f)(1)\n"},
    {"a call formed only by the rescan of an expanded argument",
     "#define EMPTY\n#define A() 123\n#define DEFER(id) id EMPTY\n#define EXPAND(x) x\n"
     "DEFER(A)() EXPAND(DEFER(A)())\n#define APPLY(f, x) f(x)\n#define SQ(x) ((x) * (x))\nAPPLY(SQ, APPLY(SQ, 2))\n"},
    {"tokens that meet across expansions stay apart",
     "#define ID(x) x\n#define F(x) [x]\n#define G(x) F(x)\nG(ID(a)b) G(ID(1)2) G(a ID(/)*b) G(ID(-)-1)\n"},
    {"the operands of ## are not expanded",
     "#define B 2\n#define P(x) x ## B\n#define Q(x) B ## x\nP(a) Q(a) P() Q()\n"},
    {"## joins punctuators, and # is an ordinary token in an object-like macro",
     "#define OP(a, b) a ## b\nOP(+, =) OP(<<, =) OP(-, >) OP(!, =) OP(<, <)\n#define OBJ # x\nOBJ\n"},
    {"stringized arguments keep the spacing of their source",
     "#define ID(x) x\n#define E x\nSTR(E+E) STR(-E) STR(ID(a)b) STR( ID( a ) ID(b) ) STR(ID(-)-)\n"},
    {"a macro given as an argument is called by the body",
     "#define CALL(f, x) f(x)\n#define TWICE(x) (2 * (x))\n#define ARG 5\nCALL(TWICE, ARG) CALL(CALL, (TWICE, 1))\n"},
};

TEST(WrenGcc, MacroReplacementAgreesWithTheHost)
{
    if (!host_has_gcc())
        GTEST_SKIP() << "no host C compiler";
    for (const host_case &c : host_cases) {
        scratch_dir d;
        d.write("t.c", std::string(cat_macros) + str_macros + c.source);
        wren_result ours = wren_run(d, "t.c");
        int host_status;
        std::string host = command_output("cd '" + d.path + "' && " + host_pp + " t.c 2>/dev/null", host_status);
        ASSERT_EQ(host_status, 0) << c.what;
        EXPECT_EQ(ours.status, 0) << c.what;
        EXPECT_EQ(ours.err, "") << c.what;
        EXPECT_EQ(c_tokens(wren_tokens(ours.out)), c_tokens(host)) << c.what << "\n" << host;
    }
}

} // namespace
