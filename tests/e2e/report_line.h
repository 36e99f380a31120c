// The tab-separated lines in which the seeder and the native runner take
// their machine and print what is left: fields, escaped text and GUIDs.
#ifndef E2E_REPORT_LINE_H
#define E2E_REPORT_LINE_H

#include <windows.h>

#include <stdio.h>

#include <string>
#include <vector>

inline std::vector<std::string> Split(const std::string &line, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    for (;;) {
        size_t k = line.find(sep, start);
        if (k == std::string::npos) {
            out.push_back(line.substr(start));
            return out;
        }
        out.push_back(line.substr(start, k - start));
        start = k + 1;
    }
}

// Backslash, tab and line breaks as \\, \t, \n, \r; other control and
// non-ASCII bytes as \xNN, so that one line holds one field list.
inline std::string Escape(const std::string &s) {
    std::string out;
    for (unsigned char c : s) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += (char)c;
        }
    }
    return out;
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" to a GUID; false for any other text.
inline bool ParseGuid(const std::string &text, GUID *g) {
    unsigned long d1;
    unsigned d2, d3, b[8];
    if (sscanf(text.c_str(), "{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &d1, &d2, &d3, &b[0],
               &b[1], &b[2], &b[3], &b[4], &b[5], &b[6], &b[7]) != 11)
        return false;
    g->Data1 = (DWORD)d1;
    g->Data2 = (WORD)d2;
    g->Data3 = (WORD)d3;
    for (int i = 0; i < 8; ++i) g->Data4[i] = (BYTE)b[i];
    return true;
}

#endif
