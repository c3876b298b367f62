// The chip database reader.
//
// zeph.ini is a list of sections, one per chip ("[16F877A]"), each a list of
// KEY=value lines; key lines before the first section are global keys that
// serve every chip. A lookup reads the file once: the section whose name
// equals the wanted one (without case) is taken at once; a section whose name
// merely ends with it is remembered, and when the file ends without an exact
// match the one remembered candidate is read again from its header (a second
// candidate makes the name ambiguous: nothing is found). A walk takes every
// section in turn and hands each finished record to a callback.
//
// Every value is kept as text in the record's key tables (one vector of
// values per key) and, for the known scalar and range keys, stored in the
// record as it is read. Once the section is read, the chip is built once
// more from the stored values, globals first, and only then do the
// memory-model hooks see them: by then the core is known wherever the
// section names it.
#include "chip.h"

#include <cctype>
#include <cstdarg>
#include <cstring>
#include <string>
#include <strings.h>

const char *chipinfo_file;
unsigned chipinfo_line;
chip_record *chip_selected;

// Memory-model hooks, called after each key is stored (null: none).
static chip_scalar_hook_t scalar_hook;
static chip_range_hook_t range_hook;

// ---------------------------------------------------------------------------
// the known keys
// ---------------------------------------------------------------------------

enum key_group { KEY_TEXT, KEY_SCALAR, KEY_RANGE, KEY_NAMED };

struct key_desc {
    const char *name;
    key_group group;
    int ordinal; // within the scalar or range group
};

// name            group       ordinal
static const key_desc known_keys[] = {
    {"SFRFILE",      KEY_TEXT,   0},
    {"MODULE",       KEY_TEXT,   0},
    {"JARS",         KEY_TEXT,   0},
    {"MANUFACTURER", KEY_TEXT,   0},
    {"COMPILER",     KEY_TEXT,   0},
    {"DEBUGGER",     KEY_TEXT,   0},
    {"DEFAULTMEM",   KEY_TEXT,   0},
    {"DEFAULTREG",   KEY_TEXT,   0},
    {"ARCHCLASS",    KEY_TEXT,   0},
    {"MAKE",         KEY_TEXT,   0},
    {"ROMSIZE",      KEY_SCALAR, CHIP_ROMSIZE},
    {"BANKS",        KEY_SCALAR, CHIP_BANKS},
    {"EEPROMSIZE",   KEY_SCALAR, CHIP_EEPROMSIZE},
    {"DATABANK",     KEY_SCALAR, CHIP_DATABANK},
    {"SPAREBIT",     KEY_SCALAR, CHIP_SPAREBIT},
    {"INTSAVE",      KEY_SCALAR, CHIP_INTSAVE},
    {"OSCCAL",       KEY_SCALAR, CHIP_OSCCAL},
    {"FLASH_READ",   KEY_SCALAR, CHIP_FLASH_READ},
    {"FLASH_WRITE",  KEY_SCALAR, CHIP_FLASH_WRITE},
    {"FLASH_ERASE",  KEY_SCALAR, CHIP_FLASH_ERASE},
    {"STACKDEPTH",   KEY_SCALAR, CHIP_STACKDEPTH},
    {"RAMBANK",      KEY_RANGE,  CHIP_RAMBANK},
    {"COMMON",       KEY_RANGE,  CHIP_COMMON},
    {"ICD1RAM",      KEY_RANGE,  CHIP_ICD1RAM},
    {"ICD1ROM",      KEY_RANGE,  CHIP_ICD1ROM},
    {"ICD2RAM",      KEY_RANGE,  CHIP_ICD2RAM},
    {"ICD2ROM",      KEY_RANGE,  CHIP_ICD2ROM},
    {"CONFIG",       KEY_RANGE,  CHIP_CONFIG},
    {"IDLOC",        KEY_RANGE,  CHIP_IDLOC},
    {"MIRROR",       KEY_RANGE,  CHIP_MIRROR},
    {"PROCID",       KEY_NAMED,  0},
    {"PROGMEM",      KEY_NAMED,  0},
    {"FLASHTYPE",    KEY_NAMED,  0},
};
static_assert(sizeof known_keys / sizeof known_keys[0] == 33, "33 known keys besides ARCH");

static const key_desc *key_find(const char *name)
{
    for (const key_desc &k : known_keys)
        if (strcasecmp(k.name, name) == 0)
            return &k;
    return nullptr;
}

// ---------------------------------------------------------------------------
// key tables: key name (as first written) -> vector of value strings
// ---------------------------------------------------------------------------

static uint32_t key_hash(const void *key)
{
    uint32_t h = 0;
    for (const char *p = static_cast<const char *>(key); *p; p++)
        h = h * 16 + (uint32_t)tolower((unsigned char)*p);
    return h;
}

static int key_compare(const void *given, const void *stored)
{
    return strcasecmp(static_cast<const char *>(given), static_cast<const char *>(stored));
}

static hash_t *key_table_new()
{
    return hash_new(13, key_hash, key_compare);
}

// Records that the key appeared, with its value when it has one.
static void key_table_store(hash_t *table, const char *key, const char *value)
{
    auto *values = static_cast<vector_t *>(hash_lookup(table, key));
    if (!values) {
        values = vec_new_default();
        hash_insert(table, xstrdup(key), values);
    }
    if (value)
        vec_push(values, xstrdup(value));
}

static int key_entry_free(void *, void *key, void *value)
{
    auto *values = static_cast<vector_t *>(value);
    for (uint32_t i = 0; i < vec_count(values); i++)
        free(vec_get(values, i));
    vec_free(values);
    free(key);
    return 0;
}

static void key_table_empty(hash_t *table)
{
    hash_walk(table, nullptr, key_entry_free);
    hash_clear(table);
}

vector_t *chip_key_values(const chip_record *chip, const char *key)
{
    auto *values = static_cast<vector_t *>(hash_lookup(chip->section_keys, key));
    return values ? values : static_cast<vector_t *>(hash_lookup(chip->global_keys, key));
}

const char *chip_key_value(const chip_record *chip, const char *key)
{
    vector_t *values = chip_key_values(chip, key);
    return values && vec_count(values) > 0 ? static_cast<const char *>(vec_get(values, 0)) : nullptr;
}

// ---------------------------------------------------------------------------
// numbers and ranges
// ---------------------------------------------------------------------------

// Splits off the next token: delimiters before it are skipped; the token
// runs to the next delimiter or the end of the text.
static std::string next_token(const char **cursor, const char *delimiters)
{
    const char *p = *cursor;
    while (*p && strchr(delimiters, *p))
        p++;
    const char *start = p;
    while (*p && !strchr(delimiters, *p))
        p++;
    *cursor = p;
    return std::string(start, p);
}

// Leading hexadecimal digits at *p as a number; false when there are none or
// they do not fit 32 bits.
static bool hex_digits(const char **p, uint32_t *out)
{
    const char *start = *p;
    uint64_t value = 0;
    for (; isxdigit((unsigned char)**p); (*p)++) {
        char c = (char)tolower((unsigned char)**p);
        value = value * 16 + (uint64_t)(isdigit((unsigned char)c) ? c - '0' : c - 'a' + 10);
        if (value > 0xFFFFFFFFu)
            return false;
    }
    *out = (uint32_t)value;
    return *p != start;
}

// A whole token as a hexadecimal number (0x prefix allowed); false when it is
// empty, holds another character or does not fit 32 bits.
static bool hex_token(const std::string &token, uint32_t *out)
{
    size_t i = (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) ? 2 : 0;
    const char *p = token.c_str() + i;
    uint32_t value;
    if (!hex_digits(&p, &value) || *p != '\0')
        return false;
    *out = value;
    return true;
}

int parse_hex_value(const char *text, uint32_t *out)
{
    const char *p = text;
    return hex_token(next_token(&p, "= \t\n"), out) ? 1 : 0;
}

// Comma and dash are both separators here, so "10-1F,30-3F" and
// "10,1F,30,3F" read alike.
int parse_hex_range(const char **cursor, uint32_t *lo, uint32_t *hi)
{
    static const char delimiters[] = "= \t\n,-";
    const char *p = *cursor;
    uint32_t a, b;
    if (!hex_token(next_token(&p, delimiters), &a) || !hex_token(next_token(&p, delimiters), &b) || a > b)
        return 0;
    while (*p && strchr(delimiters, *p))
        p++;
    *lo = a;
    *hi = b;
    *cursor = p;
    return 1;
}

// list := item { "," item }; item := [ "+" | "-" ] hex "-" hex. A sign holds
// for the items after it until another sign; "+" before any sign.
int parse_range_list(const char *text, void *context, range_item_fn_t add, range_item_fn_t remove)
{
    const char *p = text;
    bool adding = true;
    for (;;) {
        if (*p == '+' || *p == '-')
            adding = *p++ == '+';
        uint32_t lo, hi;
        if (!hex_digits(&p, &lo) || *p++ != '-' || !hex_digits(&p, &hi) || lo > hi)
            return 0;
        (adding ? add : remove)(context, lo, hi);
        if (*p == '\0')
            return 1;
        if (*p++ != ',')
            return 0;
    }
}

const char *arch_name(uint32_t arch)
{
    static const char *const names[] = {nullptr, "PIC12", "PIC14", "PIC16"};
    return arch < 4 ? names[arch] : nullptr;
}

// ---------------------------------------------------------------------------
// the count check
// ---------------------------------------------------------------------------

void check_key_count(const chip_record *chip, int required, int expected, const char *key, ...)
{
    std::string name;
    unsigned present = 0, total = 0;
    va_list args;
    va_start(args, key);
    for (const char *k = key; k; k = va_arg(args, const char *)) {
        if (!name.empty())
            name += "/";
        name += k;
        if (vector_t *values = chip_key_values(chip, k)) {
            present++;
            total += vec_count(values);
        }
    }
    va_end(args);
    const char *file = chipinfo_file ? chipinfo_file : "";
    int line = (int)chipinfo_line;
    if (required && present == 0)
        msg_report(1015, name.c_str(), file, line);
    if (expected < 0 || present == 0 || total == (unsigned)expected)
        return;
    if (total == 0)
        msg_report(1016, expected == 1 ? "" : "s", name.c_str(), file, line);
    else if (expected == 0)
        msg_report(1017, total == 1 ? "" : "s", name.c_str(), file, line);
    else if (expected == 1 && total == 2)
        msg_report(1019, name.c_str(), file, line);
    else
        msg_report(1018, name.c_str(), total == 1 ? "" : "s", total, (unsigned)expected, file, line);
}

// ---------------------------------------------------------------------------
// reading the file
// ---------------------------------------------------------------------------

void chipinfo_set_hooks(chip_scalar_hook_t scalar, chip_range_hook_t range)
{
    scalar_hook = scalar;
    range_hook = range;
}

// One pass over the file.
struct chipinfo_reader {
    FILE *file;
    std::string line;    // the current line, leading white space removed
    bool at_end;         // no current line: the file is used up
    chip_record *chip;   // the record being built
    bool global_arch;    // ARCH given among the global keys
    bool section_arch;   // ARCH given in the current section
};

static void reader_next_line(chipinfo_reader *r)
{
    std::string raw;
    r->at_end = !os_read_line(r->file, raw);
    if (r->at_end)
        return;
    chipinfo_line++;
    size_t start = raw.find_first_not_of(" \t");
    r->line = start == std::string::npos ? "" : raw.substr(start);
}

static bool line_is_comment(const std::string &line)
{
    return line.empty() || line[0] == '#';
}

// The first run of characters that are neither '[' nor ']'.
static std::string section_name(const std::string &line)
{
    size_t start = line.find_first_not_of("[]");
    if (start == std::string::npos) {
        msg_report(1024, chipinfo_file, (int)chipinfo_line);
        return "";
    }
    size_t end = line.find_first_of("[]", start);
    return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

static void reader_set_arch(chipinfo_reader *r, bool *flag, const char *value)
{
    if (*flag)
        msg_report(816, chipinfo_file, (int)chipinfo_line);
    if (!value) {
        msg_report(1024, chipinfo_file, (int)chipinfo_line);
        return;
    }
    for (uint32_t arch = ARCH_BASELINE; arch <= ARCH_HIGHEND; arch++)
        if (strcasecmp(value, arch_name(arch)) == 0) {
            r->chip->architecture = arch;
            *flag = true;
            return;
        }
    msg_report(1025, chipinfo_file, (int)chipinfo_line);
}

// Stores one key's value in the record and hands it to the hooks.
static void chip_apply_key(chip_record *chip, const char *key, const char *value)
{
    const key_desc *k = key_find(key);
    if (!k) {
        msg_report(1020, key, chipinfo_file, (int)chipinfo_line);
        return;
    }
    if (!value)
        return;
    if (k->group == KEY_SCALAR) {
        uint32_t v;
        if (!parse_hex_value(value, &v)) {
            msg_report(1021, key, chipinfo_file, (int)chipinfo_line);
            return;
        }
        chip_set_scalar(chip, k->ordinal, v);
        if (scalar_hook)
            scalar_hook(chip, k->ordinal, v);
    } else if (k->group == KEY_RANGE) {
        // A value made of separators only holds no range: a syntax error too.
        const char *p = value;
        do {
            uint32_t lo, hi;
            if (!parse_hex_range(&p, &lo, &hi)) {
                msg_report(1022, key, chipinfo_file, (int)chipinfo_line);
                return;
            }
            chip_add_range(chip, k->ordinal, lo, hi);
            if (range_hook)
                range_hook(chip, k->ordinal, lo, hi);
        } while (*p);
    }
}

// A key line: ARCH sets the architecture, any other key is applied and its
// value kept in the table. Global keys may also be written KEY:value.
static void reader_key_line(chipinfo_reader *r, bool global)
{
    const char *p = r->line.c_str();
    std::string key = next_token(&p, global ? "=: \t\n" : "= \t\n");
    if (key.empty())
        return;
    std::string value = next_token(&p, ":= \t\n");
    const char *v = value.empty() ? nullptr : value.c_str();
    if (strcasecmp(key.c_str(), "ARCH") == 0) {
        reader_set_arch(r, global ? &r->global_arch : &r->section_arch, v);
        return;
    }
    chip_apply_key(r->chip, key.c_str(), v);
    key_table_store(global ? r->chip->global_keys : r->chip->section_keys, key.c_str(), v);
}

// Applies every stored value of a table again, in bucket and chain order.
static int reapply_key(void *context, void *key, void *value)
{
    auto *chip = static_cast<chip_record *>(context);
    auto *values = static_cast<vector_t *>(value);
    for (uint32_t i = 0; i < vec_count(values); i++)
        chip_apply_key(chip, static_cast<const char *>(key), static_cast<const char *>(vec_get(values, i)));
    return 0;
}

// Keeps the memory-model hooks quiet while a chip's keys are first read: the
// memory a key describes depends on the core, which the section may name on
// any of its lines. The hooks see every value once the whole chip is known
// (reader_rebuild).
struct hooks_off {
    chip_scalar_hook_t scalar = scalar_hook;
    chip_range_hook_t range = range_hook;
    hooks_off() { scalar_hook = nullptr, range_hook = nullptr; }
    ~hooks_off() { scalar_hook = scalar, range_hook = range; }
};

// Reads the section whose header is the current line up to the next header
// or the end of the file, then finishes the record.
static void reader_take_section(chipinfo_reader *r, const std::string &name)
{
    free(r->chip->name);
    r->chip->name = xstrdup(name.c_str());
    hooks_off quiet;
    for (reader_next_line(r); !r->at_end && r->line[0] != '['; reader_next_line(r))
        if (!line_is_comment(r->line))
            reader_key_line(r, false);
    if (!r->section_arch && !r->global_arch)
        msg_report(1026, chipinfo_file, (int)chipinfo_line);
    r->section_arch = false;
    chip_finish(r->chip);
}

// Rebuilds a chip from its stored values (global keys first), hooks
// included, so that the memory model is built for the chip's core and every
// chip of a walk sees the global defaults.
static void reader_rebuild(chipinfo_reader *r)
{
    chip_clear_fields(r->chip);
    hash_walk(r->chip->global_keys, r->chip, reapply_key);
    hash_walk(r->chip->section_keys, r->chip, reapply_key);
    chip_finish(r->chip);
}

// Each header clears the record, so the global defaults are put back before
// a section is read, for the checks that finish it.
static void reader_apply_globals(chipinfo_reader *r)
{
    hooks_off quiet;
    hash_walk(r->chip->global_keys, r->chip, reapply_key);
}

static chip_record *chip_record_new()
{
    auto *chip = static_cast<chip_record *>(xmalloc(sizeof(chip_record)));
    chip->global_keys = key_table_new();
    chip->section_keys = key_table_new();
    chip->flash_type = CHIP_FLASH_NONE;
    return chip;
}

// A section of a lookup that only ends with the wanted name.
struct chipinfo_candidate {
    std::string name;
    long position; // just after the header line
    unsigned line;
    bool found;
};

chip_record *read_chipinfo(const char *path, const char *name, void *context, chip_callback_t callback)
{
    // No path: the caller could not find the database.
    if (!path) {
        msg_report(1520, "chip database");
        return nullptr;
    }
    // A copy: messages given after the read (919) still name the file.
    static char *file_copy;
    free(file_copy);
    chipinfo_file = file_copy = xstrdup(path);
    chipinfo_line = 0;
    chipinfo_reader r{};
    r.file = fopen(path, "rb");
    if (!r.file) {
        msg_report(141, "chip info", path);
        return nullptr;
    }
    r.chip = chip_record_new();
    std::string wanted = callback || !name ? "" : name;
    chipinfo_candidate candidate{};
    bool in_section = false;
    reader_next_line(&r);
    if (r.at_end)
        msg_report(920);
    while (!r.at_end) {
        if (line_is_comment(r.line)) {
            reader_next_line(&r);
            continue;
        }
        if (r.line[0] != '[') {
            if (!in_section)
                reader_key_line(&r, true);
            reader_next_line(&r);
            continue;
        }
        in_section = true;
        std::string section = section_name(r.line);
        chip_clear_fields(r.chip);
        if (wanted.empty() || strcasecmp(section.c_str(), wanted.c_str()) == 0) {
            reader_apply_globals(&r);
            reader_take_section(&r, section);
            reader_rebuild(&r);
            if (!callback) {
                fclose(r.file);
                return r.chip;
            }
            if (callback(context, r.chip))
                break;
            key_table_empty(r.chip->section_keys);
            continue; // the line that ended the section is the next header
        }
        if (wanted.size() < section.size() &&
            strcasecmp(section.c_str() + section.size() - wanted.size(), wanted.c_str()) == 0) {
            if (candidate.found) {
                fclose(r.file);
                return nullptr; // the name is the tail of two sections
            }
            candidate = {section, ftell(r.file), chipinfo_line, true};
        }
        reader_next_line(&r);
    }
    if (candidate.found && !callback) {
        fseek(r.file, candidate.position, SEEK_SET);
        chipinfo_line = candidate.line;
        chip_clear_fields(r.chip);
        reader_apply_globals(&r);
        reader_take_section(&r, candidate.name);
        reader_rebuild(&r);
        fclose(r.file);
        return r.chip;
    }
    fclose(r.file);
    return nullptr;
}

chip_record *chipinfo_lookup(const char *path, const char *name)
{
    // An empty name (--chip=) would be read as "every section" and take the
    // first chip of the file; it names none.
    chip_record *chip = name && *name ? read_chipinfo(path, name, nullptr, nullptr) : nullptr;
    if (!chip)
        msg_report(922, name ? name : "", path ? path : "");
    chip_selected = chip;
    return chip;
}

void chipinfo_iterate(const char *path, void *context, chip_callback_t callback)
{
    read_chipinfo(path, "", context, callback);
}

// ---------------------------------------------------------------------------
// the --chipinfo listing
// ---------------------------------------------------------------------------

struct listing {
    FILE *out;
    int verbose;
};

static int list_chip(void *context, chip_record *chip)
{
    auto *l = static_cast<listing *>(context);
    if (!l->verbose) {
        fprintf(l->out, "%s:%lX:%X\n", chip->name, (unsigned long)chip->rom_size, (unsigned)chip->banks);
        return 0;
    }
    const char *arch = chip->architecture == ARCH_BASELINE   ? "12-bit"
                       : chip->architecture == ARCH_MIDRANGE ? "14-bit"
                                                             : "16-bit";
    fprintf(l->out, "%10s\t%6s\t%6s\t%d (%d)\t0x%lX\t0x%lX\t", chip->name, arch,
            chip->processor_id ? chip->processor_id : "", chip->banks, chip->ram_count,
            (unsigned long)chip->rom_size, (unsigned long)chip->eeprom_size);
    for (int b = 0; b < CHIP_MAX_MIRROR; b++)
        if (chip->mirror[b])
            fprintf(l->out, "%d->%d ", b, chip->mirror[b] & 0xF);
    fprintf(l->out, "\n");
    return 0;
}

void chipinfo_list(const char *path, int verbose, FILE *out)
{
    if (verbose)
        fprintf(out, "\nSupported device information:\n%10s\t%6s\t%6s\tBanks\tROM\tEEPROM\tMirror\n%s\n", "Device",
                "Arch.", "ID", std::string(66, '-').c_str());
    else
        fprintf(out, ";name:romsize:numbanks\n");
    listing l{out, verbose};
    chipinfo_iterate(path, &l, list_chip);
}
