// The trace prefix of the common-code tests (each program supplies its own).
#include "common/trace.h"

const char TracePrefix[] = "..Common - Test";
