// The link map read back by the driver's memory summary: every class of the
// TOTAL block and every psect in it come back with their addresses and
// lengths, in the normal map and at debug level (class bounds on the CLASS
// lines). The fixture links two modules into CODE and BANK0 and a psect
// without a class, which the summary does not count.
#include "objbuild.h"
#include "zeph.h"

using namespace fx;

// The common library's clean-up hook: nothing to clean up in this test.
void tool_exit(int) {}

namespace {

struct psect_seen {
    const char *cls;
    const char *name;
    uint32_t first, second, size;
};

std::string map_of(const std::string &options)
{
    workdir w;
    module m;
    m.ident().psect("text").xpsect("text", "CODE").psect("bss").xpsect("bss", "BANK0", 1, 1);
    m.text(0, "text", {1, 2, 3, 4, 5, 6}).text(3, "bss", {}).end();
    module n;
    n.ident().psect("init").xpsect("init", "CODE").psect("misc");
    n.text(0, "init", {7, 8}).text(0, "misc", {9}).start(0, "init").end();
    write_file(w.at("a.obj"), m.out);
    write_file(w.at("b.obj"), n.out);
    run_result res = run_heron(w, options + " -Mmap.txt -ACODE=0-3FFh -ABANK0=20h-6Fh -Ptext=CODE,init -Pbss=BANK0 "
                                            "-Pmisc=300h -oout.obj a.obj b.obj");
    EXPECT_EQ(res.status, 0) << res.err;
    return read_text(w.at("map.txt"));
}

TEST(HeronMapReader, DriverRecoversEveryClassAndPsect)
{
    // text 0-5 and init 6-7 in CODE, bss 20h-22h in BANK0.
    const psect_seen want[] = {
        {"CODE", "text", 0, 0, 6},
        {"CODE", "init", 6, 6, 2},
        {"BANK0", "bss", 0x20, 0x20, 3},
    };
    for (const char *options : {"", "-Debug"}) {
        SCOPED_TRACE(options);
        std::string map = map_of(options);
        FILE *f = tmpfile();
        ASSERT_NE(f, nullptr);
        fputs(map.c_str(), f);
        rewind(f);
        range_space *spaces = nullptr;
        read_mapfile(f, &spaces);
        fclose(f);
        for (const psect_seen &p : want) {
            range_class *cls = range_find_class(spaces, p.cls);
            ASSERT_NE(cls, nullptr) << p.cls << "\n" << map;
            const range_entry *e = cls->entries;
            while (e && strcmp(e->name, p.name) != 0)
                e = e->next;
            ASSERT_NE(e, nullptr) << p.name << "\n" << map;
            EXPECT_EQ(e->first, p.first) << p.name;
            EXPECT_EQ(e->second, p.second) << p.name;
            EXPECT_EQ(e->size, p.size) << p.name;
        }
        EXPECT_EQ(range_find_class(spaces, "misc"), nullptr);
    }
}

} // namespace
