// The pass that deletes bank selections of bits already holding the value,
// on small function texts: what it may delete, and the forms where it must
// leave the text alone. (Programs compiled with it run in every gpsim test
// of the code generator; these cases pin the flow rules.)
#include "kestrel.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char *const SEL0 = "\tbcf\tstatus, 5\t;RP0=0, select bank0\n";
const char *const SEL1 = "\tbsf\tstatus, 5\t;RP0=1, select bank1\n";

int count_of(const std::string &text, const std::string &part)
{
    int n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        n++;
    return n;
}

struct banksel_case {
    const char *name;
    std::string text;
    int selects_left;   // of SEL0 after the pass
};

TEST(BankSelects, DeletedOnlyWhereEveryWayInHasTheBank)
{
    const std::string s0 = SEL0, s1 = SEL1;
    const banksel_case cases[] = {
        // both ways into l2 (the jump and the line above it) have bank 0
        {"same bank on every way in", "_f:\n" + s0 + "\tmovf\tx,w\n\tbtfss\tstatus,2\n\tgoto\tl2\n\tincf\tx,f\nl2:\n" + s0 +
                                          "\tmovwf\ty\n\treturn\n",
         1},
        // the jump arrives with bank 1 selected
        {"another bank on one way in", "_f:\n" + s0 + "\tbtfss\tstatus,2\n\tgoto\tl2\n" + s1 + "\tincf\tx,f\nl2:\n" + s0 +
                                           "\tmovwf\ty\n\treturn\n",
         2},
        // a loop whose body selects bank 1 comes back to its head with it
        {"loop back with another bank", "_f:\n" + s0 + "l4:\n" + s0 + "\tdecf\tx,f\n" + s1 +
                                            "\tincf\tz,f\n\tbtfss\tstatus,2\n\tgoto\tl4\n\treturn\n",
         2},
        // a selection right after a skip is never deleted
        {"after a skip", "_f:\n" + s0 + "\tbtfsc\tstatus,0\n" + s0 + "\treturn\n", 2},
        // after a call the bits are unknown
        {"after a call", "_f:\n" + s0 + "\tfcall\t_g\n" + s0 + "\treturn\n", 2},
        // STATUS written whole
        {"status written", "_f:\n" + s0 + "\tclrf\tstatus\n" + s0 + "\treturn\n", 2},
        // straight-line repeat: deleted
        {"straight line", "_f:\n" + s0 + "\tmovwf\tx\n" + s0 + "\tmovwf\ty\n\treturn\n", 1},
        // a computed jump hides the ways in: the text stays
        {"computed jump", "_f:\n" + s0 + "\taddwf\tpcl,f\n\tgoto\tl2\nl2:\n" + s0 + "\treturn\n", 2},
        // a label named other than by a jump: the text stays
        {"label named by data", "_f:\n" + s0 + "\tmovlw\tlow(l2)\nl2:\n" + s0 + "\treturn\n", 2},
        // a jump to a label outside the function that is no function
        {"jump outside", "_f:\n" + s0 + "\tgoto\tl99\nl2:\n" + s0 + "\treturn\n", 2},
        // a delay counts its selections
        {"timed code", "_f:\n" + s0 + "\t;" TIMED_CODE_MARK "\n" + s0 + "\treturn\n", 2},
        // an instruction the pass does not know
        {"unknown instruction", "_f:\n" + s0 + "\tdw\t0x3FFF\n" + s0 + "\treturn\n", 2},
    };
    for (const banksel_case &c : cases) {
        std::string out = peep_bank_selects(c.text);
        EXPECT_EQ(count_of(out, SEL0), c.selects_left) << c.name << "\n" << out;
        // nothing else changes
        EXPECT_EQ(count_of(out, "\n"), count_of(c.text, "\n") - (count_of(c.text, SEL0) - c.selects_left)) << c.name;
    }
}

// W holds a constant until something else is put in it: a second load of
// the same value (in any spelling) goes, one after W changed stays.
TEST(BankSelects, LoadsOfTheConstantWHolds)
{
    const struct {
        const char *name;
        std::string text;
        int loads_left;   // of movlw
    } cases[] = {
        {"same constant", "_f:\n\tmovlw\t01h\n\tmovwf\tx\n\tmovlw\t1\n\tmovwf\ty\n\treturn\n", 1},
        {"W read from memory between", "_f:\n\tmovlw\t1\n\tmovwf\tx\n\tmovf\tz,w\n\tmovlw\t1\n\treturn\n", 2},
        {"W changed by arithmetic", "_f:\n\tmovlw\t1\n\taddwf\tx,w\n\tmovlw\t1\n\treturn\n", 2},
        {"a register changed, not W", "_f:\n\tmovlw\t1\n\taddwf\tx,f\n\tincf\tx\n\tmovlw\t1\n\treturn\n", 1},
        {"after a call", "_f:\n\tmovlw\t1\n\tfcall\t_g\n\tmovlw\t1\n\treturn\n", 2},
        {"ways in disagree", "_f:\n\tmovlw\t1\n\tbtfsc\tstatus,0\n\tgoto\tl2\n\tmovlw\t2\nl2:\n\tmovlw\t1\n\treturn\n", 3},
        {"ways in agree", "_f:\n\tmovlw\t1\n\tbtfsc\tstatus,0\n\tgoto\tl2\n\tmovwf\tx\nl2:\n\tmovlw\t1\n\treturn\n", 1},
        {"after a skip", "_f:\n\tmovlw\t1\n\tbtfsc\tstatus,0\n\tmovlw\t1\n\treturn\n", 2},
        {"names compared as written", "_f:\n\tmovlw\tlow(_a)\n\tmovwf\tx\n\tmovlw\tlow(_a)\n\tmovlw\tlow(_b)\n\treturn\n", 2},
    };
    for (const auto &c : cases)
        EXPECT_EQ(count_of(peep_bank_selects(c.text), "movlw"), c.loads_left) << c.name;
}

} // namespace
