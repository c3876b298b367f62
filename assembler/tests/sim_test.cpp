// Hand-written assembly through the whole back end: osprey assembles it,
// heron links it into the chip's memory, finch writes the HEX file, and
// gpsim runs it; the values the program leaves in banked RAM are read back
// from the simulator. A library built by rook supplies exactly the modules
// the program needs.
#include "objfile.h"
#include "tool_run.h"

#include <gtest/gtest.h>

void tool_exit(int) {}

static std::string dir;

static std::string tool(const char *name) { return std::string(ZEPH_BUILD_DIR "/bin/") + name; }

static void write(const std::string &name, const std::string &text) { tool_write(dir + "/" + name, text); }

static std::map<unsigned, unsigned> simulate(const std::string &chip, unsigned done)
{
    std::string log;
    std::map<unsigned, unsigned> ram = tool_gpsim(dir, chip, "p.hex", done, &log);
    EXPECT_EQ(ram[done], 1u) << "the program did not finish:\n" << log;
    return ram;
}

static void build(const std::string &chip, const std::string &link_args, const std::string &objects)
{
    int st;
    std::string out =
        tool_run(dir, tool("heron") + " -h+p.sym -Q" + chip + " -ol.obj -Mp.map " + link_args + " " + objects, &st);
    ASSERT_EQ(st, 0) << out;
    out = tool_run(dir, tool("finch") + " -i -16,2 l.obj p.hex", &st);
    ASSERT_EQ(st, 0) << out;
}

static void assemble(const std::string &chip, const std::string &file)
{
    int st;
    std::string out = tool_run(dir, tool("osprey") + " --chip=" + chip + " " + file, &st);
    ASSERT_EQ(st, 0) << out;
}

// The address of the linked program's START record.
static uint32_t start_address(const std::string &object)
{
    FILE *f = fopen(object.c_str(), "rb");
    EXPECT_NE(f, nullptr) << object;
    uint32_t start = 0xFFFFFFFF;
    obj_record r;
    while (f && obj_read_header(f, &r) == OBJ_OK && obj_read_body(f, &r) == OBJ_OK && r.type != REC_END)
        if (r.type == REC_START && r.length >= 4)
            start = get_le32(r.body);
    if (f)
        fclose(f);
    return start;
}

class Simulated : public testing::Test {
protected:
    void SetUp() override { dir = tool_tempdir("zeph_sim"); }
};

TEST_F(Simulated, MidRangeAcrossPagesAndBanks)
{
    write("main.as", R"(	processor	16F877A
	psect	reset_vec,class=CODE,delta=2
	global	_main,_a,_c,_d,_far
	ljmp	_main
	psect	maintext,class=CODE,delta=2
_main:
	bcf	3,5
	bcf	3,6
	movlw	0x11
	movwf	_a
	fcall	_far		; a function in the second page
	bsf	3,5
	movwf	_c&07Fh		; bank 1
	bcf	3,5
	bsf	3,6
	movlw	low(_c+2)
	movwf	_d&07Fh		; bank 2
	bcf	3,6
	movlw	1
	movwf	0x7F
	goto	$
	psect	far,class=CODE,delta=2
_far:
	incf	_a,f
	movlw	0x22
	return
	psect	config,class=CONFIG,delta=2
	dw	0x3F3A
	psect	rbss_0,class=BANK0,space=1
_a:	ds	1
	psect	rbss_1,class=BANK1,space=1
_c:	ds	1
	psect	rbss_2,class=BANK2,space=1
_d:	ds	1
	end	_main
)");
    assemble("16F877A", "main.as");
    build("16F877A",
          "-ACODE=0-7FFh,800h-0FFFh,1000h-17FFh,1800h-1FFFh -ACONFIG=2007h-2007h -ABANK0=20h-6Fh "
          "-ABANK1=0A0h-0EFh -ABANK2=110h-16Fh -DCODE=2 -DCONFIG=2 -Preset_vec=0h -Pfar=0800h",
          "main.obj");
    auto sym = tool_symbols(dir + "/p.sym");
    ASSERT_EQ(sym["_far"], 0x800u);
    auto ram = simulate("16f877a", 0x7F);
    EXPECT_EQ(ram[sym["_a"]], 0x12u);
    EXPECT_EQ(ram[sym["_c"]], 0x22u);
    EXPECT_EQ(ram[sym["_d"]], (sym["_c"] + 2) & 0xFF);
}

TEST_F(Simulated, BaselineAcrossPagesWithALibrary)
{
    // The library holds three modules; the program needs one of them.
    write("far.as", "\tprocessor\t16F505\n\tpsect\tfar,class=CODE,delta=2\n\tglobal\t_far,_a\n"
                    "_far:\n\tincf\t_a,f\n\tretlw\t0x22\n");
    write("twice.as", "\tprocessor\t16F505\n\tpsect\ttext,class=CODE,delta=2\n\tglobal\t_twice\n"
                      "_twice:\n\taddwf\t_a+1,w\n\tretlw\t0\n\tglobal\t_a\n");
    write("unused.as", "\tprocessor\t16F505\n\tpsect\ttext,class=CODE,delta=2\n\tglobal\t_unused\n"
                       "_unused:\n\tretlw\t0x55\n");
    write("main.as", R"(	processor	16F505
	psect	reset_vec,class=CODE,delta=2
	global	_main,_a,_far
	ljmp	_main
	psect	maintext,class=CODE,delta=2
_main:
	movlw	0x11
	movwf	_a
	fcall	_far
	movwf	_a+1
	movlw	1
	movwf	0x1F
	goto	$
	psect	rbss_0,class=BANK0,space=1
_a:	ds	2
	end	_main
)");
    for (const char *f : {"main.as", "far.as", "twice.as", "unused.as"})
        assemble("16F505", f);
    int st;
    std::string out = tool_run(dir, tool("rook") + " r lib.lib far.obj twice.obj unused.obj", &st);
    ASSERT_EQ(st, 0) << out;
    build("16F505", "-ACODE=0-1FFh,200h-3FFh -ABANK0=10h-1Eh -DCODE=2 -Preset_vec=0h -Pfar=0200h",
          "main.obj lib.lib");
    auto sym = tool_symbols(dir + "/p.sym");
    EXPECT_EQ(sym["_far"], 0x200u);
    EXPECT_EQ(sym.count("_unused"), 0u);
    EXPECT_EQ(sym.count("_twice"), 0u);
    auto ram = simulate("16f505", 0x1F);
    EXPECT_EQ(ram[sym["_a"]], 0x12u);
    EXPECT_EQ(ram[sym["_a"] + 1], 0x22u);
}

// Code in the shapes the code generator writes: its head macros and
// register equates, argument and automatic blocks (?_f, ??_f) that the
// linker lays out from FNCONF, FNSIZE, FNCALL and FNROOT, a switch jump table
// whose ljmp entries the index is scaled to, in a page of its own and across
// a 256-word boundary, a delay loop with nop2, and a bit object.
TEST_F(Simulated, CompilerShapedCodeWithCallGraphAndJumpTable)
{
    write("main.as", R"(	processor	16F877A
clrc	macro
	bcf	status,0
	endm
skipnc	macro
	btfsc	status,0
	endm
status	equ	3
pc	equ	2
fsr	equ	4
pclath	equ	10
	global	_main,_add,_dbl,_pick,_out,_fb
	psect	reset_vec,class=CODE,delta=2
	ljmp	_main
	psect	text0,local,class=CODE,delta=2
	file	"main.c"
	line	3
_skip:
	retlw	0
_main:
	bcf	status, 5	;RP0=0, select bank0
	bcf	status, 6	;RP2=0, select bank0
	movlw	5
	movwf	(?_add+0)
	movlw	7
	movwf	(?_add+1)
	fcall	_add
	movwf	(_out+0)
	movwf	(?_dbl+0)
	fcall	_dbl
	movwf	(_out+1)
	movlw	2
	fcall	_pick
	movwf	(_out+2)
	movlw	3
	fcall	_pick
	addwf	(_out+2),f
	clrf	(_out+3)
	clrf	_fb/8
	movlw	3
	movwf	(??_main+0)
u17:
	nop2	;2 cycle nop
	incf	(_out+3),f
	decfsz	(??_main+0),f
	goto	u17
	bsf	_fb/8,_fb&7
	movlw	1
	movwf	0x7F
	goto	$
	FNSIZE	_main,1,0
	FNCALL	_main,_add
	FNCALL	_main,_dbl
	FNCALL	_main,_pick
	FNROOT	_main
	psect	text1,class=CODE,delta=2
_add:
	movf	(?_add+1),w
	addwf	(?_add+0),w
	movwf	(??_add+0)
	incf	(??_add+0),w
	return
	FNSIZE	_add,1,2
	signat	_add,8313
_dbl:
	clrc
	rlf	(?_dbl+0),w
	movwf	(??_dbl+0)
	movf	(??_dbl+0),w
	return
	FNSIZE	_dbl,1,1
	psect	text2,class=CODE,delta=2
_pick:
movwf fsr
movlw high(S1)
movwf pclath
movf fsr,w
addwf fsr,f
skipnc
incf pclath
addwf fsr,w
skipnc
incf pclath
addlw low(S1)
skipnc
incf pclath
movwf pc
l1:	retlw	0x10
l2:	retlw	0x20
l3:	retlw	0x30
	psect	swtext1,class=CODE,delta=2
S1:
	ljmp	l1
	ljmp	l2
	ljmp	l3
	ljmp	l1
	psect	rbss_0,class=BANK0,space=1
_out:	ds	4
	psect	rbit_0,class=BANK0,bit,space=1
_fa:	ds	1
_fb:	ds	1
	PSECT	fnauto0,class=BANK0,space=1
	FNCONF	fnauto0,??,?
	psect	config,class=CONFIG,delta=2
	dw	0x3F3A
	end	_main
)");
    int st;
    std::string out = tool_run(dir, tool("osprey") + " --chip=16F877A main.as", &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_EQ(out, "");
    build("16F877A",
          "-ACODE=0-7FFh,800h-0FFFh,1000h-17FFh,1800h-1FFFh -ACONFIG=2007h-2007h -ABANK0=20h-6Fh "
          "-DCODE=2 -DCONFIG=2 -Preset_vec=0h -Ptext1=0800h -Pswtext1=010FEh -Ptext2=01800h "
          "-Pfnauto0=BANK0,rbss_0=BANK0,rbit_0=BANK0",
          "main.obj");
    auto sym = tool_symbols(dir + "/p.sym");
    EXPECT_EQ(start_address(dir + "/l.obj"), sym["_main"]);
    // _add and _dbl are never active together: their blocks overlap.
    EXPECT_EQ(sym["?_add"], sym["?_dbl"]);
    EXPECT_GT(sym["?_add"], sym["??_main"]);
    auto ram = simulate("16f877a", 0x7F);
    EXPECT_EQ(ram[sym["_out"]], 13u);          // 5 + 7, plus 1
    EXPECT_EQ(ram[sym["_out"] + 1], 26u);      // doubled
    EXPECT_EQ(ram[sym["_out"] + 2], 0x40u);    // case 2 and case 3 of the table
    EXPECT_EQ(ram[sym["_out"] + 3], 3u);       // three rounds of the delay loop
    EXPECT_EQ(ram[sym["_fb"] / 8], 1u << (sym["_fb"] % 8));
}

// A baseline call reaches only the first half of a page: a function that
// the linker puts into the second half cannot be called, and the link says
// so instead of calling whatever lies 256 words lower.
TEST_F(Simulated, BaselineCallBeyondHalfAPageFailsTheLink)
{
    write("main.as", "\tprocessor\t12F508\n\tpsect\tmaintext,class=CODE,delta=2\n\tglobal\t_f\n"
                     "\tcall\t_f\n\tfcall\t_f\n\tpsect\tfar,class=CODE,delta=2\n_f:\n\tretlw\t0\n");
    assemble("12F508", "main.as");
    for (const char *at : {"0FFh", "100h"}) {
        int st;
        std::string out = tool_run(dir, tool("heron") + " -h+p.sym -Q12F508 -ol.obj -Mp.map -ACODE=0-1FFh -DCODE=2 "
                                            "-Pmaintext=0h -Pfar=0" + at + " main.obj", &st);
        if (std::string(at) == "0FFh") {
            EXPECT_EQ(st, 0) << out;
            continue;
        }
        EXPECT_NE(st, 0) << out;
        // one for the call, one for the fcall
        EXPECT_NE(out.find("(1268)"), std::string::npos) << out;
        EXPECT_NE(out.find("(1268)"), out.rfind("(1268)")) << out;
    }
}
