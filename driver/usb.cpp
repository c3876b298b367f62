// The USB descriptor compiler: a ".usb" description becomes C.
//
// The description is a list of KEYWORD=value lines in nested blocks
// (DEVICE ... ENDDEVICE holding CONFIG, INTERFACE, ENDPOINT and
// DFU_FUNCTION blocks). Reading builds the records of each device; writing
// lays them out as one constant byte table per device (device descriptor,
// then each configuration with its interfaces, endpoints and DFU functional
// descriptors, then the string descriptors), followed by the access tables
// of type USB_descriptor_table that the run-time header vkusb.h declares.
// Mistakes are reported with the line and reading goes on, so one run shows
// them all; every value is checked against the field that will hold it.
#include "zeph.h"

#include <cctype>
#include <cstring>
#include <string>
#include <vector>

struct usb_endpoint {
    uint32_t number;      // endpoint number
    uint32_t direction;   // 0x80 in, 0 out
    uint32_t type;        // 0 control, 1 isochronous, 2 bulk, 3 interrupt
    uint32_t packet_size; // maximum packet size
    uint32_t interval;    // polling interval
};

struct usb_dfu {
    uint32_t attributes; // 0x1 download, 0x2 upload, 0x4 tolerant, 0x8 detach
    uint32_t timeout;    // detach timeout
    uint32_t transfer;   // transfer size
    uint32_t version;    // (major << 8) + minor
};

struct usb_interface {
    std::vector<usb_endpoint> endpoints;
    std::vector<usb_dfu> functions;
    uint32_t number;   // numbered from 0 within the device
    uint32_t cls, subclass, protocol;
    uint32_t name;     // string index
};

struct usb_config {
    std::vector<usb_interface> interfaces;
    uint32_t attributes; // 0x80, 0x40 self powered, 0x20 remote wake-up
    uint32_t max_power;  // units of 2 mA
    uint32_t value;      // numbered from 1 within the device
    uint32_t name;       // string index
    uint32_t offset;     // of its descriptor in the device's table
};

struct usb_device {
    std::string name; // prefix of the generated identifiers
    uint32_t cls, subclass, protocol;
    uint32_t packet_size; // endpoint 0
    uint32_t usb_version; // (major << 8) + minor
    uint32_t vid, pid, release;
    uint32_t manufacturer, product, serial; // string indexes, 0 none
    std::vector<usb_config> configs;
    std::vector<std::string> strings; // index = position + 1
};

// The block a line is read in.
enum usb_block { UB_FILE, UB_DEVICE, UB_CONFIG, UB_INTERFACE, UB_ENDPOINT, UB_DFU };

// Everything one description holds, and where reading stands.
struct usb_reader {
    std::vector<usb_device> devices;
    std::string file_serial; // SERIAL at file level
    bool have_file_serial;
    bool device_serial;      // the current device set SERIAL
    usb_block block;
    uint32_t next_interface; // interface numbers within the device
    bool endpoint_kept;      // the current ENDPOINT block has a record
};

// Line number of the description, for the messages.
static unsigned usb_line;

// ---------------------------------------------------------------------------
// values
// ---------------------------------------------------------------------------

static std::string trimmed(const std::string &s)
{
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos)
        return "";
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

static bool same_word(const std::string &value, const char *word)
{
    return strcasecmp(trimmed(value).c_str(), word) == 0;
}

static void invalid(const char *keyword, const char *reason) { msg_report(1236, keyword, reason); }

static uint32_t number(const std::string &value)
{
    return static_cast<uint32_t>(strtoul(value.c_str(), nullptr, 0));
}

// A number that must fit the field it is written to.
static uint32_t bounded(const char *keyword, const std::string &value, uint32_t max)
{
    uint32_t n = number(value);
    if (n > max)
        invalid(keyword, str_printf("must be <= %u", max).c_str());
    return n;
}

static bool yes_no(const char *keyword, const std::string &value)
{
    if (same_word(value, "yes"))
        return true;
    if (!same_word(value, "no"))
        invalid(keyword, "expected \"yes\" or \"no\"");
    return false;
}

// "major.minor" as (major << 8) + minor.
static uint32_t version(const char *keyword, const std::string &value)
{
    const char *s = value.c_str();
    while (*s == ' ' || *s == '\t')
        s++;
    if (!isdigit(static_cast<unsigned char>(*s))) {
        invalid(keyword, "expected version number");
        return 0;
    }
    char *end = nullptr;
    unsigned long major = strtoul(s, &end, 10);
    unsigned long minor = *end == '.' ? strtoul(end + 1, nullptr, 10) : 0;
    if (major > 255 || minor > 255)
        invalid(keyword, "must be <= 255.255");
    return static_cast<uint32_t>(((major & 0xFF) << 8) | (minor & 0xFF));
}

// "class[,subclass[,protocol]]".
static void class_triple(const std::string &value, uint32_t *cls, uint32_t *subclass, uint32_t *protocol)
{
    if (trimmed(value).empty()) {
        invalid("CLASS", "");
        return;
    }
    uint32_t *fields[] = {cls, subclass, protocol};
    const char *s = value.c_str();
    for (uint32_t *field : fields) {
        char *end = nullptr;
        *field = static_cast<uint32_t>(strtoul(s, &end, 0));
        if (*field > 0xFF)
            invalid("CLASS", "must be <= 255");
        if (*end != ',')
            break;
        s = end + 1;
    }
}

// ---------------------------------------------------------------------------
// strings
// ---------------------------------------------------------------------------

// The UTF-16 code units of a text read as UTF-8; a byte that does not
// start a well-formed sequence stands for the character of its own value.
static std::vector<uint16_t> utf16_of(const std::string &text)
{
    std::vector<uint16_t> units;
    const auto *p = reinterpret_cast<const unsigned char *>(text.c_str());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned c = p[i], len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        bool ok = len && i + len <= n;
        for (unsigned k = 1; ok && k < len; k++) {
            ok = (p[i + k] & 0xC0) == 0x80;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (!ok || cp > 0x10FFFF || (len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) {
            units.push_back(static_cast<uint16_t>(c));
            i++;
            continue;
        }
        if (cp >= 0x10000) {
            units.push_back(static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            units.push_back(static_cast<uint16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<uint16_t>(cp));
        }
        i += len;
    }
    return units;
}

// Code units a string descriptor holds: its length byte counts 2 + 2 each.
constexpr size_t USB_STRING_UNITS = 126;

// The index of a text among the device's strings (equal texts share one);
// 0 for an empty text.
static uint32_t string_index(usb_device &d, const char *keyword, const std::string &text)
{
    if (text.empty())
        return 0;
    if (utf16_of(text).size() > USB_STRING_UNITS)
        invalid(keyword, "must be <= 126 characters");
    for (size_t i = 0; i < d.strings.size(); i++)
        if (d.strings[i] == text)
            return static_cast<uint32_t>(i + 1);
    d.strings.push_back(text);
    return static_cast<uint32_t>(d.strings.size());
}

// ---------------------------------------------------------------------------
// reading
// ---------------------------------------------------------------------------

static usb_device &device(usb_reader &r) { return r.devices.back(); }
static usb_config &config(usb_reader &r) { return device(r).configs.back(); }
static usb_interface &current_interface(usb_reader &r) { return config(r).interfaces.back(); }

// A device ends: one without SERIAL takes the file's serial text.
static void end_device(usb_reader &r)
{
    if (!r.device_serial && r.have_file_serial)
        device(r).serial = string_index(device(r), "SERIAL", r.file_serial);
    r.block = UB_FILE;
}

static bool line_at_file(usb_reader &r, const char *kw, const std::string &v)
{
    if (!strcasecmp(kw, "DEVICE")) {
        usb_device d = {};
        d.name = trimmed(v);
        d.packet_size = 64;
        r.devices.push_back(d);
        r.device_serial = false;
        r.next_interface = 0;
        r.block = UB_DEVICE;
    } else if (!strcasecmp(kw, "SERIAL")) {
        r.file_serial = v;
        r.have_file_serial = true;
    } else {
        return false;
    }
    return true;
}

static bool line_in_device(usb_reader &r, const char *kw, const std::string &v)
{
    usb_device &d = device(r);
    if (!strcasecmp(kw, "USB")) {
        d.usb_version = version(kw, v);
    } else if (!strcasecmp(kw, "CLASS")) {
        class_triple(v, &d.cls, &d.subclass, &d.protocol);
    } else if (!strcasecmp(kw, "PACKETSIZE")) {
        // Endpoint 0's packet size is one byte of the device descriptor.
        d.packet_size = bounded(kw, v, 255);
    } else if (!strcasecmp(kw, "VID")) {
        d.vid = bounded(kw, v, 0xFFFF);
    } else if (!strcasecmp(kw, "PID")) {
        d.pid = bounded(kw, v, 0xFFFF);
    } else if (!strcasecmp(kw, "RELEASE")) {
        d.release = bounded(kw, v, 0xFFFF);
    } else if (!strcasecmp(kw, "MANUFACTURER")) {
        d.manufacturer = string_index(d, kw, v);
    } else if (!strcasecmp(kw, "PRODUCT")) {
        d.product = string_index(d, kw, v);
    } else if (!strcasecmp(kw, "SERIAL")) {
        d.serial = string_index(d, kw, v);
        r.device_serial = true;
    } else if (!strcasecmp(kw, "CONFIG")) {
        usb_config c = {};
        c.attributes = 0x80;
        c.value = static_cast<uint32_t>(d.configs.size() + 1);
        c.name = string_index(d, kw, v);
        d.configs.push_back(c);
        r.block = UB_CONFIG;
    } else if (!strcasecmp(kw, "ENDDEVICE")) {
        end_device(r);
    } else {
        return false;
    }
    return true;
}

// POWER=bus|self,<mA>: the current in units of 2 mA, one byte.
static void power(usb_config &c, const std::string &v)
{
    std::string source = v.substr(0, v.find(','));
    if (same_word(source, "self"))
        c.attributes |= 0x40;
    else if (!same_word(source, "bus"))
        invalid("POWER", "expected \"bus\" or \"self\"");
    size_t comma = v.find(',');
    long ma = comma == std::string::npos ? 0 : strtol(v.c_str() + comma + 1, nullptr, 0);
    if (ma <= 0) {
        invalid("POWER", "expected current draw in mA > 0");
        return;
    }
    if (ma > 510) {
        invalid("POWER", "must be <= 510");
        ma = 510;
    }
    c.max_power = static_cast<uint32_t>((ma + 1) / 2);
}

static bool line_in_config(usb_reader &r, const char *kw, const std::string &v)
{
    usb_config &c = config(r);
    if (!strcasecmp(kw, "POWER")) {
        power(c, v);
    } else if (!strcasecmp(kw, "WAKEUP")) {
        c.attributes = yes_no(kw, v) ? c.attributes | 0x20 : c.attributes & ~0x20u;
    } else if (!strcasecmp(kw, "INTERFACE")) {
        usb_interface i = {};
        i.number = r.next_interface++;
        i.name = string_index(device(r), kw, v);
        c.interfaces.push_back(i);
        r.block = UB_INTERFACE;
    } else if (!strcasecmp(kw, "ENDCONFIG")) {
        r.block = UB_DEVICE;
    } else {
        return false;
    }
    return true;
}

static bool line_in_interface(usb_reader &r, const char *kw, const std::string &v)
{
    usb_interface &i = current_interface(r);
    if (!strcasecmp(kw, "CLASS")) {
        class_triple(v, &i.cls, &i.subclass, &i.protocol);
    } else if (!strcasecmp(kw, "ENDPOINT")) {
        uint32_t n = bounded(kw, v, 15);
        r.block = UB_ENDPOINT;
        // Endpoint 0 is the control endpoint every device has: its block is
        // read, but it gets no descriptor.
        r.endpoint_kept = n != 0;
        if (n == 0)
            msg_report(1237);
        else
            i.endpoints.push_back(usb_endpoint{n & 0x0F, 0, 0, 0, 0});
    } else if (!strcasecmp(kw, "DFU_FUNCTION")) {
        i.functions.push_back(usb_dfu{});
        r.block = UB_DFU;
    } else if (!strcasecmp(kw, "ENDINTERFACE")) {
        r.block = UB_CONFIG;
    } else {
        return false;
    }
    return true;
}

static bool line_in_endpoint(usb_reader &r, const char *kw, const std::string &v)
{
    usb_endpoint scratch = {};
    usb_endpoint &e = r.endpoint_kept ? current_interface(r).endpoints.back() : scratch;
    if (!strcasecmp(kw, "DIR")) {
        if (same_word(v, "in"))
            e.direction = 0x80;
        else if (same_word(v, "out"))
            e.direction = 0;
        else
            invalid(kw, "expected \"in\" or \"out\"");
    } else if (!strcasecmp(kw, "TYPE")) {
        static const struct {
            const char *name;
            uint32_t type;
        } types[] = {{"control", 0}, {"iso", 1}, {"isosynchronous", 1}, {"bulk", 2}, {"interrupt", 3}};
        bool known = false;
        for (const auto &t : types)
            if (same_word(v, t.name)) {
                e.type = t.type;
                known = true;
            }
        if (!known)
            invalid(kw, "");
    } else if (!strcasecmp(kw, "PACKETSIZE")) {
        e.packet_size = bounded(kw, v, 1024);
    } else if (!strcasecmp(kw, "INTERVAL")) {
        e.interval = bounded(kw, v, 255);
    } else if (!strcasecmp(kw, "ENDENDPOINT")) {
        r.block = UB_INTERFACE;
    } else {
        return false;
    }
    return true;
}

static bool line_in_dfu(usb_reader &r, const char *kw, const std::string &v)
{
    usb_dfu &f = current_interface(r).functions.back();
    static const struct {
        const char *keyword;
        uint32_t bit;
    } flags[] = {{"DETACH", 0x8}, {"TOLERANT", 0x4}, {"UPLOAD", 0x2}, {"DOWNLOAD", 0x1}};
    for (const auto &flag : flags)
        if (!strcasecmp(kw, flag.keyword)) {
            f.attributes = yes_no(kw, v) ? f.attributes | flag.bit : f.attributes & ~flag.bit;
            return true;
        }
    if (!strcasecmp(kw, "TIMEOUT")) {
        f.timeout = bounded(kw, v, 0xFFFF);
    } else if (!strcasecmp(kw, "TRANSFER")) {
        f.transfer = number(v);
        if (f.transfer > device(r).packet_size)
            invalid(kw, "");
    } else if (!strcasecmp(kw, "VERSION")) {
        f.version = version(kw, v);
    } else if (!strcasecmp(kw, "ENDFUNCTION")) {
        r.block = UB_INTERFACE;
    } else {
        return false;
    }
    return true;
}

typedef bool (*usb_line_fn)(usb_reader &r, const char *keyword, const std::string &value);

// Line handlers by block.
static const usb_line_fn block_handlers[] = {
    /* UB_FILE      */ line_at_file,
    /* UB_DEVICE    */ line_in_device,
    /* UB_CONFIG    */ line_in_config,
    /* UB_INTERFACE */ line_in_interface,
    /* UB_ENDPOINT  */ line_in_endpoint,
    /* UB_DFU       */ line_in_dfu,
};
static_assert(sizeof block_handlers / sizeof block_handlers[0] == UB_DFU + 1, "one handler per block");

// KEYWORD, then optional blanks and one '=', then the value up to the
// next '='.
static void read_line(usb_reader &r, const std::string &line)
{
    size_t at = line.find_first_not_of(" \t");
    if (at == std::string::npos || line[at] == ';' || line[at] == '#')
        return;
    size_t end = line.find_first_of(" \t=", at);
    std::string keyword = line.substr(at, end == std::string::npos ? std::string::npos : end - at);
    std::string value;
    if (end != std::string::npos) {
        size_t v = line.find_first_not_of(" \t", end);
        if (v != std::string::npos && line[v] == '=')
            v++;
        if (v != std::string::npos && v < line.size())
            value = line.substr(v, line.find('=', v) == std::string::npos ? std::string::npos : line.find('=', v) - v);
    }
    if (!block_handlers[r.block](r, keyword.c_str(), value))
        msg_report(1235, keyword.c_str());
}

// ---------------------------------------------------------------------------
// writing
// ---------------------------------------------------------------------------

static const char *string_text(const usb_device &d, uint32_t index)
{
    return index >= 1 && index <= d.strings.size() ? d.strings[index - 1].c_str() : "";
}

static void write_device_descriptor(FILE *f, const usb_device &d)
{
    fprintf(f, "\t%d, 1,\t\t\t// %d byte device descriptor \n", 18, 18);
    fprintf(f, "\t0x%2.2X, 0x%2.2X,\t\t// USB version\n", d.usb_version & 0xFF, d.usb_version >> 8);
    fprintf(f, "\t0x%2.2X,0x%2.2X,0x%2.2X,\t\t// class,subclass,protocol\n", d.cls, d.subclass, d.protocol);
    fprintf(f, "\t%d,\t\t\t// max packet size\n", static_cast<int>(d.packet_size));
    fprintf(f, "\t0x%2.2X, 0x%2.2X,\t\t// Vendor ID: 0x%X/%d\n", d.vid & 0xFF, d.vid >> 8, d.vid, static_cast<int>(d.vid));
    fprintf(f, "\t0x%2.2X, 0x%2.2X,\t\t// Product ID: 0x%X/%d\n", d.pid & 0xFF, d.pid >> 8, d.pid, static_cast<int>(d.pid));
    fprintf(f, "\t0x%2.2X, 0x%2.2X,\t\t// Product release: 0x%X/%d\n", d.release & 0xFF, d.release >> 8, d.release,
            static_cast<int>(d.release));
    fprintf(f, "\t%d,\t\t\t// manufacturer: \"%s\"\n", static_cast<int>(d.manufacturer), string_text(d, d.manufacturer));
    fprintf(f, "\t%d,\t\t\t// product: \"%s\"\n", static_cast<int>(d.product), string_text(d, d.product));
    if (d.serial)
        fprintf(f, "\t%d,\t\t\t// serial: \"%s\"\n", static_cast<int>(d.serial), string_text(d, d.serial));
    else
        fprintf(f, "\t%d,\t\t\t// Custom serial\n", static_cast<int>(d.strings.size() + 1));
    fprintf(f, "\t%d,\t\t\t// number of configurations\n\n", static_cast<int>(d.configs.size()));
}

static uint32_t config_total(const usb_config &c)
{
    uint32_t total = 9;
    for (const usb_interface &i : c.interfaces)
        total += 9 + 7 * static_cast<uint32_t>(i.endpoints.size()) + 9 * static_cast<uint32_t>(i.functions.size());
    return total;
}

static void write_endpoint(FILE *f, const usb_endpoint &e)
{
    static const char *const type_names[] = {" control", " isosynchronous", " bulk", " interrupt"};
    fprintf(f, "\t\t\t// Endpoint %d\n", static_cast<int>(e.number));
    fprintf(f, "\t\t\t\t%d, 5,\t\t// %d byte endpoint descriptor \n", 7, 7);
    fprintf(f, "\t\t\t\t0x%2.2X,\t\t// Endpoint number (%s)\n", e.direction | e.number, e.direction ? "in" : "out");
    fprintf(f, "\t\t\t\t0x%2.2X,\t\t//%s\n", e.type, type_names[e.type & 3]);
    fprintf(f, "\t\t\t\t0x%2.2X, 0x%2.2X,\t// Max packet size %d\n", e.packet_size & 0xFF, e.packet_size >> 8,
            static_cast<int>(e.packet_size));
    fprintf(f, "\t\t\t\t%d,\t\t// Latency/polling interval\n", static_cast<int>(e.interval));
}

static void write_dfu(FILE *f, const usb_dfu &d)
{
    fprintf(f, "\n\t\t\t// Function descriptor\n");
    fprintf(f, "\t\t\t\t%d, 0x%X,\t// length and type\n\t\t\t", 9, 0x21);
    const uint32_t bytes[] = {d.attributes, d.timeout & 0xFF, d.timeout >> 8, d.transfer & 0xFF, (d.transfer >> 8) & 0xFF,
                              d.version & 0xFF, d.version >> 8};
    for (uint32_t b : bytes)
        fprintf(f, "0x%2.2X, ", b);
    fprintf(f, "\n\n");
}

static void write_interface(FILE *f, const usb_device &d, const usb_interface &i)
{
    fprintf(f, "\t\t// Interface %d\n", static_cast<int>(i.number));
    fprintf(f, "\t\t\t%d, 4,\t\t// %d byte interface descriptor \n", 9, 9);
    fprintf(f, "\t\t\t%d,\t\t// interface identifier\n", static_cast<int>(i.number));
    fprintf(f, "\t\t\t0,\t\t// alternate identifier\n");
    fprintf(f, "\t\t\t%d,\t\t// number of endpoints\n", static_cast<int>(i.endpoints.size()));
    fprintf(f, "\t\t\t0x%2.2X,0x%2.2X,0x%2.2X,\t// class,subclass,protocol\n", i.cls, i.subclass, i.protocol);
    fprintf(f, "\t\t\t%d,\t\t// interface name: \"%s\"\n", static_cast<int>(i.name), string_text(d, i.name));
}

// Steps 3-6: each configuration with its interfaces; returns the offset
// after them.
static uint32_t write_configs(FILE *f, usb_device &d, uint32_t offset)
{
    for (usb_config &c : d.configs) {
        c.offset = offset;
        uint32_t total = config_total(c);
        fprintf(f, "\t// Configuration %d\n\n", static_cast<int>(c.value));
        fprintf(f, "\t\t%d, 2,\t\t// %d byte configuration descriptor \n", 9, 9);
        fprintf(f, "\t\t0x%2.2X, 0x%2.2X,\t// total size of conf/interface/endpoint descriptors = %d\n", total & 0xFF,
                total >> 8, static_cast<int>(total));
        fprintf(f, "\t\t%d,\t\t// number of interfaces in this configuration\n", static_cast<int>(c.interfaces.size()));
        fprintf(f, "\t\t%d,\t\t// configuration identifier\n", static_cast<int>(c.value));
        fprintf(f, "\t\t%d,\t\t// configuration name: \"%s\"\n", static_cast<int>(c.name), string_text(d, c.name));
        fprintf(f, "\t\t0x%2.2X,\t\t// attributes: %s%s", c.attributes, (c.attributes & 0x20) ? "Wakeup=yes; " : "Wakeup=no; ",
                (c.attributes & 0x40) ? "self powered\n" : "bus powered\n");
        fprintf(f, "\t\t0x%2.2X,\t\t// power=%dmA\n\n", c.max_power, static_cast<int>(2 * c.max_power));
        offset += 9;
        for (const usb_interface &i : c.interfaces) {
            write_interface(f, d, i);
            offset += 9;
            for (const usb_endpoint &e : i.endpoints) {
                write_endpoint(f, e);
                offset += 7;
            }
            for (const usb_dfu &fn : i.functions) {
                write_dfu(f, fn);
                offset += 9;
            }
        }
    }
    return offset;
}

// Step 7: the string descriptors in UTF-16; their offsets are recorded.
static uint32_t write_strings(FILE *f, const usb_device &d, uint32_t offset, std::vector<uint32_t> &offsets)
{
    offsets.push_back(offset);
    fprintf(f, "\t// string descriptor 0: language ids\n");
    fprintf(f, "\t4, 3, 9, 4,\n");
    offset += 4;
    for (size_t i = 0; i < d.strings.size(); i++) {
        std::vector<uint16_t> units = utf16_of(d.strings[i]);
        if (units.size() > USB_STRING_UNITS)
            units.resize(USB_STRING_UNITS);
        offsets.push_back(offset);
        uint32_t length = 2 * static_cast<uint32_t>(units.size()) + 2;
        fprintf(f, "\t// string descriptor %d: \"%s\"\n", static_cast<int>(i + 1), d.strings[i].c_str());
        fprintf(f, "\t%d, 3, ", static_cast<int>(length));
        for (uint16_t u : units)
            fprintf(f, "%d, %d, ", u & 0xFF, u >> 8);
        fprintf(f, "\n");
        offset += length;
    }
    return offset;
}

static void write_device(FILE *f, usb_device &d)
{
    const char *n = d.name.c_str();
    fprintf(f, "// USB Device \"%s\"\n\n", n);
    fprintf(f, "static USB_CONST unsigned char %s_data[] = {\n", n);
    write_device_descriptor(f, d);
    uint32_t offset = write_configs(f, d, 18);
    std::vector<uint32_t> string_offsets;
    offset = write_strings(f, d, offset, string_offsets);
    fprintf(f, "\n};\n");
    fprintf(f, "// sizeof table above should be %lu\n\n", static_cast<unsigned long>(offset));
    fprintf(f, "// Access tables for this device\n");
    fprintf(f, "\nstatic USB_CONST unsigned char * USB_CONST\t%s_configurations[] =\n{\n", n);
    for (const usb_config &c : d.configs)
        fprintf(f, "\t%s_data+%u,\n", n, c.offset);
    fprintf(f, "};\n");
    fprintf(f, "\nstatic USB_CONST unsigned short %s_conf_sizes[] =\n{\n", n);
    for (const usb_config &c : d.configs)
        fprintf(f, "\t%u,\n", config_total(c));
    fprintf(f, "};\n");
    fprintf(f, "\nstatic USB_CONST unsigned char * USB_CONST\t%s_strings[] =\n{\n", n);
    for (uint32_t o : string_offsets)
        fprintf(f, "\t%s_data+%u,\n", n, o);
    if (!d.serial)
        fprintf(f, "\t0,\n");
    fprintf(f, "};\n");
    fprintf(f, "USB_CONST USB_descriptor_table\t%s_table =\n{\n", n);
    fprintf(f, "\t%s_data,\n\t%s_configurations,\n\t%s_strings,\n\t%s_conf_sizes,", n, n, n, n);
    fprintf(f, "\t%u, %u,\n};\n", static_cast<unsigned>(d.configs.size()),
            static_cast<unsigned>(string_offsets.size() + (d.serial ? 0 : 1)));
}

static void write_prologue(FILE *f)
{
    fprintf(f, "#ifndef USB_CONST\n#define\tUSB_CONST\tconst\n#endif\n\n\n");
    fprintf(f, "#include\t<vkusb.h>\n\n");
    fprintf(f, "/* This structure is defined in vkusb.h, here for reference only\n\n");
    fprintf(f, "typedef struct\n{\n\tUSB_CONST unsigned char *\t\t\t\tdevice,\n\t\t\t\t\t\t\t* USB_CONST *\tconfigurations,\n"
               "\t\t\t\t\t\t\t* USB_CONST *\tstrings;\n\tUSB_CONST unsigned short*\t\t\t\tconf_sizes;\n"
               "\tunsigned char\t\t\t\t\t\t\tconf_cnt, string_cnt;\n}\tUSB_descriptor_table;\n");
    fprintf(f, "*/\n\n");
}

bool compile_usb(const char *path, const char *out_path)
{
    FILE *in = fopen(path, "r");
    if (!in) {
        msg_report(140, "USB", path);
        return false;
    }
    usb_reader r = {};
    usb_line = 0;
    msg_set_location(path, &usb_line, nullptr, nullptr);
    std::string line;
    while (os_read_line(in, line)) {
        usb_line++;
        read_line(r, line);
    }
    msg_set_location(nullptr, nullptr, nullptr, nullptr);
    fclose(in);
    // A description that ends inside a device still gives what was read.
    if (r.block != UB_FILE)
        end_device(r);
    FILE *out = os_same_file(path, out_path) ? nullptr : fopen(out_path, "w");
    if (!out) {
        msg_report(140, "USB output", out_path);
        return false;
    }
    write_prologue(out);
    for (usb_device &d : r.devices)
        write_device(out, d);
    fclose(out);
    return true;
}
