// The run log: every line a run writes to the debug-output channel is also
// appended to %WINDIR%\Omrak.log, which the three programs share, with the
// local time, the program's name and its process ID. A run is a block in it:
// a header line first, the exit code last. The log is only ever a copy: when
// it cannot be opened or written, the run goes on exactly as without it.
#ifndef COMMON_RUNLOG_H
#define COMMON_RUNLOG_H

#include <windows.h>

// A log over this size at a run's start becomes Omrak.old.log (replacing
// it), so that about twice this much is kept. A log that cannot be rotated
// so stops at twice this size: a run writes no line past it.
#define RUN_LOG_LIMIT (1024 * 1024)

// Opens the log for this run and writes its header: program, version,
// process ID, session, whether it is a 32-bit process on 64-bit Windows,
// whether it runs elevated, and the error where a full log could not be
// rotated. Called in main, right after LimitDllSearch.
void OpenRunLog(const char *pProgram);

// One line of the run: pPrefix is the trace's prefix line, or NULL for a
// line written without one. Nothing happens when the log is not open.
void RunLogLine(const char *pPrefix, const char *pText);

// The run's last line, with its exit code; closes the log. Called right
// before each return of main.
void EndRunLog(int exitCode);

#endif
