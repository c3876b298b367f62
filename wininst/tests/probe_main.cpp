// setup_probe [--into=DIR] [--show=NAME,...] [setup's switches]: starts as
// setup does (payload, manifest, resources, selection), prints the
// variables named, every feature and every component with its flags, then
// reads the feature records: a selected feature's files are written below
// DIR (the others' dropped), and the program's head is copied to
// DIR/resources/setup. Without DIR every record is dropped. The tests pack
// this program as the head of their installers.
#include "setup.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

static void probe_show(const char *list)
{
    std::string names = list;
    for (size_t at = 0; at <= names.size();) {
        size_t end = names.find(',', at);
        std::string name = names.substr(at, end == std::string::npos ? std::string::npos : end - at);
        const char *v = GetVariable(name.c_str());
        printf("var %s%s%s\n", name.c_str(), v ? "=" : " unset", v ? v : "");
        if (end == std::string::npos)
            break;
        at = end + 1;
    }
}

static void probe_print_selection()
{
    for (uint32_t i = 0; manifest.features && i < vec_count(manifest.features); i++) {
        feature_t *f = static_cast<feature_t *>(vec_get(manifest.features, i));
        printf("feature %s present=%d installable=%d outdated=%d\n", f->name, f->present, f->installable,
               f->outdated);
    }
    for (uint32_t i = 0; manifest.components && i < vec_count(manifest.components); i++) {
        component_t *c = static_cast<component_t *>(vec_get(manifest.components, i));
        printf("component %s selected=%d required=%d installable=%d present=%d\n", c->name, c->selected,
               c->required, c->installable, c->present);
    }
}

int main(int argc, char **argv)
{
    const char *into = nullptr;
    const char *show = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strncmp(argv[i], "--into=", 7) == 0)
            into = argv[i] + 7;
        else if (strncmp(argv[i], "--show=", 7) == 0)
            show = argv[i] + 7;
    }
    setup_start(argc, argv);
    if (show)
        probe_show(show);
    probe_print_selection();
    fflush(stdout);
    if (payload_located()) {
        select_features_from_components();
        payload_extract_features(into);
        if (into) {
            std::string resources = std::string(into) + "/resources";
            setup_make_folder(resources.c_str());
            CopyFileHead((resources + "/setup").c_str(), payload_head_size());
        }
    }
    printf("done\n");
    return 0;
}
