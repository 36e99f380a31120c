// Runs Tidewell against the simulated layer for one end-to-end scenario.
#include "native_runner.h"

int TidewellMain(int argc, char **argv, char **envp);

int main(int argc, char **argv) { return RunScenario(TidewellMain, argc, argv); }
