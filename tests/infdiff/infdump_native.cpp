// The native start of infdump: puts each file named on the command line into
// the simulated layer (a directory as a directory, a file with its bytes) as
// C:\infdump\<name>, then runs the same infdump code over those paths. Exit
// code 3 when the run left an INF handle or anything else open.
#include <sys/stat.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "winsim.h"

int InfdumpMain(int argc, char **argv);

int main(int argc, char **argv) {
    sim::Reset();
    sim::AddDirectory("C:\\infdump");
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        std::string source = argv[i];
        std::string name = source.substr(source.find_last_of('/') + 1);
        std::string path = "C:\\infdump\\" + name;
        struct stat st;
        if (stat(source.c_str(), &st) != 0) {
            std::cerr << "infdump: cannot read " << source << "\n";
            return 2;
        }
        if (S_ISDIR(st.st_mode)) {
            sim::AddDirectory(path);
        } else {
            std::ifstream in(source, std::ios::binary);
            std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            sim::AddFile(path, bytes);
        }
        paths.push_back(path);
    }
    std::vector<char *> args;
    args.push_back(argv[0]);
    for (auto &p : paths) args.push_back(&p[0]);
    int rc = InfdumpMain((int)args.size(), args.data());
    auto open = sim::OpenResources();
    for (const auto &r : open) std::cerr << "infdump: left open: " << r << "\n";
    for (const auto &p : sim::M().problems) std::cerr << "infdump: problem: " << p << "\n";
    return open.empty() && sim::M().problems.empty() ? rc : 3;
}
