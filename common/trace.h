// The trace: every message goes to the debug-output channel as two writes,
// the program's prefix line and then the message, and to the run log.
#ifndef COMMON_TRACE_H
#define COMMON_TRACE_H

#include <stdarg.h>
#include <windows.h>

// Each program supplies its own prefix line, e.g. "..Tidewell - Omrak".
extern const char TracePrefix[];

#define TRACE_BUFFER_SIZE 128

// Bounded formatting with wsprintfA's meaning of "%d", "%u", "%x", "%X",
// "%c", "%s" (a null string prints "(null)") and "%%", with flags "-" and "0"
// and a width. Writes at most cbBuffer bytes, NUL included. Result: 1 when
// the whole text fitted, 0 when it was cut.
int FormatTextV(char *pBuffer, int cbBuffer, const char *pFormat, va_list args);
int FormatText(char *pBuffer, int cbBuffer, const char *pFormat, ...);

// Formats into a 128-byte buffer of its own (a longer message is cut at 127
// characters) and writes the prefix line, then the message; the run log
// gets both as one line.
void Trace(const char *pFormat, ...);

// A line written without the prefix line ("---OpenAP---"), to the
// debug-output channel and to the run log.
void TraceBare(const char *pText);

#endif
