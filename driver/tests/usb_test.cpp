// The USB descriptor compiler: a golden description with two devices (one
// bare, one with a configuration, interfaces, endpoints, strings and a DFU
// function), compiled by gcc against the installed vkusb.h; every mistake of
// a description reported by number on its line; values checked against the
// fields that hold them.
#include "support.h"
#include "tool_run.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace {

const std::string golden_dir = std::string(ZEPH_SOURCE_DIR) + "/driver/tests/golden/";

class UsbCompiler : public ::testing::Test {
protected:
    void SetUp() override { messages_for_test(); }
    void TearDown() override
    {
        remove("usb_test.usb");
        remove("usb_test.c");
    }
    // Compiles `text`; the C output, or "(failed)".
    static std::string compile(const std::string &text)
    {
        tool_write("usb_test.usb", text);
        return compile_usb("usb_test.usb", "usb_test.c") ? tool_read("usb_test.c") : "(failed)";
    }
};

TEST_F(UsbCompiler, DescriptionCompilesToGoldenC)
{
    ASSERT_TRUE(compile_usb((golden_dir + "demo.usb").c_str(), "usb_test.c"));
    std::string c = tool_read("usb_test.c");
    EXPECT_EQ(tool_read(golden_dir + "demo.c"), c);
    EXPECT_TRUE(captured_lines.empty()) << captured_lines[0];
    // The tables are valid C for the installed run-time header's declaration.
    int status = std::system("gcc -fsyntax-only -Wall -Werror -Wno-unused-variable -I" ZEPH_BUILD_DIR
                             "/include -x c usb_test.c 2> usb_gcc.txt");
    EXPECT_EQ(0, status) << tool_read("usb_gcc.txt");
    remove("usb_gcc.txt");
}

// Each mistake is reported with its number on its own line; the output is
// still written.
TEST_F(UsbCompiler, MistakesAreReportedOnTheirLines)
{
    struct Case {
        const char *line;  // put into an endpoint block of a small device
        unsigned message;
        const char *reason; // part of the message text
    } cases[] = {
        {"BOGUS=1", 1235, "unknown keyword BOGUS"},
        {"PACKETSIZE=2048", 1236, "must be <= 1024"},
        {"INTERVAL=300", 1236, "must be <= 255"},
        {"DIR=up", 1236, "expected \"in\" or \"out\""},
        {"TYPE=fast", 1236, "TYPE"},
        {"ENDENDPOINT\nCLASS=", 1236, "CLASS"},
        {"ENDENDPOINT\nENDPOINT=0", 1237, "endpoint 0 is pre-defined"},
        {"ENDENDPOINT\nENDINTERFACE\nPOWER=battery,100", 1236, "expected \"bus\" or \"self\""},
        {"ENDENDPOINT\nENDINTERFACE\nPOWER=bus", 1236, "expected current draw in mA > 0"},
        {"ENDENDPOINT\nENDINTERFACE\nPOWER=bus,600", 1236, "must be <= 510"},
        {"ENDENDPOINT\nENDINTERFACE\nWAKEUP=maybe", 1236, "expected \"yes\" or \"no\""},
        {"ENDENDPOINT\nDFU_FUNCTION\nTRANSFER=100", 1236, "TRANSFER"},
        {"ENDENDPOINT\nDFU_FUNCTION\nVERSION=x", 1236, "expected version number"},
    };
    for (const Case &c : cases) {
        messages_for_test();
        std::string text = "DEVICE d\nPACKETSIZE=64\nCONFIG\nINTERFACE\nENDPOINT=1\n" + std::string(c.line) + "\n";
        unsigned line = 6;
        for (const char *p = c.line; *p; p++)
            line += *p == '\n';
        std::string out = compile(text);
        EXPECT_NE("(failed)", out) << c.line;
        ASSERT_EQ(1u, captured_lines.size()) << c.line;
        EXPECT_TRUE(reported(c.message)) << c.line << ": " << captured_lines[0];
        EXPECT_NE(std::string::npos, captured_lines[0].find(c.reason)) << captured_lines[0];
        EXPECT_NE(std::string::npos, captured_lines[0].find("usb_test.usb: " + std::to_string(line) + ":"))
            << c.line << ": " << captured_lines[0];
    }
}

// Values are encoded as their fields need them.
TEST_F(UsbCompiler, ValuesFitTheirFields)
{
    // Half the current, rounded up; an out-of-range packet size keeps its
    // value (2048 = 0x0800).
    std::string out = compile("DEVICE d\nCONFIG\nPOWER=bus,99\nINTERFACE\nENDPOINT 3\nPACKETSIZE=2048\n");
    EXPECT_NE(std::string::npos, out.find("\t\t0x32,\t\t// power=100mA\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\t\t\t\t0x00, 0x08,\t// Max packet size 2048\n")) << out;
    // Too much current is reported and capped at one byte.
    out = compile("DEVICE d\nCONFIG\nPOWER=self,600\n");
    EXPECT_TRUE(reported(1236));
    EXPECT_NE(std::string::npos, out.find("\t\t0xFF,\t\t// power=510mA\n")) << out;
    // Characters become UTF-16 code units: e-acute is 233, the euro sign
    // 0x20AC (172, 32); a byte that is no UTF-8 stands for itself.
    out = compile("DEVICE d\nPRODUCT=\xC3\xA9\xE2\x82\xAC\xFF\n");
    EXPECT_NE(std::string::npos, out.find("\t8, 3, 233, 0, 172, 32, 255, 0, \n")) << out;
    // A string longer than a descriptor can hold is reported and cut to 126
    // characters (length byte 254).
    messages_for_test();
    out = compile("DEVICE d\nPRODUCT=" + std::string(130, 'x') + "\n");
    EXPECT_TRUE(reported(1236));
    EXPECT_NE(std::string::npos, out.find("\t254, 3, 120, 0,")) << out;
    EXPECT_NE(std::string::npos, out.find("// sizeof table above should be 276\n")) << out;
}

// Keyword forms, comments and blank lines; a description that ends inside
// a block gives what was read.
TEST_F(UsbCompiler, LineFormsAndUnfinishedBlocks)
{
    std::string out = compile("  ; comment\n\n# another\nDEVICE d\nVID=0x4D8\nPID 0x4D9\r\nRELEASE = 0x4DA\n"
                              "MANUFACTURER = Widget\nCONFIG\nINTERFACE\n");
    EXPECT_TRUE(captured_lines.empty()) << captured_lines[0];
    EXPECT_NE(std::string::npos, out.find("// Vendor ID: 0x4D8/1240\n")) << out;
    EXPECT_NE(std::string::npos, out.find("// Product ID: 0x4D9/1241\n")) << out;
    EXPECT_NE(std::string::npos, out.find("// Product release: 0x4DA/1242\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\t1,\t\t\t// manufacturer: \" Widget\"\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\t\t// Interface 0\n")) << out;
    EXPECT_NE(std::string::npos, out.find("d_conf_sizes,\t1, 3,\n};\n")) << out;
}

TEST_F(UsbCompiler, FilesThatCannotBeOpened)
{
    EXPECT_FALSE(compile_usb("no_such.usb", "usb_test.c"));
    EXPECT_TRUE(reported(140));
    std::ofstream("usb_test.usb") << "DEVICE d\n";
    messages_for_test();
    EXPECT_FALSE(compile_usb("usb_test.usb", "/no/such/dir/out.c"));
    EXPECT_TRUE(reported(140));
    // The output never replaces the input.
    messages_for_test();
    EXPECT_FALSE(compile_usb("usb_test.usb", "usb_test.usb"));
    EXPECT_EQ("DEVICE d\n", tool_read("usb_test.usb"));
}

} // namespace
