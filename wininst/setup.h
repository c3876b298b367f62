// setup, the installer: private header.
//
// The program carries the whole distribution appended to its own file: a
// frame, an MD5-checked gzip stream of length-prefixed records (the
// manifest first, then the resources, then the feature files in manifest
// order) and a referral trailer. payload.cpp finds and checks that payload
// and pulls the records; manifest.cpp reads the manifest into the records
// below; select.cpp resolves what is installed and installable; vars.cpp is
// the store of installer variables; alert.cpp the message boxes (texts on
// the console here), the fatal path and the temporary paths removed at
// every exit and the undo of unfinished work; startup.cpp the switches and
// the start-up sequence; engine.cpp installing, repairing and removing.
//
// setup has no numbered messages: its texts are its own, fixed.
#pragma once

#include "common.h"
#include "setup_layout.h"

#include <cstdint>
#include <string>

// ---------------------------------------------------------------------------
// alert.cpp: message boxes, the fatal path and the path lists
// ---------------------------------------------------------------------------
// Fatal: "Fatal error" with the text (at most 4096 bytes), the temporary
// paths deleted, exit status 1.
[[noreturn]] void setup_fatal(const char *format, ...) __attribute__((format(printf, 1, 2)));
// An error box: the caption and the text; returns.
void setup_error(const char *caption, const char *format, ...) __attribute__((format(printf, 2, 3)));
// A Retry/Cancel question: true for Retry. Asked on the console; no answer
// (end of input) is Cancel.
bool setup_retry(const char *caption, const char *format, ...) __attribute__((format(printf, 2, 3)));
// Tests replace the fatal exit: the hook gets the text and must not return.
typedef void (*setup_fatal_hook_t)(const char *text);
void setup_set_fatal_hook(setup_fatal_hook_t hook);

// The three path lists (owned strings): temporary paths deleted at exit,
// installed files and installed folders.
extern vector_t *setup_temp_paths;
extern vector_t *setup_installed_files;
extern vector_t *setup_installed_folders;
// The files this run created where nothing was before (the undo deletes
// them; setup_installed_folders holds only folders this run created).
extern vector_t *setup_created_files;
// The undo of the work in progress: run by every exit (a fatal error, a
// failed allocation) until it is cleared with null.
void setup_set_rollback(void (*undo)());
// SIGINT, SIGTERM and SIGHUP during the work are only noted; this, called
// between writes, undoes the work and ends the run by the signal.
void setup_poll_signal();
void setup_lists_init();
void setup_remember_temp(const char *path);
// From the last entry to the first: folders removed (when empty), other
// paths deleted; failures ignored. Runs on every exit.
void setup_remove_temp_paths();
// The file being written while a record is extracted: removed when the run
// ends before it is complete (null: none).
void setup_set_unfinished(const char *path);

// ---------------------------------------------------------------------------
// vars.cpp: installer variables
// ---------------------------------------------------------------------------
const char *SetVariable(const char *name, const char *value);
const char *GetVariable(const char *name);
char *ExpandVariables(const char *text);
bool IsVariableTrue(const char *name);
void SetVariableTruth(const char *name, bool flag);
// True when the variable is set and equals text without case.
bool VariableEquals(const char *name, const char *text);
// Back to the state at program start (tests only).
void vars_reset_for_tests();

// ---------------------------------------------------------------------------
// manifest.cpp: manifest records
// ---------------------------------------------------------------------------
struct file_entry_t {
    char *name;       // base name
    uint32_t size;    // bytes: the record's length
};

struct folder_t {
    char *name;       // relative folder, '/' separated, no trailing separator
    vector_t *files;  // file_entry_t
};

struct installer_entry_t {
    char *source;        // path, variable name or URL, up to its TAB
    vector_t *alternates; // char*: further places of the same installer
    char *arguments;     // command-line arguments, expanded at run time
};

struct feature_t {
    char *name;
    char *description;   // the name when none is given
    char *errmess;       // wrapped error text, "" when none
    bool selected;
    bool installable;
    bool present;
    bool outdated;
    char *regkey;        // probe key under HKLM, or null
    char *hkcr;          // probe key under HKEY_CLASSES_ROOT, or null
    char *minversion;
    char *maxversion;
    char *uninstall;     // uninstall command the probe found, or null
    vector_t *folders;   // folder_t
    vector_t *installers; // installer_entry_t
    vector_t *required_names; // char*: prerequisite names not yet resolved
    vector_t *prerequisites; // feature_t
    char *driver_inf;
    char *driver_device;
    uint64_t download_size;
};

struct component_t {
    char *name;
    char *description;
    bool selected;
    bool required;
    bool installable;
    bool present;
    bool runtime;        // Java=
    vector_t *features;  // feature_t
    vector_t *alternates; // char*: component names
};

struct resource_t {
    char *file;          // base name
    char *path;          // its place in the temporary folder (the program's own path for the head)
    char *variable;      // or null
    uint32_t size;
    bool head;           // the program's own head, not a payload record
};

struct shortcut_t {
    char *name;
    char *target;        // relative to InstDir
    char *arguments;     // or null
    char *icon;          // icon variable name, or null
};

enum { REG_ROOT_HKCR = 1, REG_ROOT_HKCC = 2, REG_ROOT_HKCU = 3, REG_ROOT_HKLM = 4, REG_ROOT_HKPP = 5 };

struct registry_record_t {
    int root;
    char *key;
    char *value;
    bool is_dword;
    char *text;          // string data
    uint32_t dword;      // DWORD data
};

struct manifest_t {
    vector_t *features;        // null: no feature list
    vector_t *components;      // null: no component list
    vector_t *resources;       // resource_t; the first is the program's head
    vector_t *shortcuts;       // shortcut_t
    vector_t *registry;        // registry_record_t
    vector_t *variable_names;  // char*: names from [Variables], in order
    vector_t *excluded;        // char*: components excluded by --no-
};
extern manifest_t manifest;

// Parses the sections after the signature line (the first line is
// skipped); returns when [Run] has been handled.
void ParseManifest(const char *text);
// The section parsers; each reads its lines up to the next header.
void ParseResources();
void ParseVariables();
void ParseFeatures();
void ParseComponents();
void ParseShortcuts();
void ParseRegistry();
void ParseFolders();
void ParseFiles();
// One [Registry] line into a record (fatal when bad).
registry_record_t *ParseRegistryLine(const char *line);
void manifest_exclude_component(const char *name);
// The product and release keys under HKLM, from the variables.
const char *setup_product_key();
const char *setup_release_key();
void manifest_reset_for_tests();

// A name from the manifest that becomes part of a path: true when it is
// safe. A base name has no separator at all; a relative path has no
// absolute start and no "." or ".." or empty part; a listed path (from
// [Files] and [Folders]) has no ".." part. None has control characters.
enum path_kind { PATH_BASE, PATH_RELATIVE, PATH_LISTED };
bool path_name_is_safe(const char *name, path_kind kind);

// ---------------------------------------------------------------------------
// select.cpp: lookups and the selection
// ---------------------------------------------------------------------------
feature_t *feature_find(const char *name);
component_t *component_find(const char *name);
void ResolveSelection();
// Every feature unselected, then every feature of a selected component
// selected.
void select_features_from_components();
// The installed state of one feature from its registry probes.
void select_probe_feature(feature_t *f);

// ---------------------------------------------------------------------------
// payload.cpp: the container
// ---------------------------------------------------------------------------

// Start-up: temporary folder, frame, digest, manifest; returns after [Run].
void LocatePayload();
// The same from a given program file and folder (tests and fuzzing).
void payload_locate_from(const char *program_file, const char *program_folder);
bool CheckPayloadDigest(uint32_t range_length, uint32_t range_start);
uint32_t ReadRecordLength();
// Writes the next record to path, or reads and drops it when path is null.
void ExtractRecord(const char *path, uint32_t expected_size);
// Copies the program's first n bytes (its head) to target.
void CopyFileHead(const char *target, uint32_t n);
// Copies the first n bytes of the file source to target (fatal when it is
// shorter).
void CopyFilePart(const char *source, const char *target, uint32_t n);
// The resources named in [Resources], extracted into the temporary folder.
void payload_extract_resources();
// The referral trailer: ReferralID and OrderingURL.
void payload_apply_referral();
// After the last record: the gzip member must end cleanly (CRC and length)
// at the end of the digested range. Closes the stream.
void payload_finish();
// True while a payload was found.
bool payload_located();
const char *payload_signature_text();
uint32_t payload_head_size();
// Progress: done-count advanced per file and per chunk when a scale is set.
extern uint64_t payload_done;
extern uint64_t payload_scale;

// Feature files: for every feature in manifest order, a selected one's files
// are written below target (folders made as needed), the others' records
// read and dropped; target null drops them all. Ends with payload_finish.
void payload_extract_features(const char *target);
// Folder creation with its missing parents, each recorded. Below the root
// (when one is set) nothing is followed: a symbolic link where a folder
// should be is refused. Every installed file is written under a temporary
// name beside its place and renamed there when complete.
void setup_make_folder(const char *path);
void setup_set_folder_root(const char *root);

// ---------------------------------------------------------------------------
// startup.cpp: switches and start-up
// ---------------------------------------------------------------------------
// The command-line switches; other arguments are ignored.
void setup_read_switches(int argc, char **argv);
// Signals, current folder, switches, payload and manifest.
void setup_start(int argc, char **argv);

// ---------------------------------------------------------------------------
// engine.cpp: install, repair and remove
// ---------------------------------------------------------------------------
// Each returns the exit status: 0 done, 1 a failure reported. A fatal
// error during an install undoes everything the run wrote.
int engine_install();
int engine_repair();
int engine_remove();
// A path with InstDir (any case) as a leading whole-path prefix has it
// replaced by "%InstDir%"; other paths come back unchanged.
std::string engine_relative_to_instdir(const char *path);
