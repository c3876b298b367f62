// The work of a run: installing the selected features, registering the
// installation, writing the installed manifest; repairing; removing.
//
// An install is all or nothing. Before its first write the registry store
// is saved; every file goes under a temporary name beside its place and is
// renamed there when complete; the registry values follow once every file
// is in place and the installed manifest comes last. Until then any way out
// (a fatal error, a failed allocation, SIGINT, SIGTERM or SIGHUP between two
// writes) deletes the files and folders this run created and puts the saved
// store back. Files that were already there and were overwritten stay
// overwritten.
//
// Removal deletes only what the installed manifest lists, and of that only
// paths inside the installation folder, its resources folder or the
// shortcut folder, reached without following a symbolic link.
#include "setup.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

static const char UNINSTALL_PARENT[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
static const char APP_PATHS_PARENT[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// ---------------------------------------------------------------------------
// small helpers
// ---------------------------------------------------------------------------
static std::string expand(const char *text)
{
    char *e = ExpandVariables(text);
    std::string s = e;
    free(e);
    return s;
}

static const char *var_or(const char *name, const char *fallback)
{
    const char *v = GetVariable(name);
    return v ? v : fallback;
}

static void log_line(const char *format, const char *arg)
{
    if (IsVariableTrue("HeadlessInstall"))
        return;
    printf(format, arg);
    putchar('\n');
}

static std::string resources_folder()
{
    const char *res = GetVariable("ResDir");
    return std::string(res && *res ? res : var_or("InstDir", "")) + "/resources";
}

std::string engine_relative_to_instdir(const char *path)
{
    const char *dir = GetVariable("InstDir");
    size_t n = dir ? strlen(dir) : 0;
    if (n && strncmp(path, dir, n) == 0 && (path[n] == 0 || path[n] == '/'))
        return std::string("%InstDir%") + (path + n);
    return path;
}

// ---------------------------------------------------------------------------
// the registry store, saved before the first write and put back on undo
// ---------------------------------------------------------------------------
// The store's file, as the registry layer finds it.
static std::string store_path()
{
    if (const char *p = getenv("VRK_REGISTRY"))
        return p;
    const char *x = getenv("XDG_CONFIG_HOME");
    const char *h = getenv("HOME");
    std::string base = x && *x ? x : h && *h ? std::string(h) + "/.config" : ".";
    return base + "/zeph/registry";
}

static bool store_existed;
static std::string store_saved;

static void store_save()
{
    FILE *f = fopen(store_path().c_str(), "rb");
    store_existed = f != nullptr;
    store_saved.clear();
    if (!f)
        return;
    char buf[8192];
    while (size_t n = fread(buf, 1, sizeof buf, f))
        store_saved.append(buf, n);
    fclose(f);
}

static void store_restore()
{
    std::string path = store_path();
    if (!store_existed) {
        unlink(path.c_str());
        return;
    }
    std::string tmp = path + ".vkrestore";
    FILE *f = fopen(tmp.c_str(), "wb");
    bool ok = f && fwrite(store_saved.data(), 1, store_saved.size(), f) == store_saved.size();
    ok = f && fclose(f) == 0 && ok;
    if (!ok || rename(tmp.c_str(), path.c_str()) != 0) {
        unlink(tmp.c_str());
        fprintf(stderr, "Setup: the registry store %s could not be put back\n", path.c_str());
    }
}

// The undo: created files (newest first), then created folders (deepest
// first), then the store.
static void install_undo()
{
    for (uint32_t i = vec_count(setup_created_files); i-- > 0;)
        unlink(static_cast<const char *>(vec_get(setup_created_files, i)));
    for (uint32_t i = vec_count(setup_installed_folders); i-- > 0;)
        rmdir(static_cast<const char *>(vec_get(setup_installed_folders, i)));
    store_restore();
}

// ---------------------------------------------------------------------------
// registering
// ---------------------------------------------------------------------------
static void must_write_string(const std::string &key, const char *name, const std::string &text)
{
    int err = reg_write_string(REG_ROOT_HKLM, key.c_str(), name, text.c_str());
    if (err)
        setup_fatal("Registry write failure %d", err);
    setup_poll_signal();
}

static void must_write_dword(const std::string &key, const char *name, uint32_t value)
{
    int err = reg_write_dword(REG_ROOT_HKLM, key.c_str(), name, value);
    if (err)
        setup_fatal("Registry write failure %d", err);
    setup_poll_signal();
}

static std::string uninstall_key() { return UNINSTALL_PARENT + expand("[Product] [Version][PatchLevel]"); }

// InstDir and BuildNo under the release key; the application path.
static void register_release()
{
    must_write_string(setup_release_key(), "InstDir", var_or("InstDir", ""));
    if (const char *build = GetVariable("BuildNo"))
        must_write_dword(setup_release_key(), "BuildNo", static_cast<uint32_t>(strtoul(build, nullptr, 10)));
    if (GetVariable("Appname")) {
        std::string key = APP_PATHS_PARENT + expand("[Appname]");
        must_write_string(key, "Path", expand("[InstDir]/bin"));
        must_write_string(key, "", expand("[InstDir]/bin/[Appname]"));
    }
}

// The manifest's [Registry] records; their failures are not the install's.
static void register_records()
{
    for (uint32_t i = 0; manifest.registry && i < vec_count(manifest.registry); i++) {
        registry_record_t *r = static_cast<registry_record_t *>(vec_get(manifest.registry, i));
        if (r->is_dword)
            reg_write_dword(r->root, r->key, r->value, r->dword);
        else
            reg_write_string(r->root, r->key, r->value, r->text);
    }
}

static void register_uninstall()
{
    std::string key = uninstall_key();
    static const struct {
        const char *value;
        const char *variable;
    } optional[] = {{"DisplayIcon", "ICON"}, {"HelpLink", "SupportURL"}, {"HelpTelephone", "PhoneNo"},
                    {"URLUpdateInfo", "UpdateURL"}, {"Readme", "README"}};
    for (const auto &o : optional)
        if (const char *v = GetVariable(o.variable))
            must_write_string(key, o.value, v);
    must_write_string(key, "DisplayName", expand("[Description] V[Version][PatchLevel]"));
    must_write_string(key, "DisplayVersion", var_or("Version", ""));
    must_write_dword(key, "NoRepair", 1);
    must_write_string(key, "Publisher", "Vormak Software");
    must_write_string(key, "UninstallString", "\"" + std::string(var_or("SETUP", "")) + "\" --remove");
    must_write_string(key, "InstallLocation", "\"" + std::string(var_or("InstDir", "")) + "\"");
    char date[16];
    time_t now = time(nullptr);
    strftime(date, sizeof date, "%Y%m%d", localtime(&now));
    must_write_string(key, "InstallDate", date);
    const char *version = var_or("Version", "");
    must_write_dword(key, "VersionMajor", static_cast<uint32_t>(strtoul(version, nullptr, 10)));
    if (const char *dot = strrchr(version, '.'))
        must_write_dword(key, "VersionMinor", static_cast<uint32_t>(strtoul(dot + 1, nullptr, 10)));
}

static void RegisterInstall()
{
    register_release();
    register_records();
    register_uninstall();
}

// ---------------------------------------------------------------------------
// installing
// ---------------------------------------------------------------------------
// Every path the install would write, checked before the first write.
static void check_path_length(const std::string &path)
{
    bool too_long = path.size() >= PATH_MAX;
    for (size_t start = 0; !too_long && start < path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        too_long = end - start > NAME_MAX - 8; // room for the temporary suffix
        start = end + 1;
    }
    if (too_long)
        setup_fatal("Path too long: %s", path.c_str());
}

static void check_path_lengths()
{
    const char *dir = var_or("InstDir", "");
    for (uint32_t i = 0; i < vec_count(manifest.features); i++) {
        feature_t *f = static_cast<feature_t *>(vec_get(manifest.features, i));
        for (uint32_t j = 0; f->selected && j < vec_count(f->folders); j++) {
            folder_t *folder = static_cast<folder_t *>(vec_get(f->folders, j));
            for (uint32_t k = 0; k < vec_count(folder->files); k++) {
                file_entry_t *file = static_cast<file_entry_t *>(vec_get(folder->files, k));
                check_path_length(std::string(dir) + "/" + folder->name + "/" + file->name);
            }
        }
    }
    std::string res = resources_folder();
    for (uint32_t i = 0; i < vec_count(manifest.resources); i++)
        check_path_length(res + "/" + static_cast<resource_t *>(vec_get(manifest.resources, i))->file);
    check_path_length(res + "/manifest");
}

// A selected feature with neither folders nor installers cannot be put in
// place here; neither can a sub-installer be run: both are refused before
// anything is written.
static void check_features_installable()
{
    for (uint32_t i = 0; i < vec_count(manifest.features); i++) {
        feature_t *f = static_cast<feature_t *>(vec_get(manifest.features, i));
        if (!f->selected || f->present)
            continue;
        if (vec_count(f->installers) || f->driver_inf)
            setup_fatal("Installation terminated - %s needs an installer of its own, which this version of setup "
                        "cannot run",
                        f->description);
        if (!vec_count(f->folders))
            setup_fatal("Installation terminated - please install %s\nthen retry this installation", f->description);
    }
}

static void install_resources()
{
    std::string res = resources_folder();
    log_line("%s", "Copying resources");
    setup_make_folder(res.c_str());
    for (uint32_t i = 0; i < vec_count(manifest.resources); i++) {
        resource_t *r = static_cast<resource_t *>(vec_get(manifest.resources, i));
        std::string target = res + "/" + r->file;
        log_line("    Copying file %s", r->file);
        if (r->head)
            CopyFileHead(target.c_str(), r->size);
        else
            CopyFilePart(r->path, target.c_str(), r->size);
        if (r->variable)
            SetVariable(r->variable, target.c_str());
    }
}

static void InstallFeatures()
{
    if (!manifest.features || !manifest.components)
        setup_fatal("no files to copy");
    payload_done = 0;
    select_features_from_components();
    check_features_installable();
    check_path_lengths();
    const char *dir = var_or("InstDir", "");
    setup_set_folder_root(dir);
    setup_make_folder(dir);
    for (uint32_t i = 0; i < vec_count(manifest.features); i++) {
        feature_t *f = static_cast<feature_t *>(vec_get(manifest.features, i));
        if (f->selected && !f->present) {
            log_line("%s", " ");
            log_line("Installing %s", f->description);
        }
    }
    payload_extract_features(dir);
    install_resources();
}

// One line of the installed manifest: "%InstDir%" for the folder.
static void manifest_line(std::string &out, const char *name, const char *value)
{
    if (name)
        out += std::string(name) + "=";
    out += engine_relative_to_instdir(value) + "\n";
}

// The folders the installation uses, deepest first, the installation folder
// last: those this run created and those it found already there, so that
// a removal after a reinstall leaves no empty folder behind (a folder that
// still holds other files stays in any case).
static std::vector<std::string> installed_folder_list()
{
    std::string dir = var_or("InstDir", "");
    std::vector<std::string> list;
    auto add_with_parents = [&](std::string path) {
        while (path.size() > dir.size() && path.compare(0, dir.size() + 1, dir + "/") == 0) {
            list.push_back(path);
            path.erase(path.rfind('/'));
        }
    };
    for (uint32_t i = 0; i < vec_count(manifest.features); i++) {
        feature_t *f = static_cast<feature_t *>(vec_get(manifest.features, i));
        for (uint32_t j = 0; f->selected && !f->present && j < vec_count(f->folders); j++)
            add_with_parents(dir + "/" + static_cast<folder_t *>(vec_get(f->folders, j))->name);
    }
    add_with_parents(resources_folder());
    for (uint32_t i = 0; i < vec_count(setup_installed_folders); i++) {
        const char *path = static_cast<const char *>(vec_get(setup_installed_folders, i));
        if (dir != path)
            list.push_back(path);
    }
    auto depth = [](const std::string &s) { return std::count(s.begin(), s.end(), '/'); };
    std::sort(list.begin(), list.end(), [&](const std::string &a, const std::string &b) {
        return depth(a) != depth(b) ? depth(a) > depth(b) : a < b;
    });
    list.erase(std::unique(list.begin(), list.end()), list.end());
    list.push_back(dir);
    return list;
}

static void WriteInstalledManifest()
{
    std::string path = resources_folder() + "/manifest";
    std::string text = std::string(payload_signature_text()) + "\n[Variables]\n";
    for (uint32_t i = 0; manifest.variable_names && i < vec_count(manifest.variable_names); i++) {
        const char *name = static_cast<const char *>(vec_get(manifest.variable_names, i));
        manifest_line(text, name, var_or(name, ""));
    }
    for (uint32_t i = 0; i < vec_count(manifest.resources); i++) {
        resource_t *r = static_cast<resource_t *>(vec_get(manifest.resources, i));
        if (r->variable)
            manifest_line(text, r->variable, var_or(r->variable, ""));
    }
    text += "[Files]\n";
    for (uint32_t i = 0; i < vec_count(setup_installed_files); i++)
        manifest_line(text, nullptr, static_cast<const char *>(vec_get(setup_installed_files, i)));
    manifest_line(text, nullptr, path.c_str());
    text += "[Folders]\n";
    for (const std::string &folder : installed_folder_list())
        manifest_line(text, nullptr, folder.c_str());
    text += "[Shortcuts]\n";
    for (uint32_t i = 0; manifest.shortcuts && i < vec_count(manifest.shortcuts); i++) {
        shortcut_t *s = static_cast<shortcut_t *>(vec_get(manifest.shortcuts, i));
        text += std::string(s->name) + "=" + s->target;
        if (s->arguments)
            text += std::string(">") + s->arguments;
        if (s->icon)
            text += std::string(",") + s->icon;
        text += "\n";
    }
    text += "[Run]\n";
    // Written as every other installed file is: complete, then renamed.
    std::string temp = path + ".vkpart";
    setup_set_unfinished(temp.c_str());
    int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0666);
    bool ok = fd >= 0 && write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ok = fd >= 0 && close(fd) == 0 && ok;
    struct stat st;
    bool existed = lstat(path.c_str(), &st) == 0;
    if (!ok || rename(temp.c_str(), path.c_str()) != 0)
        setup_fatal("Can't open manifest for writing");
    setup_set_unfinished(nullptr);
    if (!existed)
        vec_push(setup_created_files, xstrdup(path.c_str()));
}

int engine_install()
{
    store_save();
    setup_set_rollback(install_undo);
    InstallFeatures();
    RegisterInstall();
    WriteInstalledManifest();
    setup_poll_signal();
    setup_set_rollback(nullptr);
    log_line("%s", "Installation complete");
    return 0;
}

// Repair and removal act on the installation the manifest describes: its
// folder must be known (the copy lies in its resources folder).
static void check_installation_known()
{
    const char *dir = GetVariable("InstDir");
    if (!dir || dir[0] != '/' || !dir[1])
        setup_fatal("The installation folder is not known: this program must be run from the resources folder of "
                    "an installation");
}

// ---------------------------------------------------------------------------
// repairing: the listed files must be there; then the values again
// ---------------------------------------------------------------------------
int engine_repair()
{
    check_installation_known();
    int missing = 0;
    for (uint32_t i = 0; i < vec_count(setup_installed_files); i++) {
        const char *path = static_cast<const char *>(vec_get(setup_installed_files, i));
        struct stat st;
        if (lstat(path, &st) != 0 || !S_ISREG(st.st_mode)) {
            setup_error("Repair", "Missing file: %s", path);
            missing++;
        }
    }
    if (missing) {
        setup_error("Repair", "%d installed file%s missing; run the installer again on %s to restore %s", missing,
                    missing == 1 ? " is" : "s are", var_or("InstDir", ""), missing == 1 ? "it" : "them");
        return 1;
    }
    store_save();
    setup_set_rollback(store_restore);
    RegisterInstall();
    setup_set_rollback(nullptr);
    log_line("%s", "Repair complete");
    return 0;
}

// ---------------------------------------------------------------------------
// removing
// ---------------------------------------------------------------------------
// True when path is one of the roots or lies below one, every folder
// between the root and the path being a real folder (no link followed).
static bool removal_allowed(const std::string &path)
{
    std::string roots[] = {var_or("InstDir", ""), resources_folder(), var_or("ShortcutFolder", "")};
    for (const std::string &root : roots) {
        if (root.empty() || root == "/" || path.compare(0, root.size(), root) != 0)
            continue;
        if (path.size() == root.size())
            return true;
        if (path[root.size()] != '/')
            continue;
        bool real = true;
        for (size_t at = path.find('/', root.size() + 1); real && at != std::string::npos;
             at = path.find('/', at + 1)) {
            struct stat st;
            real = lstat(path.substr(0, at).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
        }
        if (real)
            return true;
    }
    return false;
}

static int RemoveInstalledFiles()
{
    int failures = 0;
    for (uint32_t i = 0; i < vec_count(setup_installed_files); i++) {
        const char *path = static_cast<const char *>(vec_get(setup_installed_files, i));
        log_line("Deleting file %s", path);
        if (!removal_allowed(path)) {
            setup_error("Remove", "Not deleted, it lies outside the installation: %s", path);
            failures++;
        } else if (unlink(path) != 0 && errno != ENOENT) {
            setup_error("Remove", "Could not delete %s\n%s", path, strerror(errno));
            failures++;
        }
    }
    for (uint32_t i = 0; i < vec_count(setup_installed_folders); i++) {
        const char *path = static_cast<const char *>(vec_get(setup_installed_folders, i));
        log_line("Removing folder %s", path);
        if (!removal_allowed(path)) {
            setup_error("Remove", "Not removed, it lies outside the installation: %s", path);
            failures++;
        } else if (rmdir(path) != 0 && errno != ENOENT && errno != ENOTEMPTY && errno != EEXIST) {
            // A folder that still holds the user's own files stays.
            setup_error("Remove", "Could not remove folder %s\n%s", path, strerror(errno));
            failures++;
        }
    }
    return failures;
}

static int key_remove(const std::string &key)
{
    int err = reg_delete_tree(REG_ROOT_HKLM, key.c_str());
    if (err && err != REG_ERR_FILE_NOT_FOUND) {
        setup_error("Remove", "Could not remove the registry key %s (error %d)", key.c_str(), err);
        return 1;
    }
    return 0;
}

// The release key; the product key when no other release is left under
// it; the uninstall key.
static int RemoveKeys()
{
    int failures = key_remove(setup_release_key());
    reg_key_list_t list = reg_enum_subkeys(REG_ROOT_HKLM, setup_product_key());
    if (list.status == 0 && list.count == 0)
        failures += key_remove(setup_product_key());
    for (uint32_t i = 0; i < vec_count(list.names); i++)
        free(vec_get(list.names, i));
    vec_free(list.names);
    free(list.key);
    return failures + key_remove(uninstall_key());
}

int engine_remove()
{
    check_installation_known();
    int failures = RemoveInstalledFiles() + RemoveKeys();
    if (failures) {
        setup_error("Remove", "The removal was not complete: %d failure%s", failures, failures == 1 ? "" : "s");
        return 1;
    }
    log_line("%s", "Removal complete");
    return 0;
}
