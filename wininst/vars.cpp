// Installer variables: named texts in a hash table of 40 buckets, names
// without case (the hash sums the characters with letters in upper case).
// A name in square brackets in a text expands to the variable's value; a
// variable is true when its value is "yes" or "true" in any case.
// FullVersion follows Version and PatchLevel.
#include "setup.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <unistd.h>

// Longest expansion result, and longest name inside brackets.
static const size_t EXPAND_LIMIT = 8191;
static const size_t NAME_LIMIT = 254;

// The store; null until first use.
static hash_t *vars;

static uint32_t vars_hash(const void *key)
{
    uint32_t sum = 0;
    for (const unsigned char *p = static_cast<const unsigned char *>(key); *p; p++)
        sum += static_cast<uint32_t>(toupper(*p));
    return sum;
}

static int vars_compare(const void *given, const void *stored)
{
    return strcasecmp(static_cast<const char *>(given), static_cast<const char *>(stored));
}

// ProgramFiles: the environment's when set and not empty; else /opt for
// the superuser and ~/.local/opt for anyone else, who cannot write /opt.
static void vars_create()
{
    vars = hash_new(40, vars_hash, vars_compare);
    const char *pf = getenv("ProgramFiles");
    const char *home = getenv("HOME");
    if (pf && *pf)
        SetVariable("ProgramFiles", pf);
    else if (geteuid() == 0 || !home || !*home)
        SetVariable("ProgramFiles", "/opt");
    else
        SetVariable("ProgramFiles", (std::string(home) + "/.local/opt").c_str());
}

static void vars_store(const char *name, const char *value)
{
    if (!vars)
        vars_create();
    if (hash_lookup(vars, name))
        hash_remove(vars, name);
    hash_insert(vars, xstrdup(name), xstrdup(value));
}

// FullVersion: Version alone when PatchLevel is unset or PL0, else Version
// immediately followed by PatchLevel.
static void vars_update_full_version()
{
    const char *level = GetVariable("PatchLevel");
    if (!level || strcasecmp(level, "PL0") == 0) {
        const char *version = GetVariable("Version");
        vars_store("FullVersion", version ? version : "");
        return;
    }
    char *full = ExpandVariables("[Version][PatchLevel]");
    vars_store("FullVersion", full);
    free(full);
}

const char *SetVariable(const char *name, const char *value)
{
    if (!value)
        setup_fatal("Bad call to SetVariable: %s", name);
    vars_store(name, value);
    if (strcasecmp(name, "Version") == 0 || strcasecmp(name, "PatchLevel") == 0)
        vars_update_full_version();
    return GetVariable(name);
}

const char *GetVariable(const char *name)
{
    if (!vars)
        vars_create();
    return static_cast<const char *>(hash_lookup(vars, name));
}

// Each "[" starts a name that runs to the next "]": replaced by the value,
// or by nothing when the name is unset or too long, or its value would not
// fit. A "[" without its "]" ends the result.
char *ExpandVariables(const char *text)
{
    std::string out;
    for (const char *p = text; *p;) {
        if (*p != '[') {
            if (out.size() < EXPAND_LIMIT)
                out += *p;
            p++;
            continue;
        }
        const char *close = strchr(p + 1, ']');
        if (!close)
            break;
        std::string name(p + 1, close);
        const char *value = name.size() <= NAME_LIMIT ? GetVariable(name.c_str()) : nullptr;
        if (value && out.size() + strlen(value) <= EXPAND_LIMIT)
            out += value;
        p = close + 1;
    }
    return xstrdup(out.c_str());
}

bool IsVariableTrue(const char *name)
{
    const char *v = GetVariable(name);
    return v && (strcasecmp(v, "yes") == 0 || strcasecmp(v, "true") == 0);
}

void SetVariableTruth(const char *name, bool flag) { SetVariable(name, flag ? "yes" : "no"); }

bool VariableEquals(const char *name, const char *text)
{
    const char *v = GetVariable(name);
    return v && strcasecmp(v, text) == 0;
}

void vars_reset_for_tests()
{
    if (vars)
        hash_clear(vars);
    vars = nullptr;
}
