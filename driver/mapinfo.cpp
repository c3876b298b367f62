// The link map read back, and the memory summaries made from it.
//
// The linker's map holds a class table: a "TOTAL" heading whose column
// words give the positions of the name, link address, load address and
// length, then per class a "CLASS <name>" line, one line per psect and a
// blank line; the table ends at "SEGMENTS", "NON-CLASSED" or a blank line
// where a class was expected. Each psect becomes a named block of its class
// in the chip's memory model (a class the chip lacks goes into a space
// "OTHER"). The summaries then show the psects (psect usage map), the use
// of each class and space (memory class usage, memory summary) and the HEX
// utility's usage map, on the screen and, on request, in files beside the
// output. The -A class range arguments of the linker are made here too.
#include "zeph.h"

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <string>
#include <vector>

// Bits of --summary.
enum summary_bits : uint32_t { SUM_PSECT = 0x1, SUM_MEM = 0x2, SUM_HEX = 0x4, SUM_CLASS = 0x10 };

// While set, the summary printer prints nothing (compute without showing).
static bool quiet;
// Where the summary lines go: a file, or null for the message system.
static FILE *destination;
// Capacity of the memory summary's text of space lines.
constexpr size_t SPACE_TEXT_SIZE = 7680;

// ---------------------------------------------------------------------------
// reading the map
// ---------------------------------------------------------------------------

// The blank-separated words of a line.
static std::vector<std::string> split_words(const std::string &line) { return split_tokens(line, " \t\r\n"); }

static bool starts_after_blanks(const std::string &line, const char *word)
{
    size_t i = line.find_first_not_of(" \t");
    return i != std::string::npos && line.compare(i, strlen(word), word) == 0;
}

static bool is_blank(const std::string &line) { return line.find_first_not_of(" \t\r\n") == std::string::npos; }

// Column positions (1-based among the words after "TOTAL"; 0 when absent).
struct map_columns {
    unsigned name, link, load, length;
};

static map_columns columns_of(const std::vector<std::string> &words)
{
    map_columns c = {0, 0, 0, 0};
    for (unsigned i = 1; i < words.size(); i++) {
        const std::string &w = words[i];
        unsigned *slot = w.rfind("Name", 0) == 0     ? &c.name
                         : w.rfind("Link", 0) == 0   ? &c.link
                         : w.rfind("Load", 0) == 0   ? &c.load
                         : w.rfind("Length", 0) == 0 ? &c.length
                                                     : nullptr;
        if (slot && *slot == 0)
            *slot = i;
    }
    return c;
}

static void malformed(const std::string &line, const std::string &why)
{
    std::string text = line + ": malformed mapfile while generating summary: " + why;
    msg_report(162, text.c_str());
}

// The class of a map block: the chip's own, or one made in "OTHER".
static range_class *map_class(range_space **spaces, const char *name)
{
    if (range_class *cls = range_find_class(*spaces, name))
        return cls;
    range_space *other = range_find_space(*spaces, "OTHER");
    if (!other)
        other = range_space_new(spaces, "OTHER", "", 0);
    range_class *cls = range_class_get(other, name, 0, RANGE_NO_LOAD, 0);
    range_class_add(cls, RANGE_AVAILABLE, 0, 0, 0);
    return cls;
}

// Bits and bytes in byte or word classes are counted in the class's unit.
static bool counted_in_class_units(uint8_t kind, uint8_t unit)
{
    return (kind == 1 && (unit == 2 || unit == 3)) || (kind == 2 && unit == 3);
}

// A length in the class's units: bits and bytes in byte or word classes.
static uint32_t length_in_class_units(uint8_t kind, uint8_t unit, uint32_t length)
{
    if (kind == 1 && unit == 2)
        return (length + 7) >> 3;
    if (kind == 1 && unit == 3)
        return (length + 15) >> 4;
    if (kind == 2 && unit == 3)
        return (length + 1) >> 1;
    return length;
}

static bool parse_hex(const std::string &w, uint32_t *out)
{
    const char *s = w.c_str();
    if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        s += 2;
    char *end = nullptr;
    *out = static_cast<uint32_t>(strtoul(s, &end, 16));
    return end != s;
}

// One psect line of a class block; false when the block ends here.
static bool read_psect_line(const std::string &line, const map_columns &col, range_class *cls)
{
    std::vector<std::string> w = split_words(line);
    auto word = [&](unsigned pos) -> const std::string * { return pos && pos <= w.size() ? &w[pos - 1] : nullptr; };
    const std::string *name = word(col.name), *link = word(col.link), *load = word(col.load),
                      *length = word(col.length);
    if (!name) {
        malformed(line, "no name at position " + std::to_string(col.name));
        return true;
    }
    if (!link) {
        malformed(line, "no link address at position " + std::to_string(col.link));
        return true;
    }
    if (!load) {
        malformed(line, "no load address at position " + std::to_string(col.load));
        return false;
    }
    if (!length) {
        malformed(line, "no length at position " + std::to_string(col.length));
        return false;
    }
    uint32_t first = 0, second = 0, size = 0;
    parse_hex(*link, &first);
    parse_hex(*load, &second);
    parse_hex(*length, &size);
    uint8_t kind = range_entry_kind(cls, name->c_str());
    if (kind && kind != cls->unit)
        size = length_in_class_units(kind, cls->unit, size);
    range_entry_define(cls, name->c_str(), kind ? kind : cls->unit, nullptr, first, second, size);
    return true;
}

void read_mapfile(FILE *map, range_space **spaces)
{
    std::string line;
    map_columns col = {0, 0, 0, 0};
    bool header = false;
    while (!header && os_read_line(map, line)) {
        if (starts_after_blanks(line, "TOTAL") && line.find("Name") != std::string::npos) {
            col = columns_of(split_words(line));
            header = true;
        }
    }
    range_class *cls = nullptr;
    while (header && os_read_line(map, line)) {
        if (cls) {
            if (is_blank(line) || !read_psect_line(line, col, cls))
                cls = nullptr;
            continue;
        }
        if (line.rfind("SEGMENTS", 0) == 0 || is_blank(line) || starts_after_blanks(line, "NON-CLASSED"))
            break;
        if (starts_after_blanks(line, "CLASS")) {
            std::vector<std::string> w = split_words(line);
            cls = map_class(spaces, w.size() > 1 ? w[1].c_str() : "");
            continue;
        }
        malformed(line, "CLASS expected but not found");
    }
}

// ---------------------------------------------------------------------------
// the printer
// ---------------------------------------------------------------------------

static void summary_line(const char *format, ...) __attribute__((format(printf, 1, 2)));
static void summary_line(const char *format, ...)
{
    if (quiet)
        return;
    va_list ap;
    va_start(ap, format);
    std::string text = str_vprintf(format, ap);
    va_end(ap);
    // The line ends with a newline of its own: a text ending in "\n" leaves
    // an empty line after it, on the screen as in a file.
    text += '\n';
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        if (destination)
            fprintf(destination, "%s\n", text.substr(at, end - at).c_str());
        else
            msg_print("%s", text.substr(at, end - at).c_str());
    }
}

// The unit's name, plural unless the count is exactly 1.
static std::string unit_name(uint8_t kind, uint32_t count)
{
    std::string s = range_units[kind < RANGE_UNIT_COUNT ? kind : 0].text;
    return count == 1 ? s : s + "s";
}

// A line of `fill` runs joined by `column`; `runs` ends with 0.
static std::string separator(char fill, char column, std::initializer_list<int> runs)
{
    std::string s;
    bool first = true;
    for (int n : runs) {
        if (n == 0)
            break;
        if (!first)
            s += column;
        s.append(static_cast<size_t>(n), fill);
        first = false;
    }
    return s.size() > 8188 ? s.substr(0, 8188) : s;
}

// ---------------------------------------------------------------------------
// psect usage map
// ---------------------------------------------------------------------------

static int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

struct psect_widths {
    int name, contents, address, size;
};

static psect_widths measure_psects(range_space *spaces)
{
    int name = 0, contents = 0, address = 0, size = 0;
    for (range_space *s = spaces; s; s = s->next)
        for (range_class *c = s->classes; c; c = c->next)
            for (range_entry *e = c->entries; e; e = e->next) {
                if (!e->size)
                    continue;
                name = std::max(name, static_cast<int>(strlen(e->name)));
                contents = std::max(contents, e->alias ? static_cast<int>(strlen(e->alias)) : 0);
                address = std::max(address, static_cast<int>(str_printf("%lX", static_cast<unsigned long>(
                                                                                     e->first + e->size - 1)).size()));
                size = std::max(size, static_cast<int>(str_printf("%lu", static_cast<unsigned long>(e->size)).size()));
            }
    return {clamp(name, 5, 10), clamp(contents, 8, 34), clamp(address, 4, 6), clamp(size, 1, 5)};
}

static void print_psect_map(range_space *spaces)
{
    psect_widths w = measure_psects(spaces);
    summary_line("\nPsect Usage Map:\n");
    summary_line(" %-*.*s | %-*.*s | %-*.*s | Size", w.name, w.name, "Psect", w.contents, w.contents, "Contents",
                 2 * w.address + 5, 2 * w.address + 5, "Memory Range");
    std::string dashes = separator('-', '|', {w.name + 2, w.contents + 2, 2 * w.address + 7, w.size + 10, 0});
    std::string blanks = separator(' ', '|', {w.name + 2, w.contents + 2, 2 * w.address + 7, w.size + 10, 0});
    summary_line("%s", dashes.c_str());
    for (range_space *s = spaces; s; s = s->next) {
        bool printed = false;
        for (range_class *c = s->classes; c; c = c->next) {
            range_entry_sort(c, RANGE_KEY_FIRST);
            bool first_of_class = true;
            for (range_entry *e = c->entries; e; e = e->next) {
                if (!e->size)
                    continue;
                if (first_of_class && c != s->classes)
                    summary_line("%s", blanks.c_str());
                first_of_class = false;
                printed = true;
                unsigned long last = e->first + e->size - 1;
                // A size read in the class's unit is named by that unit.
                uint8_t unit = counted_in_class_units(e->kind, c->unit) ? c->unit : e->kind;
                summary_line(" %-*.*s | %-*.*s | %*.*lXh - %*.*lXh | %*lu %-7.7s", w.name, w.name, e->name,
                             w.contents, w.contents, e->alias ? e->alias : "", w.address, w.address,
                             static_cast<unsigned long>(e->first), w.address, w.address, last, w.size,
                             static_cast<unsigned long>(e->size), unit_name(unit, e->size).c_str());
            }
        }
        if (printed)
            summary_line("%s", dashes.c_str());
    }
    summary_line("%s", "");
}

// ---------------------------------------------------------------------------
// memory class usage and memory summary
// ---------------------------------------------------------------------------

// Mode 0: the class usage; mode 1: the memory summary (the per-class part
// is worked out but not shown).
static void print_class_usage(range_space *spaces, int mode)
{
    CM_ASSERT(spaces != nullptr, "mapinfo", __LINE__);
    std::string text;
    summary_line("%s", "");
    if (mode == 0)
        summary_line("Memory Class Usage:\n");
    else
        quiet = true;
    for (range_space *s = spaces; s; s = s->next) {
        if (strcmp(s->name, "OTHER") == 0)
            continue;
        if (s->description && *s->description)
            summary_line("%s:", s->description);
        else
            summary_line("Extra space:");
        if (!s->classes)
            summary_line("                         None available");
        range_node *all = nullptr;
        uint32_t used_total = 0;
        for (range_class *c = s->classes; c; c = c->next) {
            for (range_node *n = c->available; n; n = n->next)
                range_list_add(&all, n->lo, n->hi, 0, 1);
            uint32_t used = range_total_units(c);
            used_total += used;
            uint32_t capacity = range_free_size(c);
            uint32_t width = range_units[c->unit < RANGE_UNIT_COUNT ? c->unit : 0].width;
            if (capacity && !c->hidden)
                summary_line("    %-20.20s used %5lXh (%6ld) of %5lXh %-7.7s (%5.1f%%)", c->name,
                             static_cast<unsigned long>(used / width), static_cast<long>(used / width),
                             static_cast<unsigned long>(capacity / width), unit_name(c->unit, capacity).c_str(),
                             range_percent(used / width, capacity / width));
        }
        summary_line("%s", "");
        uint32_t total = range_list_free_size(all);
        uint32_t width = range_units[s->unit < RANGE_UNIT_COUNT ? s->unit : 0].width;
        if (total)
            text += str_printf("    %-20.20s used %5lXh (%6ld) of %5lXh %-7.7s (%5.1f%%)\n", s->description,
                               static_cast<unsigned long>(used_total), static_cast<long>(used_total),
                               static_cast<unsigned long>(total / width), unit_name(s->unit, total).c_str(),
                               range_percent(used_total, total / width));
        else
            text += str_printf("    %-20.20s None available\n", s->description);
        s->used_units = used_total;
    }
    if (text.size() > SPACE_TEXT_SIZE - 1)
        text.resize(SPACE_TEXT_SIZE - 1);
    quiet = false;
    if (mode == 1)
        summary_line("%s", opts.ide == IDE_TARNEL ? "Summary:" : "Memory Summary:");
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        summary_line("%s", text.substr(at, end - at).c_str());
        at = end + 1;
    }
    summary_line("%s", "");
}

// ---------------------------------------------------------------------------
// HEX usage map
// ---------------------------------------------------------------------------

// Copies the HEX utility's usage map from its log, from " Legend:" on.
static void print_hex_usage()
{
    char *log_name = output_file_name("hxl");
    FILE *log = fopen(log_name, "r");
    free(log_name);
    if (!log)
        return;
    FILE *to = destination ? destination : stdout;
    std::string line;
    bool copying = false;
    while (os_read_line(log, line)) {
        if (!copying && line.rfind(" Legend:", 0) == 0) {
            summary_line("HEX File Usage Map:\n");
            fflush(stdout);
            copying = true;
        }
        if (copying && !quiet)
            fprintf(to, "%s\n", line.c_str());
    }
    fclose(log);
    if (copying) {
        fflush(to);
        summary_line("%s", "");
    }
}

// ---------------------------------------------------------------------------
// the summaries
// ---------------------------------------------------------------------------

// The summary parts, in print order: its --summary bit, what prints it,
// the extension of its file and the message when that cannot be opened.
struct summary_part {
    uint32_t bit;
    int mode;        // 0 psect map, 1 class usage, 2 memory summary, 3 HEX map
    const char *ext; // summary file extension
};

static const summary_part summary_parts[] = {
    {SUM_PSECT, 0, "pum"},
    {SUM_CLASS, 1, "mcu"},
    {SUM_MEM, 2, "mum"},
    {SUM_HEX, 3, "hum"},
};

static void print_part(range_space *spaces, int mode)
{
    switch (mode) {
    case 0: print_psect_map(spaces); break;
    case 1: print_class_usage(spaces, 0); break;
    case 2: print_class_usage(spaces, 1); break;
    default: print_hex_usage(); break;
    }
}

static void report_summary_file(int mode, const char *name)
{
    if (mode <= 1)
        msg_report(891, name);
    else if (mode == 2)
        msg_report(892, name);
    else
        msg_report(893, name);
}

void print_summaries(range_space *spaces, bool to_file)
{
    bool failed_run = bs.errors != 0;
    if (opts.ide != IDE_TARNEL) {
        destination = opts.ide == IDE_MPLAB ? stdout : nullptr;
        for (const summary_part &p : summary_parts)
            if ((opts.summary & p.bit) && (p.mode == 0 || p.mode == 3 || !failed_run))
                print_part(spaces, p.mode);
        if (destination)
            fflush(destination);
    }
    if (!to_file || failed_run)
        return;
    for (const summary_part &p : summary_parts) {
        if (!(opts.summary & p.bit))
            continue;
        char *name = output_file_name(p.ext);
        destination = fopen(name, "w+");
        if (destination) {
            print_part(spaces, p.mode);
            fclose(destination);
        } else {
            report_summary_file(p.mode, name);
        }
        free(name);
    }
    destination = nullptr;
}

// ---------------------------------------------------------------------------
// entry points of the driver
// ---------------------------------------------------------------------------

// A map that no program wrote (nothing runs under --noexec, or the linker
// was switched off by --setoption) is no error: there is nothing to show.
static bool map_never_written(const char *name)
{
    return (opts.noexec || tool_switched_off(TOOL_HERON)) && !os_file_exists(name);
}

static void summarise_map(const char *map_file, bool to_file)
{
    FILE *map = fopen(map_file, "r");
    if (map && os_is_directory(map_file)) {
        // A directory opens for reading here but has no lines: an empty
        // summary would pass for a map with nothing in it.
        fclose(map);
        map = nullptr;
        errno = EISDIR;
    }
    if (!map) {
        if (map_never_written(map_file))
            return;
        msg_report(141, "map", map_file);
        return;
    }
    read_mapfile(map, &memory_spaces);
    print_summaries(memory_spaces, to_file);
    fclose(map);
}

void print_map_summary(const char *map_file, bool to_file) { summarise_map(map_file, to_file); }

void memmap_summary(const char *map_file) { summarise_map(map_file, false); }

void class_range_args(range_space *space, arglist *args)
{
    for (range_class *c = space ? space->classes : nullptr; c; c = c->next) {
        char *text = range_format(c, "-A", c->name);
        if (*text)
            linker_default_option(args, text);
        else
            free(text);
    }
}
