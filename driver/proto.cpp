// The prototype file rewrite (--proto).
//
// The parser writes one prototype per line, external functions and, marked
// by a leading "s" (static), the module's own. The driver sorts the lines,
// which puts the static ones after the others, and writes each group twice
// under a PROTOTYPES switch: as written, and in the old style with the
// parameter list emptied. The new text goes to a temporary file beside the
// prototype file, which then replaces it, so a failure never leaves half a
// file behind.
#include "zeph.h"

#include <cstring>
#include <string>
#include <vector>

// The old-style form: from the "(" that balances the last ")" before the
// line's last ";", the text becomes "();". Lines without one stay as they are.
std::string proto_old_style(const std::string &line)
{
    size_t semi = line.rfind(';');
    if (semi == std::string::npos)
        return line;
    int depth = 0;
    for (size_t i = semi; i-- > 0;) {
        if (line[i] == ')')
            depth++;
        else if (line[i] == '(' && --depth == 0)
            return line.substr(0, i) + "();";
    }
    return line;
}

static int compare_lines(const void *a, const void *b)
{
    return strcmp(*static_cast<char *const *>(a), *static_cast<char *const *>(b));
}

static void write_group(FILE *f, char **lines, size_t from, size_t to)
{
    fprintf(f, "#if        PROTOTYPES\n");
    for (size_t i = from; i < to; i++)
        fprintf(f, "%s\n", lines[i]);
    fprintf(f, "#else /* PROTOTYPES */\n");
    for (size_t i = from; i < to; i++)
        fprintf(f, "%s\n", proto_old_style(lines[i]).c_str());
    fprintf(f, "#endif /* PROTOTYPES */\n\n");
}

static bool write_prototypes(const char *path, const std::string &module, char **lines, size_t n)
{
    FILE *f = fopen(path, "w");
    if (!f)
        return false;
    size_t first_static = 0;
    while (first_static < n && lines[first_static][0] != 's')
        first_static++;
    fprintf(f, "/* Prototypes from %s.c */\n\n", module.c_str());
    fprintf(f, "/* extern functions - include these in a header file */\n\n");
    write_group(f, lines, 0, first_static);
    if (first_static < n) {
        fprintf(f, "/* static functions - include these in %s.c only */\n\n", module.c_str());
        write_group(f, lines, first_static, n);
    }
    return fclose(f) == 0;
}

bool rewrite_prototypes(const char *base)
{
    std::string path = std::string(base) + "pro";
    FILE *in = fopen(path.c_str(), "r");
    if (!in) {
        msg_report_text(141, "E", "can't open %s file \"%s\": %m", "prototype", path.c_str());
        return false;
    }
    std::vector<char *> lines;
    std::string line;
    while (os_read_line(in, line))
        lines.push_back(xstrdup(line.c_str()));
    fclose(in);
    os_qsort(lines.data(), lines.size(), sizeof(char *), compare_lines);

    std::string module = base;
    if (!module.empty() && module.back() == '.')
        module.pop_back();
    std::string temp = path + ".new";
    bool ok = write_prototypes(temp.c_str(), module, lines.data(), lines.size()) &&
              os_rename_file(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        msg_report_text(141, "E", "can't open %s file \"%s\": %m", "prototype", path.c_str());
        remove(temp.c_str());
    }
    for (char *l : lines)
        free(l);
    return ok;
}
