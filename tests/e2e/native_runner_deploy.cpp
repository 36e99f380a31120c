// Runs TidewellDeploy against the simulated layer for one end-to-end scenario.
#include "native_runner.h"

int DeployMain(int argc, char **argv, char **envp);

int main(int argc, char **argv) { return RunScenario(DeployMain, argc, argv); }
