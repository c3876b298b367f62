// The address-map file (-V): names of the memories that psects and classes
// lie in, for the third form of the symbol file ("SY", "AS" and "SG" lines).
//
// The file has one section per machine: a line starting with a non-blank
// character holds the machine key, a psect or class and a memory name;
// continuation lines start with a tab and hold a psect or class and a memory
// name. "-" names the default memory (and the absolute psect). Lines starting
// with "#" are comments.
#include "heron.h"

#include <cstring>
#include <sstream>

const unsigned AVMAP_MAX = 40;   // entries kept

struct avmap_entry {
    std::string name;     // psect or class
    std::string memory;
};

static std::vector<avmap_entry> avmap;   // entries in file order
static unsigned avmap_default;           // index of the "-" entry
bool avmap_loaded;                       // -V named a file that was read

// One entry from the tokens left on a line.
static void avmap_entry_add(std::istringstream &words)
{
    std::string name, memory;
    if (!(words >> name))
        return;
    if (!(words >> memory)) {
        msg_report(463);
        return;
    }
    bool known = name == "-" || find_symbol(name.c_str(), OBJ_PSECT | OBJ_GLOBAL) ||
                 find_symbol(name.c_str(), OBJ_CLASS | OBJ_GLOBAL);
    if (!known || avmap.size() >= AVMAP_MAX)
        return;
    if (name == "-") {
        avmap_default = (unsigned)avmap.size();
        name = "";
    }
    avmap.push_back({name, memory});
}

void read_avmap(const std::string &machine, const std::string &file)
{
    FILE *f = fopen(file.c_str(), "r");
    if (!f) {
        msg_report(141, "avmap", file.c_str());   // fatal
        return;
    }
    std::string line;
    bool in_section = false, matched = false;
    while (os_read_line(f, line)) {
        if (line.size() > 255)
            line.resize(255);
        size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#')
            continue;
        bool section_line = line[0] != ' ' && line[0] != '\t';
        std::istringstream words(line);
        if (section_line) {
            if (in_section)
                break;
            std::string key;
            words >> key;
            in_section = strcasecmp(key.c_str(), machine.c_str()) == 0;
            if (!in_section)
                continue;
            matched = true;
        } else if (!in_section || line[0] != '\t') {
            continue;
        }
        avmap_entry_add(words);
    }
    fclose(f);
    avmap_loaded = true;
    if (!matched)
        msg_report(464);
}

const char *avmap_lookup(const char *name)
{
    for (const avmap_entry &e : avmap)
        if (e.name == name)
            return e.memory.c_str();
    return avmap.empty() ? "" : avmap[avmap_default].memory.c_str();
}
