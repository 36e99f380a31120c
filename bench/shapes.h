// Realistic machines for the benchmarks: hardware-ID entries as Windows
// reports them, device trees of many nodes, and INF files in the shapes a
// Windows inf folder holds. Everything is generated deterministically from
// an index, so a run is repeatable and the native and Wine measurements read
// the same files.
#ifndef BENCH_SHAPES_H
#define BENCH_SHAPES_H

#include <stddef.h>

#include <string>
#include <utility>
#include <vector>

namespace shapes {

// ---- hardware IDs ----

// The four hardware-ID entries of device number n, most specific first. Every
// productEvery-th device (0: none) is one of the product's, alternating
// between the two target IDs; all others belong to other vendors, and some
// of them to the product's vendor with other product IDs (near misses).
std::vector<std::string> HardwareIds(size_t n, size_t productEvery);
bool IsProductDevice(size_t n, size_t productEvery);

// A multi-string of the entries, with its final empty entry.
std::string MultiSz(const std::vector<std::string> &entries);

// ---- INF files ----

struct InfShape {
    std::string name;          // file name in the inf folder
    std::string storeName;     // its name in its driver-store package (a published
                               // oem<N>.inf keeps the name it was published from)
    std::string driver;        // the driver file its install copies ("<service>.sys")
    std::string content;       // CRLF line ends, as Windows ships them
    bool hasManufacturer;      // a [Manufacturer] section with a first line
    std::string modelsSection; // the section the first [Manufacturer] line names
    bool hasModelsSection;     // that section exists (undecorated)
    size_t modelsLines;        // lines in that section (0 without it)
    size_t lines;              // lines in the whole file
    size_t longestModelsLine;  // bytes of the longest models line text, NUL included
    // The line texts the wider rule reads besides (a published INF's every
    // models section, each [Manufacturer] line's text).
    size_t widerLineTextCalls;
};

// INF file number n: a [Version] with a signature, source disks, a
// [Manufacturer] whose first line lists platform decorations, decorated
// (and for some files undecorated) models sections, install and service
// sections, registry lines and [Strings]; a few hundred lines in all. About
// one file in ten has no [Manufacturer] (class and layout INFs), about a
// third only decorated models sections. No line names a target hardware ID.
// extraModelsLineBytes > 0 appends one models line of about that many bytes
// to the undecorated models section (the file then always has one).
InfShape Inf(size_t n, size_t extraModelsLineBytes = 0);

// The driver-store package of INF file number n, as Windows keeps one in
// System32\DriverStore\FileRepository: a folder "<inf name>_<arch>_<hash>"
// holding the INF under its store name, byte for byte the file of the inf
// folder, and the driver files beside it (a .sys, for some a .cat).
struct StorePackage {
    std::string folder;
    std::vector<std::pair<std::string, std::string>> files;  // name, content; the INF first
};
StorePackage Package(size_t n);

// SetupGetLineTextA calls that the sweep's rule needs for a file that does
// not name the product: none without a [Manufacturer] line; otherwise two
// (size and text) for each of the two reads of the manufacturer line's
// first field, and two for every line of the undecorated models section.
size_t RuleLineTextCalls(const InfShape &inf);

}  // namespace shapes

#endif
