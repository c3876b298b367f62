// The manifest: INI-like text that says what the distribution holds.
//
// After the signature line every line at the top level is a section header
// in square brackets; each section parser reads its lines until the next
// header, which it pushes back. [Run] ends the manifest: the resources are
// extracted, the referral trailer read and the selection resolved there.
// Every name that becomes part of a path is checked while it is read, so a
// bad manifest stops before anything is written.
//
// The line reader: lines end at CR or LF, empty lines vanish, leading and
// trailing white space goes, a line whose first character is ';' is a
// comment, and "%InstDir%" (any case) becomes the value of InstDir when
// that is set.
#include "setup.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>

manifest_t manifest;

// Longest line after the %InstDir% substitution.
static const size_t LINE_LIMIT = 8191;
// Longest [Variables] value after the environment expansion.
static const size_t ENV_LIMIT = 4096;
// A file line without a size.
static const uint32_t DEFAULT_FILE_SIZE = 8192;
// Errmess texts break at the first space after this many characters.
static const size_t WRAP_AT = 60;
// The maker's ordering address, when the manifest sets none.
static const char *const DEFAULT_ORDERING_URL = "https://vormak.example/order";

// The line reader: the next unread character, and the line pushed back.
static const char *reader_at;
static char *reader_pushed;

// ---------------------------------------------------------------------------
// small helpers
// ---------------------------------------------------------------------------
static vector_t *new_list() { return vec_new_default(); }

static char *dup_range(const char *from, const char *to)
{
    size_t n = static_cast<size_t>(to - from);
    char *s = static_cast<char *>(xmalloc(n + 1));
    memcpy(s, from, n);
    return s;
}

// The text after "word=" when line starts with it (any case), else null.
static const char *keyword(const char *line, const char *word)
{
    size_t n = strlen(word);
    if (strncasecmp(line, word, n) != 0 || line[n] != '=')
        return nullptr;
    return line + n + 1;
}

// A decimal size of at most 32 bits; false for anything else.
static bool parse_size(const char *text, uint32_t *out)
{
    if (!*text)
        return false;
    uint64_t v = 0;
    for (const char *p = text; *p; p++) {
        if (*p < '0' || *p > '9')
            return false;
        v = v * 10 + static_cast<unsigned>(*p - '0');
        if (v > 0xFFFFFFFFu)
            return false;
    }
    *out = static_cast<uint32_t>(v);
    return true;
}

static bool name_part_is_bad(const std::string &part)
{
    return part.empty() || part == "." || part == "..";
}

bool path_name_is_safe(const char *name, path_kind kind)
{
    if (!*name)
        return false;
    for (const unsigned char *p = reinterpret_cast<const unsigned char *>(name); *p; p++)
        if (*p < 0x20 || *p == 0x7F)
            return false;
    if (kind == PATH_BASE)
        return !strchr(name, '/') && !strchr(name, '\\') && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
    if (kind == PATH_RELATIVE && (name[0] == '/' || strchr(name, '\\')))
        return false;
    std::string path = name;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of(kind == PATH_LISTED ? "/\\" : "/", start);
        std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (kind == PATH_RELATIVE ? name_part_is_bad(part) : part == "..")
            return false;
        if (end == std::string::npos)
            return true;
        start = end + 1;
    }
}

static void check_name(const char *name, path_kind kind)
{
    if (!path_name_is_safe(name, kind))
        setup_fatal("Unsafe name in manifest: %s", name);
}

// ---------------------------------------------------------------------------
// line reader
// ---------------------------------------------------------------------------
static void reader_start(const char *text)
{
    reader_at = text;
    free(reader_pushed);
    reader_pushed = nullptr;
}

static void reader_push_back(char *line) { reader_pushed = line; }

// Every "%InstDir%" (any case) replaced by InstDir, when that is set.
static std::string reader_substitute(std::string line)
{
    const char *dir = GetVariable("InstDir");
    if (!dir)
        return line;
    static const char token[] = "%InstDir%";
    const size_t n = sizeof token - 1;
    for (size_t at = 0; at + n <= line.size();) {
        if (strncasecmp(line.c_str() + at, token, n) == 0) {
            line.replace(at, n, dir);
            at += strlen(dir);
        } else {
            at++;
        }
    }
    if (line.size() > LINE_LIMIT)
        line.resize(LINE_LIMIT);
    return line;
}

// The next line that is neither empty nor a comment, or null at the end.
static char *reader_next()
{
    if (reader_pushed) {
        char *line = reader_pushed;
        reader_pushed = nullptr;
        return line;
    }
    while (*reader_at) {
        const char *end = reader_at + strcspn(reader_at, "\r\n");
        const char *start = reader_at;
        reader_at = *end ? end + 1 : end;
        while (start < end && isspace(static_cast<unsigned char>(*start)))
            start++;
        while (end > start && isspace(static_cast<unsigned char>(end[-1])))
            end--;
        if (start == end || *start == ';')
            continue;
        return xstrdup(reader_substitute(std::string(start, end)).c_str());
    }
    return nullptr;
}

// The next line of a section, or null at a header (pushed back) or the end.
static char *section_next()
{
    char *line = reader_next();
    if (line && line[0] == '[') {
        reader_push_back(line);
        return nullptr;
    }
    return line;
}

// ---------------------------------------------------------------------------
// [Resources]: NAME=file TAB size
// ---------------------------------------------------------------------------
void ParseResources()
{
    if (!manifest.resources)
        manifest.resources = new_list();
    while (char *line = section_next()) {
        char *eq = strchr(line, '=');
        char *tab = eq ? strchr(eq + 1, '\t') : nullptr;
        uint32_t size;
        if (!eq || eq == line || !tab || tab == eq + 1 || !parse_size(tab + 1, &size))
            setup_fatal("Bad line in [Resources]");
        *eq = 0;
        *tab = 0;
        check_name(eq + 1, PATH_BASE);
        resource_t *r = static_cast<resource_t *>(xmalloc(sizeof(resource_t)));
        r->file = xstrdup(eq + 1);
        const char *tmp = GetVariable("TmpDir");
        r->path = xasprintf("%s/%s", tmp ? tmp : ".", r->file);
        r->variable = xstrdup(line);
        r->size = size;
        SetVariable(r->variable, r->path);
        setup_remember_temp(r->path);
        vec_push(manifest.resources, r);
    }
    // The extracted resources are temporary, not installed files.
    setup_lists_init();
    vec_clear(setup_installed_files);
}

// ---------------------------------------------------------------------------
// [Variables]: name=value
// ---------------------------------------------------------------------------
// %NAME% forms replaced from the environment; unknown ones stay. A result
// longer than the limit leaves the value as written.
static std::string expand_environment(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
        const char *v = end != std::string::npos && end > i + 1 ? getenv(text.substr(i + 1, end - i - 1).c_str())
                                                                 : nullptr;
        if (v) {
            out += v;
            i = end;
        } else {
            out += text[i];
        }
    }
    return out.size() < ENV_LIMIT ? out : text;
}

const char *setup_product_key()
{
    static std::string key;
    const char *edition = GetVariable("Edition");
    char *k = ExpandVariables(edition && *edition ? "SOFTWARE\\[Manufacturer]\\[Product]\\[Edition]\\[Version]"
                                                  : "SOFTWARE\\[Manufacturer]\\[Product]\\[Version]");
    key = k;
    free(k);
    return key.c_str();
}

const char *setup_release_key()
{
    static std::string key;
    const char *level = GetVariable("PatchLevel");
    if (!level || !*level)
        SetVariable("PatchLevel", "PL0");
    key = std::string(setup_product_key()) + "\\" + GetVariable("PatchLevel");
    return key.c_str();
}

// The default installation folder: the release key's InstDir (a reinstall
// goes to the same place), unless a headless run was given a folder; else
// [ProgramFiles]/[Manufacturer]/[Product]/[Edition]/[Version].
static void variables_default_folders()
{
    const char *dir = GetVariable("InstDir");
    bool given = dir && strcasecmp(dir, "default") != 0;
    // An installed copy belongs to the folder it lies in, whatever the
    // release key says now (another install of the same release moves it).
    if (given && !payload_located())
        return;
    if (!(IsVariableTrue("HeadlessInstall") && given)) {
        reg_value_t v = reg_read_string(REG_ROOT_HKLM, setup_release_key(), "InstDir");
        if (v.status == 0 && v.data && *v.data) {
            SetVariable("InstDir", v.data);
            free(v.data);
            return;
        }
        free(v.data);
    }
    if (given)
        return;
    const char *edition = GetVariable("Edition");
    char *def = ExpandVariables(edition && *edition ? "[ProgramFiles]/[Manufacturer]/[Product]/[Edition]/[Version]"
                                                    : "[ProgramFiles]/[Manufacturer]/[Product]/[Version]");
    SetVariable("InstDir", def);
    free(def);
}

void ParseVariables()
{
    if (!manifest.variable_names)
        manifest.variable_names = new_list();
    while (char *line = section_next()) {
        char *eq = strchr(line, '=');
        if (eq == line)
            setup_fatal("Bad line in [Variables]");
        std::string value;
        if (eq) {
            *eq = 0;
            char *next = strchr(eq + 1, '=');
            value.assign(eq + 1, next ? next : eq + 1 + strlen(eq + 1));
        }
        SetVariable(line, expand_environment(value).c_str());
        vec_push(manifest.variable_names, xstrdup(line));
    }
    variables_default_folders();
}

// ---------------------------------------------------------------------------
// [Features]
// ---------------------------------------------------------------------------
static feature_t *feature_new(const char *name)
{
    feature_t *f = static_cast<feature_t *>(xmalloc(sizeof(feature_t)));
    f->name = xstrdup(name);
    f->errmess = xstrdup("");
    f->folders = new_list();
    f->installers = new_list();
    f->required_names = new_list();
    f->prerequisites = new_list();
    return f;
}

// After every run of 60 characters the next space becomes a newline.
static char *wrap_text(const char *text)
{
    char *out = xstrdup(text);
    size_t run = 0;
    for (char *p = out; *p; p++) {
        if (*p == '\n') {
            run = 0;
        } else if (run >= WRAP_AT && *p == ' ') {
            *p = '\n';
            run = 0;
        } else {
            run++;
        }
    }
    return out;
}

// A folder line: '\' becomes '/', trailing separators go.
static char *folder_name(const char *line)
{
    char *name = xstrdup(line);
    for (char *p = name; *p; p++)
        if (*p == '\\')
            *p = '/';
    for (size_t n = strlen(name); n > 0 && name[n - 1] == '/'; n--)
        name[n - 1] = 0;
    return name;
}

// The keywords that need a feature, each with its refusal.
static const struct {
    const char *word;
    const char *missing; // the fatal text when no Feature= came first
} feature_keywords[] = {
    {"Description", "Description with no feature name"},
    {"Errmess", "missing feature name before Errmess"},
    {"Regkey", "missing feature name before Regkey"},
    {"HKCR", "missing feature name before HKCR"},
    {"Minversion", "missing feature name before Minversion"},
    {"Maxversion", "missing feature name before Maxversion"},
    {"Requires", "missing feature name before Requires"},
    {"DriverInf", "missing feature name before DriverInf"},
    {"DriverDevice", "missing feature name before DriverDevice"},
    {"Installer", "missing feature name before Installer"},
    {"Alternate", "missing feature name before Alternate"},
    {"Arguments", "missing feature name before Arguments"},
};

static void features_set(char **field, const char *value)
{
    free(*field);
    *field = xstrdup(value);
}

// Installer=path-or-URL TAB size: the size after the last TAB is the
// feature's download size.
static void features_add_installer(feature_t *f, const char *value)
{
    installer_entry_t *e = static_cast<installer_entry_t *>(xmalloc(sizeof(installer_entry_t)));
    const char *tab = strchr(value, '\t');
    e->source = tab ? dup_range(value, tab) : xstrdup(value);
    e->alternates = new_list();
    e->arguments = xstrdup("");
    const char *last = strrchr(value, '\t');
    uint32_t size;
    if (last && parse_size(last + 1, &size))
        f->download_size = size;
    vec_push(f->installers, e);
}

static void features_keyword(feature_t *f, const char *word, const char *value)
{
    installer_entry_t *last = static_cast<installer_entry_t *>(vec_count(f->installers) ? vec_top(f->installers)
                                                                                         : nullptr);
    if (!strcasecmp(word, "Description"))
        features_set(&f->description, value);
    else if (!strcasecmp(word, "Errmess")) {
        free(f->errmess);
        f->errmess = wrap_text(value);
    } else if (!strcasecmp(word, "Regkey"))
        features_set(&f->regkey, value);
    else if (!strcasecmp(word, "HKCR"))
        features_set(&f->hkcr, value);
    else if (!strcasecmp(word, "Minversion"))
        features_set(&f->minversion, value);
    else if (!strcasecmp(word, "Maxversion"))
        features_set(&f->maxversion, value);
    else if (!strcasecmp(word, "Requires"))
        vec_push(f->required_names, xstrdup(value));
    else if (!strcasecmp(word, "DriverInf")) {
        check_name(value, PATH_BASE);
        features_set(&f->driver_inf, value);
    } else if (!strcasecmp(word, "DriverDevice"))
        features_set(&f->driver_device, value);
    else if (!strcasecmp(word, "Installer"))
        features_add_installer(f, value);
    else if (!last)
        setup_fatal("Bad line in [Features]");
    else if (!strcasecmp(word, "Alternate"))
        vec_push(last->alternates, xstrdup(value));
    else
        features_set(&last->arguments, value);
}

static void features_file(feature_t *f, char *line)
{
    folder_t *folder = static_cast<folder_t *>(f && vec_count(f->folders) ? vec_top(f->folders) : nullptr);
    if (!folder)
        setup_fatal("file in list without preceding folder");
    char *tab = strchr(line, '\t');
    uint32_t size = DEFAULT_FILE_SIZE;
    if (tab) {
        *tab = 0;
        char *number = tab + 1;
        while (*number == ' ' || *number == '\t')
            number++;
        if (!parse_size(number, &size))
            setup_fatal("Bad line in [Features]");
        for (char *end = tab; end > line && (end[-1] == ' ' || end[-1] == '\t'); end--)
            end[-1] = 0;
    }
    check_name(line, PATH_BASE);
    file_entry_t *file = static_cast<file_entry_t *>(xmalloc(sizeof(file_entry_t)));
    file->name = xstrdup(line);
    file->size = size;
    vec_push(folder->files, file);
}

// Descriptions default to names; prerequisite names become the features of
// that name (a name that matches none is dropped).
static void features_finish()
{
    for (uint32_t i = 0; i < vec_count(manifest.features); i++) {
        feature_t *f = static_cast<feature_t *>(vec_get(manifest.features, i));
        if (!f->description)
            f->description = xstrdup(f->name);
        for (uint32_t r = 0; r < vec_count(f->required_names); r++) {
            const char *want = static_cast<const char *>(vec_get(f->required_names, r));
            for (uint32_t j = 0; j < vec_count(manifest.features); j++) {
                feature_t *g = static_cast<feature_t *>(vec_get(manifest.features, j));
                if (strcasecmp(g->name, want) == 0)
                    vec_push(f->prerequisites, g);
            }
        }
        vec_clear(f->required_names);
    }
}

static bool features_line(feature_t **current, char *line)
{
    if (const char *name = keyword(line, "Feature")) {
        *current = feature_new(name);
        vec_push(manifest.features, *current);
        return true;
    }
    for (const auto &k : feature_keywords)
        if (const char *value = keyword(line, k.word)) {
            if (!*current)
                setup_fatal("%s", k.missing);
            features_keyword(*current, k.word, value);
            return true;
        }
    return false;
}

void ParseFeatures()
{
    if (!manifest.features)
        manifest.features = new_list();
    feature_t *current = nullptr;
    while (char *line = section_next()) {
        if (features_line(&current, line))
            continue;
        size_t n = strlen(line);
        if (line[n - 1] == '/' || line[n - 1] == '\\') {
            if (!current)
                setup_fatal("missing feature name before folder");
            folder_t *folder = static_cast<folder_t *>(xmalloc(sizeof(folder_t)));
            folder->name = folder_name(line);
            check_name(folder->name, PATH_RELATIVE);
            folder->files = new_list();
            vec_push(current->folders, folder);
        } else {
            features_file(current, line);
        }
    }
    features_finish();
}

// ---------------------------------------------------------------------------
// [Components]
// ---------------------------------------------------------------------------
static bool component_is_excluded(const char *name)
{
    for (uint32_t i = 0; manifest.excluded && i < vec_count(manifest.excluded); i++)
        if (strcasecmp(static_cast<const char *>(vec_get(manifest.excluded, i)), name) == 0)
            return true;
    return false;
}

void manifest_exclude_component(const char *name)
{
    if (!manifest.excluded)
        manifest.excluded = new_list();
    vec_push(manifest.excluded, xstrdup(name));
}

static const struct {
    const char *word;
    const char *missing;
} component_keywords[] = {
    {"Description", "Description with no component name"},
    {"Alternate", "Alternate with no component name"},
    {"Selected", "Selected with no component name"},
    {"Required", "Required with no component name"},
    {"Java", "Java with no component name"},
};

static void components_keyword(component_t *c, const char *word, const char *value)
{
    if (!strcasecmp(word, "Description")) {
        free(c->description);
        c->description = xstrdup(value);
    } else if (!strcasecmp(word, "Alternate")) {
        vec_push(c->alternates, xstrdup(value));
    } else if (!strcasecmp(word, "Selected")) {
        c->selected = strncasecmp(value, "yes", 3) == 0;
    } else if (!strcasecmp(word, "Required")) {
        if (strcasecmp(value, "yes") == 0)
            c->required = c->selected = true;
    } else {
        c->runtime = strcasecmp(value, "yes") == 0;
    }
}

void ParseComponents()
{
    if (!manifest.components)
        manifest.components = new_list();
    component_t *current = nullptr;
    // After the name of an excluded component, its lines are passed over.
    bool skipping = false;
    while (char *line = section_next()) {
        if (const char *name = keyword(line, "Component")) {
            skipping = component_is_excluded(name);
            current = nullptr;
            if (skipping)
                continue;
            current = static_cast<component_t *>(xmalloc(sizeof(component_t)));
            current->name = xstrdup(name);
            current->selected = true;
            current->features = new_list();
            current->alternates = new_list();
            vec_push(manifest.components, current);
            continue;
        }
        bool done = false;
        for (const auto &k : component_keywords)
            if (const char *value = keyword(line, k.word)) {
                if (!current && !skipping)
                    setup_fatal("%s", k.missing);
                if (current)
                    components_keyword(current, k.word, value);
                done = true;
                break;
            }
        if (done || skipping)
            continue;
        if (!current)
            setup_fatal("feature in un-named component");
        vec_push(current->features, feature_find(line));
    }
}

// ---------------------------------------------------------------------------
// [Shortcuts]: Name=target[>arguments][,ICONVAR]
// ---------------------------------------------------------------------------
static char *token_until(const char *from, const char *stops)
{
    return dup_range(from, from + strcspn(from, stops));
}

void ParseShortcuts()
{
    if (!manifest.shortcuts)
        manifest.shortcuts = new_list();
    while (char *line = section_next()) {
        char *eq = strchr(line, '=');
        if (!eq || eq == line || !eq[1] || eq[1] == '=')
            setup_fatal("Bad line in [Shortcuts]");
        *eq = 0;
        char *rest = token_until(eq + 1, "=");
        check_name(line, PATH_BASE);
        shortcut_t *s = static_cast<shortcut_t *>(xmalloc(sizeof(shortcut_t)));
        s->name = xstrdup(line);
        char *icon_from = nullptr;
        if (char *gt = strchr(rest, '>')) {
            s->target = dup_range(rest, gt);
            s->arguments = token_until(gt + 1, ",>");
            char *sep = gt + 1 + strlen(s->arguments);
            icon_from = *sep ? sep + 1 : nullptr;
        } else {
            s->target = token_until(rest, ",");
            char *sep = rest + strlen(s->target);
            icon_from = *sep ? sep + 1 : nullptr;
        }
        if (icon_from && *icon_from)
            s->icon = token_until(icon_from, ",>");
        vec_push(manifest.shortcuts, s);
    }
}

// ---------------------------------------------------------------------------
// [Registry]: ROOT\key\value=data
// ---------------------------------------------------------------------------
static const struct {
    const char *name;
    int root;
} registry_roots[] = {
    {"HKCR", REG_ROOT_HKCR}, {"HKCC", REG_ROOT_HKCC}, {"HKCU", REG_ROOT_HKCU},
    {"HKLM", REG_ROOT_HKLM}, {"HKPP", REG_ROOT_HKPP},
};

// A DWORD in hexadecimal, with or without 0x.
static bool parse_dword(const char *text, uint32_t *out)
{
    if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        text += 2;
    size_t n = strlen(text);
    if (n == 0 || n > 8)
        return false;
    uint32_t v = 0;
    for (const char *p = text; *p; p++) {
        int d = hex_digit_value(static_cast<unsigned char>(*p));
        if (d < 0)
            return false;
        v = v << 4 | static_cast<uint32_t>(d);
    }
    *out = v;
    return true;
}

// The key runs to the last backslash, the value name from there to the
// first '=': data holding a backslash leaves no '=' after it.
registry_record_t *ParseRegistryLine(const char *line)
{
    const char *slash = strchr(line, '\\');
    registry_record_t *r = static_cast<registry_record_t *>(xmalloc(sizeof(registry_record_t)));
    for (const auto &root : registry_roots)
        if (slash && static_cast<size_t>(slash - line) == strlen(root.name) &&
            strncasecmp(line, root.name, strlen(root.name)) == 0)
            r->root = root.root;
    const char *last = slash ? strrchr(slash + 1, '\\') : nullptr;
    const char *eq = last ? strchr(last + 1, '=') : nullptr;
    if (!r->root || !last || !eq || last == slash + 1)
        setup_fatal("Bad registry entry under [Registry]");
    r->key = dup_range(slash + 1, last);
    r->value = dup_range(last + 1, eq);
    const char *data = eq + 1;
    if (*data == '"') {
        const char *close = strrchr(data, '"');
        if (close == data)
            setup_fatal("Bad string registry entry under [Registry]");
        r->text = dup_range(data + 1, close);
    } else {
        r->is_dword = true;
        if (!parse_dword(data, &r->dword))
            setup_fatal("Bad DWORD registry entry under [Registry]");
    }
    return r;
}

void ParseRegistry()
{
    if (!manifest.registry)
        manifest.registry = new_list();
    while (char *line = section_next())
        vec_push(manifest.registry, ParseRegistryLine(line));
}

// ---------------------------------------------------------------------------
// [Folders] and [Files]: the installed lists of an installation
// ---------------------------------------------------------------------------
static void parse_list(vector_t *list)
{
    while (char *line = section_next()) {
        check_name(line, PATH_LISTED);
        vec_push(list, line);
    }
}

void ParseFolders()
{
    setup_lists_init();
    parse_list(setup_installed_folders);
}

void ParseFiles()
{
    setup_lists_init();
    parse_list(setup_installed_files);
}

// ---------------------------------------------------------------------------
// [Run] and the top level
// ---------------------------------------------------------------------------
// The default ordering address, the resources, the referral, the selection.
static void manifest_run()
{
    if (!GetVariable("OrderingURL") && !IsVariableTrue("HideOrderingURL"))
        SetVariable("OrderingURL", DEFAULT_ORDERING_URL);
    payload_extract_resources();
    payload_apply_referral();
    ResolveSelection();
}

static const struct {
    const char *name;
    void (*parse)();
} sections[] = {
    {"Resources", ParseResources}, {"Variables", ParseVariables},   {"Features", ParseFeatures},
    {"Components", ParseComponents}, {"Shortcuts", ParseShortcuts}, {"Folders", ParseFolders},
    {"Files", ParseFiles},           {"Registry", ParseRegistry},   {"Run", nullptr},
};

void ParseManifest(const char *text)
{
    setup_lists_init();
    if (!manifest.resources)
        manifest.resources = new_list();
    reader_start(text + strcspn(text, "\r\n"));
    for (;;) {
        char *line = reader_next();
        if (!line || line[0] != '[')
            setup_fatal("Invalid manifest format");
        std::string name(line + 1, strcspn(line + 1, "]"));
        bool known = false;
        for (const auto &s : sections) {
            if (strcasecmp(name.c_str(), s.name) != 0)
                continue;
            if (!s.parse) {
                manifest_run();
                return;
            }
            s.parse();
            known = true;
            break;
        }
        if (!known)
            setup_fatal("Unknown line in manifest: %s", name.c_str());
    }
}

void manifest_reset_for_tests()
{
    manifest = manifest_t{};
    setup_lists_init();
    vec_clear(setup_installed_files);
    vec_clear(setup_installed_folders);
    reader_start("");
}
