// The code generator's test fixture (see kestrel_test.h).
#include "kestrel_test.h"

#include <cstdio>
#include <cstring>

std::vector<std::string> kestrel_fixture::lines;

void tool_exit(int status)
{
    throw fatal_exit{status};
}

static void capture(const char *line)
{
    kestrel_fixture::lines.push_back(line);
}

void kestrel_fixture::SetUp()
{
    msg_reset_for_tests();
    msg_open_file(ZEPH_BUILD_DIR "/dat/en_msgs.txt");
    msg_set_formats("#%n %s", "#%n %s", "#%n %s");
    msg_set_output_hook(capture);
    msg_set_error_limit(1000);
    lines.clear();
    kestrel_reset();
    types_init();
}

void kestrel_fixture::TearDown()
{
    msg_set_output_hook(nullptr);
}

void kestrel_fixture::read(const std::string &text)
{
    FILE *f = tmpfile();
    ASSERT_NE(f, nullptr);
    if (text.rfind("Version", 0) != 0)
        fputs("Version 3.2 Vormak Software Intermediate Code\n", f);
    fputs(text.c_str(), f);
    rewind(f);
    ic_context ctx = {f, nullptr, -1, false, 0};
    ic_read_one(&ctx);
    fclose(f);
}

int kestrel_fixture::read_fatal(const std::string &text)
{
    try {
        read(text);
    } catch (const fatal_exit &e) {
        return e.status;
    }
    return -1;
}

int kestrel_fixture::count(unsigned n)
{
    std::string tag = "(" + std::to_string(n) + ")";
    int c = 0;
    for (const std::string &l : lines)
        c += l.find(tag) != std::string::npos;
    return c;
}

tree_node *leaf_const(long v)
{
    return node_new_const(v);
}

tree_node *binary(int op, tree_node *l, tree_node *r)
{
    tree_node *n = node_new();
    n->op = (uint32_t)op;
    n->left = l;
    n->right = r;
    return n;
}
