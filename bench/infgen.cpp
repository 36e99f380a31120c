// Writes the benchmark's INF files into a folder (a Wine prefix's inf
// folder): bench_infgen <folder> <count>. Prints how many files and lines it
// wrote.
#include <stdio.h>
#include <stdlib.h>

#include <string>

#include "shapes.h"

int main(int argc, char **argv) {
    if (argc != 3 || atoi(argv[2]) <= 0) {
        fprintf(stderr, "usage: %s <folder> <count>\n", argv[0]);
        return 2;
    }
    size_t count = (size_t)atoi(argv[2]);
    size_t lines = 0, bytes = 0;
    for (size_t n = 0; n < count; ++n) {
        shapes::InfShape inf = shapes::Inf(n);
        std::string path = std::string(argv[1]) + "/" + inf.name;
        FILE *f = fopen(path.c_str(), "wb");
        if (!f || fwrite(inf.content.data(), 1, inf.content.size(), f) != inf.content.size() ||
            fclose(f) != 0) {
            fprintf(stderr, "bench_infgen: cannot write %s\n", path.c_str());
            return 1;
        }
        lines += inf.lines;
        bytes += inf.content.size();
    }
    printf("%zu files, %zu lines, %zu bytes\n", count, lines, bytes);
    return 0;
}
