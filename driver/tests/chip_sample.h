// The chips the per-chip build-and-run tests take: every chip of the
// database with ZEPH_ALL_CHIPS=1 in the environment, else every fourth
// chip in the database's order and the chips the other tests build for
// (a full run of those tests takes about 25 CPU-minutes under the
// sanitizers, more than a CI run on two cores allows).
//   ZEPH_ALL_CHIPS=1 ctest -R 'Database/'
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

template <class T> std::vector<T> chip_sample(const std::vector<T> &all, std::string (*name)(const T &))
{
    const char *every = getenv("ZEPH_ALL_CHIPS");
    if (every && *every && std::string(every) != "0")
        return all;
    static const char *const kept[] = {"10F200", "10F222", "12F508", "12F509", "12F629", "12F675", "16F505",
                                       "16F54",  "16F57",  "16F84A", "16F628A", "16F690", "16F877A", "16F887"};
    std::vector<T> out;
    for (size_t i = 0; i < all.size(); i++) {
        bool keep = i % 4 == 0;
        for (const char *k : kept)
            keep |= name(all[i]) == k;
        if (keep)
            out.push_back(all[i]);
    }
    return out;
}
