// Start-up: the program's own folder made current, the switches read, the
// payload located and the manifest parsed.
//
// Switches (compared without case; other arguments are ignored):
//   "--I agree to the terms of the licence"   LicenceAgreed
//   --dir=<folder>                InstDir ("default": the default folder)
//   --subinstall                  SubInstall
//   --remove, --remove-silently   Remove (and HeadlessInstall)
//   --no-<name>                   the component <name> is left out
//   --setTrue-<name>              variable <name> true
//   --setVariable-<name>=<value>  variable <name> set
// A folder given with the agreement makes the run headless, and an install
// unless it removes.
#include "setup.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

// The text after prefix when arg starts with it (any case), else null.
static const char *switch_value(const char *arg, const char *prefix)
{
    size_t n = strlen(prefix);
    return strncasecmp(arg, prefix, n) == 0 ? arg + n : nullptr;
}

static void switch_read(const char *arg)
{
    const char *v;
    if (strcasecmp(arg, "--I agree to the terms of the licence") == 0)
        SetVariableTruth("LicenceAgreed", true);
    else if ((v = switch_value(arg, "--dir=")))
        SetVariable("InstDir", v);
    else if (strcasecmp(arg, "--subinstall") == 0)
        SetVariableTruth("SubInstall", true);
    else if (strcasecmp(arg, "--remove") == 0)
        SetVariableTruth("Remove", true);
    else if (strcasecmp(arg, "--remove-silently") == 0) {
        SetVariableTruth("Remove", true);
        SetVariableTruth("HeadlessInstall", true);
    } else if ((v = switch_value(arg, "--no-")))
        manifest_exclude_component(v);
    else if ((v = switch_value(arg, "--setTrue-"))) {
        if (*v)
            SetVariableTruth(v, true);
    } else if ((v = switch_value(arg, "--setVariable-"))) {
        const char *eq = strchr(v, '=');
        if (eq && eq > v) {
            char *name = xstrdup(v);
            name[eq - v] = 0;
            SetVariable(name, eq + 1);
            free(name);
        }
    }
}

void setup_read_switches(int argc, char **argv)
{
    for (int i = 1; i < argc; i++)
        switch_read(argv[i]);
    if (GetVariable("InstDir") && IsVariableTrue("LicenceAgreed")) {
        SetVariableTruth("HeadlessInstall", true);
        if (!IsVariableTrue("Remove"))
            SetVariableTruth("Install", true);
    }
}

// A relative --dir names a folder below the folder the program was started
// in, not below the program's own folder (which becomes current): made
// absolute, with "." and ".." parts resolved, before the change.
static void startup_absolute_instdir()
{
    const char *dir = GetVariable("InstDir");
    if (!dir || strcasecmp(dir, "default") == 0)
        return;
    if (!*dir)
        setup_fatal("Bad installation folder: the folder name is empty");
    char *abs = os_path_absolute(dir);
    size_t n = strlen(abs);
    while (n > 1 && abs[n - 1] == '/')
        abs[--n] = 0;
    SetVariable("InstDir", abs);
    free(abs);
}

void setup_start(int argc, char **argv)
{
    setup_lists_init();
    setup_read_switches(argc, argv);
    startup_absolute_instdir();
    char *own = os_program_path();
    char *folder = os_path_dirname(own);
    if (folder && *folder && chdir(folder) != 0)
        setup_fatal("Can't open file: %s\n%s", folder, strerror(errno));
    free(own);
    free(folder);
    LocatePayload();
    // Installing needs a payload, whatever the switches said.
    if (!payload_located() && GetVariable("Install"))
        SetVariableTruth("Install", false);
}
