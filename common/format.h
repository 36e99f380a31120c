// Bounded text formatting, for the trace, the run log and every path.
#ifndef COMMON_FORMAT_H
#define COMMON_FORMAT_H

#include <stdarg.h>
#include <windows.h>

// wsprintfA's meaning of "%d", "%u", "%x", "%X", "%c", "%s" (a null string
// prints "(null)") and "%%", with flags "-" and "0" and a width. Writes at
// most cbBuffer bytes, NUL included. Result: 1 when the whole text fitted,
// 0 when it was cut.
int FormatTextV(char *pBuffer, int cbBuffer, const char *pFormat, va_list args);
int FormatText(char *pBuffer, int cbBuffer, const char *pFormat, ...);

// A path in the Windows folder (GetWindowsDirectoryA), followed by pFormat
// ("\\inf\\%s"), in pPath's MAX_PATH bytes. 0, with the reason in
// GetLastError, when the folder cannot be read or the path would not fit.
int WindowsPath(char *pPath, const char *pFormat, ...);

#endif
