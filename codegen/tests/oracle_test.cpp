// The reader against the parser's grammar checker: texts the checker accepts
// read without a message, texts it rejects give a numbered error.
#include "kestrel_test.h"

#include "icode_check.h"

using oracle = kestrel_fixture;

static const char *const valid_texts[] = {
    "[v _count `i 1 s ]\n[v _main `(v 1 e ]\n",
    "[v _add `(i 1 e2`i`i ]\n[v _add `(i 0 e2`i`i ]\n",
    "[c E2 0 1 5 .. ]\n[n E2 colour red green blue  ]\n",
    "[s S1 `i 1 :3 `uc 1 `*c 1 ]\n[n S1 point x flags name ]\n",
    "[v _PORTB `Vuc 1 e@6 ]\n[v _a `c -> 4 `ux e ]\n[i _a\n:U ..\n-> 104 `c\n-> 0 `c\n..\n]\n",
    "[v _f `(i 1 e ]\n{\n[e :U _f ]\n[v _x `i 1 r1 ]\n[f ]\n\"3\n"
    "[e $ < _x -> 3 `i 4 ]\n[e ) + _x -> 1 `i ]\n[e $UE 2 ]\n[e :U 4 ]\n"
    "[e [\\ _x , $ -> 1 `i 5\n 6 ]\n[e :UE 2 ]\n}\n",
    "[p n 751 ]\n[p w simple ]\n[p k ]\n",
    "[v _g `(v 1 e ]\n{\n[e :U _g ]\n[f ]\n[; movlw 5 ;#\n[; ;main.c: 3: x = 5;\n[e :UE 1 ]\n}\n",
    "[v _s `(v 1 e ]\n{\n[e :U _s ]\n[f ]\n[e ( _g .. ]\n[e :UE 1 ]\n}\n[a 1 104 0 ]\n",
};

static const char *const invalid_texts[] = {
    "[x ]\n",
    "[v _f `(i 1 e ]\n{\n[e :U _f ]\n[e () _a _b ]\n}\n",
    "[e -> 1 `i\n",
    "[f x ]\n",
    "[p z ]\n",
};

TEST_F(oracle, valid_texts_read_without_messages)
{
    for (const char *text : valid_texts) {
        std::string full = std::string("Version 3.2 Vormak Software Intermediate Code\n") + text;
        std::string why;
        EXPECT_TRUE(ic_check(full, &why)) << text << why;
        SetUp();
        read(full);
        EXPECT_EQ(msg_error_count(), 0u) << text;
    }
}

TEST_F(oracle, invalid_texts_give_an_error)
{
    for (const char *text : invalid_texts) {
        std::string full = std::string("Version 3.2 Vormak Software Intermediate Code\n") + text;
        std::string why;
        EXPECT_FALSE(ic_check(full, &why)) << text;
        SetUp();
        EXPECT_EQ(read_fatal(full), -1) << text;
        EXPECT_GT(msg_error_count(), 0u) << text;
    }
}
