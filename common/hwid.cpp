#include "hwid.h"

const char TargetHwid1[] = "USB\\Vid_1F3C&Pid_3A41";
const char TargetHwid2[] = "USB\\Vid_1F3C&Pid_3A42";

char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

int SameText(const char *pA, const char *pB)
{
    for (; *pA != 0 && UpperAscii(*pA) == UpperAscii(*pB); pA++, pB++)
        ;
    return *pA == 0 && *pB == 0;
}

int HwidMatchN(const char *pText, DWORD cchText, const char *pPattern)
{
    DWORD start;
    DWORD i;

    if (pText == NULL || pPattern == NULL || pPattern[0] == 0)
        return 0;
    for (start = 0; start < cchText && pText[start] != 0; start++) {
        for (i = 0; pPattern[i] != 0; i++) {
            if (start + i >= cchText || pText[start + i] == 0)
                break;
            // A capital and its small letter are the same, no other pair.
            if (UpperAscii(pText[start + i]) != UpperAscii(pPattern[i]))
                break;
        }
        if (pPattern[i] == 0)
            return 1;
    }
    return 0;
}

int HwidMatch(const char *pText, const char *pPattern)
{
    return HwidMatchN(pText, 0xFFFFFFFF, pPattern);
}

int MatchTargetHwid(const char *pText, DWORD cchText)
{
    if (HwidMatchN(pText, cchText, TargetHwid1))
        return 1;
    return HwidMatchN(pText, cchText, TargetHwid2);
}

int IsTerminated(const char *pText, DWORD cbText)
{
    DWORD i;

    for (i = 0; i < cbText; i++)
        if (pText[i] == 0)
            return 1;
    return 0;
}
