// The trace: every message goes to the debug-output channel as two writes,
// the program's prefix line and then the message, and to the run log.
#ifndef COMMON_TRACE_H
#define COMMON_TRACE_H

#include <windows.h>

#include "format.h"

// Each program supplies its own prefix line, e.g. "..Tidewell - Omrak".
extern const char TracePrefix[];

#define TRACE_BUFFER_SIZE 128

// Formats into a 128-byte buffer of its own (a longer message is cut at 127
// characters) and writes the prefix line, then the message; the run log
// gets both as one line.
void Trace(const char *pFormat, ...);

// A line written without the prefix line ("---OpenAP---"), to the
// debug-output channel and to the run log.
void TraceBare(const char *pText);

#endif
