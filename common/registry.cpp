// Installation directory, registry, PATH update and version banner.
//
// The registry is a small file-backed store: a text file named by the
// environment variable VRK_REGISTRY (else ~/.config/zeph/registry), one line
// per key or value: root number, key path, and for a value its name, type
// and data in hexadecimal. Key and value names compare without regard to
// case, as the installer and the tools spell them differently. Every write
// goes to a temporary file that is renamed over the store, so a crash never
// leaves it half written.
#include "common.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <vector>

// Values longer than this are too long for the readers' buffers.
static const size_t VALUE_LIMIT = 2048;
// An expanded string with its terminating zero must fit this.
static const size_t EXPAND_LIMIT = 4100;

struct reg_row {
    int root;
    std::string key;
    bool is_value;   // false: a key line without a value
    std::string name;
    int type;
    std::string data;
};

static const char *const root_names[] = {
    "HKEY_CLASSES_ROOT", "HKEY_CLASSES_ROOT", "HKEY_CURRENT_CONFIG", "HKEY_CURRENT_USER",
    "HKEY_LOCAL_MACHINE",
};

const char *reg_root_key(int n)
{
    return n >= 1 && n <= 4 ? root_names[n] : root_names[1];
}

static int reg_norm_root(int n) { return n >= 1 && n <= 4 ? n : 1; }

static std::string reg_store_path()
{
    if (const char *p = getenv("VRK_REGISTRY"))
        return p;
    std::string base;
    if (const char *x = getenv("XDG_CONFIG_HOME"); x && *x)
        base = x;
    else if (const char *h = getenv("HOME"); h && *h)
        base = std::string(h) + "/.config";
    else
        base = ".";
    return base + "/zeph/registry";
}

static std::string reg_hex(const std::string &data)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : data) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

static std::string reg_unhex(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

static std::vector<std::string> reg_split_tabs(const std::string &line)
{
    std::vector<std::string> f;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        f.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos)
            return f;
        start = tab + 1;
    }
}

static std::vector<reg_row> reg_load()
{
    std::vector<reg_row> rows;
    FILE *f = fopen(reg_store_path().c_str(), "rb");
    if (!f)
        return rows;
    std::string line;
    while (os_read_line(f, line)) {
        std::vector<std::string> fields = reg_split_tabs(line);
        if (fields.size() == 2)
            rows.push_back({atoi(fields[0].c_str()), fields[1], false, "", 0, ""});
        else if (fields.size() == 5 && fields[4].find_first_not_of("0123456789abcdef") == std::string::npos)
            rows.push_back({atoi(fields[0].c_str()), fields[1], true, fields[2], atoi(fields[3].c_str()),
                            reg_unhex(fields[4])});
    }
    fclose(f);
    return rows;
}

static int reg_save(const std::vector<reg_row> &rows)
{
    std::string path = reg_store_path();
    char *dir = os_path_dirname(path.c_str());
    if (dir && *dir && !os_is_directory(dir))
        mkdir(dir, 0777);
    free(dir);
    std::string tmp = path + ".new";
    FILE *f = fopen(tmp.c_str(), "wb");
    if (!f)
        return REG_ERR_ACCESS_DENIED;
    bool ok = true;
    for (const reg_row &r : rows) {
        if (r.is_value)
            ok &= fprintf(f, "%d\t%s\t%s\t%d\t%s\n", r.root, r.key.c_str(), r.name.c_str(), r.type,
                          reg_hex(r.data).c_str()) > 0;
        else
            ok &= fprintf(f, "%d\t%s\n", r.root, r.key.c_str()) > 0;
    }
    ok &= fclose(f) == 0;
    if (!ok || os_rename_file(tmp.c_str(), path.c_str()) != 0) {
        os_remove_file(tmp.c_str());
        return REG_ERR_WRITE_FAULT;
    }
    return 0;
}

static bool reg_same(const std::string &a, const char *b) { return strcasecmp(a.c_str(), b) == 0; }

// True when key (or a key below it, or a value in it) is in the store.
static bool reg_key_exists(const std::vector<reg_row> &rows, int root, const char *key)
{
    size_t n = strlen(key);
    for (const reg_row &r : rows)
        if (r.root == root && (reg_same(r.key, key) ||
                               (r.key.size() > n && strncasecmp(r.key.c_str(), key, n) == 0 && r.key[n] == '\\')))
            return true;
    return false;
}

static const reg_row *reg_find_value(const std::vector<reg_row> &rows, int root, const char *key,
                                     const char *name, int *status)
{
    root = reg_norm_root(root);
    if (!reg_key_exists(rows, root, key)) {
        *status = REG_ERR_FILE_NOT_FOUND;
        return nullptr;
    }
    for (const reg_row &r : rows)
        if (r.is_value && r.root == root && reg_same(r.key, key) && reg_same(r.name, name)) {
            *status = 0;
            return &r;
        }
    *status = REG_ERR_FILE_NOT_FOUND;
    return nullptr;
}

int reg_read_dword_ex(int root, const char *key, const char *name, uint32_t *out, int)
{
    std::vector<reg_row> rows = reg_load();
    int status;
    const reg_row *r = reg_find_value(rows, root, key, name, &status);
    if (!r)
        return status;
    if (r->type != REG_T_DWORD || r->data.size() != 4)
        return REG_ERR_BAD_TYPE;
    const unsigned char *d = reinterpret_cast<const unsigned char *>(r->data.data());
    *out = d[0] | d[1] << 8 | d[2] << 16 | static_cast<uint32_t>(d[3]) << 24;
    return 0;
}

int reg_read_dword(int root, const char *key, const char *name, uint32_t *out)
{
    return reg_read_dword_ex(root, key, name, out, 0);
}

// Expands %NAME% references from the environment; unknown ones stay.
static std::string reg_expand(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        size_t end = text[i] == '%' ? text.find('%', i + 1) : std::string::npos;
        const char *v = end != std::string::npos ? getenv(text.substr(i + 1, end - i - 1).c_str()) : nullptr;
        if (v) {
            out += v;
            i = end;
        } else {
            out += text[i];
        }
    }
    return out;
}

static reg_value_t reg_value_of(const std::string &data, int status)
{
    reg_value_t v{};
    v.status = status;
    if (status == 0) {
        v.data = static_cast<char *>(xmalloc(data.size() + 1));
        memcpy(v.data, data.data(), data.size());
        v.size = static_cast<uint32_t>(data.size() + 1);
    }
    return v;
}

reg_value_t reg_read_string_ex(int root, const char *key, const char *name, int)
{
    std::vector<reg_row> rows = reg_load();
    int status;
    const reg_row *r = reg_find_value(rows, root, key, name, &status);
    if (!r)
        return reg_value_of("", status);
    if (r->type != REG_T_SZ && r->type != REG_T_EXPAND_SZ)
        return reg_value_of("", REG_ERR_BAD_TYPE);
    if (r->data.size() + 1 > VALUE_LIMIT)
        return reg_value_of("", REG_ERR_MORE_DATA);
    if (r->type == REG_T_SZ)
        return reg_value_of(r->data, 0);
    std::string expanded = reg_expand(r->data);
    return reg_value_of(expanded, expanded.size() + 1 > EXPAND_LIMIT ? REG_ERR_MORE_DATA : 0);
}

reg_value_t reg_read_string(int root, const char *key, const char *name)
{
    return reg_read_string_ex(root, key, name, 0);
}

reg_value_t reg_read_binary(int root, const char *key, const char *name)
{
    std::vector<reg_row> rows = reg_load();
    int status;
    const reg_row *r = reg_find_value(rows, root, key, name, &status);
    if (!r)
        return reg_value_of("", status);
    if (r->type != REG_T_BINARY)
        return reg_value_of("", REG_ERR_BAD_TYPE);
    if (r->data.size() > VALUE_LIMIT)
        return reg_value_of("", REG_ERR_MORE_DATA);
    reg_value_t v = reg_value_of(r->data, 0);
    v.size = static_cast<uint32_t>(r->data.size());
    return v;
}

reg_key_list_t reg_enum_subkeys(int root, const char *key)
{
    reg_key_list_t list{};
    list.root = root;
    list.key = xstrdup(key);
    list.names = vec_new_default();
    std::vector<reg_row> rows = reg_load();
    root = reg_norm_root(root);
    if (!reg_key_exists(rows, root, key)) {
        list.status = REG_ERR_FILE_NOT_FOUND;
        return list;
    }
    size_t n = strlen(key);
    std::vector<std::string> seen;
    for (const reg_row &r : rows) {
        if (r.root != root || r.key.size() <= n + 1 || strncasecmp(r.key.c_str(), key, n) != 0 || r.key[n] != '\\')
            continue;
        std::string child = r.key.substr(n + 1, r.key.find('\\', n + 1) - n - 1);
        if (child.size() > 128)
            continue;
        bool dup = false;
        for (const std::string &s : seen)
            dup |= reg_same(s, child.c_str());
        if (!dup) {
            seen.push_back(child);
            vec_push(list.names, xstrdup(child.c_str()));
        }
    }
    list.count = vec_count(list.names);
    return list;
}

int reg_enum_values(vector_t *list, int root, const char *key)
{
    std::vector<reg_row> rows = reg_load();
    root = reg_norm_root(root);
    if (!reg_key_exists(rows, root, key))
        return REG_ERR_FILE_NOT_FOUND;
    for (const reg_row &r : rows) {
        if (!r.is_value || r.root != root || !reg_same(r.key, key) || r.name.size() > 128)
            continue;
        reg_named_value_t *v = static_cast<reg_named_value_t *>(xmalloc(sizeof(reg_named_value_t)));
        v->name = xstrdup(r.name.c_str());
        size_t size = std::min(r.data.size(), VALUE_LIMIT);
        v->data = static_cast<char *>(xmalloc(size + 1));
        memcpy(v->data, r.data.data(), size);
        v->size = static_cast<uint32_t>(size);
        vec_push(list, v);
    }
    return 0;
}

// Creating a key creates its parents too, and a key stays when its last
// value goes, so every level gets a line of its own.
static void reg_ensure_key(std::vector<reg_row> &rows, int root, const std::string &key)
{
    for (size_t end = key.find('\\'); ; end = key.find('\\', end + 1)) {
        std::string level = key.substr(0, end);
        bool present = false;
        for (const reg_row &r : rows)
            present |= !r.is_value && r.root == root && reg_same(r.key, level.c_str());
        if (!present)
            rows.push_back({root, level, false, "", 0, ""});
        if (end == std::string::npos)
            break;
    }
}

static int reg_write(int root, const char *key, const char *name, int type, const std::string &data)
{
    std::vector<reg_row> rows = reg_load();
    root = reg_norm_root(root);
    reg_ensure_key(rows, root, key);
    for (reg_row &r : rows)
        if (r.is_value && r.root == root && reg_same(r.key, key) && reg_same(r.name, name)) {
            r.type = type;
            r.data = data;
            return reg_save(rows);
        }
    rows.push_back({root, key, true, name, type, data});
    return reg_save(rows);
}

int reg_write_string(int root, const char *key, const char *name, const char *text)
{
    return reg_write(root, key, name, REG_T_SZ, text);
}

int reg_write_expand_string(int root, const char *key, const char *name, const char *text)
{
    return reg_write(root, key, name, REG_T_EXPAND_SZ, text);
}

int reg_write_dword(int root, const char *key, const char *name, uint32_t value)
{
    std::string d;
    for (int i = 0; i < 4; i++)
        d += static_cast<char>(value >> (8 * i));
    return reg_write(root, key, name, REG_T_DWORD, d);
}

int reg_write_binary(int root, const char *key, const char *name, const void *data, uint32_t size)
{
    return reg_write(root, key, name, REG_T_BINARY, std::string(static_cast<const char *>(data), size));
}

// Deletes one key that has no subkeys left, with its values.
static int reg_delete_key(int root, const char *key)
{
    std::vector<reg_row> rows = reg_load();
    root = reg_norm_root(root);
    if (!reg_key_exists(rows, root, key))
        return REG_ERR_FILE_NOT_FOUND;
    std::vector<reg_row> kept;
    for (const reg_row &r : rows)
        if (!(r.root == root && reg_same(r.key, key)))
            kept.push_back(r);
    return reg_save(kept);
}

int reg_delete_tree(int root, const char *key)
{
    reg_key_list_t list = reg_enum_subkeys(root, key);
    for (uint32_t i = 0; i < list.count; i++) {
        char *sub = xasprintf("%s\\%s", key, static_cast<char *>(vec_get(list.names, i)));
        reg_delete_tree(root, sub);
        free(sub);
    }
    for (uint32_t i = 0; i < list.count; i++)
        free(vec_get(list.names, i));
    vec_free(list.names);
    free(list.key);
    return reg_delete_key(root, key);
}

int reg_delete_value(int root, const char *key, const char *name)
{
    std::vector<reg_row> rows = reg_load();
    root = reg_norm_root(root);
    for (size_t i = 0; i < rows.size(); i++)
        if (rows[i].is_value && rows[i].root == root && reg_same(rows[i].key, key) && reg_same(rows[i].name, name)) {
            rows.erase(rows.begin() + static_cast<long>(i));
            return reg_save(rows);
        }
    return REG_ERR_FILE_NOT_FOUND;
}

int prod_read_dword(const char *name, uint32_t *out) { return reg_read_dword(4, PRODUCT_KEY, name, out); }

char *prod_read_string(const char *name)
{
    reg_value_t v = reg_read_string(4, PRODUCT_KEY, name);
    if (v.status == 0)
        return v.data;
    free(v.data);
    return nullptr;
}

int prod_write_dword(const char *name, uint32_t value) { return reg_write_dword(4, PRODUCT_KEY, name, value); }

// ---------------------------------------------------------------------------
// installation directory
// ---------------------------------------------------------------------------
static const char *const kind_dirs[] = {"", "bin", "lib", "help", "include", "dat", "sources", "resources"};

int install_dir_set(const char *dir) { return reg_write_string(4, RELEASE_KEY, "instdir", dir); }

char *install_root_from_program(int style, const char *program_path)
{
    char *dir = os_path_dirname_style(style, program_path);
    if (!dir)
        return nullptr;
    const char *last = os_path_basename_style(style, dir);
    char *root = nullptr;
    if (last != dir && strcasecmp(last, "bin") == 0)
        root = os_path_dirname_style(style, dir);
    if (root && !*root && style == OS_PATH_POSIX) {
        free(root);
        root = xstrdup("/");
    }
    free(dir);
    return root;
}

char *install_dir(int kind)
{
    reg_value_t v = reg_read_string(4, RELEASE_KEY, "instdir");
    char *root = nullptr;
    if (v.status == 0) {
        root = v.data;
    } else {
        free(v.data);
        char *prog = os_program_path();
        root = install_root_from_program(os_native_path_style, prog);
        free(prog);
    }
    if (!root || kind <= 0 || kind > 7)
        return root;
    char *path = os_path_join(root, kind_dirs[kind]);
    free(root);
    return path;
}

char *install_path(int kind, const char *name)
{
    if (os_path_is_absolute(name))
        return xstrdup(name);
    char *dir = install_dir(kind);
    if (!dir)
        return nullptr;
    char *path = os_path_join(dir, name);
    free(dir);
    return path;
}

// ---------------------------------------------------------------------------
// lasting change of a system environment variable
// ---------------------------------------------------------------------------
static const char *const ENV_KEY = "SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";

// True when value is one of the ';'-separated elements of list (any case).
static bool sysenv_has_element(const std::string &list, const char *value)
{
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(';', start);
        if (end == std::string::npos)
            end = list.size();
        if (reg_same(list.substr(start, end - start), value))
            return true;
        start = end + 1;
    }
    return false;
}

int sysenv_update_nt(int mode, const char *name, const char *value)
{
    if (mode == 1)
        return reg_write_string(4, ENV_KEY, name, value) == 0;
    if (mode != 0)
        return 0;
    std::vector<reg_row> rows = reg_load();
    int status;
    const reg_row *r = reg_find_value(rows, 4, ENV_KEY, name, &status);
    if (!r || (r->type != REG_T_SZ && r->type != REG_T_EXPAND_SZ))
        return 0;
    // Compare whole elements, as written and as expanded; the value keeps
    // its type, so references such as %SystemRoot% survive.
    if (sysenv_has_element(r->data, value) ||
        (r->type == REG_T_EXPAND_SZ && sysenv_has_element(reg_expand(r->data), value)))
        return 1;
    std::string text = r->data;
    if (!text.empty() && text.back() != ';')
        text += ';';
    text += value;
    return reg_write(4, ENV_KEY, name, r->type, text) == 0;
}

int sysenv_update(int mode, const char *name, const char *value)
{
    unsigned flags = os_version_flags();
    if (flags & 0x40)
        return sysenv_update_nt(mode, name, value);
    // The 9x family's AUTOEXEC.BAT does not exist here: neither family.
    return 0;
}

// ---------------------------------------------------------------------------
// version banner
// ---------------------------------------------------------------------------
void print_version_banner(const char *component)
{
    printf("\nProduct:\t%s\nEdition:\t%s\nComponent:\t%s\nVersion:\t9.60%s\nBuild date:\tJan 14 2009\n"
           "Release:\t%s\nBuild number:\t%s\n",
           "ZEPH", "PRO", component ? component : msg_tool_name(), "PL5", "", "3884");
    fflush(stdout);
}
