// Writes the benchmark's INF files into a folder (a Wine prefix's inf
// folder), or with --store the driver-store packages of the same files into
// a folder (a prefix's FileRepository): a folder of its own per package.
// Prints how many files and lines (packages and files) it wrote.
//
//   bench_infgen [--store] <folder> <count>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>

#include "shapes.h"

namespace {

bool Write(const std::string &path, const std::string &content) {
    FILE *f = fopen(path.c_str(), "wb");
    if (f && fwrite(content.data(), 1, content.size(), f) == content.size() && fclose(f) == 0)
        return true;
    fprintf(stderr, "bench_infgen: cannot write %s\n", path.c_str());
    return false;
}

}  // namespace

int main(int argc, char **argv) {
    bool store = argc == 4 && strcmp(argv[1], "--store") == 0;
    if (argc != 3 + store || atoi(argv[2 + store]) <= 0) {
        fprintf(stderr, "usage: %s [--store] <folder> <count>\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1 + store];
    size_t count = (size_t)atoi(argv[2 + store]);
    size_t lines = 0, bytes = 0, files = 0;
    for (size_t n = 0; n < count; ++n) {
        if (store) {
            shapes::StorePackage package = shapes::Package(n);
            std::string dir = folder + "/" + package.folder;
            if (mkdir(dir.c_str(), 0755) != 0) {
                fprintf(stderr, "bench_infgen: cannot make %s\n", dir.c_str());
                return 1;
            }
            for (const auto &file : package.files) {
                if (!Write(dir + "/" + file.first, file.second)) return 1;
                bytes += file.second.size();
                ++files;
            }
            continue;
        }
        shapes::InfShape inf = shapes::Inf(n);
        if (!Write(folder + "/" + inf.name, inf.content)) return 1;
        lines += inf.lines;
        bytes += inf.content.size();
    }
    if (store)
        printf("%zu packages, %zu files, %zu bytes\n", count, files, bytes);
    else
        printf("%zu files, %zu lines, %zu bytes\n", count, lines, bytes);
    return 0;
}
