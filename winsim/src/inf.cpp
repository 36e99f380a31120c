// INF files of the simulated layer (reader not written yet).
#include "internal.h"

using namespace sim;
using namespace sim::detail;

namespace sim {
namespace detail {
void ResetInf() {}
}  // namespace detail
}  // namespace sim

extern "C" {

HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine) {
    (void)FileName; (void)InfClass; (void)InfStyle; (void)ErrorLine;
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI SetupFindFirstLineA(HINF, PCSTR, PCSTR, PINFCONTEXT) {
    SetLastError(ERROR_LINE_NOT_FOUND);
    return FALSE;
}
BOOL WINAPI SetupFindNextLine(PINFCONTEXT, PINFCONTEXT) {
    SetLastError(ERROR_LINE_NOT_FOUND);
    return FALSE;
}
BOOL WINAPI SetupGetLineTextA(PINFCONTEXT, HINF, PCSTR, PCSTR, PSTR, DWORD, PDWORD) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
}
void WINAPI SetupCloseInfFile(HINF) {}

}  // extern "C"
