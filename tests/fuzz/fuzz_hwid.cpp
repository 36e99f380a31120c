// The hardware-ID match against a plainly written reference, on arbitrary
// texts and patterns. The bounded form gets a text without any terminator,
// in a block of exactly its size, so that a read past it is caught.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "common/hwid.h"

namespace {

// Two bytes are the same when equal, or when one is an ASCII capital and the
// other the same letter in lower case.
bool SameByte(unsigned char a, unsigned char b) {
    if (a == b) return true;
    if (a >= 'A' && a <= 'Z') return b == a + 32;
    if (b >= 'A' && b <= 'Z') return a == b + 32;
    return false;
}

bool Contains(const std::string &text, const std::string &pattern) {
    if (pattern.empty() || pattern.size() > text.size()) return false;
    for (size_t start = 0; start + pattern.size() <= text.size(); ++start) {
        size_t i = 0;
        while (i < pattern.size() && SameByte(text[start + i], pattern[i])) ++i;
        if (i == pattern.size()) return true;
    }
    return false;
}

std::string UpToNul(const uint8_t *p, size_t n) {
    size_t len = 0;
    while (len < n && p[len] != 0) ++len;
    return std::string((const char *)p, len);
}

void Check(bool ok, const char *what) {
    if (!ok) {
        fprintf(stderr, "hardware-ID match disagrees with the reference: %s\n", what);
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    // First byte: how the pattern is chosen. Low bits 0/1: a target ID,
    // otherwise the next (byte >> 2) bytes are the pattern.
    unsigned choice = data[0];
    ++data;
    --size;
    std::string pattern;
    if ((choice & 3) == 0) {
        pattern = TargetHwid1;
    } else if ((choice & 3) == 1) {
        pattern = TargetHwid2;
    } else {
        size_t n = choice >> 2;
        if (n > size) n = size;
        pattern.assign((const char *)data, n);
        data += n;
        size -= n;
    }
    std::string patternText = UpToNul((const uint8_t *)pattern.c_str(), pattern.size());

    // NUL-terminated form.
    std::string text = UpToNul(data, size);
    char *pText = (char *)malloc(text.size() + 1);
    memcpy(pText, text.c_str(), text.size() + 1);
    char *pPattern = (char *)malloc(pattern.size() + 1);
    memcpy(pPattern, pattern.c_str(), pattern.size() + 1);
    bool expected = Contains(text, patternText);
    Check(HwidMatch(pText, pPattern) == (expected ? 1 : 0), "HwidMatch");
    Check(HwidMatch(NULL, pPattern) == 0 && HwidMatch(pText, NULL) == 0, "null argument");

    // Bounded form: exactly size bytes, no terminator of its own.
    char *pRaw = (char *)malloc(size ? size : 1);
    if (size) memcpy(pRaw, data, size);
    Check(HwidMatchN(pRaw, (DWORD)size, pPattern) == (expected ? 1 : 0), "HwidMatchN");
    bool target = Contains(text, TargetHwid1) || Contains(text, TargetHwid2);
    Check(MatchTargetHwid(pRaw, (DWORD)size) == (target ? 1 : 0), "MatchTargetHwid");

    // Neither string is changed.
    Check(memcmp(pText, text.c_str(), text.size() + 1) == 0, "text changed");
    Check(memcmp(pPattern, pattern.c_str(), pattern.size() + 1) == 0, "pattern changed");
    Check(size == 0 || memcmp(pRaw, data, size) == 0, "bounded text changed");
    free(pRaw);
    free(pPattern);
    free(pText);
    return 0;
}
