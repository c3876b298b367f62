// Rewriting one object file. The records are copied one by one into a
// temporary file beside the object; in SYM records the global flag of each
// listed symbol definition is cleared on the way. Only when the whole file
// has been read and written does the temporary replace the object, in one
// rename, so any failure leaves the object as it was. Copying stops after
// the END record.
//
// A SYM entry is {u32 value, u16 flags, psect name, symbol name}; it is
// changed when the symbol, or the symbol less one leading "_", is listed and
// the flags say global with neither kind bit 0x02 nor 0x04 (so undefined and
// other special symbols stay). Only the low-order byte of the flags, found
// through the 2-byte map of the module's IDENT record, is touched.
//
// A library holds many modules behind a directory of their symbols; copying
// records up to the first END would cut it short, so libraries are refused.
// So are devices, pipes and folders. A link is followed: the file it names
// is rewritten (keeping its permissions) and the link stays.

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <strings.h>

#include "../../common/common.h"
#include "../../linker/objfile.h"
#include "../util_file.h"
#include "shrike.h"

std::vector<const char *> hide_names;

// Kind bits that make a symbol something other than a plain definition.
const unsigned HIDE_KIND_BITS = 0x06;

// Byte-order maps of the last IDENT record read (they carry over from one
// file to the next until the next file's IDENT).
static byte_order hide_order = order_little;
// The object file being rewritten, for messages.
static const char *hide_file;
// Records read from it so far; messages name the current one.
static unsigned hide_record;
// Name of the temporary that becomes the rewritten object, while it exists.
static char *temp_name;
// The temporary while it is being written.
static FILE *temp_file;

// Messages name the file and, once records are read, the record number,
// after whatever standard output holds.
static void hide_locate_report()
{
    fflush(stdout);
    msg_set_location(hide_file, hide_record ? &hide_record : nullptr, nullptr, nullptr);
}

void hide_discard_temporary()
{
    if (temp_file)
        fclose(temp_file);
    temp_file = nullptr;
    if (temp_name && os_remove_file(temp_name) != 0) {
        int error = errno;
        if (os_file_exists(temp_name))
            msg_report(459, error, strerror(error));
    }
    temp_name = nullptr;
}

// A name that is not yet taken, in the object's own folder so that the
// final rename stays on one file system.
static char *hide_make_temp_name(const char *object)
{
    for (unsigned n = 1;; n++) {
        char *name = xasprintf("%s.%u.tmp", object, n);
        if (!os_file_exists(name))
            return name;
        free(name);
    }
}

// A library by its extension or by its layout: a directory whose modules
// fill the rest of the file exactly.
static bool hide_is_library(const char *name, FILE *f)
{
    size_t length = strlen(name);
    if (length >= 4 && strcasecmp(name + length - 4, ".lib") == 0)
        return true;
    lib_directory dir;
    bool library = false;
    if (lib_read_directory(f, &dir) == LIB_OK && !dir.modules.empty()) {
        const lib_module &last = dir.modules.back();
        library = fseek(f, 0, SEEK_END) == 0 && ftell(f) == (long)last.start + (long)last.length;
    }
    rewind(f);
    return library;
}

static bool hide_is_listed(const char *symbol)
{
    for (const char *name : hide_names)
        if (strcmp(symbol, name) == 0 || (symbol[0] == '_' && strcmp(symbol + 1, name) == 0))
            return true;
    return false;
}

// IDENT: its maps apply to the records after it.
static void hide_take_ident(const obj_record &r)
{
    obj_ident ident;
    bool valid_maps;
    if (!decode_ident(r.body, r.length, &ident, &valid_maps) || !valid_maps)
        msg_report(1472, obj_type_name(r.type));
    hide_order = ident.order;
}

// SYM: clears the global flag of each listed definition, entry by entry
// within the body.
static void hide_sym_record(obj_record &r)
{
    obj_cursor c = cur_open(r.body, r.length, hide_order);
    while (!cur_at_end(c)) {
        unsigned start = cur_offset(c, r.body);
        obj_sym_entry e;
        if (!decode_sym_entry(c, false, &e))
            msg_report(1472, obj_type_name(r.type));
        if ((e.flags & (OBJ_GLOBAL | HIDE_KIND_BITS)) == OBJ_GLOBAL && hide_is_listed(e.name))
            r.body[start + 4 + hide_order.map16[0]] &= ~OBJ_GLOBAL;
    }
}

// Reads the next record; false at the end of the file (a header cut short
// ends it too). Every other fault is fatal.
static bool hide_read_record(FILE *in, obj_record &r)
{
    obj_status s = obj_read_header(in, &r);
    if (s == OBJ_END_OF_FILE || s == OBJ_SHORT_HEADER)
        return false;
    if (s != OBJ_OK)
        msg_report(141, "input", hide_file);
    hide_record++;
    if (!obj_type_valid(r.type))
        msg_report(380, (int)r.type);
    if (r.length > OBJ_MAX_BODY)
        msg_report(381, obj_type_name(r.type), (int)r.length);
    if (obj_read_body(in, &r) != OBJ_OK)
        msg_report(382, (int)r.type, (int)r.length);
    return true;
}

// Copies the records up to and including END, changing SYM records.
static void hide_copy_records(FILE *in, FILE *out)
{
    obj_record r;
    while (hide_read_record(in, r)) {
        if (r.type == REC_IDENT)
            hide_take_ident(r);
        else if (r.type == REC_SYM)
            hide_sym_record(r);
        if (obj_write_record(out, r.type, r.body, r.length) != OBJ_OK)
            msg_report(413, temp_name);
        if (r.type == REC_END)
            break;
    }
}

// The file to rewrite: the object itself, or the file a link to it names.
// Anything but a plain file is refused before it is opened (a pipe would
// block the open).
static std::filesystem::path hide_target(const char *name)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::file_status status = fs::status(name, error);
    if (!fs::exists(status))
        return name;
    if (!fs::is_regular_file(status))
        msg_report(1473, name);
    fs::path target = fs::canonical(name, error);
    return error ? fs::path(name) : target;
}

// The rewritten file keeps the permissions of the object it replaces.
static void hide_copy_permissions(const std::filesystem::path &from, const char *to)
{
    std::error_code error;
    std::filesystem::perms perms = std::filesystem::status(from, error).permissions();
    if (!error)
        std::filesystem::permissions(to, perms, error);
}

void hide_object_file(const char *name)
{
    hide_file = name;
    hide_record = 0;
    msg_set_prereport_hook(hide_locate_report);
    std::filesystem::path target = hide_target(name);
    FILE *in = util_open_input(name);
    if (!in)
        msg_report(141, "input", name);
    if (hide_is_library(name, in))
        msg_report(1471, name);

    temp_name = hide_make_temp_name(target.c_str());
    temp_file = fopen(temp_name, "wb");
    if (!temp_file)
        msg_report(378, "temporary", temp_name);
    hide_copy_records(in, temp_file);
    fclose(in);
    int closed = fclose(temp_file);
    temp_file = nullptr;
    if (closed != 0)
        msg_report(413, temp_name);
    hide_copy_permissions(target, temp_name);

    // Only now is the object replaced, in one step.
    hide_record = 0;
    if (os_rename_file(temp_name, target.c_str()) != 0)
        msg_report(460, errno, strerror(errno));
    free(temp_name);
    temp_name = nullptr;
}
