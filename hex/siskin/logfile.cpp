// The log file of -LOGFILE: a heading when the edits start, the find
// results as the finds run, and after the output the summary: the ranges of
// each kind of byte, the total size, the checksum results and a map of the
// image, one letter per byte under a legend. The driver copies everything
// from the " Legend:" line on into its HEX usage summary, so that part keeps
// its layout exactly.
#include "siskin.h"

#include "common.h"

#include <filesystem>

static FILE *log_stream;   // open log, null without -LOGFILE

// True when both names lead to one file, whether or not it exists yet.
static bool same_place(const std::string &a, const std::string &b)
{
    namespace fs = std::filesystem;
    std::error_code e1, e2;
    fs::path pa = fs::weakly_canonical(fs::absolute(a, e1), e1);
    fs::path pb = fs::weakly_canonical(fs::absolute(b, e2), e2);
    return a == b || (!e1 && !e2 && pa == pb) || os_same_file(a.c_str(), b.c_str());
}

void log_open()
{
    if (log_name.empty())
        return;
    // The log never replaces an input: it is created after the inputs were
    // read, and one of them could be named by mistake. Nor is it the output,
    // which would be renamed over it while the log is still being written.
    bool clash = output_wanted && !output_name.empty() && same_place(output_name, log_name);
    for (const sk_input &in : inputs)
        clash |= os_same_file(in.name.c_str(), log_name.c_str());
    if (clash) {
        msg_report(378, "logfile", log_name.c_str());
        tool_exit(1);
    }
    log_stream = fopen(log_name.c_str(), "w");
    if (!log_stream) {
        msg_report(378, "logfile", log_name.c_str());
        tool_exit(1);
    }
    fputs("### Siskin logfile and output summary ###\n", log_stream);
}

FILE *log_file()
{
    return log_stream;
}

// A run of addresses of one kind being collected.
struct log_run {
    unsigned kind;
    bool open;
    bool any;          // a run was printed: the heading is out
    uint64_t start;
    uint64_t next;     // one past the run
};

static void run_close(log_run &r)
{
    if (!r.open)
        return;
    if (!r.any)
        fprintf(log_stream, "\n %s ranges:\n  ", kind_text(r.kind));
    r.any = true;
    fprintf(log_stream, "%llXh - %llXh\n  ", (unsigned long long)r.start, (unsigned long long)(r.next - 1));
    r.open = false;
}

// Addresses from..to, all of the run's kind or all not of it.
static void run_feed(log_run &r, bool same, uint64_t from, uint64_t to)
{
    if (!same) {
        run_close(r);
        return;
    }
    if (!r.open || r.next != from) {
        run_close(r);
        r.open = true;
        r.start = from;
    }
    r.next = to + 1;
}

// The runs of one kind; for unused memory the gaps between blocks count.
static void log_kind_ranges(unsigned kind)
{
    log_run r = {kind, false, false, 0, 0};
    uint64_t next = 0;
    for (sk_block *b = image_first(); b; b = b->next) {
        if (b->base > next)
            run_feed(r, kind == SK_UNUSED, next, b->base - 1);
        for (unsigned i = 0; i < SK_BLOCK_SIZE; i++)
            run_feed(r, kind_of(b->slots[i].kind) == kind, (uint64_t)b->base + i, (uint64_t)b->base + i);
        next = (uint64_t)b->base + SK_BLOCK_SIZE;
    }
    run_close(r);
}

static void log_checksums()
{
    if (checksums.empty())
        return;
    fputs("\n### Checksum Reports ###\n", log_stream);
    int i = 0;
    for (const sk_checksum &c : checksums)
        fprintf(log_stream, " Checksum %i : (%lXh to %lXh) = %0*lX\n", i++, (unsigned long)c.start,
                (unsigned long)c.end, (int)c.width, (unsigned long)c.result);
}

static void log_map()
{
    fputs("\n### Hex Memory Map ###\n Legend:\n", log_stream);
    for (unsigned k = 0; k < SK_KIND_COUNT && kind_text(k)[0]; k++)
        fprintf(log_stream, "  %c = %s\n", kind_letter(k), kind_text(k));
    for (sk_block *b = image_first(); b; b = b->next) {
        fprintf(log_stream, "%08lX: ", (unsigned long)b->base);
        for (const sk_slot &s : b->slots)
            fputc(kind_letter(kind_of(s.kind)), log_stream);
        fputc('\n', log_stream);
    }
}

void log_finish()
{
    if (!log_stream)
        return;
    fputs("### Memory Usage ###", log_stream);
    for (unsigned k = 0; k < SK_KIND_COUNT; k++)
        if (kind_text(k)[0])
            log_kind_ranges(k);
    if (size_wanted) {
        uint64_t n = image_data_count();
        fprintf(log_stream, "\nTotal data: %u (%Xh) bytes\n", (unsigned)n, (unsigned)n);
    }
    log_checksums();
    log_map();
}

void log_close()
{
    if (!log_stream)
        return;
    bool failed = ferror(log_stream) != 0;
    failed |= fclose(log_stream) != 0;
    log_stream = nullptr;
    if (failed)
        msg_report(413, log_name.c_str());
}
