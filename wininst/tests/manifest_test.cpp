// The manifest reader in the test process: the line reader, the top level,
// every section with its refusals, the names that become paths, and the
// selection with its registry probes and alternates.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <strings.h>
#include <sys/stat.h>

#include "setup.h"
#include "setup_test.h"

// A manifest: any signature line, the sections, [Run].
static std::string with_run(const std::string &sections) { return "SIG\n" + sections + "[Run]\n"; }

static void parse(const std::string &sections) { ParseManifest(with_run(sections).c_str()); }

static feature_t *feature(uint32_t i) { return static_cast<feature_t *>(vec_get(manifest.features, i)); }
static component_t *component(uint32_t i) { return static_cast<component_t *>(vec_get(manifest.components, i)); }

static folder_t *folder(feature_t *f, uint32_t i) { return static_cast<folder_t *>(vec_get(f->folders, i)); }
static file_entry_t *file(folder_t *d, uint32_t i) { return static_cast<file_entry_t *>(vec_get(d->files, i)); }

// CR, LF and CRLF lines; blanks and comments vanish; white space trimmed;
// %InstDir% in any case replaced while InstDir is set.
TEST_F(SetupState, LineReader)
{
    SetVariable("InstDir", "/inst");
    ParseManifest("SIG\r\n\r\n   [Variables]  \r  A=1 \t\n\n ; B=comment\n;C=comment\r\n"
                  "D=%instdir%/x:%INSTDIR%\rE=100%\n[Run]");
    EXPECT_STREQ(GetVariable("A"), "1");
    EXPECT_EQ(GetVariable("B"), nullptr);
    EXPECT_EQ(GetVariable("C"), nullptr);
    EXPECT_STREQ(GetVariable("D"), "/inst/x:/inst");
    EXPECT_STREQ(GetVariable("E"), "100%");
    ASSERT_EQ(vec_count(manifest.variable_names), 3u);
    EXPECT_STREQ(static_cast<char *>(vec_get(manifest.variable_names, 2)), "E");
}

TEST_F(SetupState, TopLevel)
{
    const struct {
        const char *text;
        const char *fatal;
    } rows[] = {
        {"SIG\n[Run]\n", ""},
        {"SIG\n[run]", ""},
        {"SIG\n[Run]\n[Bogus]\nanything", ""},
        {"SIG\n[Variables]\n[Variables]\nA=1\n[Run]", ""},
        {"SIG\n", "Invalid manifest format"},
        {"SIG\n[Variables]\nA=1\n", "Invalid manifest format"},
        {"SIG\nA=1\n[Run]", "Invalid manifest format"},
        {"SIG\n[Bogus]\n[Run]", "Unknown line in manifest: Bogus"},
    };
    for (const auto &r : rows) {
        manifest_reset_for_tests();
        EXPECT_EQ(fatal_text([&] { ParseManifest(r.text); }), r.fatal) << r.text;
    }
}

TEST_F(SetupState, Variables)
{
    setenv("SETUP_TEST_HOME", "/home/t", 1);
    parse("[Variables]\nA=b=c\nEmpty=\nBare\nEnv=%SETUP_TEST_HOME%/x\nUnknown=%SETUP_TEST_NONE%\n");
    EXPECT_STREQ(GetVariable("A"), "b");
    EXPECT_STREQ(GetVariable("Empty"), "");
    EXPECT_STREQ(GetVariable("Bare"), "");
    EXPECT_STREQ(GetVariable("Env"), "/home/t/x");
    EXPECT_STREQ(GetVariable("Unknown"), "%SETUP_TEST_NONE%");
    manifest_reset_for_tests();
    EXPECT_EQ(fatal_text([] { parse("[Variables]\n=x\n"); }), "Bad line in [Variables]");
}

static const char *const product_variables =
    "[Variables]\nManufacturer=Vormak Software\nProduct=ZEPH\nEdition=pro\nVersion=9.60\nPatchLevel=PL5\n";

// The default folder: the release key's InstDir, else one built from the
// product words; a headless run keeps the folder it was given.
TEST_F(SetupState, DefaultInstallationFolder)
{
    SetVariable("ProgramFiles", "/opt");
    parse(product_variables);
    EXPECT_STREQ(GetVariable("InstDir"), "/opt/Vormak Software/ZEPH/pro/9.60");

    vars_reset_for_tests();
    manifest_reset_for_tests();
    ASSERT_EQ(reg_write_string(4, "SOFTWARE\\Vormak Software\\ZEPH\\pro\\9.60\\PL5", "InstDir", "/usr/local/zeph"), 0);
    parse(product_variables);
    EXPECT_STREQ(GetVariable("InstDir"), "/usr/local/zeph");

    vars_reset_for_tests();
    manifest_reset_for_tests();
    SetVariable("InstDir", "/given");
    SetVariableTruth("HeadlessInstall", true);
    parse(product_variables);
    EXPECT_STREQ(GetVariable("InstDir"), "/given");

    vars_reset_for_tests();
    manifest_reset_for_tests();
    SetVariable("ProgramFiles", "/opt");
    parse("[Variables]\nManufacturer=M\nProduct=P\nVersion=1.0\n");
    EXPECT_STREQ(GetVariable("InstDir"), "/opt/M/P/1.0");
    EXPECT_STREQ(setup_release_key(), "SOFTWARE\\M\\P\\1.0\\PL0");
}

// The packed build's variables give the key the tools read their
// installation folder from.
TEST_F(SetupState, PackedBuildGivesTheToolsKey)
{
    std::ifstream in(std::string(ZEPH_SOURCE_DIR) + "/wininst/zeph.manifest");
    std::string line, variables;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line[0] == '[')
            inside = line == "[Variables]";
        if (inside)
            variables += line + "\n";
    }
    parse(variables);
    EXPECT_EQ(strcasecmp(setup_release_key(), RELEASE_KEY), 0) << setup_release_key();
    EXPECT_EQ(strcasecmp(setup_product_key(), PRODUCT_KEY), 0) << setup_product_key();
}

TEST_F(SetupState, Features)
{
    parse("[Features]\n"
          "Feature=Compiler\n"
          "Description=The compiler\n"
          "Errmess=" + std::string(62, 'e') + " next words here and " + std::string(60, 'f') + " end\n"
          "Regkey=Software\\X\n"
          "HKCR=X.Class\n"
          "Minversion=2.1\n"
          "Maxversion=3\n"
          "Requires=DOCS\n"
          "Requires=Nothing\n"
          "DriverInf=usb.inf\n"
          "DriverDevice=USB\\VID_04D8\n"
          "Installer=http://host/a.exe\t1234\n"
          "Alternate=a.exe\n"
          "Arguments=/quiet [InstDir]\n"
          "bin\\\n"
          "zeph\t100\n"
          "wren\n"
          "include/sub//\n"
          "x.h \t 7\n"
          "Feature=Docs\n");
    ASSERT_EQ(vec_count(manifest.features), 2u);
    feature_t *f = feature(0);
    EXPECT_STREQ(f->description, "The compiler");
    EXPECT_EQ(std::string(f->errmess),
              std::string(62, 'e') + "\nnext words here and " + std::string(60, 'f') + "\nend");
    EXPECT_STREQ(f->regkey, "Software\\X");
    EXPECT_STREQ(f->hkcr, "X.Class");
    EXPECT_STREQ(f->minversion, "2.1");
    EXPECT_STREQ(f->maxversion, "3");
    EXPECT_STREQ(f->driver_inf, "usb.inf");
    EXPECT_STREQ(f->driver_device, "USB\\VID_04D8");
    EXPECT_EQ(f->download_size, 1234u);
    ASSERT_EQ(vec_count(f->installers), 1u);
    installer_entry_t *e = static_cast<installer_entry_t *>(vec_get(f->installers, 0));
    EXPECT_STREQ(e->source, "http://host/a.exe");
    EXPECT_STREQ(static_cast<char *>(vec_get(e->alternates, 0)), "a.exe");
    EXPECT_STREQ(e->arguments, "/quiet [InstDir]");
    ASSERT_EQ(vec_count(f->folders), 2u);
    EXPECT_STREQ(folder(f, 0)->name, "bin");
    EXPECT_STREQ(file(folder(f, 0), 0)->name, "zeph");
    EXPECT_EQ(file(folder(f, 0), 0)->size, 100u);
    EXPECT_EQ(file(folder(f, 0), 1)->size, 8192u);
    EXPECT_STREQ(folder(f, 1)->name, "include/sub");
    EXPECT_STREQ(file(folder(f, 1), 0)->name, "x.h");
    EXPECT_EQ(file(folder(f, 1), 0)->size, 7u);
    // prerequisites by name without case; a name matching none is dropped
    ASSERT_EQ(vec_count(f->prerequisites), 1u);
    EXPECT_EQ(vec_get(f->prerequisites, 0), feature(1));
    EXPECT_STREQ(feature(1)->description, "Docs");
}

TEST_F(SetupState, FeatureRefusals)
{
    const struct {
        const char *lines;
        const char *fatal;
    } rows[] = {
        {"Description=x", "Description with no feature name"},
        {"Errmess=x", "missing feature name before Errmess"},
        {"Regkey=x", "missing feature name before Regkey"},
        {"HKCR=x", "missing feature name before HKCR"},
        {"Minversion=1.0", "missing feature name before Minversion"},
        {"Maxversion=1.0", "missing feature name before Maxversion"},
        {"Requires=x", "missing feature name before Requires"},
        {"DriverInf=x.inf", "missing feature name before DriverInf"},
        {"DriverDevice=x", "missing feature name before DriverDevice"},
        {"Installer=x\t1", "missing feature name before Installer"},
        {"bin/", "missing feature name before folder"},
        {"Feature=F\nzeph\t1", "file in list without preceding folder"},
        {"Feature=F\nbin/\nzeph\tbig", "Bad line in [Features]"},
        {"Feature=F\nbin/\nzeph\t4294967296", "Bad line in [Features]"},
        {"Feature=F\nAlternate=x", "Bad line in [Features]"},
    };
    for (const auto &r : rows) {
        manifest_reset_for_tests();
        EXPECT_EQ(fatal_text([&] { parse(std::string("[Features]\n") + r.lines + "\n"); }), r.fatal) << r.lines;
    }
}

// Every name that becomes part of a path is checked as it is read.
TEST_F(SetupState, UnsafeNamesRefused)
{
    SetVariable("TmpDir", dir.c_str());
    const char *const rows[] = {
        "[Features]\nFeature=F\n../x/\n",
        "[Features]\nFeature=F\n../../y\\\n",
        "[Features]\nFeature=F\nbin/../../y/\n",
        "[Features]\nFeature=F\n/etc/\n",
        "[Features]\nFeature=F\n./\n",
        "[Features]\nFeature=F\nbin/\n../../y\t1\n",
        "[Features]\nFeature=F\nbin/\nsub/x\t1\n",
        "[Features]\nFeature=F\nbin/\nsub\\x\t1\n",
        "[Features]\nFeature=F\nbin/\n..\t1\n",
        "[Features]\nFeature=F\nbi\x01n/\n",
        "[Features]\nFeature=F\nbin/\nx\x1by\t1\n",
        "[Features]\nFeature=F\nDriverInf=../x.inf\n",
        "[Resources]\nICON=../z\t3\n",
        "[Resources]\nICON=/etc/z\t3\n",
        "[Shortcuts]\n../s=bin/zeph\n",
        "[Files]\n/inst/../etc/passwd\n",
        "[Folders]\n/inst/..\n",
    };
    for (const char *r : rows) {
        manifest_reset_for_tests();
        EXPECT_EQ(fatal_text([&] { parse(r); }).rfind("Unsafe name in manifest: ", 0), 0u) << r;
    }
    for (const auto &[name, kind] : {std::pair{"a.b", PATH_BASE}, {"..a", PATH_BASE}, {"a/b.c/d", PATH_RELATIVE},
                                     {"/inst/x..y/z", PATH_LISTED}})
        EXPECT_TRUE(path_name_is_safe(name, kind)) << name;
}

TEST_F(SetupState, Components)
{
    manifest_exclude_component("tarnel");
    parse("[Features]\nFeature=A\nFeature=B\n"
          "[Components]\n"
          "Component=First\nDescription=The first\nSelected=no\nAlternate=Second\nAlternate=Third\nA\nb\n"
          "Component=Tarnel\nDescription=excluded\nSelected=no\nNoSuchFeature\n"
          "Component=Second\nSelected=YES please\nRequired=Yes\nJava=yes\nB\n"
          "Component=Third\nRequired=no\n");
    ASSERT_EQ(vec_count(manifest.components), 3u);
    component_t *c = component(0);
    EXPECT_STREQ(c->name, "First");
    EXPECT_STREQ(c->description, "The first");
    EXPECT_FALSE(c->selected);
    EXPECT_FALSE(c->required);
    ASSERT_EQ(vec_count(c->features), 2u);
    EXPECT_EQ(vec_get(c->features, 1), feature(1));
    EXPECT_EQ(vec_count(c->alternates), 2u);
    EXPECT_STREQ(component(1)->name, "Second");
    EXPECT_TRUE(component(1)->selected);
    EXPECT_TRUE(component(1)->required);
    EXPECT_TRUE(component(1)->runtime);
    EXPECT_TRUE(component(2)->selected);
    EXPECT_FALSE(component(2)->required);
    EXPECT_EQ(component_find("SECOND"), component(1));
    EXPECT_EQ(fatal_text([] { component_find("Tarnel"); }), "Component Tarnel not in manifest");
    EXPECT_EQ(fatal_text([] { feature_find("C"); }), "Feature C not in manifest");
}

TEST_F(SetupState, ComponentRefusals)
{
    const struct {
        const char *text;
        const char *fatal;
    } rows[] = {
        {"[Components]\nDescription=x\n", "Description with no component name"},
        {"[Components]\nAlternate=x\n", "Alternate with no component name"},
        {"[Components]\nSelected=yes\n", "Selected with no component name"},
        {"[Components]\nRequired=yes\n", "Required with no component name"},
        {"[Components]\nJava=yes\n", "Java with no component name"},
        {"[Features]\nFeature=A\n[Components]\nA\n", "feature in un-named component"},
        {"[Components]\nComponent=C\nA\n", "No feature list in manifest"},
        {"[Features]\nFeature=A\n[Components]\nComponent=C\nB\n", "Feature B not in manifest"},
        {"[Variables]\n", ""},
    };
    for (const auto &r : rows) {
        manifest_reset_for_tests();
        EXPECT_EQ(fatal_text([&] { parse(r.text); }), r.fatal) << r.text;
    }
    EXPECT_EQ(fatal_text([] { component_find("C"); }), "No component_list in manifest");
}

TEST_F(SetupState, Shortcuts)
{
    const struct {
        const char *line;
        const char *name, *target, *arguments, *icon;
    } rows[] = {
        {"Help=doc/help.html", "Help", "doc/help.html", nullptr, nullptr},
        {"Remove=resources/setup>--remove,ICONUN", "Remove", "resources/setup", "--remove", "ICONUN"},
        {"Zeph=bin/zeph,ICON", "Zeph", "bin/zeph", nullptr, "ICON"},
        {"A=t>x>ICO", "A", "t", "x", "ICO"},
        {"A=t=u", "A", "t", nullptr, nullptr},
    };
    for (const auto &r : rows) {
        manifest_reset_for_tests();
        parse(std::string("[Shortcuts]\n") + r.line + "\n");
        ASSERT_EQ(vec_count(manifest.shortcuts), 1u) << r.line;
        shortcut_t *s = static_cast<shortcut_t *>(vec_get(manifest.shortcuts, 0));
        EXPECT_STREQ(s->name, r.name) << r.line;
        EXPECT_STREQ(s->target, r.target) << r.line;
        EXPECT_STREQ(s->arguments, r.arguments) << r.line;
        EXPECT_STREQ(s->icon, r.icon) << r.line;
    }
    for (const char *bad : {"Help", "=x", "Help=", "Help==x"}) {
        manifest_reset_for_tests();
        EXPECT_EQ(fatal_text([&] { parse(std::string("[Shortcuts]\n") + bad + "\n"); }), "Bad line in [Shortcuts]")
            << bad;
    }
}

TEST_F(SetupState, Registry)
{
    const struct {
        const char *line;
        int root;
        const char *key, *value, *text;
        uint32_t dword;
    } rows[] = {
        {"HKLM\\Software\\Vormak\\Name=\"some text\"", 4, "Software\\Vormak", "Name", "some text", 0},
        {"hkcu\\K\\V=1F", 3, "K", "V", nullptr, 0x1F},
        {"HKCR\\K\\V=0x10", 1, "K", "V", nullptr, 0x10},
        {"HKCC\\K\\=ffffffff", 2, "K", "", nullptr, 0xFFFFFFFF},
        {"HKPP\\K\\V=\"a\"b\"", 5, "K", "V", "a\"b", 0},
    };
    for (const auto &r : rows) {
        registry_record_t *rec = ParseRegistryLine(r.line);
        EXPECT_EQ(rec->root, r.root) << r.line;
        EXPECT_STREQ(rec->key, r.key) << r.line;
        EXPECT_STREQ(rec->value, r.value) << r.line;
        EXPECT_EQ(rec->is_dword, r.text == nullptr) << r.line;
        if (r.text)
            EXPECT_STREQ(rec->text, r.text) << r.line;
        else
            EXPECT_EQ(rec->dword, r.dword) << r.line;
    }
    const struct {
        const char *line;
        const char *fatal;
    } bad[] = {
        {"HKLM\\K\\V=\"a\\b\"", "Bad registry entry under [Registry]"},
        {"HKXX\\K\\V=1", "Bad registry entry under [Registry]"},
        {"HKLM\\V=1", "Bad registry entry under [Registry]"},
        {"HKLM\\K\\V", "Bad registry entry under [Registry]"},
        {"HKLM\\K\\V=\"abc", "Bad string registry entry under [Registry]"},
        {"HKLM\\K\\V=xyz", "Bad DWORD registry entry under [Registry]"},
        {"HKLM\\K\\V=123456789", "Bad DWORD registry entry under [Registry]"},
    };
    for (const auto &r : bad)
        EXPECT_EQ(fatal_text([&] { ParseRegistryLine(r.line); }), r.fatal) << r.line;
    parse("[Registry]\nHKLM\\K\\A=1\nHKLM\\K\\B=\"b\"\n");
    EXPECT_EQ(vec_count(manifest.registry), 2u);
}

TEST_F(SetupState, InstalledListsAndRun)
{
    SetVariable("InstDir", "/inst");
    parse("[Files]\n%InstDir%/bin/zeph\n%INSTDIR%/resources/manifest\n[Folders]\n%InstDir%/bin\n");
    ASSERT_EQ(vec_count(setup_installed_files), 2u);
    EXPECT_STREQ(static_cast<char *>(vec_get(setup_installed_files, 1)), "/inst/resources/manifest");
    EXPECT_STREQ(static_cast<char *>(vec_get(setup_installed_folders, 0)), "/inst/bin");
    EXPECT_NE(GetVariable("OrderingURL"), nullptr);

    vars_reset_for_tests();
    manifest_reset_for_tests();
    parse("[Variables]\nHideOrderingURL=yes\n");
    EXPECT_EQ(GetVariable("OrderingURL"), nullptr);
    vars_reset_for_tests();
    manifest_reset_for_tests();
    parse("[Variables]\nOrderingURL=http://shop\n");
    EXPECT_STREQ(GetVariable("OrderingURL"), "http://shop");
}

// Installed states from the registry probes, installability from folders
// and installer sources, then the components, and a required component
// that cannot be installed handing its place to its first installable
// alternate.
TEST_F(SetupState, ResolveSelection)
{
    std::string here = dir + "/installed";
    mkdir(here.c_str(), 0700);
    const char *const hklm = "Software\\Probe";
    reg_write_string(4, (std::string(hklm) + "\\New").c_str(), "InstallLocation", (here + "/").c_str());
    reg_write_dword(4, (std::string(hklm) + "\\New").c_str(), "Version", 0x02030000); // 2.3
    reg_write_string(4, (std::string(hklm) + "\\Old").c_str(), "InstallLocation", here.c_str());
    reg_write_string(4, (std::string(hklm) + "\\Old").c_str(), "UninstallString", "remove-old");
    reg_write_dword(4, (std::string(hklm) + "\\Old").c_str(), "Version", 0x02000000); // 2.0
    reg_write_string(4, (std::string(hklm) + "\\Gone").c_str(), "InstallLocation", (dir + "/gone").c_str());
    reg_write_string(1, "Probe.Class", "", "handler");
    reg_write_string(1, "Empty.Class", "", "");
    SetVariable("LOCALSETUP", "/somewhere/setup");
    parse("[Features]\n"
          "Feature=New\nRegkey=Software\\Probe\\New\nMinversion=2.1\n"
          "Feature=Old\nRegkey=Software\\Probe\\Old\nMinversion=2.1\n"
          "Feature=Gone\nRegkey=Software\\Probe\\Gone\n"
          "Feature=Class\nHKCR=Probe.Class\n"
          "Feature=EmptyClass\nHKCR=Empty.Class\n"
          "Feature=Web\nInstaller=HTTP://host/x.exe\t10\n"
          "Feature=Missing\nInstaller=/no/such/installer\t10\n"
          "Feature=ByVariable\nInstaller=/no/such/installer\t10\nAlternate=/no/other\nAlternate=LOCALSETUP\n"
          "Feature=Nothing\n"
          "Feature=Files\nbin/\nzeph\t1\n"
          "[Components]\n"
          "Component=Installed\nNew\nClass\n"
          "Component=Optional\nNothing\n"
          "Component=Core\nRequired=yes\nAlternate=Unknown\nAlternate=Optional\nAlternate=Backup\nMissing\n"
          "Component=Backup\nSelected=no\nWeb\nByVariable\nFiles\n");
    const struct {
        const char *name;
        bool present, installable, outdated;
    } features[] = {
        {"New", true, true, false},       {"Old", false, false, true},        {"Gone", false, false, false},
        {"Class", true, true, false},     {"EmptyClass", false, false, false}, {"Web", false, true, false},
        {"Missing", false, false, false}, {"ByVariable", false, true, false},  {"Nothing", false, false, false},
        {"Files", false, true, false},
    };
    for (const auto &r : features) {
        feature_t *f = feature_find(r.name);
        EXPECT_EQ(f->present, r.present) << r.name;
        EXPECT_EQ(f->installable, r.installable) << r.name;
        EXPECT_EQ(f->outdated, r.outdated) << r.name;
    }
    EXPECT_STREQ(feature_find("Old")->uninstall, "remove-old");
    const struct {
        const char *name;
        bool selected, required, installable, present;
    } components[] = {
        {"Installed", true, false, true, true},
        {"Optional", false, false, false, false},
        {"Core", false, false, false, false},
        {"Backup", true, true, true, false},
    };
    for (const auto &r : components) {
        component_t *c = component_find(r.name);
        EXPECT_EQ(c->selected, r.selected) << r.name;
        EXPECT_EQ(c->required, r.required) << r.name;
        EXPECT_EQ(c->installable, r.installable) << r.name;
        EXPECT_EQ(c->present, r.present) << r.name;
    }
    select_features_from_components();
    EXPECT_TRUE(feature_find("Files")->selected);
    EXPECT_FALSE(feature_find("Missing")->selected);
}

// The installed manifest names the folder as "%InstDir%" only where the
// folder is a leading whole-path prefix: a folder whose name merely starts
// the same, or that appears later in the text, stays as written.
TEST_F(SetupState, InstDirReplacedOnlyAsLeadingPathPrefix)
{
    SetVariable("InstDir", "/a/p");
    const struct {
        const char *path, *expect;
    } rows[] = {
        {"/a/p", "%InstDir%"},          {"/a/p/bin/x", "%InstDir%/bin/x"}, {"/a/pq/x", "/a/pq/x"},
        {"/b/a/p/x", "/b/a/p/x"},       {"/A/p/x", "/A/p/x"},             {"", ""},
    };
    for (const auto &r : rows)
        EXPECT_EQ(engine_relative_to_instdir(r.path), r.expect) << r.path;
}
