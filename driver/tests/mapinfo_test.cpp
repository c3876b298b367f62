// The link map read back and the summaries: the psect usage map laid out
// by hand for a small map of a mid-range chip, the class usage lines, the
// "OTHER" space of unknown classes, malformed lines as warnings, the
// summary files, and what a failed tool run leaves out.
#include "link_support.h"

#include <filesystem>
#include <unistd.h>

namespace {

const char *const small_map = "Linker command line:\n\n  -z -Q16F877A\n\n"
                              "TOTAL           Name          Link     Load   Length  Space\n"
                              "        CLASS   CODE           \n"
                              "                maintext             7E6      7E6       1A     0\n"
                              "                end_init              12       12        2     0\n"
                              "\n"
                              "        CLASS   BANK0          \n"
                              "                rbss_0                20       20        4     1\n"
                              "                rbit_0               100      100        9     1\n"
                              "\n"
                              "        CLASS   WEIRD          \n"
                              "                other_ps              10       10        3     0\n"
                              "\n"
                              "\n"
                              "SEGMENTS        Name           Load    Length   Top     Selector    Space Class\n"
                              "                stray                 40       40        1     0\n";

class MapSummary : public ::testing::Test {
protected:
    std::filesystem::path was_in;
    void SetUp() override
    {
        // ctest runs these tests as parallel processes: each works in a
        // directory of its own, so their prog.* files never meet. The test
        // goes back where it was before its directory is removed.
        was_in = std::filesystem::current_path();
        ASSERT_EQ(chdir(tool_tempdir("zeph_mapsum").c_str()), 0);
        link_fixture_chip("16F877A");
        define_psect_catalogue(chip_selected);
        bs.output_name = xstrdup("prog.hex");
        bs.output_dir = os_current_dir();
    }
    void TearDown() override
    {
        for (const char *f : {"prog.map", "prog.pum", "prog.mcu", "prog.mum", "prog.hum", "prog.hxl"})
            remove(f);
        free(bs.output_dir);
        bs.output_dir = nullptr;
        link_fixture_end();
        std::filesystem::current_path(was_in);
    }
    // Reads `map` into the chip's model.
    static void read_map(const char *map)
    {
        tool_write("prog.map", map);
        FILE *f = fopen("prog.map", "r");
        read_mapfile(f, &memory_spaces);
        fclose(f);
    }
    static std::string screen()
    {
        std::string s;
        for (const std::string &l : captured_lines)
            s += l;
        return s;
    }
};

TEST_F(MapSummary, PsectUsageMap)
{
    read_map(small_map);
    captured_lines.clear();
    opts.summary = 0x1;
    print_summaries(memory_spaces, false);
    // Widths: names 8, contents 32 ("Program code for main() function"),
    // addresses 4 digits, sizes 2 digits. Bits of rbit_0 were counted in
    // bytes of BANK0 ((9 + 7) / 8 = 2).
    const std::string dashes = "----------|----------------------------------|---------------|------------\n";
    const std::string blanks = "          |                                  |               |            \n";
    EXPECT_EQ("\nPsect Usage Map:\n\n"
              " Psect    | Contents                         | Memory Range  | Size\n" +
                  dashes +
                  " end_init | Initialization code              | 0012h - 0013h |  2 words  \n"
                  " maintext | Program code for main() function | 07E6h - 07FFh | 26 words  \n" +
                  dashes + blanks +
                  " rbss_0   | Bank 0 RAM variables             | 0020h - 0023h |  4 bytes  \n"
                  " rbit_0   | Bank 0 bit variables             | 0100h - 0101h |  2 bytes  \n" +
                  dashes +
                  " other_ps |                                  | 0010h - 0012h |  3 units  \n" +
                  dashes + "\n",
              screen());
}

// The class usage shows each class with room; the OTHER space of classes
// the chip does not know is never listed.
TEST_F(MapSummary, ClassUsageAndMemorySummary)
{
    read_map(small_map);
    captured_lines.clear();
    opts.summary = 0x10 | 0x2;
    print_summaries(memory_spaces, false);
    std::string s = screen();
    EXPECT_EQ(0u, s.find("\nMemory Class Usage:\n\nProgram space:\n")) << s;
    EXPECT_NE(std::string::npos, s.find("\n    CODE                 used    1Ch (    28) of  2000h words   (  0.3%)\n"))
        << s;
    EXPECT_NE(std::string::npos, s.find("\n    EEDATA               used     0h (     0) of   100h bytes   (  0.0%)\n"))
        << s;
    EXPECT_EQ(std::string::npos, s.find("WEIRD")) << s;
    EXPECT_EQ(std::string::npos, s.find("OTHER")) << s;
    size_t summary = s.find("\nMemory Summary:\n    Program space        used    1Ch (    28) of  2000h words   (  0.3%)\n");
    EXPECT_NE(std::string::npos, summary) << s;
    EXPECT_EQ(28u, memory_code_space->used_units);
}

TEST_F(MapSummary, MalformedLinesAreWarnings)
{
    read_map("TOTAL           Name          Link     Load   Length  Space\n"
             "garbage\n"
             "        CLASS   CODE\n"
             "                onlyname\n"
             "                good 10 10 2\n"
             "                cut 10 10\n"
             "                stray 30 30 1\n"
             "        CLASS   CONST\n"
             "                b 0x20 20 3\n"
             "\n"
             "NON-CLASSED\n"
             "        CLASS   CONST\n"
             "                late 40 40 1\n");
    ASSERT_EQ(4u, captured_lines.size());
    const char *reasons[] = {"CLASS expected but not found", "no link address at position 2", "no length at position 4",
                             "CLASS expected but not found"};
    for (int i = 0; i < 4; i++) {
        EXPECT_NE(std::string::npos, captured_lines[i].find("(162)")) << captured_lines[i];
        EXPECT_NE(std::string::npos, captured_lines[i].find(std::string("malformed mapfile while generating summary: ") +
                                                            reasons[i]))
            << captured_lines[i];
    }
    range_class *code = range_find_class(memory_spaces, "CODE");
    EXPECT_EQ(2u, range_total_units(code));
    EXPECT_EQ(3u, range_total_units(range_find_class(memory_spaces, "CONST")));
}

// The summary files; after a failed tool run only the psect and HEX maps
// are shown and no file is written.
TEST_F(MapSummary, SummaryFilesAndFailedRuns)
{
    read_map(small_map);
    tool_write("prog.hxl", "### Siskin logfile ###\n Legend:\n  D = data\n00000000: DD\n");
    opts.summary = 0x1 | 0x2 | 0x4 | 0x8;
    captured_lines.clear();
    print_summaries(memory_spaces, true);
    EXPECT_EQ(0u, tool_read("prog.pum").find("\nPsect Usage Map:\n\n Psect    | Contents")) << tool_read("prog.pum");
    EXPECT_NE(std::string::npos, tool_read("prog.mum").find("\nMemory Summary:\n    Program space "));
    EXPECT_EQ("HEX File Usage Map:\n\n Legend:\n  D = data\n00000000: DD\n\n", tool_read("prog.hum"));
    EXPECT_FALSE(os_file_exists("prog.mcu"));

    remove("prog.pum");
    remove("prog.mum");
    captured_lines.clear();
    bs.errors = 1;
    print_summaries(memory_spaces, true);
    EXPECT_NE(std::string::npos, screen().find("Psect Usage Map:"));
    EXPECT_EQ(std::string::npos, screen().find("Memory Summary:"));
    EXPECT_FALSE(os_file_exists("prog.pum"));
    bs.errors = 0;

    // For the Tarnel IDE nothing is shown; the files are written, the
    // memory summary under its short heading.
    opts.ide = IDE_TARNEL;
    captured_lines.clear();
    print_summaries(memory_spaces, true);
    EXPECT_TRUE(captured_lines.empty()) << captured_lines[0];
    EXPECT_NE(std::string::npos, tool_read("prog.mum").find("\nSummary:\n    Program space ")) << tool_read("prog.mum");
    opts.ide = 0;

    // Files that cannot be made are errors, one per part.
    free(bs.output_dir);
    bs.output_dir = xstrdup("/no/such/dir");
    opts.summary = 0x1 | 0x10 | 0x2 | 0x4 | 0x8;
    messages_for_test();
    print_summaries(memory_spaces, true);
    EXPECT_TRUE(reported(891));
    EXPECT_TRUE(reported(892));
    EXPECT_TRUE(reported(893));
}

// The linker's class ranges: every class of a space with free addresses.
TEST_F(MapSummary, ClassRangeArguments)
{
    arglist *a = arglist_new(TOOL_HERON);
    class_range_args(range_find_space(memory_spaces, "config"), a);
    class_range_args(memory_eedata_space, a);
    EXPECT_EQ("-ACONFIG=02007h-02007h -AEEDATA=00h-0FFh", joined_args(a));
}

} // namespace
