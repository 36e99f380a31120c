// Replays fuzz inputs without libFuzzer: every file named on the command line,
// or every file in a directory named there, goes once through the target.
// Lets the ordinary builds run the committed corpora as a regression test.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static int RunFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    return 0;
}

int main(int argc, char **argv) {
    int runs = 0, failed = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "no such input: %s\n", argv[i]);
            return 1;
        }
        std::vector<std::string> files;
        if (S_ISDIR(st.st_mode)) {
            DIR *d = opendir(argv[i]);
            while (struct dirent *e = readdir(d))
                if (e->d_name[0] != '.') files.push_back(std::string(argv[i]) + "/" + e->d_name);
            closedir(d);
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(argv[i]);
        }
        for (const auto &f : files) {
            failed += RunFile(f);
            ++runs;
        }
    }
    printf("%d inputs replayed\n", runs);
    // An empty corpus proves nothing.
    return failed || runs == 0 ? 1 : 0;
}
