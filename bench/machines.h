// Simulated machines for the native benchmarks, built from the shapes, and
// what can be read back from the layer's call log after a run.
#ifndef BENCH_MACHINES_H
#define BENCH_MACHINES_H

#include <stddef.h>

#include <string>
#include <vector>

#include "winsim.h"

namespace machines {

const char kInfDir[] = "C:\\Windows\\inf";
// The driver package the product's nodes were installed from.
const char kProductInf[] = "oem90.inf";

struct TreeFacts {
    size_t nodes = 0;
    size_t productNodes = 0;
    size_t largestProperty = 0;  // bytes of the largest SPDRP_HARDWAREID value
};

// A fresh machine with a Windows folder and an empty inf folder.
void Fresh();

// nodes device nodes with four hardware-ID entries each; every
// productEvery-th is the product's (0: none). The product's nodes are modems
// and serial ports with a free port and a driver key naming kProductInf
// (which is put into the inf folder); every productEvery-th of them (0: none)
// has no driver key. bigPropertyBytes > 0 gives one other node a hardware-ID
// list of about that many bytes.
TreeFacts AddTree(size_t nodes, size_t productEvery, size_t driverlessEvery = 0,
                  size_t bigPropertyBytes = 0);

struct FolderFacts {
    size_t files = 0;
    size_t lines = 0;
    size_t ruleLineTextCalls = 0;  // what the sweep's rule needs over the folder
    size_t largestLine = 0;        // bytes of the largest line text the sweep reads
};

// files INF files in the inf folder, none naming the product. bigLineBytes > 0
// gives the first file a models line of about that many bytes.
FolderFacts AddInfFolder(size_t files, size_t bigLineBytes = 0);

// Keeps the machine's set-up but starts the layer's books afresh (call log,
// handles, heap account, debug output): for a benchmark's next iteration
// when the run changed nothing.
void Rewind();

// Platform calls per node, from the layer's log of fallible calls: every
// call from one SetupDiEnumDeviceInfo up to the next belongs to the node
// that enumeration delivered.
struct NodeCalls {
    size_t nodes = 0;
    size_t maxPlain = 0;        // most calls on a node that is not the product's
    size_t minPlain = 0;        // fewest calls on such a node
    size_t productCalls = 0;    // all calls on the product's nodes
    size_t productNodes = 0;
    size_t plainPropertyReads = 0;  // SPDRP reads on nodes that are not the product's
};
NodeCalls CountNodeCalls(size_t productEvery);

}  // namespace machines

#endif
