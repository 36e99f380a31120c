// Runs Zorvane64 against the simulated layer for one end-to-end scenario.
#include "native_runner.h"

int ZorvaneMain(int argc, char **argv, char **envp);

int main(int argc, char **argv) { return RunScenario(ZorvaneMain, argc, argv); }
