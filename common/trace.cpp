#include "trace.h"

#include "format.h"
#include "runlog.h"

void Trace(const char *pFormat, ...)
{
    char message[TRACE_BUFFER_SIZE];
    va_list args;

    va_start(args, pFormat);
    FormatTextV(message, sizeof(message), pFormat, args);
    va_end(args);
    OutputDebugStringA(TracePrefix);
    OutputDebugStringA(message);
    RunLogLine(TracePrefix, message);
}

void TraceBare(const char *pText)
{
    OutputDebugStringA(pText);
    RunLogLine(NULL, pText);
}
