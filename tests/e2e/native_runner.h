// The native side of the end-to-end scenarios: a machine description read
// from standard input is loaded into the simulated layer, one program runs
// in-process, and its outcome is written to standard output in the same
// line form as the Wine side's fixtures write theirs.
#ifndef TESTS_E2E_NATIVE_RUNNER_H
#define TESTS_E2E_NATIVE_RUNNER_H

typedef int (*ProgramMain)(int argc, char **argv, char **envp);

// Loads the machine, runs the program and writes the outcome. Result: 0 when
// the run could be made (whatever the program did), 2 for a description
// or arguments that cannot be taken.
int RunScenario(ProgramMain program, int argc, char **argv);

#endif
