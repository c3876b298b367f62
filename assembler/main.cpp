// osprey, the assembler.
//
//   osprey [options] file.as
//     --chip=NAME   the target chip (its family and program size come from
//                   the chip database)
//     -C<file>      the chip database to use
//     -R<hex>       program memory size in words, overriding the database
//     -o<file>      the object file (default: the source's base name + .obj)
//     -o            optimise (accepted; the code is assembled as written)
//     -a            with -o<file>, write the assembly text instead of an object
//     -l<file>      write a listing
//     -x            leave local symbols out of the object
//     -v -icd -I -no_bankop -ver=...   accepted for the driver's command line
//     -E1 -W<n> --edf= --msgdisable= --emax= --ver   the common options
#include "osprey.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <strings.h>

asm_state as;

// The object file being written, removed when the run fails.
static std::string output_path;
static bool output_started;

// An unfinished object goes; a device or other special file named as the
// output is never removed.
static void output_remove()
{
    std::error_code error;
    if (!output_path.empty() && std::filesystem::is_regular_file(output_path, error))
        os_remove_file(output_path.c_str());
}

void tool_exit(int)
{
    if (output_started)
        output_remove();
}

asm_symbol &asm_sym(const std::string &name)
{
    auto it = as.symbols.find(name);
    if (it != as.symbols.end())
        return it->second;
    as.symbol_order.push_back(name);
    asm_symbol &s = as.symbols[name];
    s.name = name;
    return s;
}

asm_symbol *asm_find(const std::string &name)
{
    auto it = as.symbols.find(name);
    return it == as.symbols.end() ? nullptr : &it->second;
}

int asm_psect_index(const std::string &name)
{
    for (size_t i = 0; i < as.psects.size(); i++)
        if (as.psects[i].name == name)
            return static_cast<int>(i);
    return -1;
}

long asm_here() { return as.current >= 0 ? as.psects[as.current].loc : 0; }

// ---------------------------------------------------------------------------
// the chip
// ---------------------------------------------------------------------------
static std::string chip_database;
static bool chip_from_command_line;
static long rom_override = -1;

// The chip database the run reads: the one named, else the installation's
// (empty when there is none).
static std::string chip_database_path()
{
    std::string path = chip_database;
    if (path.empty()) {
        char *p = install_path(INST_DAT, "zeph.ini");
        if (p)
            path = p;
        free(p);
    }
    return path;
}

// Reads the chip's ARCH and ROMSIZE from the chip database.
static bool chip_lookup(const std::string &name, int *family, unsigned long *rom)
{
    std::string path = chip_database_path();
    FILE *f = path.empty() ? nullptr : fopen(path.c_str(), "rb");
    if (!f)
        return false;
    std::string want = name;
    if (want.size() > 3 && strncasecmp(want.c_str(), "PIC", 3) == 0)
        want = want.substr(3);
    std::string line;
    bool in = false, found = false;
    *family = 0;
    while (os_read_line(f, line)) {
        size_t i = line.find_first_not_of(" \t");
        if (i == std::string::npos || line[i] == '#')
            continue;
        if (line[i] == '[') {
            size_t e = line.find(']', i);
            in = strcasecmp(line.substr(i + 1, e - i - 1).c_str(), want.c_str()) == 0;
            found |= in;
            continue;
        }
        if (!in)
            continue;
        size_t eq = line.find('=', i);
        if (eq == std::string::npos)
            continue;
        std::string key = line.substr(i, eq - i), value = line.substr(eq + 1);
        while (!key.empty() && isspace(static_cast<unsigned char>(key.back())))
            key.pop_back();
        value = value.substr(0, value.find_first_of(" \t"));
        if (strcasecmp(key.c_str(), "ARCH") == 0)
            *family = strcasecmp(value.c_str(), "PIC12") == 0 ? FAM_BASELINE
                      : strcasecmp(value.c_str(), "PIC14") == 0 ? FAM_MIDRANGE
                      : strcasecmp(value.c_str(), "PIC16") == 0 ? FAM_HIGHEND : 0;
        else if (strcasecmp(key.c_str(), "ROMSIZE") == 0)
            *rom = strtoul(value.c_str(), nullptr, 16);
    }
    fclose(f);
    return found;
}

static void chip_select(const std::string &name)
{
    int family = 0;
    unsigned long rom = 0;
    if (!chip_lookup(name, &family, &rom)) {
        msg_report(1414, name.c_str());
        return;
    }
    if (family != FAM_BASELINE && family != FAM_MIDRANGE && family != FAM_HIGHEND) {
        msg_report(1430, name.c_str());
        return;
    }
    as.chip = name;
    as.family = family;
    if (rom)
        as.rom_words = rom;
    if (rom_override > 0)
        as.rom_words = static_cast<unsigned long>(rom_override);
}

void asm_processor(const std::string &name)
{
    if (!chip_from_command_line && as.chip.empty())
        chip_select(name);
}

// ---------------------------------------------------------------------------
// main
// ---------------------------------------------------------------------------
static std::string default_output(const char *source)
{
    std::string base = os_path_basename(source);
    size_t dot = base.rfind('.');
    return (dot == std::string::npos ? base : base.substr(0, dot)) + ".obj";
}

static bool copy_text(const char *from, const char *to)
{
    FILE *in = fopen(from, "rb");
    FILE *out = in ? fopen(to, "wb") : nullptr;
    bool ok = in && out;
    char buf[8192];
    size_t n;
    while (ok && (n = fread(buf, 1, sizeof buf, in)) > 0)
        ok = fwrite(buf, 1, n, out) == n;
    if (in)
        fclose(in);
    if (out && fclose(out) != 0)
        ok = false;
    return ok;
}

int main(int argc, char **argv)
{
    msg_set_tool_name("assembler");
    char **args = argv;
    if (argc == 1) {
        args = getargs(nullptr, msg_tool_name());
        argc = getargs_count;
    }
    const char *source = nullptr;
    std::string chip, listing;
    bool assembly_out = false;
    for (int i = 1; i < argc; i++) {
        const char *a = args[i];
        if (msg_std_option(a))
            continue;
        if (strncasecmp(a, "--chip=", 7) == 0)
            chip = a + 7;
        else if (strncmp(a, "-C", 2) == 0 && a[2])
            chip_database = a + 2;
        else if (strncmp(a, "-R", 2) == 0 && a[2])
            rom_override = strtol(a + 2, nullptr, 16);
        else if (strcmp(a, "-o") == 0 || strncmp(a, "-ver=", 5) == 0 || strcmp(a, "-icd") == 0 ||
                 strncmp(a, "-I", 2) == 0 || strcmp(a, "-no_bankop") == 0 || strcmp(a, "-v") == 0)
            continue;
        else if (strncmp(a, "-o", 2) == 0)
            output_path = a + 2;
        else if (strcmp(a, "-a") == 0)
            assembly_out = true;
        else if (strncmp(a, "-l", 2) == 0)
            listing = a + 2;
        else if (strcmp(a, "-x") == 0)
            as.strip_locals = true;
        else if (strncmp(a, "-E", 2) == 0)
            msg_set_format_mode(a[2] ? atoi(a + 2) : 1);
        else if (strncmp(a, "-W", 2) == 0)
            msg_set_warning_level(atoi(a + 2));
        else if (a[0] == '-')
            msg_report(1431, a);
        else if (source)
            msg_report(1400);
        else
            source = a;
    }
    if (!source)
        msg_report(1400);
    if (output_path.empty())
        output_path = default_output(source);
    // No output goes over a file the run reads: the source (the listing is
    // written while the source is still to be read again) or the chip
    // database, whatever the spelling of the names or links between them.
    std::string database = chip_database_path();
    for (const std::string &out : {output_path, listing}) {
        if (out.empty())
            continue;
        if (os_same_file(source, out.c_str()))
            msg_report(1432, out.c_str());
        if (!database.empty() && os_same_file(database.c_str(), out.c_str()))
            msg_report(1470, out.c_str());
    }
    // The object would be written over the listing; a device takes both.
    std::error_code error;
    if (!listing.empty() && (listing == output_path || os_same_file(listing.c_str(), output_path.c_str())) &&
        !(std::filesystem::exists(listing, error) && !std::filesystem::is_regular_file(listing, error))) {
        errno = EEXIST;
        msg_report(1433, listing.c_str());
        return 1;
    }
    if (assembly_out) {
        if (!copy_text(source, output_path.c_str()))
            msg_report(1415, output_path.c_str());
        return msg_exit_status();
    }
    if (!chip.empty()) {
        chip_from_command_line = true;
        chip_select(chip);
    } else if (rom_override > 0) {
        as.rom_words = static_cast<unsigned long>(rom_override);
    }
    source_assemble_file(source, listing.empty() ? nullptr : listing.c_str());
    if (msg_exit_status() != 0)
        return 1;
    output_started = true;
    if (!emit_write_object(output_path.c_str())) {
        output_remove();
        return 1;
    }
    output_started = false;
    return msg_exit_status();
}
