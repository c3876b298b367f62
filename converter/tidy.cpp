// The steps between reading and writing: each line record gets the last
// address of its code, each file its arrays of symbols and lines, each
// data block the segment that holds it, contiguous blocks of one segment
// are merged, and a segment grows to hold its data. With -v the model is
// listed on the way.
//
// Data blocks carry byte addresses (from the HEX image), segments the
// symbol file's address units: in program memory, words. A segment of a
// program class (-n) is therefore scaled by the bytes per word wherever it
// meets a data block, so a PIC program's code lands in its code segment and
// never in a RAM segment of the same numbers.
#include "egret.h"

#include <cstring>

// Width of the segment-name column of the listing.
static int name_width;

static const char *segment_name(uint32_t n)
{
    model_segment *s = model_segment_at_number(n);
    return s ? s->name : "";
}

// Bytes per address unit of a segment where it meets the HEX image.
static uint32_t segment_scale(const model_segment *s)
{
    return model_in_program_class(s) ? model_bytes_per_word() : 1;
}

// ---------------------------------------------------------------------------
// line ends
// ---------------------------------------------------------------------------

static int compare_by_address(const void *a, const void *b)
{
    const model_line *x = *(model_line *const *)a;
    const model_line *y = *(model_line *const *)b;
    if (x->address != y->address)
        return x->address < y->address ? -1 : 1;
    return x->line < y->line ? -1 : x->line > y->line;
}

// A line's code ends where the next line's begins; lines 256 or more apart
// are taken to end at their own address.
static void tidy_line_ends()
{
    if (vec_count(model.lines) == 0)
        return;
    vector_t *sorted = vec_dup(model.lines);
    vec_sort(sorted, compare_by_address);
    uint32_t n = vec_count(sorted);
    for (uint32_t i = 0; i + 1 < n; i++) {
        model_line *l = (model_line *)vec_get(sorted, i);
        uint32_t d = ((model_line *)vec_get(sorted, i + 1))->address - l->address;
        if (d >= 256)
            msg_report(1289);
        l->end = d == 0 || d >= 256 ? l->address : l->address + d - 1;
    }
    model_line *last = (model_line *)vec_get(sorted, n - 1);
    last->end = last->address;
    vec_free(sorted);
}

// ---------------------------------------------------------------------------
// per-file arrays
// ---------------------------------------------------------------------------

static int compare_file_lines(const void *a, const void *b)
{
    const model_line *x = *(model_line *const *)a;
    const model_line *y = *(model_line *const *)b;
    if (x->line != y->line)
        return x->line < y->line ? -1 : 1;
    if (x->address != y->address)
        return x->address < y->address ? -1 : 1;
    return x->end < y->end ? -1 : x->end > y->end;
}

static void tidy_file_symbols(model_file *f)
{
    f->symbols = (model_symbol **)xmalloc((f->symbol_count + 1) * sizeof(model_symbol *));
    uint32_t k = 0;
    for (uint32_t i = 0; k < f->symbol_count; i++) {
        if (i >= vec_count(model.symbols))
            msg_report(606);
        model_symbol *s = (model_symbol *)vec_get(model.symbols, i);
        if (s->file != f->number)
            continue;
        f->symbols[k++] = s;
        if (settings.verbose >= 2)
            msg_print("\t%-*s %-8lX %s", name_width, segment_name(s->segment), (unsigned long)s->value, s->name);
    }
}

static void tidy_file_lines(model_file *f)
{
    f->lines = (model_line **)xmalloc((f->line_count + 1) * sizeof(model_line *));
    uint32_t k = 0;
    for (uint32_t i = 0; k < f->line_count; i++) {
        if (i >= vec_count(model.lines))
            msg_report(607);
        model_line *l = (model_line *)vec_get(model.lines, i);
        if (l->file == f->number)
            f->lines[k++] = l;
    }
    os_qsort(f->lines, f->line_count, sizeof(model_line *), compare_file_lines);
    if (settings.verbose >= 2)
        for (uint32_t i = 0; i < f->line_count; i++) {
            model_line *l = f->lines[i];
            msg_print("\t%5.5lu: %lX-%lX %s", (unsigned long)l->line, (unsigned long)l->address,
                      (unsigned long)l->end, segment_name(l->segment));
        }
}

static void tidy_files()
{
    for (uint32_t i = 0; i < vec_count(model.files); i++) {
        model_file *f = (model_file *)vec_get(model.files, i);
        if (settings.verbose) {
            msg_print("\nFile: %s", f->name);
            msg_print("Symbols: %u", f->symbol_count);
        }
        tidy_file_symbols(f);
        if (settings.verbose)
            msg_print("Lines: %u", f->line_count);
        tidy_file_lines(f);
    }
}

// ---------------------------------------------------------------------------
// data blocks and segments
// ---------------------------------------------------------------------------

static bool segment_holds(const model_segment *s, const data_block *b)
{
    uint64_t scale = segment_scale(s);
    return (uint64_t)s->load * scale <= b->address &&
           (uint64_t)b->address + b->length <= ((uint64_t)s->load + s->size) * scale;
}

// The first segment that holds the block whole: program memory first, so
// that code never lands in a RAM segment of the same numbers.
static uint32_t containing_segment(const data_block *b)
{
    for (int program = 1; program >= 0; program--)
        for (uint32_t k = 0; k < vec_count(model.segments); k++) {
            model_segment *s = (model_segment *)vec_get(model.segments, k);
            if (model_in_program_class(s) == (program == 1) && segment_holds(s, b))
                return k + 1;
        }
    return 0;
}

static int compare_blocks(const void *a, const void *b)
{
    const data_block *x = *(data_block *const *)a;
    const data_block *y = *(data_block *const *)b;
    if (x->segment != y->segment)
        return x->segment < y->segment ? -1 : 1;
    return x->address < y->address ? -1 : x->address > y->address;
}

static void merge_blocks()
{
    vector_t *merged = vec_new(vec_count(model.blocks) + 1);
    data_block *last = nullptr;
    for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
        data_block *b = (data_block *)vec_get(model.blocks, i);
        if (last && b->segment == last->segment && b->address == (uint64_t)last->address + last->length &&
            (uint64_t)last->length + b->length <= 0xFFFFFFFFu) {
            uint8_t *joined = (uint8_t *)xmalloc(last->length + b->length);
            memcpy(joined, last->bytes, last->length);
            memcpy(joined + last->length, b->bytes, b->length);
            last->length += b->length;
            free(last->bytes);
            free(b->bytes);
            free(b);
            last->bytes = joined;
            continue;
        }
        vec_push(merged, b);
        last = b;
    }
    vec_free(model.blocks);
    model.blocks = merged;
}

// A segment reaches down to its first block and up to the end of it.
static void stretch_segments()
{
    for (uint32_t k = 0; k < vec_count(model.segments); k++) {
        model_segment *s = (model_segment *)vec_get(model.segments, k);
        uint32_t scale = segment_scale(s);
        uint64_t end = (uint64_t)s->load + s->size;
        for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
            data_block *b = (data_block *)vec_get(model.blocks, i);
            if (b->segment != k + 1)
                continue;
            uint32_t start = b->address / scale;
            if (start < s->load && b->length) {
                uint32_t diff = s->load - start;
                s->address -= diff;
                s->load = start;
            }
            end = std::max<uint64_t>(end, ((uint64_t)b->address + b->length + scale - 1) / scale);
            break;
        }
        if (end - s->load > s->size)
            s->size = (uint32_t)std::min<uint64_t>(end - s->load, 0xFFFFFFFFu);
    }
}

static void tidy_blocks()
{
    if (vec_count(model.blocks) == 0)
        return;
    for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
        data_block *b = (data_block *)vec_get(model.blocks, i);
        if (!b->segment)
            b->segment = containing_segment(b);
    }
    vec_sort(model.blocks, compare_blocks);
    merge_blocks();
    if (settings.verbose) {
        uint64_t total = 0;
        for (uint32_t i = 0; i < vec_count(model.blocks); i++)
            total += ((data_block *)vec_get(model.blocks, i))->length;
        msg_print("\nData blocks: %u, total size %llX\n", vec_count(model.blocks), (unsigned long long)total);
    }
    if (settings.verbose >= 2)
        for (uint32_t i = 0; i < vec_count(model.blocks); i++) {
            data_block *b = (data_block *)vec_get(model.blocks, i);
            std::string where = b->segment && model_segment_at_number(b->segment)
                                    ? str_printf(" %s", segment_name(b->segment))
                                    : str_printf(" seg %d", (int)b->segment - 1);
            msg_print("\t%lX-%lX%s", (unsigned long)b->address, (unsigned long)(b->address + b->length - 1),
                      where.c_str());
        }
    stretch_segments();
}

static void list_segments()
{
    msg_print("\nSegments: %u", vec_count(model.segments));
    for (uint32_t k = 0; k < vec_count(model.segments); k++) {
        model_segment *s = (model_segment *)vec_get(model.segments, k);
        std::string line = str_printf("\t%-*s %lX", name_width, s->name, (unsigned long)s->address);
        if (s->size)
            line += str_printf("-%lX", (unsigned long)(s->address + s->size - 1));
        if (s->load != s->address)
            line += str_printf(" Load@%lX", (unsigned long)s->load);
        msg_print("%s", line.c_str());
    }
    msg_print("%s", "");
}

void tidy_model()
{
    name_width = 0;
    if (settings.verbose) {
        msg_print("\nFiles: %d, syms: %d, lines: %d\n", vec_count(model.files), vec_count(model.symbols),
                  vec_count(model.lines));
        for (uint32_t k = 0; k < vec_count(model.segments); k++)
            name_width = std::max(name_width, (int)strlen(((model_segment *)vec_get(model.segments, k))->name));
    }
    tidy_line_ends();
    tidy_files();
    tidy_blocks();
    if (settings.verbose)
        list_segments();
}
