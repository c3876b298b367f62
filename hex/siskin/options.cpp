// siskin's command line: input files and options in any order, option names
// without regard to case and matched as the start of the argument, a leading
// '+' on any argument for forced storage.
//
// Every option is a row of one table (name, syntax, help, example, parser);
// -HELP prints the table and a text that does not parse is reported with the
// row's own usage (941). Numbers are hexadecimal unless a row says otherwise;
// addresses are in the units of -ADDRESSING and become byte addresses here,
// an end address reaching to the last byte of its unit. Every number is read
// into 64 bits first, so an address past the 32-bit space is an error rather
// than a value that wrapped.
#include "siskin.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "common.h"

std::vector<sk_input> inputs;
std::vector<sk_pattern_range> masks;
std::vector<uint32_t> breaks;
unsigned address_unit = 1;           // bytes per address in the options
int output_format = FMT_INHX32;
unsigned record_length = 16;         // data bytes per output record
bool output_wanted = true;
std::string output_name;
std::string log_name;
bool size_wanted;

std::vector<sk_find> finds;
std::vector<sk_serial> serials;
std::vector<sk_string> strings;
std::vector<sk_pattern_range> fills;
std::vector<sk_checksum> checksums;

// Limits on the number of specifications of each kind.
const unsigned MAX_FILLS = 6;
const unsigned MAX_MASKS = 6;
const unsigned MAX_FINDS = 3;
const unsigned MAX_SERIALS = 4;
const unsigned MAX_STRINGS = 4;
const unsigned MAX_CHECKSUMS = 3;
const unsigned MAX_BREAKS = 10;
const unsigned MAX_CODE_BYTES = 8;

typedef void (*opt_parser_t)(const char *value, bool forced);

struct opt_row {
    const char *name;
    const char *syntax;
    const char *help;
    const char *example;
    opt_parser_t parse;   // gets the text after the name
};

static void parse_input(const char *value, bool forced);
static void parse_addressing(const char *value, bool forced);
static void parse_break(const char *value, bool forced);
static void parse_ck(const char *value, bool forced);
static void parse_help_only(const char *value, bool forced);
static void parse_fill(const char *value, bool forced);
static void parse_find(const char *value, bool forced);
static void parse_format(const char *value, bool forced);
static void parse_help(const char *value, bool forced);
static void parse_logfile(const char *value, bool forced);
static void parse_mask(const char *value, bool forced);
static void parse_output(const char *value, bool forced);
static void parse_serial(const char *value, bool forced);
static void parse_size(const char *value, bool forced);
static void parse_string(const char *value, bool forced);
static void parse_strpack(const char *value, bool forced);
static void parse_warning(const char *value, bool forced);

enum opt_row_index {
    ROW_FILE, ROW_ADDRESSING, ROW_BREAK, ROW_CK, ROW_DELETE, ROW_FILL, ROW_FIND,
    ROW_FORMAT, ROW_HELP, ROW_LOGFILE, ROW_MASK, ROW_O, ROW_SERIAL, ROW_SIZE,
    ROW_STRING, ROW_STRPACK, ROW_REPLACE, ROW_W, ROW_PLUS, ROW_COUNT
};

// name, syntax, help text, example, parser
static const opt_row rows[] = {
    {"file.hex", "[r[start]-[end]][sOffset],", "Specify a hex input file. Optionally restrict input to r[start]-[end] range. Optionally address-shift code by [Offset]", "r0-1FFs1F00,", parse_input},
    {"-ADDRESSING", "=addrFormat", "Specify the native input format for all address components in siskin options. (1 = byte address, 2 = word address)", "=1", parse_addressing},
    {"-BREAK", "=addr1[,addr2,...,addr10]", "Continuous data will break and recommence with a new record at these addresses.", "=4000,8000", parse_break},
    {"-CK", "=start-end@dest[+offset][wWidth][tCode][gAlgorithm]", "Calculate a checksum between start and end addresses, store result at destination address.\n\tOptional controls are '+' add initial offset,\n\t'w' set byte-width of result (use negative width for little-endian result),\n\t't' specify trailing hexcode for each byte in result,\n\t'g' select which algorithm to use when calculating checksum.\n", "=0-1FFF@5FFC+1234w-2t34w2", parse_ck},
    {",DELETE", "", "Only used in conjunction with -FIND and not with any other specification. If the find code is found, delete it\n\tSee also -FIND", "=5200FFFFMFF00FFFF", parse_help_only},
    {"-FILL", "=hexcode@start-end[,data]", "Specify a hexadecimal code for filling unused memory locations within an address range.\n\tOptionally adding \",data\" will only fill records within range that contain data.\n\tOmitting \",data\" will fill all records within the address range.", "=FFFF@0-1FFF,data", parse_fill},
    {"-FIND", "=findcode[Mbitmask]@start-end[/align][w][tTitle]([,REPLACE=...]|[,DELETE])", "Find occurances of an opcode within an address range, optionally masked with Mbitmask.\n\tThe numeral following the '/' specifies the X byte boundary that matching op-codes must align with.\n\tBy adding 'w' siskin will issue a warning each time the opcode is found.\n\tText trailing the optional 't' is an explanitory title for this search. (Titles make warnings/logs more descriptive)\n\t-FIND can be trailed with a ,REPLACE or DELETE specification.", "=C000FFE8MF000F000@0-FFFF/2wt\"ADD Instruction\",REPLACE...", parse_find},
    {"-FORMAT", "=INHXtype[,reclength]", "Specify what type of Intel HEX file to generate [INHX8M/INHX32/INHX032] and maximum number of bytes per record", "=INHX8M,16", parse_format},
    {"-HELP", "=option", "Display all command line options, or show usage of one specific option.", "=CK", parse_help},
    {"-LOGFILE", "=filename", "Save a descriptive report to this file", "=logfile.txt", parse_logfile},
    {"-MASK", "=hexcode@start-end", "This hexadecimal mask will be logically ANDed with data in the address range given", "=3FFF@0-1FFF", parse_mask},
    {"-O", "filename", "Save the output to the file specified", "output.hex", parse_output},
    {"-SERIAL", "=value[+/-incr]@address[+/-interval][r<repetitions>]", "Store a hex code (or series of codes) at a fixed address. Eg. serial number", "=1234@3000", parse_serial},
    {"-SIZE", "", "Calculate the total data size of the HEX file", "", parse_size},
    {"-STRING", "@address[tCode]=\"Some string\"", "Embed an ASCII string at a fixed address Eg. time stamp. Optional 't' control = trail each byte in string with this hexcode", "@3000=\"My favourite string\\n\"", parse_string},
    {"-STRPACK", "@address=\"Some string\"", "Embed and string-pack an ASCII string at a fixed address", "@3000=\"My favourite packed string\\n\"", parse_strpack},
    {",REPLACE", "=replacecode[Mbitmask]", "Only used in conjunction with -FIND and not with any other specification. If the find code is found, replace it with this code\n\tSee also -FIND", "=5200FFFFMFF00FFFF", parse_help_only},
    {"-W", "level[!]", "Adjust the sensitivity of warnings, add '!' to stop on warnings", "9!", parse_warning},
    {"+", "<argument>", "Prepend an argument with '+' to use forced storage ie. Any overlapping data will be overwritten", "input.hex +-SERIAL=1234@1000", parse_help_only},
};
static_assert(sizeof rows / sizeof rows[0] == ROW_COUNT, "one row per option");

static const char *program_path = "siskin";   // argv[0], for the banner

// ---------------------------------------------------------------------------
// Reading numbers and reporting bad texts
// ---------------------------------------------------------------------------

// A text that does not parse: the row's usage (fatal).
[[noreturn]] static void opt_bad(int row)
{
    const opt_row &r = rows[row];
    if (row == ROW_FILE)
        msg_report(941, r.name, r.syntax, r.name);
    else
        msg_report(941, r.name, r.name, r.syntax);
    tool_exit(1);
    exit(1);
}

// After a fatal message: the message system has ended the run already.
[[noreturn]] static void opt_fatal_exit()
{
    tool_exit(1);
    exit(1);
}

static bool starts_nocase(const char *text, const char *prefix)
{
    return strncasecmp(text, prefix, strlen(prefix)) == 0;
}

// Hexadecimal digits at p: their count (0 when none); the value of up to 16
// digits (more digits leave the count above 16 for the caller to refuse).
static unsigned read_hex(const char *&p, uint64_t *value)
{
    unsigned n = 0;
    uint64_t v = 0;
    while (isxdigit((unsigned char)*p)) {
        v = (v << 4) | (uint64_t)(isdigit((unsigned char)*p) ? *p - '0' : (toupper(*p) - 'A' + 10));
        p++;
        n++;
    }
    *value = v;
    return n;
}

// A hexadecimal number that must be there and fit 32 bits.
static uint64_t need_hex(const char *&p, int row)
{
    uint64_t v;
    unsigned n = read_hex(p, &v);
    if (n == 0 || n > 16 || v > SK_ADDR_LIMIT)
        opt_bad(row);
    return v;
}

// An option address in byte units; an end address reaches to the last byte of
// its unit. Past the 32-bit space: the row's usage.
static uint32_t scale_address(uint64_t raw, bool is_end, int row)
{
    uint64_t a = raw * address_unit + (is_end ? address_unit - 1 : 0);
    if (raw > SK_ADDR_LIMIT || a > SK_ADDR_LIMIT)
        opt_bad(row);
    return (uint32_t)a;
}

// Checks that `bytes` bytes from `addr` on stay inside the address space.
static void check_span(uint32_t addr, uint64_t bytes, int row)
{
    if (bytes > 0 && (uint64_t)addr + bytes - 1 > SK_ADDR_LIMIT)
        opt_bad(row);
}

static void expect_char(const char *&p, char c, int row)
{
    if (*p != c)
        opt_bad(row);
    p++;
}

// A hexadecimal code given as bytes in text order, two digits a byte: an odd
// digit is dropped with a warning, 1..8 bytes. Returns the byte count; the
// bytes go to out (when given) and the value, first byte most significant,
// to *value.
static unsigned read_code(const char *&p, const char *option, uint8_t *out, uint64_t *value)
{
    const char *start = p;
    unsigned digits = 0;
    while (isxdigit((unsigned char)p[digits]))
        digits++;
    p += digits;
    if (digits % 2)
        msg_report(1203, option);
    unsigned bytes = digits / 2;
    if (bytes < 1 || bytes > MAX_CODE_BYTES) {
        msg_report(1204, option, (int)MAX_CODE_BYTES);
        opt_fatal_exit();
    }
    uint64_t v = 0;
    for (unsigned i = 0; i < bytes; i++) {
        char pair[3] = {start[2 * i], start[2 * i + 1], 0};
        uint8_t b = (uint8_t)strtoul(pair, nullptr, 16);
        if (out)
            out[i] = b;
        v = (v << 8) | b;
    }
    *value = v;
    return bytes;
}

// "<start>-<end>" as raw numbers, both required.
static void read_range(const char *&p, int row, uint64_t *start, uint64_t *end)
{
    *start = need_hex(p, row);
    expect_char(p, '-', row);
    *end = need_hex(p, row);
}

static void check_count(size_t have, unsigned max, const char *option)
{
    if (have >= max) {
        msg_report(1198, option, (int)max);
        opt_fatal_exit();
    }
}

// ---------------------------------------------------------------------------
// Input files
// ---------------------------------------------------------------------------

// [r<start>-<end>][s<offset>],<file> or <file>
static void parse_input(const char *value, bool forced)
{
    sk_input in = {};
    in.arg = value;
    in.end = (uint32_t)SK_ADDR_LIMIT;
    in.forced = forced;
    const char *comma = strchr(value, ',');
    if (comma) {
        const char *p = value;
        while (p < comma) {
            char c = (char)tolower(*p++);
            uint64_t v;
            if (c == 'r') {
                read_hex(p, &v);
                in.start = scale_address(v, false, ROW_FILE);
                expect_char(p, '-', ROW_FILE);
                unsigned n = read_hex(p, &v);
                if (n > 16)
                    opt_bad(ROW_FILE);
                in.end = v == 0 ? (uint32_t)SK_ADDR_LIMIT : scale_address(v, true, ROW_FILE);
            } else if (c == 's') {
                if (read_hex(p, &v) > 16)
                    opt_bad(ROW_FILE);
                in.offset = scale_address(v, false, ROW_FILE);
            } else {
                opt_bad(ROW_FILE);
            }
        }
        in.name = comma + 1;
    } else {
        in.name = value;
    }
    if (inputs.size() >= SK_MAX_INPUTS) {
        msg_report(958, SK_MAX_INPUTS);
        opt_fatal_exit();
    }
    in.file = fopen(in.name.c_str(), "rb");
    if (!in.file) {
        msg_report(141, "input", in.name.c_str());
        opt_fatal_exit();
    }
    inputs.push_back(in);
}

// ---------------------------------------------------------------------------
// Options of the image and the output
// ---------------------------------------------------------------------------

// Handled by the first pass over the arguments.
static void parse_addressing(const char *, bool)
{
}

// Rows that exist for -HELP only.
static void parse_help_only(const char *, bool)
{
}

// =<addr>[,<addr>...]
static void parse_break(const char *value, bool)
{
    const char *p = value;
    expect_char(p, '=', ROW_BREAK);
    for (;;) {
        if (!isxdigit((unsigned char)*p))
            opt_bad(ROW_BREAK);
        check_count(breaks.size(), MAX_BREAKS, "-BREAK");
        breaks.push_back(scale_address(need_hex(p, ROW_BREAK), false, ROW_BREAK));
        if (*p == 0)
            return;
        expect_char(p, ',', ROW_BREAK);
    }
}

// =<type>[,<reclength>]
static void parse_format(const char *value, bool)
{
    static const struct {
        const char *name;
        int format;
    } types[] = {{"INHX8M", FMT_INHX8M}, {"INHX032", FMT_INHX032}, {"INHX32", FMT_INHX32}};
    const char *p = value;
    expect_char(p, '=', ROW_FORMAT);
    std::string type(p, strcspn(p, ","));
    bool known = false;
    for (const auto &t : types)
        if (starts_nocase(type.c_str(), t.name)) {
            output_format = t.format;
            known = true;
            break;
        }
    if (!known)
        msg_report(1202, type.c_str());
    p += type.size();
    if (*p == ',') {
        long n = strtol(p + 1, nullptr, 0);
        record_length = n >= 1 && n <= 128 ? (unsigned)n : 128;
    }
}

static void parse_logfile(const char *value, bool)
{
    if (value[0] != '=' || value[1] == 0)
        opt_bad(ROW_LOGFILE);
    log_name = value + 1;
}

static void parse_output(const char *value, bool)
{
    output_wanted = value[0] != 0;
    output_name = value;
}

static void parse_size(const char *, bool)
{
    size_wanted = true;
}

// <level>[!]: decimal, clamped to -9..9; '!' makes warnings count as errors.
static void parse_warning(const char *value, bool)
{
    long level = strtol(value, nullptr, 10);
    if (level == 0 && value[0] != '0') {
        std::string arg = std::string("-W") + value;
        msg_report(168, arg.c_str());
        return;
    }
    level = level < -9 ? -9 : level > 9 ? 9 : level;
    msg_set_warning_level((int)level);
    if (strchr(value, '!'))
        msg_set_warnings_fail(1);
}

// =<hexcode>@<start>-<end>: the pattern range shared by -FILL and -MASK.
static sk_pattern_range read_pattern_range(const char *&p, int row, const char *option)
{
    sk_pattern_range r = {};
    uint64_t code, start, end;
    expect_char(p, '=', row);
    r.length = read_code(p, option, r.pattern, &code);
    expect_char(p, '@', row);
    read_range(p, row, &start, &end);
    if (end < start) {
        msg_report(951);
        opt_fatal_exit();
    }
    r.start = scale_address(start, false, row);
    r.end = scale_address(end, true, row);
    return r;
}

static void parse_mask(const char *value, bool)
{
    const char *p = value;
    check_count(masks.size(), MAX_MASKS, "-MASK");
    sk_pattern_range m = read_pattern_range(p, ROW_MASK, "-MASK");
    if (*p)
        opt_bad(ROW_MASK);
    masks.push_back(m);
}

// =<hexcode>@<start>-<end>[,data]
static void parse_fill(const char *value, bool)
{
    const char *p = value;
    check_count(fills.size(), MAX_FILLS, "-FILL");
    sk_pattern_range f = read_pattern_range(p, ROW_FILL, "-FILL");
    if (*p == ',') {
        p++;
        if (*p == 0) {
            msg_report(924, "-FILL");
            opt_fatal_exit();
        }
        if (strcasecmp(p, "data") != 0) {
            msg_report(930, "-FILL");
            opt_fatal_exit();
        }
        f.data_only = true;
    } else if (*p) {
        opt_bad(ROW_FILL);
    }
    fills.push_back(f);
}

// ---------------------------------------------------------------------------
// Find, serial numbers, strings and checksums
// ---------------------------------------------------------------------------

// A mask or replacement code: exactly two digits per byte of the find width.
static uint64_t read_width_code(const char *&p, unsigned width)
{
    uint64_t v;
    if (read_hex(p, &v) != 2 * width) {
        msg_report(1201);
        opt_fatal_exit();
    }
    return v;
}

static uint64_t width_ones(unsigned width)
{
    return width >= 8 ? ~0ull : (1ull << (8 * width)) - 1;
}

// The optional tail of -FIND: ,REPLACE=<code>[M<mask>] or ,DELETE.
static void read_find_action(const char *p, sk_find &f)
{
    if (*p == 0)
        return;
    expect_char(p, ',', ROW_FIND);
    if (starts_nocase(p, "REPLACE=")) {
        p += 8;
        f.replace_code = read_width_code(p, f.width);
        f.replace_mask = width_ones(f.width);
        if (*p == 'M' || *p == 'm') {
            p++;
            f.replace_mask = read_width_code(p, f.width);
        }
        if (*p)
            opt_bad(ROW_FIND);
    } else if (starts_nocase(p, "DELETE")) {
        p += 6;
        while (isspace((unsigned char)*p))
            p++;
        if (*p)
            opt_bad(ROW_FIND);
        f.del = true;
    } else {
        opt_bad(ROW_FIND);
    }
}

// =<findcode>[M<mask>]@<start>-<end>[/<align>][w][t<title>][,REPLACE=...|,DELETE]
// The fields are read in this order; a title runs to the first ','.
static void parse_find(const char *value, bool)
{
    const char *p = value;
    sk_find f = {};
    uint64_t start, end;
    check_count(finds.size(), MAX_FINDS, "-FIND");
    expect_char(p, '=', ROW_FIND);
    f.width = read_code(p, "-FIND", nullptr, &f.code);
    f.mask = width_ones(f.width);
    if (*p == 'M' || *p == 'm') {
        p++;
        f.mask = read_width_code(p, f.width);
    }
    expect_char(p, '@', ROW_FIND);
    read_range(p, ROW_FIND, &start, &end);
    if (end < start) {
        msg_report(951);
        opt_fatal_exit();
    }
    f.start = scale_address(start, false, ROW_FIND);
    f.end = scale_address(end, true, ROW_FIND);
    f.align = 1;
    if (*p == '/') {
        p++;
        uint64_t align = need_hex(p, ROW_FIND);
        if (align == 0) {
            msg_report(1245, "-FIND /align");
            opt_fatal_exit();
        }
        f.align = scale_address(align, false, ROW_FIND);
    }
    std::string title = "OPCode";
    while (*p && *p != ',') {
        char c = (char)tolower(*p++);
        if (c == 'w') {
            f.warn = true;
        } else if (c == 't') {
            size_t n = strcspn(p, ",");
            title.assign(p, n);
            p += n;
        } else {
            opt_bad(ROW_FIND);
        }
    }
    // The title field is 14 characters, right-aligned; a longer title is cut.
    if (title.size() > 14)
        title.resize(14);
    f.title = std::string(14 - title.size(), ' ') + title;
    read_find_action(p, f);
    finds.push_back(f);
}

// A signed hexadecimal step: '+' or '-' and digits; wide steps may use all
// 64 bits (serial increments), others stay within 32.
static int64_t read_step(const char *&p, int row, bool wide)
{
    bool negative = *p++ == '-';
    uint64_t v;
    unsigned n = read_hex(p, &v);
    if (n == 0 || n > 16 || (!wide && v > SK_ADDR_LIMIT))
        opt_bad(row);
    return negative ? (int64_t)(0 - v) : (int64_t)v;
}

// =<value>[+|-<incr>]@<address>[+|-<interval>][r<repetitions>]
static void parse_serial(const char *value, bool forced)
{
    const char *p = value;
    sk_serial s = {};
    check_count(serials.size(), MAX_SERIALS, "-SERIAL");
    expect_char(p, '=', ROW_SERIAL);
    unsigned digits = read_hex(p, &s.value);
    s.bytes = (digits + 1) / 2;
    if (s.bytes < 1 || s.bytes > MAX_CODE_BYTES) {
        msg_report(956, (int)MAX_CODE_BYTES);
        opt_fatal_exit();
    }
    if (*p == '+' || *p == '-')
        s.increment = read_step(p, ROW_SERIAL, true);
    expect_char(p, '@', ROW_SERIAL);
    s.address = scale_address(need_hex(p, ROW_SERIAL), false, ROW_SERIAL);
    s.interval = s.bytes;
    if (*p == '+' || *p == '-')
        s.interval = read_step(p, ROW_SERIAL, false) * (int64_t)address_unit;
    s.repetitions = 1;
    if (*p == 'r' || *p == 'R') {
        char *after;
        s.repetitions = strtol(p + 1, &after, 0);
        if (after == p + 1 || s.repetitions < 1)
            opt_bad(ROW_SERIAL);
        p = after;
    }
    if (*p)
        opt_bad(ROW_SERIAL);
    // Every repetition must land inside the address space.
    int64_t last = (int64_t)s.address + (s.repetitions - 1) * s.interval;
    if (last < 0 || last > (int64_t)SK_ADDR_LIMIT)
        opt_bad(ROW_SERIAL);
    check_span((uint32_t)last, s.bytes, ROW_SERIAL);
    check_span(s.address, s.bytes, ROW_SERIAL);
    s.forced = forced;
    serials.push_back(s);
}

// @<address>[t<code>]=<text> (the code only for -STRING)
static void read_string(const char *value, bool forced, bool packed, int row)
{
    const char *p = value;
    sk_string s = {};
    check_count(strings.size(), MAX_STRINGS, "-STRING/-STRPACK");
    expect_char(p, '@', row);
    s.address = scale_address(need_hex(p, row), false, row);
    if (!packed && (*p == 't' || *p == 'T')) {
        p++;
        unsigned digits = read_hex(p, &s.trailing);
        s.trailing_bytes = (digits + 1) / 2;
        if (s.trailing_bytes > MAX_CODE_BYTES)
            opt_bad(row);
    }
    expect_char(p, '=', row);
    s.text = p;
    s.forced = forced;
    s.packed = packed;
    uint64_t chars = s.text.size() + 1;
    check_span(s.address, packed ? chars + 1 : chars * (1 + s.trailing_bytes), row);
    strings.push_back(s);
}

static void parse_string(const char *value, bool forced)
{
    read_string(value, forced, false, ROW_STRING);
}

static void parse_strpack(const char *value, bool forced)
{
    read_string(value, forced, true, ROW_STRPACK);
}

// =<start>-<end>@<dest>[+<initial>][w<width>][t<code>][g<algorithm>]
static void parse_ck(const char *value, bool forced)
{
    const char *p = value;
    sk_checksum c = {};
    uint64_t start, end, v;
    check_count(checksums.size(), MAX_CHECKSUMS, "-CK");
    expect_char(p, '=', ROW_CK);
    read_range(p, ROW_CK, &start, &end);
    expect_char(p, '@', ROW_CK);
    c.dest = scale_address(need_hex(p, ROW_CK), false, ROW_CK);
    long width = -2;
    c.algorithm = 1;
    while (*p) {
        char letter = (char)tolower(*p++);
        char *after = nullptr;
        if (letter == '+') {
            c.initial = (uint32_t)need_hex(p, ROW_CK);
        } else if (letter == 'w') {
            width = strtol(p, &after, 10);
        } else if (letter == 't') {
            unsigned digits = read_hex(p, &v);
            c.trailing = v;
            c.trailing_bytes = (digits + 1) / 2;
            if (c.trailing_bytes > MAX_CODE_BYTES)
                opt_bad(ROW_CK);
        } else if (letter == 'g') {
            c.algorithm = (int)strtol(p, &after, 0);
        } else {
            opt_bad(ROW_CK);
        }
        if (after) {
            if (after == p)
                opt_bad(ROW_CK);
            p = after;
        }
    }
    if (width == 0 || width < -4 || width > 4) {
        msg_report(948);
        opt_fatal_exit();
    }
    if (end < start) {
        msg_report(949);
        opt_fatal_exit();
    }
    c.start = scale_address(start, false, ROW_CK);
    c.end = scale_address(end, true, ROW_CK);
    c.big_endian = width > 0;
    c.width = (unsigned)(width < 0 ? -width : width);
    // The Fletcher sums have a width of their own; reserve what they store.
    if (c.algorithm == 7)
        c.width = 2;
    if (c.algorithm == 8)
        c.width = 4;
    if (!checksum_algorithm_known(c.algorithm)) {
        msg_report(1240, c.algorithm);
        return;
    }
    check_span(c.dest, (uint64_t)c.width * (1 + c.trailing_bytes), ROW_CK);
    c.state = CK_PENDING;
    c.forced = forced;
    checksums.push_back(c);
}

// ---------------------------------------------------------------------------
// Help
// ---------------------------------------------------------------------------

void options_banner(const char *program)
{
    msg_report(1030, 128);
    msg_report(1031, program);
}

static void help_all()
{
    options_banner(program_path);
    msg_report(1032);
    msg_report(1033);
    for (const opt_row &r : rows)
        printf("  %-*s : %s\n", 9, r.name, r.help);
}

// The usage of one row. For an input file the name closes the usage ("...,
// file.hex"); for the others it opens it. The '+' row's example is a whole
// command line and stands alone.
static void help_one(const opt_row &r)
{
    printf(" %s : %s\n", r.name, r.help);
    if (&r == &rows[ROW_FILE]) {
        printf("  USAGE: %s%s\n", r.syntax, r.name);
        printf("  Example: %s%s\n", r.example, r.name);
    } else if (&r == &rows[ROW_PLUS]) {
        printf("  USAGE: %s%s\n", r.name, r.syntax);
        printf("  Example: %s\n", r.example);
    } else {
        printf("  USAGE: %s%s\n", r.name, r.syntax);
        printf("  Example: %s%s\n", r.name, r.example);
    }
}

// Names compare without their leading '-' and without regard to case.
static bool help_name_matches(const char *given, const char *name)
{
    if (*given == '-')
        given++;
    if (*name == '-')
        name++;
    return strcasecmp(given, name) == 0;
}

static void parse_help(const char *value, bool)
{
    fflush(stdout);
    if (value[0] == 0 || (value[0] == '=' && value[1] == 0)) {
        help_all();
        fflush(stdout);
        tool_exit(0);
    }
    if (value[0] != '=')
        opt_bad(ROW_HELP);
    const char *name = value + 1;
    for (const opt_row &r : rows)
        if (help_name_matches(name, r.name) || (r.name[0] == '+' && name[0] == '+')) {
            help_one(r);
            fflush(stdout);
            tool_exit(0);
        }
    msg_report(953, name);
    opt_fatal_exit();
}

// ---------------------------------------------------------------------------
// The passes over the arguments
// ---------------------------------------------------------------------------

// Strips the '+' of forced storage.
static const char *arg_body(const char *arg, bool *forced)
{
    *forced = arg[0] == '+';
    return *forced ? arg + 1 : arg;
}

// The first pass: -ADDRESSING must be known before any address is read.
static void options_find_addressing(int argc, char **argv)
{
    bool seen = false;
    for (int i = 1; i < argc; i++) {
        bool forced;
        const char *a = arg_body(argv[i], &forced);
        if (!starts_nocase(a, rows[ROW_ADDRESSING].name))
            continue;
        if (seen) {
            msg_report(1198, "-ADDRESSING", 1);
            opt_fatal_exit();
        }
        seen = true;
        const char *p = a + strlen(rows[ROW_ADDRESSING].name);
        expect_char(p, '=', ROW_ADDRESSING);
        uint64_t n = need_hex(p, ROW_ADDRESSING);
        if (*p)
            opt_bad(ROW_ADDRESSING);
        if (n < 1 || n > 4) {
            msg_report(928, "-ADDRESSING");
            opt_fatal_exit();
        }
        address_unit = (unsigned)n;
    }
}

static void options_parse_one(const char *arg)
{
    bool forced;
    const char *a = arg_body(arg, &forced);
    if (a[0] != '-') {
        parse_input(a, forced);
        return;
    }
    if (msg_std_option(a))
        return;
    // "--HELP=<option>", as the help text itself spells it, is -HELP.
    if (a[1] == '-')
        a++;
    for (const opt_row &r : rows)
        if (r.name[0] == '-' && starts_nocase(a, r.name)) {
            r.parse(a + strlen(r.name), forced);
            return;
        }
    if (toupper(a[1]) == 'E' && a[0] == '-') {
        msg_set_format_mode(1);
        return;
    }
    msg_report(168, arg);
}

bool options_parse(int argc, char **argv)
{
    if (argc > 0 && argv[0])
        program_path = argv[0];
    if (argc <= 1)
        return false;
    options_find_addressing(argc, argv);
    for (int i = 1; i < argc; i++)
        options_parse_one(argv[i]);
    return true;
}
