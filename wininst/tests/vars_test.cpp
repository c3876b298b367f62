// Installer variables: names without case, truth values, FullVersion and
// the expansion of bracketed names with its limits.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#include "setup.h"
#include "setup_test.h"

#include <unistd.h>

TEST_F(SetupState, NamesIgnoreCaseAndSettingReplaces)
{
    SetVariable("InstDir", "/a");
    SetVariable("INSTDIR", "/b");
    EXPECT_STREQ(GetVariable("instdir"), "/b");
    EXPECT_EQ(GetVariable("Unset"), nullptr);
    EXPECT_EQ(fatal_text([] { SetVariable("Icon", nullptr); }), "Bad call to SetVariable: Icon");
}

TEST_F(SetupState, TruthValues)
{
    const struct {
        const char *value;
        bool truth;
    } rows[] = {{"yes", true}, {"YES", true}, {"True", true}, {"true", true},
                {"no", false}, {"1", false}, {"", false}, {"yes ", false}};
    for (const auto &r : rows) {
        SetVariable("Flag", r.value);
        EXPECT_EQ(IsVariableTrue("flag"), r.truth) << r.value;
    }
    EXPECT_FALSE(IsVariableTrue("Never"));
    SetVariableTruth("Flag", true);
    EXPECT_STREQ(GetVariable("Flag"), "yes");
    SetVariableTruth("Flag", false);
    EXPECT_STREQ(GetVariable("Flag"), "no");
    EXPECT_TRUE(VariableEquals("FLAG", "NO"));
}

// FullVersion follows whichever of Version and PatchLevel is set last.
TEST_F(SetupState, FullVersion)
{
    SetVariable("Version", "9.60");
    EXPECT_STREQ(GetVariable("FullVersion"), "9.60");
    const struct {
        const char *level;
        const char *full;
    } rows[] = {{"PL0", "9.60"}, {"pl0", "9.60"}, {"PL5", "9.60PL5"}, {"", "9.60"}};
    for (const auto &r : rows) {
        SetVariable("PatchLevel", r.level);
        EXPECT_STREQ(GetVariable("FullVersion"), r.full) << r.level;
    }
    SetVariable("PatchLevel", "PL2");
    SetVariable("version", "9.70");
    EXPECT_STREQ(GetVariable("FullVersion"), "9.70PL2");
}

TEST_F(SetupState, Expansion)
{
    SetVariable("ProgramFiles", "/opt");
    SetVariable("Manufacturer", "Vormak Software");
    SetVariable("Long", std::string(8000, 'x').c_str());
    std::string name254(254, 'n'), name255(255, 'n');
    SetVariable(name254.c_str(), "254");
    SetVariable(name255.c_str(), "255");
    const struct {
        std::string text;
        std::string expanded;
    } rows[] = {
        {"[ProgramFiles]/[Manufacturer]", "/opt/Vormak Software"},
        {"[programfiles]", "/opt"},
        {"x[Unset]y", "xy"},
        {"a[b", "a"},
        {"a[b]c[d", "ac"},
        {"]plain[", "]plain"},
        {"[" + name254 + "]", "254"},
        {"[" + name255 + "]", ""},
        // the second value would pass 8191 characters: it is left out
        {"[Long]-[Long]", std::string(8000, 'x') + "-"},
        // literal text stops at 8191 characters
        {std::string(9000, 'z'), std::string(8191, 'z')},
    };
    for (const auto &r : rows) {
        char *out = ExpandVariables(r.text.c_str());
        EXPECT_EQ(out, r.expanded) << r.text.substr(0, 40);
        free(out);
    }
}

// ProgramFiles: the environment's when set and not empty, else /opt for
// the superuser and ~/.local/opt for anyone else.
TEST_F(SetupState, ProgramFilesBuiltIn)
{
    const char *old = getenv("ProgramFiles");
    std::string saved = old ? old : "";
    std::string home = getenv("HOME") ? getenv("HOME") : "";
    setenv("ProgramFiles", "/srv/programs", 1);
    vars_reset_for_tests();
    EXPECT_STREQ(GetVariable("ProgramFiles"), "/srv/programs");
    setenv("ProgramFiles", "", 1);
    setenv("HOME", dir.c_str(), 1);
    vars_reset_for_tests();
    EXPECT_EQ(std::string(GetVariable("ProgramFiles")), geteuid() == 0 ? "/opt" : dir + "/.local/opt");
    setenv("HOME", home.c_str(), 1);
    if (old)
        setenv("ProgramFiles", saved.c_str(), 1);
    else
        unsetenv("ProgramFiles");
}
