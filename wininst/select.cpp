// Lookups by name and the selection resolved when the manifest reaches
// [Run]: which features are already installed (their registry probes),
// which can be installed, and from them the state of each component, with
// a required component that cannot be installed handing its place to the
// first installable alternate.
#include "setup.h"

#include <cstdlib>
#include <cstring>
#include <strings.h>
#include <unistd.h>

feature_t *feature_find(const char *name)
{
    if (!manifest.features)
        setup_fatal("No feature list in manifest");
    for (uint32_t i = 0; i < vec_count(manifest.features); i++) {
        feature_t *f = static_cast<feature_t *>(vec_get(manifest.features, i));
        if (strcasecmp(f->name, name) == 0)
            return f;
    }
    setup_fatal("Feature %s not in manifest", name);
}

component_t *component_find(const char *name)
{
    if (!manifest.components)
        setup_fatal("No component_list in manifest");
    for (uint32_t i = 0; i < vec_count(manifest.components); i++) {
        component_t *c = static_cast<component_t *>(vec_get(manifest.components, i));
        if (strcasecmp(c->name, name) == 0)
            return c;
    }
    setup_fatal("Component %s not in manifest", name);
}

static component_t *component_at(uint32_t i) { return static_cast<component_t *>(vec_get(manifest.components, i)); }
static feature_t *feature_at(vector_t *list, uint32_t i) { return static_cast<feature_t *>(vec_get(list, i)); }

// "major.minor" as major * 256 + minor.
static uint32_t version_number(const char *text)
{
    char *end;
    unsigned long major = strtoul(text, &end, 10);
    unsigned long minor = *end == '.' ? strtoul(end + 1, nullptr, 10) : 0;
    return static_cast<uint32_t>(((major & 0xFFFF) << 8) + (minor & 0xFF));
}

// Regkey: InstallLocation under HKLM names an existing folder; the DWORD
// Version's upper 16 bits are the installed version.
static void select_probe_regkey(feature_t *f)
{
    reg_value_t loc = reg_read_string(REG_ROOT_HKLM, f->regkey, "InstallLocation");
    if (loc.status != 0 || !loc.data) {
        free(loc.data);
        return;
    }
    size_t n = strlen(loc.data);
    while (n > 1 && (loc.data[n - 1] == '/' || loc.data[n - 1] == '\\'))
        loc.data[--n] = 0;
    bool exists = os_is_directory(loc.data);
    free(loc.data);
    if (!exists)
        return;
    reg_value_t un = reg_read_string(REG_ROOT_HKLM, f->regkey, "UninstallString");
    if (un.status == 0)
        f->uninstall = un.data;
    else
        free(un.data);
    if (!f->minversion) {
        f->present = true;
        return;
    }
    uint32_t version = 0;
    reg_read_dword(REG_ROOT_HKLM, f->regkey, "Version", &version);
    if ((version >> 16) >= version_number(f->minversion))
        f->present = true;
    else if (f->uninstall)
        f->outdated = true;
}

void select_probe_feature(feature_t *f)
{
    if (f->present)
        return;
    if (f->regkey)
        select_probe_regkey(f);
    if (f->hkcr && !f->present) {
        reg_value_t v = reg_read_string(REG_ROOT_HKCR, f->hkcr, "");
        f->present = v.status == 0 && v.data && *v.data;
        free(v.data);
    }
}

// A source is available when it is a web address, names a set variable or
// names an existing file.
static bool source_is_available(const char *text)
{
    return strncasecmp(text, "http://", 7) == 0 || strncasecmp(text, "ftp://", 6) == 0 || GetVariable(text) ||
           access(text, F_OK) == 0;
}

static bool installer_has_source(const installer_entry_t *e)
{
    if (source_is_available(e->source))
        return true;
    for (uint32_t i = 0; i < vec_count(e->alternates); i++)
        if (source_is_available(static_cast<const char *>(vec_get(e->alternates, i))))
            return true;
    return false;
}

// Installable unless absent with no folders: then only when it has
// installers and each of them has a source.
static bool feature_installable(const feature_t *f)
{
    if (f->present || vec_count(f->folders))
        return true;
    if (!vec_count(f->installers))
        return false;
    for (uint32_t i = 0; i < vec_count(f->installers); i++)
        if (!installer_has_source(static_cast<const installer_entry_t *>(vec_get(f->installers, i))))
            return false;
    return true;
}

// Step 2: present and installable when all features are; a feature that
// cannot be installed deselects a component that is not required.
static void select_component_state(component_t *c)
{
    c->present = c->installable = true;
    for (uint32_t j = 0; j < vec_count(c->features); j++) {
        feature_t *f = feature_at(c->features, j);
        c->present &= f->present;
        c->installable &= f->installable;
    }
    if (!c->installable && !c->required)
        c->selected = false;
}

// Step 3: the first installable alternate takes a required component's place.
static void select_alternate(component_t *c)
{
    for (uint32_t a = 0; a < vec_count(c->alternates); a++) {
        const char *name = static_cast<const char *>(vec_get(c->alternates, a));
        for (uint32_t i = 0; i < vec_count(manifest.components); i++) {
            component_t *alt = component_at(i);
            if (strcasecmp(alt->name, name) != 0 || !alt->installable)
                continue;
            alt->required = alt->selected = true;
            c->required = c->selected = false;
            return;
        }
    }
}

void ResolveSelection()
{
    if (!manifest.features)
        return;
    for (uint32_t i = 0; i < vec_count(manifest.features); i++) {
        feature_t *f = feature_at(manifest.features, i);
        select_probe_feature(f);
        f->installable = feature_installable(f);
    }
    for (uint32_t i = 0; manifest.components && i < vec_count(manifest.components); i++)
        select_component_state(component_at(i));
    for (uint32_t i = 0; manifest.components && i < vec_count(manifest.components); i++) {
        component_t *c = component_at(i);
        if (c->required && !c->installable && vec_count(c->alternates))
            select_alternate(c);
    }
}

void select_features_from_components()
{
    for (uint32_t i = 0; manifest.features && i < vec_count(manifest.features); i++)
        feature_at(manifest.features, i)->selected = false;
    for (uint32_t i = 0; manifest.components && i < vec_count(manifest.components); i++) {
        component_t *c = component_at(i);
        if (!c->selected)
            continue;
        for (uint32_t j = 0; j < vec_count(c->features); j++)
            feature_at(c->features, j)->selected = true;
    }
}
