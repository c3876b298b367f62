// The paged memory image. A page covers 1024 addresses; its buffer holds the
// data bytes and, after them, one written flag per byte. New pages start
// filled with the fill pattern.
//
// Pages are found by walking the recency list from the most recent page; a
// page found moves to the front. While fewer than the buffer limit are
// allocated a new page takes a fresh buffer; after that it takes the buffer
// of the least recently used page in memory, which is first written to its
// slot in the swap file (slots are given at the end of the file, in order of
// first swap-out, one 2048-byte slot per page). A swapped page is read back
// the same way when it is needed again.
#include "finch.h"

#include "common.h"

static page *pages;                  // the descriptor table
static unsigned page_count;          // descriptors in use
static page *recent;                 // recency list head
static unsigned buffers;             // buffers allocated
static unsigned buffer_limit = PAGE_BUFFERS;
static FILE *swap;                   // swap file, made on first use
static std::string swap_name;
static long swap_slots;              // slots given out
static uint64_t high;                // highest address written + 1

const unsigned PAGE_BYTES = 2 * PAGE_SIZE;

void image_set_buffer_limit(unsigned n)
{
    buffer_limit = n < 1 ? 1 : n;
}

void image_init()
{
    pages = static_cast<page *>(xmalloc(sizeof(page) * PAGE_LIMIT));
    page_count = 0;
    recent = nullptr;
    buffers = 0;
    swap = nullptr;
    swap_slots = 0;
    high = 0;
}

void image_close()
{
    if (swap) {
        fclose(swap);
        os_remove_file(swap_name.c_str());
        swap = nullptr;
    }
    for (unsigned i = 0; pages && i < page_count; i++)
        free(pages[i].buf);
    free(pages);
    pages = nullptr;
    page_count = 0;
}

unsigned image_buffers_allocated()
{
    return buffers;
}

bool image_swap_used()
{
    return swap != nullptr;
}

uint64_t image_high()
{
    return high;
}

// The fill value spread over the image: the low byte everywhere, bits 8-15
// at the high-byte position of every 2-byte unit when the value needs them,
// bits 16-23 at position 3 of every 4-byte unit likewise.
uint8_t image_fill_byte(uint32_t addr)
{
    uint32_t f = opt.fill;
    uint8_t b = (uint8_t)f;
    if (f > 0xFF && addr % 2 == obj_order.map16[1])
        b = (uint8_t)(f >> 8);
    if (f > 0xFFFF && addr % 4 == obj_order.map32[3])
        b = (uint8_t)(f >> 16);
    return b;
}

static void swap_seek(page *p)
{
    if (fseek(swap, p->slot * (long)PAGE_BYTES, SEEK_SET) != 0) {
        msg_report(417, swap_name.c_str());
        tool_exit(1);
    }
}

// Writes the page's buffer to its slot and takes the buffer from it.
static uint8_t *swap_out(page *p)
{
    if (!swap) {
        swap_name = os_temp_name();
        swap = fopen(swap_name.c_str(), "w+b");
        if (!swap) {
            msg_report(141, "swap", swap_name.c_str());
            tool_exit(1);
        }
    }
    if (p->slot < 0)
        p->slot = swap_slots++;
    swap_seek(p);
    if (fwrite(p->buf, 1, PAGE_BYTES, swap) != PAGE_BYTES) {
        msg_report(413, swap_name.c_str());
        tool_exit(1);
    }
    uint8_t *buf = p->buf;
    p->buf = nullptr;
    p->state = (p->state & ~PG_IN_MEMORY) | PG_SWAPPED;
    return buf;
}

// A buffer for a page: fresh while the limit allows, else taken from the
// least recently used page that is in memory.
static uint8_t *buffer_get(page *wanting)
{
    if (buffers < buffer_limit) {
        buffers++;
        return static_cast<uint8_t *>(xmalloc(PAGE_BYTES));
    }
    page *victim = nullptr;
    for (page *p = recent; p; p = p->next)
        if (p != wanting && (p->state & PG_IN_MEMORY))
            victim = p;
    if (!victim) {
        msg_report(296);
        tool_exit(1);
    }
    return swap_out(victim);
}

static void page_load(page *p)
{
    if (p->state & PG_IN_MEMORY)
        return;
    p->buf = buffer_get(p);
    swap_seek(p);
    if (fread(p->buf, 1, PAGE_BYTES, swap) != PAGE_BYTES) {
        msg_report(414, swap_name.c_str());
        tool_exit(1);
    }
    p->state = (p->state & ~PG_SWAPPED) | PG_IN_MEMORY;
}

static void page_to_front(page *p, page *before)
{
    if (!before)
        return;
    before->next = p->next;
    p->next = recent;
    recent = p;
}

static page *page_find(uint32_t number)
{
    page *before = nullptr;
    for (page *p = recent; p; before = p, p = p->next)
        if (p->number == number) {
            page_to_front(p, before);
            page_load(p);
            return p;
        }
    return nullptr;
}

page *image_page(uint32_t number)
{
    return page_find(number);
}

static page *page_create(uint32_t number)
{
    if (page_count + 1 >= PAGE_LIMIT) {
        msg_report(418);
        tool_exit(1);
    }
    page *p = &pages[page_count++];
    *p = {};
    p->number = number;
    p->slot = -1;
    uint64_t first = (uint64_t)number * PAGE_SIZE;
    p->lo = first + PAGE_SIZE;   // empty range: lowest above highest
    p->hi = first;
    p->buf = buffer_get(p);
    p->state = PG_IN_MEMORY | PG_ALLOCATED;
    for (unsigned i = 0; i < PAGE_SIZE; i++) {
        p->buf[i] = image_fill_byte((uint32_t)(first + i));
        p->buf[PAGE_SIZE + i] = 0;
    }
    p->next = recent;
    recent = p;
    return p;
}

void image_store(uint32_t addr, const uint8_t *data, unsigned n)
{
    // Bytes past the top of the 32-bit space have no address to go to:
    // dropping them would leave an output that looks complete.
    if ((uint64_t)addr + n > 0x100000000ull) {
        msg_report(418);
        tool_exit(1);
    }
    while (n > 0) {
        uint32_t number = addr / PAGE_SIZE;
        uint32_t offset = addr % PAGE_SIZE;
        unsigned piece = PAGE_SIZE - offset < n ? PAGE_SIZE - offset : n;
        page *p = page_find(number);
        if (!p)
            p = page_create(number);
        for (unsigned i = 0; i < piece; i++) {
            p->buf[offset + i] = data[i];
            p->buf[PAGE_SIZE + offset + i] = 1;
        }
        if (addr < p->lo)
            p->lo = addr;
        if ((uint64_t)addr + piece > p->hi)
            p->hi = (uint64_t)addr + piece;
        if ((uint64_t)addr + piece > high)
            high = (uint64_t)addr + piece;
        data += piece;
        addr += piece;
        n -= piece;
    }
}

uint8_t image_byte(uint32_t addr, bool *written)
{
    page *p = page_find(addr / PAGE_SIZE);
    if (!p) {
        *written = false;
        return image_fill_byte(addr);
    }
    *written = p->buf[PAGE_SIZE + addr % PAGE_SIZE] != 0;
    return p->buf[addr % PAGE_SIZE];
}

std::vector<uint32_t> image_page_numbers()
{
    std::vector<uint32_t> numbers;
    for (unsigned i = 0; i < page_count; i++)
        numbers.push_back(pages[i].number);
    os_qsort(numbers.data(), numbers.size(), sizeof(uint32_t), [](const void *a, const void *b) {
        uint32_t x = *static_cast<const uint32_t *>(a), y = *static_cast<const uint32_t *>(b);
        return x < y ? -1 : x > y;
    });
    return numbers;
}
