// The product's two USB hardware IDs and the case-insensitive match that
// decides whether a text names one of them.
#ifndef COMMON_HWID_H
#define COMMON_HWID_H

#include <windows.h>

extern const char TargetHwid1[];  // "USB\Vid_1F3C&Pid_3A41"
extern const char TargetHwid2[];  // "USB\Vid_1F3C&Pid_3A42"

// An ASCII small letter's capital, any other byte itself: every comparison
// of the programs that ignores letter case folds so.
char UpperAscii(char c);

// 1 when the texts are the same but for letter case, as Windows compares names.
int SameText(const char *pA, const char *pB);

// 1 when pPattern occurs in the NUL-terminated pText (ASCII letters compared
// without regard to case), 0 otherwise; 0 for a null or empty pattern.
int HwidMatch(const char *pText, const char *pPattern);

// The same, the text ending after cchText bytes if no NUL comes first.
int HwidMatchN(const char *pText, DWORD cchText, const char *pPattern);

// 1 when the text names the first target ID or, failing that, the second.
int MatchTargetHwid(const char *pText, DWORD cchText);

// 1 when the cbText bytes at pText hold a NUL, so that it can be used as a string.
int IsTerminated(const char *pText, DWORD cbText);

#endif
