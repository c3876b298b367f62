// The host's C preprocessor as an independent reference: for portable C89
// input the token stream of wren (white space, markers and empty lines set
// aside) equals that of "gcc -E -P -undef -nostdinc -std=c89 -trigraphs".
// The corpus is in fixtures/gcc; it avoids what wren deliberately does its
// own way (#if arithmetic beyond standard C, #asm, identifiers longer than
// 31 characters, __DATE__ and __TIME__).
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

TEST(WrenGcc, TokenStreamsAgreeOnPortableC)
{
    if (system("gcc --version >/dev/null 2>&1") != 0)
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
            in_dir + "gcc -E -P -undef -nostdinc -std=c89 -trigraphs -Iinc '" + name + "' 2>/dev/null", host_status);
        EXPECT_EQ(ours_status, 0) << name;
        ASSERT_EQ(host_status, 0) << name;
        std::vector<std::string> want = c_tokens(host);
        ASSERT_FALSE(want.empty()) << name;
        EXPECT_EQ(c_tokens(wren_tokens(ours)), want) << name;
    }
}

} // namespace
