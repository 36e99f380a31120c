// Reading a fuzz input as a sequence of small decisions and byte strings;
// an exhausted input reads as zeros.
#ifndef TESTS_FUZZ_FUZZ_INPUT_H
#define TESTS_FUZZ_FUZZ_INPUT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

struct FuzzInput {
    const uint8_t *p;
    size_t n;

    uint8_t Byte() {
        if (n == 0) return 0;
        --n;
        return *p++;
    }
    // Up to max bytes; the length is read first (two bytes).
    std::vector<uint8_t> Bytes(size_t max) {
        size_t len = (size_t)Byte() | ((size_t)Byte() << 8);
        len %= max + 1;
        if (len > n) len = n;
        std::vector<uint8_t> out(p, p + len);
        p += len;
        n -= len;
        return out;
    }
    std::vector<uint8_t> Rest() {
        std::vector<uint8_t> out(p, p + n);
        p += n;
        n = 0;
        return out;
    }
};

inline void FuzzCheck(bool ok, const std::string &what) {
    if (!ok) {
        fprintf(stderr, "property violated: %s\n", what.c_str());
        abort();
    }
}

// ASCII letters compared without regard to case, every other byte exactly.
inline bool FuzzSameByte(unsigned char a, unsigned char b) {
    if (a == b) return true;
    if (a >= 'A' && a <= 'Z') return b == a + 32;
    if (b >= 'A' && b <= 'Z') return a == b + 32;
    return false;
}

inline bool FuzzContains(const std::string &text, const std::string &pattern) {
    if (pattern.empty() || pattern.size() > text.size()) return false;
    for (size_t start = 0; start + pattern.size() <= text.size(); ++start) {
        size_t i = 0;
        while (i < pattern.size() && FuzzSameByte(text[start + i], pattern[i])) ++i;
        if (i == pattern.size()) return true;
    }
    return false;
}

inline bool FuzzNamesTarget(const std::string &text) {
    return FuzzContains(text, "USB\\Vid_1F3C&Pid_3A41") || FuzzContains(text, "USB\\Vid_1F3C&Pid_3A42");
}

// The reference walk over hardware-ID bytes: entries one after the other
// until an empty entry or the end of the data; an entry without its NUL ends
// at the end of the data.
inline bool WalkFindsTarget(const std::vector<uint8_t> &b) {
    size_t pos = 0;
    while (pos < b.size() && b[pos] != 0) {
        size_t end = pos;
        while (end < b.size() && b[end] != 0) ++end;
        if (FuzzNamesTarget(std::string((const char *)b.data() + pos, end - pos))) return true;
        pos = end + 1;
    }
    return false;
}

#endif
