// The run log: every line a run writes to the debug-output channel is also
// appended to %WINDIR%\Omrak.log, which the programs share, with the local
// time, the program's name and its process ID; a run is a block, a header
// first, the exit code last. It is only a copy: a run it cannot be opened or
// written for goes on exactly as without it.
#ifndef COMMON_RUNLOG_H
#define COMMON_RUNLOG_H

#include <windows.h>

// A log over this size at a run's start becomes Omrak.old.log; one that
// cannot be rotated so stops at twice this size.
#define RUN_LOG_LIMIT (1024 * 1024)

// Opens the log and writes the run's header (program, version, process,
// session, WOW64, elevation, a rotation that failed). Called in main, right
// after LimitDllSearch.
void OpenRunLog(const char *pProgram);

// One line of the run, with the trace's prefix line or none (NULL).
void RunLogLine(const char *pPrefix, const char *pText);

// The run's last line, its exit code; closes the log. Before each return of main.
void EndRunLog(int exitCode);

#endif
