// The assembler: instruction encodings against gpasm, relocations, records
// and diagnostics.
#include "objfile.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

void tool_exit(int) {}

static std::string dir;

static std::string run(const std::string &cmd, int *status) { return tool_run(dir, cmd, status); }

static void write(const std::string &name, const std::string &text) { tool_write(dir + "/" + name, text); }

static const char *const CHIPS = "[16F877A]\nARCH=PIC14\nROMSIZE=2000\n"
                                 "[16F84A]\nARCH=PIC14\nROMSIZE=400\n"
                                 "[16F876A]\nARCH=PIC14\nROMSIZE=1000\n"
                                 "[12F508]\nARCH=PIC12\nROMSIZE=200\n"
                                 "[16F57]\nARCH=PIC12\nROMSIZE=800\n"
                                 "[17C44]\nARCH=PIC16\nROMSIZE=2000\n"
                                 "[17C756]\nARCH=PIC16\nROMSIZE=4000\n";

static std::string osprey(const std::string &chip, const std::string &args, int *status)
{
    return run(ZEPH_BUILD_DIR "/bin/osprey --chip=" + chip + " -C" + dir + "/chips.ini " + args, status);
}

struct object {
    std::vector<std::pair<int, std::vector<uint8_t>>> records;
    std::map<std::string, std::vector<uint8_t>> text;  // psect -> bytes by offset
};

static object read_object(const std::string &name)
{
    object o;
    FILE *f = fopen((dir + "/" + name).c_str(), "rb");
    EXPECT_NE(f, nullptr) << name;
    if (!f)
        return o;
    obj_record r;
    while (obj_read_header(f, &r) == OBJ_OK && obj_read_body(f, &r) == OBJ_OK) {
        o.records.push_back({static_cast<int>(r.type), std::vector<uint8_t>(r.body, r.body + r.length)});
        if (r.type == REC_TEXT) {
            obj_text t;
            decode_text(cur_of(r), &t);
            std::vector<uint8_t> &bytes = o.text[t.psect];
            if (bytes.size() < t.offset + t.data_length)
                bytes.resize(t.offset + t.data_length);
            std::copy(t.data, t.data + t.data_length, bytes.begin() + t.offset);
        }
    }
    fclose(f);
    return o;
}

// Words of an Intel HEX file from gpasm, by word address.
static std::vector<unsigned> hex_words(const std::string &name)
{
    std::ifstream in(dir + "/" + name);
    std::string line;
    std::vector<unsigned> words;
    while (std::getline(in, line)) {
        if (line.size() < 11 || line[0] != ':')
            continue;
        unsigned n = std::stoul(line.substr(1, 2), nullptr, 16);
        unsigned addr = std::stoul(line.substr(3, 4), nullptr, 16);
        unsigned type = std::stoul(line.substr(7, 2), nullptr, 16);
        if (type != 0)
            continue;
        for (unsigned i = 0; i + 1 < n; i += 2) {
            unsigned lo = std::stoul(line.substr(9 + 2 * i, 2), nullptr, 16);
            unsigned hi = std::stoul(line.substr(11 + 2 * i, 2), nullptr, 16);
            unsigned w = (addr + i) / 2;
            if (words.size() <= w)
                words.resize(w + 1);
            words[w] = lo | hi << 8;
        }
    }
    return words;
}

class Osprey : public testing::Test {
protected:
    void SetUp() override
    {
        dir = tool_tempdir("zeph_asp");
        write("chips.ini", CHIPS);
        unsetenv("VRK_ERR_FORMAT");
    }
};

// Every instruction with each operand form assembles to the words gpasm
// gives for the same line.
static void compare_with_gpasm(const std::string &chip, const std::string &gpchip,
                               const std::vector<std::string> &lines)
{
    std::string body;
    for (const std::string &l : lines)
        body += "\t" + l + "\n";
    write("g.asm", "\tprocessor " + gpchip + "\n\torg 0\n" + body + "\tend\n");
    write("o.as", "\tpsect\ttext,class=CODE,delta=2\n" + body);
    int st;
    std::string out = run("gpasm -p " + gpchip + " -o g.hex g.asm", &st);
    ASSERT_EQ(st, 0) << out;
    out = osprey(chip, "o.as", &st);
    ASSERT_EQ(st, 0) << out;
    std::vector<unsigned> want = hex_words("g.hex");
    object o = read_object("o.obj");
    const std::vector<uint8_t> &bytes = o.text["text"];
    ASSERT_EQ(bytes.size(), want.size() * 2);
    for (size_t i = 0; i < want.size(); i++)
        EXPECT_EQ(bytes[2 * i] | bytes[2 * i + 1] << 8, want[i]) << chip << ": " << lines[i];
}

TEST_F(Osprey, MidRangeInstructionSetMatchesGpasm)
{
    std::vector<std::string> lines;
    for (const char *fd : {"addwf", "andwf", "comf", "decf", "decfsz", "incf", "incfsz", "iorwf", "movf", "rlf",
                           "rrf", "subwf", "swapf", "xorwf"}) {
        lines.push_back(std::string(fd) + " 0x20,w");
        lines.push_back(std::string(fd) + " 0x7F,f");
        lines.push_back(std::string(fd) + " 5,1");
        lines.push_back(std::string(fd) + " 0x21,0");
        lines.push_back(std::string(fd) + " 0x22");      // the file register
    }
    for (const char *fb : {"bcf", "bsf", "btfsc", "btfss"}) {
        lines.push_back(std::string(fb) + " 0x20,0");
        lines.push_back(std::string(fb) + " 3,7");
    }
    for (const char *k : {"addlw", "andlw", "iorlw", "movlw", "retlw", "sublw", "xorlw"}) {
        lines.push_back(std::string(k) + " 0");
        lines.push_back(std::string(k) + " 0xFF");
        lines.push_back(std::string(k) + " 'A'");
    }
    for (const char *s : {"clrf 0x30", "movwf 0x45", "clrw", "nop", "clrwdt", "retfie", "return", "sleep",
                          "call 0x123", "goto 0x7FF", "call 0", "option", "tris 6", "movlw 0Ah", "movlw -1", "movlw 3+4*2", "movlw (1<<4)|3", "movlw low(1234h)",
                          "movlw high(1234h)"})
        lines.push_back(s);
    compare_with_gpasm("16F877A", "p16f877a", lines);
}

TEST_F(Osprey, BaselineInstructionSetMatchesGpasm)
{
    std::vector<std::string> lines;
    for (const char *fd : {"addwf", "andwf", "comf", "decf", "decfsz", "incf", "incfsz", "iorwf", "movf", "rlf",
                           "rrf", "subwf", "swapf", "xorwf"}) {
        lines.push_back(std::string(fd) + " 0x10,w");
        lines.push_back(std::string(fd) + " 0x1F,f");
        lines.push_back(std::string(fd) + " 0x11,0");
        lines.push_back(std::string(fd) + " 0x12,1");
        lines.push_back(std::string(fd) + " 0x13");      // the file register
    }
    for (const char *fb : {"bcf", "bsf", "btfsc", "btfss"}) {
        lines.push_back(std::string(fb) + " 0x10,0");
        lines.push_back(std::string(fb) + " 3,7");
    }
    for (const char *k : {"andlw", "iorlw", "movlw", "retlw", "xorlw"}) {
        lines.push_back(std::string(k) + " 0");
        lines.push_back(std::string(k) + " 0xFF");
    }
    for (const char *s : {"clrf 0x1A", "movwf 6", "clrw", "nop", "clrwdt", "sleep", "call 0xFF", "goto 0x1FF",
                          "option", "tris 6", "tris 7"})
        lines.push_back(s);
    compare_with_gpasm("12F508", "p12f508", lines);
}

TEST_F(Osprey, HighEndInstructionSetMatchesGpasm)
{
    std::vector<std::string> lines;
    for (const char *fd : {"addwf", "addwfc", "andwf", "comf", "daw", "decf", "decfsz", "dcfsnz", "incf", "incfsz",
                           "infsnz", "iorwf", "negw", "rlcf", "rlncf", "rrcf", "rrncf", "setf", "subwf", "subwfb",
                           "swapf", "xorwf", "clrf"}) {
        lines.push_back(std::string(fd) + " 0x20,0");
        lines.push_back(std::string(fd) + " 0xFF,1");
    }
    for (const char *f : {"cpfseq", "cpfsgt", "cpfslt", "movwf", "mulwf", "tstfsz"})
        lines.push_back(std::string(f) + " 0x41");
    for (const char *fb : {"bcf", "bsf", "btfsc", "btfss", "btg"}) {
        lines.push_back(std::string(fb) + " 0x20,0");
        lines.push_back(std::string(fb) + " 0x0A,7");
    }
    for (const char *k : {"addlw", "andlw", "iorlw", "movlw", "mullw", "retlw", "sublw", "xorlw", "lcall"})
        lines.push_back(std::string(k) + " 0x5A");
    for (const char *s : {"movfp 0x20,5", "movpf 0x1F,0x30", "tablrd 1,1,0x20", "tablwt 0,1,0x21", "tlrd 1,0x22",
                          "tlwt 0,0x23", "call 0x123", "goto 0x1FFF", "movlb 5", "movlr 3", "retfie", "return",
                          "clrwdt", "sleep", "nop"})
        lines.push_back(s);
    compare_with_gpasm("17C44", "p17c44", lines);
}

// Decoded SYM entries of an object: name -> {value, flags, psect}.
struct sym_info { uint32_t value; unsigned flags; std::string psect; };
static std::map<std::string, sym_info> symbols_of(const object &o)
{
    std::map<std::string, sym_info> out;
    for (auto &r : o.records) {
        if (r.first != REC_SYM)
            continue;
        obj_cursor c = cur_open(r.second.data(), static_cast<unsigned>(r.second.size()), order_little);
        obj_sym_entry e;
        while (!cur_at_end(c) && decode_sym_entry(c, false, &e))
            out[e.name] = {e.value, e.flags, e.psect};
    }
    return out;
}

static std::vector<int> types_of(const object &o)
{
    std::vector<int> t;
    for (auto &r : o.records)
        t.push_back(r.first);
    return t;
}

TEST_F(Osprey, SymbolsPsectsAndRecords)
{
    write("m.as", R"(	processor	16F877A
clrc	macro
	bcf	status,0
	endm
status	equ	3
	psect	text0,local,class=CODE,delta=2
	global	_main,_helper,_count
_main:
	clrc
	movlw	low(_count)
	movwf	_count
	fcall	_helper
loop
	goto	loop
	psect	rbss_0,class=BANK0,space=1
_count:	ds	2
buf:	ds	4
	psect	config,class=CONFIG,delta=2
	dw	0x3F3A
	FNCONF	rbss_0,??,?
	FNSIZE	_main,2,0
	FNCALL	_main,_helper
	FNROOT	_main
	signat	_main,88
	DABS	1,0x70,2
x	equ	??_main+1
	global	x
	end	_main
)");
    int st;
    std::string out = osprey("16F877A", "m.as", &st);
    ASSERT_EQ(st, 0) << out;
    object o = read_object("m.obj");
    std::vector<int> t = types_of(o);
    ASSERT_FALSE(t.empty());
    EXPECT_EQ(t.front(), REC_IDENT);
    EXPECT_EQ(t.back(), REC_END);
    for (int want : {REC_PSECT, REC_XPSECT, REC_TEXT, REC_RELOC, REC_SYM, REC_SIGNAT, REC_FNCONF, REC_FNINFO,
                     REC_RESERVE, REC_START})
        EXPECT_NE(std::find(t.begin(), t.end(), want), t.end()) << want;
    auto syms = symbols_of(o);
    EXPECT_EQ(syms["_main"].flags, 0x10u);
    EXPECT_EQ(syms["_main"].psect, "text0");
    EXPECT_EQ(syms["_count"].value, 0u);
    EXPECT_EQ(syms["buf"].value, 2u);           // a local label
    EXPECT_EQ(syms["buf"].flags, 0u);
    EXPECT_EQ(syms["loop"].value, 8u);          // bcf, movlw, movwf, 2 page words + call + 2
    EXPECT_EQ(syms["_helper"].flags, 0x16u);    // referenced, defined elsewhere
    EXPECT_EQ(syms["x"].flags, 0x18u);          // indirect: ??_main + 1
    EXPECT_EQ(syms["x"].psect, "??_main");
    EXPECT_EQ(syms["x"].value, 1u);
    EXPECT_EQ(syms.count("status"), 0u);        // local constants stay in the module
    // text: bcf 3,0 first; config word as written; bss size declared
    EXPECT_EQ(o.text["text0"][0] | o.text["text0"][1] << 8, 0x1003);
    EXPECT_EQ(o.text["config"][0] | o.text["config"][1] << 8, 0x3F3A);
    EXPECT_EQ(o.text["rbss_0"].size(), 6u);
}

// A global equated to names the module never mentions elsewhere: evaluating
// it enters those names into the symbol table while the symbols are written.
TEST_F(Osprey, GlobalEquatedToNewNames)
{
    const struct { const char *value, *base; uint32_t add; } cases[] = {
        {"?", "?", 0}, {"later+3", "later", 3}, {"a+b", "", 0},
    };
    for (const auto &c : cases) {
        write("q.as", std::string("\tpsect\ttext,class=CODE,delta=2\nx\tequ\t") + c.value +
                          "\n\tmovlw\tb\n\tglobal\tx\n");
        int st;
        std::string out = osprey("16F877A", "q.as", &st);
        EXPECT_EQ(out.find("Sanitizer"), std::string::npos) << c.value << out;
        if (!*c.base) {  // two unknown names: nothing the object format holds
            EXPECT_NE(st, 0) << c.value << out;
            EXPECT_NE(out.find("(1428)"), std::string::npos) << c.value << out;
            continue;
        }
        ASSERT_EQ(st, 0) << c.value << out;
        auto syms = symbols_of(read_object("q.obj"));
        EXPECT_EQ(syms["x"].flags, 0x18u) << c.value;
        EXPECT_EQ(syms["x"].psect, c.base) << c.value;
        EXPECT_EQ(syms["x"].value, c.add) << c.value;
    }
}

TEST_F(Osprey, FixedLengthFarCallsByProgramSize)
{
    // fcall and ljmp take the same number of words whatever the target, so
    // jump tables can scale by them: 1 page, 2 pages, 4 pages.
    // fcall: page words, call, page words again; ljmp: page words, goto.
    struct { const char *chip; size_t words; } rows[] = {
        {"16F84A", 2}, {"16F876A", 5}, {"16F877A", 8}, {"12F508", 2}, {"16F57", 8}, {"17C44", 2},
        {"17C756", 5}};
    for (auto &r : rows) {
        write("f.as", "\tpsect\tt,class=CODE,delta=2\n\tglobal\tfar\n\tfcall\tfar\n\tljmp\tfar\n");
        int st;
        std::string out = osprey(r.chip, "f.as", &st);
        ASSERT_EQ(st, 0) << out;
        object o = read_object("f.obj");
        EXPECT_EQ(o.text["t"].size(), 2 * r.words) << r.chip;
    }
}

TEST_F(Osprey, ErrorsAreNumberedWithFileAndLine)
{
    // parentheses nested past the limit; a long sum, which is fine
    const std::string deep = "\tmovlw\t" + std::string(300, '(') + "1" + std::string(300, ')');
    std::string sum = "\tmovlw\t1";
    for (int i = 1; i < 100; i++)
        sum += "+1";
    struct { const char *line; const char *number; const char *at = "e.as: 2: "; } rows[] = {
        {deep.c_str(), "(1436)"},
        {sum.c_str(), ""},
        {"x\tequ\ty+1\ny\tequ\tx\n\tmovlw\tx\n\tmovlw\ty", "(1426)", "e.as: 4: "},
        {"\tfrob\t1", "(1402)"},
        {"\tmovlw\t0x1FF", "(1405)"},
        {"\tbsf\t3,9", "(1419)"},
        {"\tmovlw\t(1+", "(1407)"},
        {"\tpsect\tq,bogus", "(1410)"},
        {"\tds\tundefined_thing", "(1412)"},
        {"\tds\t-5", "(1405)"},
        {"\tds\t0xFFFFFFFF\n\tds\t1", "(1405)", "e.as: 3: "},
        {"dup:\ndup:", "(1406)", "e.as: 3: "},
        {"\tmovlw\t1,2", "(1404)"},
        {"\tretfie", ""},
        {"\tpsect\tb,class=CODE\n\tnop", "(1438)", "e.as: 3: "},
        {"\tpsect\tr,class=BANK0,space=1\n\tmovlw\t1", "(1438)", "e.as: 3: "},
        {"\tmovlw\tb\n\tpsect\tr,class=BANK0,space=1\na:\tds\tN\nb:\tds\t1\nN\tequ\t3", "(1439)", "e.as: 5: "},
        {"\tglobal\tq\n\ttris\tq", "(1412)", "e.as: 3: "},
        {"\ttris\t9", "(1405)"},
        {"\tdb\t256", "(1405)"},
        {"\tdw\t-32769", "(1405)"},
        {"\tdb\t-128,255\n\tdw\t-32768,0xFFFF", ""},
    };
    for (auto &r : rows) {
        remove((dir + "/e.obj").c_str());
        write("e.as", std::string("\tpsect\tt,class=CODE,delta=2\n") + r.line + "\n");
        int st;
        std::string out = osprey("16F877A", "e.as", &st);
        if (!*r.number) {
            EXPECT_EQ(st, 0) << out;
            continue;
        }
        EXPECT_NE(st, 0) << r.line;
        EXPECT_NE(out.find(std::string(r.at) + r.number), std::string::npos) << r.line << "\n" << out;
        EXPECT_EQ(out.find(r.number), out.rfind(r.number)) << "reported twice: " << out;
        EXPECT_FALSE(std::ifstream(dir + "/e.obj").good()) << r.line;
    }
    write("e.as", "\tpsect\tt,class=CODE,delta=2\n\tretfie\n");
    int st;
    std::string out = osprey("12F508", "e.as", &st);
    EXPECT_NE(out.find("(1421)"), std::string::npos) << out;
    // a baseline call reaches only the first half of a page
    write("e.as", "\tpsect\tt,class=CODE,delta=2\n\tcall\t0x2FF\n\tcall\t0x100\n");
    out = osprey("12F508", "e.as", &st);
    EXPECT_NE(st, 0);
    EXPECT_EQ(out.find("e.as: 2:"), std::string::npos) << out;
    EXPECT_NE(out.find("e.as: 3: (1405)"), std::string::npos) << out;
    out = osprey("NOSUCH", "e.as", &st);
    EXPECT_NE(out.find("(1414)"), std::string::npos) << out;
}

TEST_F(Osprey, ListingShowsLocationsAndWords)
{
    write("l.as", "\tpsect\tt,class=CODE,delta=2\nstart:\n\tmovlw\t5\n\tgoto\tstart\n");
    int st;
    std::string out = osprey("16F877A", "-ll.lst l.as", &st);
    ASSERT_EQ(st, 0) << out;
    std::string listing = tool_read(dir + "/l.lst");
    EXPECT_NE(listing.find("     3 0000  3005 \tmovlw\t5\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("     4 0001  2800 \tgoto\tstart\n"), std::string::npos) << listing;
}

// No output may replace the source, and a directory is no source: neither
// run may leave a file that passes for an assembled object.
TEST_F(Osprey, NoOutputFromAnUnreadableOrOverwrittenSource)
{
    const std::string text = "\tpsect\tt,class=CODE,delta=2\n\tnop\n";
    write("s.as", text);
    int st;
    std::string out = osprey("16F877A", "-ls.as s.as", &st);
    EXPECT_NE(st, 0) << out;
    EXPECT_NE(out.find("(1432)"), std::string::npos) << out;
    EXPECT_EQ(tool_read(dir + "/s.as"), text);
    EXPECT_FALSE(std::ifstream(dir + "/s.obj").good());
    out = osprey("16F877A", "-ls.obj s.as", &st);
    EXPECT_NE(st, 0) << out;
    EXPECT_NE(out.find("(1433)"), std::string::npos) << out;
    EXPECT_FALSE(std::ifstream(dir + "/s.obj").good());

    ASSERT_EQ(mkdir((dir + "/d.as").c_str(), 0700), 0);
    out = osprey("16F877A", "d.as", &st);
    EXPECT_NE(st, 0) << out;
    EXPECT_NE(out.find("(1401)"), std::string::npos) << out;
    EXPECT_FALSE(std::ifstream(dir + "/d.obj").good());
}

// The chip database is read too: neither the object nor the listing may go
// over it, whichever way its name is spelt.
TEST_F(Osprey, NoOutputOverTheChipDatabase)
{
    write("s.as", "\tpsect\tt,class=CODE,delta=2\n\tnop\n");
    ASSERT_EQ(symlink("chips.ini", (dir + "/link.ini").c_str()), 0);
    const std::string cases[] = {"-ochips.ini s.as", "-lchips.ini s.as", "-o./chips.ini s.as", "-llink.ini s.as",
                                 "-o" + dir + "/chips.ini s.as"};
    for (const std::string &args : cases) {
        int st;
        std::string out = osprey("16F877A", args, &st);
        EXPECT_NE(st, 0) << args << out;
        EXPECT_NE(out.find("(1470)"), std::string::npos) << args << out;
        EXPECT_EQ(tool_read(dir + "/chips.ini"), CHIPS) << args;
        EXPECT_FALSE(std::ifstream(dir + "/s.obj").good()) << args;
    }
}

// A relocatable place before any psect has no psect to name: the run reports
// 1411 and never looks up a psect that does not exist.
TEST_F(Osprey, PlaceOutsideAnyPsect)
{
    for (const char *line : {"\tdw\t$+x\n", "\tglobal\tx\n\tfcall\tx\n"}) {
        write("p.as", line);
        int st;
        std::string out = osprey("16F877A", "p.as", &st);
        EXPECT_NE(st, 0) << line << out;
        EXPECT_NE(out.find("(1411)"), std::string::npos) << line << out;
        EXPECT_EQ(out.find("runtime error"), std::string::npos) << line << out;
        EXPECT_EQ(out.find("Sanitizer"), std::string::npos) << line << out;
        EXPECT_FALSE(std::ifstream(dir + "/p.obj").good()) << line;
    }
    // a label and its instruction on one line: one message for the line
    write("p.as", "lab:\tmovlw\t1\n\tmovlw\t2\n");
    int st;
    std::string out = osprey("16F877A", "p.as", &st);
    EXPECT_NE(st, 0) << out;
    size_t count = 0;
    for (size_t at = out.find("(1411)"); at != std::string::npos; at = out.find("(1411)", at + 1))
        count++;
    EXPECT_EQ(count, 2u) << out;
}

// An object that cannot be written is an error, and a device named as the
// object is not removed as an unfinished file would be.
TEST_F(Osprey, UnwritableObjectKeepsTheDevice)
{
    write("w.as", "\tpsect\tt,class=CODE,delta=2\n\tnop\n");
    int st;
    std::string out = osprey("16F877A", "-o/dev/full w.as", &st);
    EXPECT_NE(st, 0) << out;
    EXPECT_NE(out.find("(1415)"), std::string::npos) << out;
    struct stat s;
    ASSERT_EQ(stat("/dev/full", &s), 0);
    EXPECT_TRUE(S_ISCHR(s.st_mode));
}

// The relocation programs of a module, one per RELOC entry: opcodes and
// their operands, names as text.
static std::vector<std::vector<std::string>> relocation_programs(const object &o)
{
    std::vector<std::vector<std::string>> out;
    for (auto &r : o.records) {
        if (r.first != REC_RELOC)
            continue;
        const std::vector<uint8_t> &b = r.second;
        size_t i = 0;
        while (i + 3 <= b.size()) {
            i += 3;
            std::vector<std::string> prog;
            while (i < b.size() && b[i] != 0) {
                unsigned op = b[i++];
                prog.push_back(std::to_string(op));
                if (op == 3) {
                    i += 4;
                } else if (op == 16 || op == 19 || op == 32) {
                    std::string name(reinterpret_cast<const char *>(&b[i]));
                    prog.back() += ":" + name;
                    i += name.size() + 1;
                }
            }
            i++;
            out.push_back(prog);
        }
    }
    return out;
}

// Expressions that name another module's symbols open with the mark by
// which the driver's object scan finds the module's references; the others
// carry no mark.
TEST_F(Osprey, ReferencesToOtherModulesAreMarked)
{
    write("r.as", "\tpsect\ttext,class=CODE,delta=2\n\tglobal\t_ext,_here\n_here:\n"
                  "\tgoto\t_ext+1\n\tgoto\t_here\n\tgoto\tlocal\nlocal:\n\tmovlw\thigh(_ext)\n");
    int st;
    std::string out = osprey("16F877A", "r.as", &st);
    ASSERT_EQ(st, 0) << out;
    auto progs = relocation_programs(read_object("r.obj"));
    ASSERT_EQ(progs.size(), 4u);
    for (size_t i = 0; i < progs.size(); i++) {
        bool names_ext = std::find(progs[i].begin(), progs[i].end(), "32:_ext") != progs[i].end();
        ASSERT_FALSE(progs[i].empty());
        EXPECT_EQ(progs[i][0] == "19:", names_ext) << i;
        EXPECT_EQ(std::count(progs[i].begin(), progs[i].end(), "19:"), names_ext ? 1 : 0) << i;
    }
}

// An omitted destination means the file register: the code generator writes
// "incf pclath" in its switch code, so the note shows only at level -1.
TEST_F(Osprey, OmittedDestinationIsNotedOnlyWhenAsked)
{
    write("d.as", "\tpsect\ttext,class=CODE,delta=2\n\tincf\t10\n\taddwf\t2\n");
    int st;
    std::string out = osprey("16F877A", "d.as", &st);
    EXPECT_EQ(st, 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(read_object("d.obj").text["text"], (std::vector<uint8_t>{0x8A, 0x0A, 0x82, 0x07}));
    out = osprey("16F877A", "-W-1 d.as", &st);
    EXPECT_EQ(st, 0);
    EXPECT_NE(out.find("d.as: 2: (1434)"), std::string::npos) << out;
    EXPECT_NE(out.find("d.as: 3: (1434)"), std::string::npos) << out;
}

// A name longer than the object records hold is refused, never cut short or
// written into a record that overflows.
TEST_F(Osprey, NamesLongerThanTheRecordsHold)
{
    const std::string fits(160, 'a'), too_long(161, 'b');
    struct { std::string text; const char *number; } rows[] = {
        {"\tpsect\t" + fits + ",class=" + fits + ",with=" + fits + ",delta=2\n\tglobal\t" + fits + "\n" + fits +
             ":\n\tgoto\t" + fits + "\n\tfile\t\"" + std::string(400, 'f') + "\"\n\tline\t1\n\tnop\n",
         ""},
        {"\tpsect\t" + too_long + ",class=CODE,delta=2\n\tnop\n", "(1435)"},
        {"\tpsect\tt,class=" + too_long + ",delta=2\n\tnop\n", "(1435)"},
        {"\tpsect\tt,class=CODE,delta=2\n" + too_long + ":\n\tnop\n", "(1435)"},
        {"\tpsect\tt,class=CODE,delta=2\n\tfile\t\"" + std::string(401, 'f') + "\"\n\tline\t1\n\tnop\n", "(1435)"},
        {"\tpsect\tt,class=CODE,delta=2\n\tFNCALL\t_a," + too_long + "\n", "(1435)"},
    };
    for (auto &r : rows) {
        write("n.as", r.text);
        int st;
        std::string out = osprey("16F877A", "n.as", &st);
        if (!*r.number) {
            EXPECT_EQ(st, 0) << out;
            object o = read_object("n.obj");
            EXPECT_EQ(o.text[fits].size(), 4u);
            EXPECT_EQ(symbols_of(o)[fits].flags, 0x10u);
            continue;
        }
        EXPECT_NE(st, 0) << r.text.substr(0, 60);
        EXPECT_NE(out.find(r.number), std::string::npos) << out;
        EXPECT_FALSE(std::ifstream(dir + "/n.obj").good()) << r.text.substr(0, 60);
    }
}

// An INDIRLIST group too long for one record goes into several records of
// the same number.
TEST_F(Osprey, LongAlignGroupsSpanRecords)
{
    std::string text = "\tpsect\tt,class=CODE,delta=2\n\tFNALIGN\t";
    for (int i = 0; i < 40; i++)
        text += (i ? "," : "") + std::string(20, 'f') + std::to_string(i);
    write("g.as", text + "\n");
    int st;
    std::string out = osprey("16F877A", "g.as", &st);
    ASSERT_EQ(st, 0) << out;
    std::vector<std::vector<uint8_t>> lists;
    for (auto &r : read_object("g.obj").records)
        if (r.first == REC_INDIRLIST)
            lists.push_back(r.second);
    ASSERT_EQ(lists.size(), 2u);
    size_t names = 0;
    for (auto &l : lists) {
        EXPECT_EQ(get_le16(l.data()), get_le16(lists[0].data()));
        names += std::count(l.begin() + 2, l.end(), 0);
    }
    EXPECT_EQ(names, 40u);
}

// Macros that use themselves, or that each use the one before twice, stop
// with a message instead of running until memory or time runs out.
TEST_F(Osprey, RunawayMacrosStop)
{
    std::string doubling = "m0\tmacro\n\tnop\n\tendm\n";
    for (int i = 1; i <= 30; i++)
        doubling += "m" + std::to_string(i) + "\tmacro\n\tm" + std::to_string(i - 1) + "\n\tm" +
                    std::to_string(i - 1) + "\n\tendm\n";
    struct { std::string text; const char *number; } rows[] = {
        {"self\tmacro\n\tnop\n\tself\n\tendm\n\tpsect\tt,class=CODE,delta=2\n\tself\n", "(1423)"},
        {doubling + "\tpsect\tt,class=CODE,delta=2\n\tm30\n", "(1437)"},
    };
    for (auto &r : rows) {
        write("m.as", r.text);
        int st;
        std::string out = osprey("16F877A", "m.as", &st);
        EXPECT_NE(st, 0);
        EXPECT_NE(out.find(r.number), std::string::npos) << out;
        EXPECT_EQ(out.find(r.number), out.rfind(r.number)) << out;
        EXPECT_FALSE(std::ifstream(dir + "/m.obj").good());
    }
}

// A word in a psect of bytes takes two bytes, low byte first; a value the
// linker supplies is split into its low and high bytes.
TEST_F(Osprey, WordsInABytePsectTakeTwoBytes)
{
    write("w.as", "\tpsect\tcstr,class=CODE\n\tglobal\t_ext\n\tdw\t0x1234,_ext\n\tdb\t5\n");
    int st;
    std::string out = osprey("16F877A", "w.as", &st);
    ASSERT_EQ(st, 0) << out;
    object o = read_object("w.obj");
    EXPECT_EQ(o.text["cstr"], (std::vector<uint8_t>{0x34, 0x12, 0, 0, 5}));
    auto progs = relocation_programs(o);
    ASSERT_EQ(progs.size(), 2u);
    EXPECT_EQ(progs[0].back(), "1");   // low byte
    EXPECT_EQ(progs[1].back(), "2");   // high byte
}
