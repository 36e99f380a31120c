// Runs Tidewell64 against the simulated layer, as the uninstaller starts it
// in an end-to-end scenario.
#include "native_runner.h"

int Tidewell64Main(int argc, char **argv, char **envp);

int main(int argc, char **argv) { return RunScenario(Tidewell64Main, argc, argv); }
