// INF files of the simulated layer. SetupOpenInfFileA reads a simulated file
// the way Windows' SetupAPI does (encoding, sections, keys, fields, quotes,
// comments, continuation lines, the [Version] signature) and keeps what it
// read; the line functions answer from that, substituting %strkey% tokens as
// they are read and converting to the ANSI code page (1252, as on an en-US
// Windows) with Windows' best-fit mapping.
#include "internal.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

using namespace sim;
using namespace sim::detail;

namespace {

typedef std::u16string WText;

// Windows Vista and later keep up to 4096 characters of a field, key or
// section name (Wine cuts at 511); a section name longer than 255 is an error.
const size_t kMaxToken = 4096;
const size_t kMaxSectionName = 255;
// A field after %strkey% substitution (Windows 10 1709 and later; Wine 4097).
const size_t kMaxSubstituted = 4096;
// The thread locale whose [Strings.LLLL] section is used: U.S. English.
const char kLocaleStrings[] = "Strings.0409";
const char kLanguageStrings[] = "Strings.0009";

struct InfLine {
    bool hasKey = false;
    WText key;
    std::vector<WText> values;  // the fields after the key (all of them without one)
};

struct InfSection {
    WText name;
    std::vector<InfLine> lines;
};

struct InfFile {
    std::string path;
    std::vector<InfSection> sections;
    int strings = -1;  // the section %strkey% tokens are looked up in
};

// Open INF handles and what was read for each.
std::map<HINF, InfFile *> g_infs;

// ---- characters ----

// White space as the INF parser sees it (the Unicode spaces, not 0x1C-0x1F).
bool IsBlank(char16_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

char16_t FoldAscii(char16_t c) { return (c >= 'A' && c <= 'Z') ? char16_t(c + 32) : c; }

// Names compare with ASCII letters folded, every other character exactly.
bool SameName(const WText &a, const WText &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    return true;
}

WText Widen(const char *ascii) {
    WText w;
    for (; *ascii; ++ascii) w += (char16_t)(unsigned char)*ascii;
    return w;
}

// Code page 1252: bytes 0x80-0x9F (the others are Latin-1).
const char16_t kCp1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Windows' best-fit mapping of code page 1252: characters without a byte of
// their own that WideCharToMultiByte still writes as a similar one (the
// others become "?"). Sorted by character.
struct BestFit {
    char16_t wide;
    unsigned char byte;
};
const BestFit kBestFit1252[] = {
    {0x0100, 0x41}, {0x0101, 0x61}, {0x0102, 0x41}, {0x0103, 0x61}, {0x0104, 0x41}, {0x0105, 0x61},
    {0x0106, 0x43}, {0x0107, 0x63}, {0x0108, 0x43}, {0x0109, 0x63}, {0x010A, 0x43}, {0x010B, 0x63},
    {0x010C, 0x43}, {0x010D, 0x63}, {0x010E, 0x44}, {0x010F, 0x64}, {0x0110, 0xD0}, {0x0111, 0x64},
    {0x0112, 0x45}, {0x0113, 0x65}, {0x0114, 0x45}, {0x0115, 0x65}, {0x0116, 0x45}, {0x0117, 0x65},
    {0x0118, 0x45}, {0x0119, 0x65}, {0x011A, 0x45}, {0x011B, 0x65}, {0x011C, 0x47}, {0x011D, 0x67},
    {0x011E, 0x47}, {0x011F, 0x67}, {0x0120, 0x47}, {0x0121, 0x67}, {0x0122, 0x47}, {0x0123, 0x67},
    {0x0124, 0x48}, {0x0125, 0x68}, {0x0126, 0x48}, {0x0127, 0x68}, {0x0128, 0x49}, {0x0129, 0x69},
    {0x012A, 0x49}, {0x012B, 0x69}, {0x012C, 0x49}, {0x012D, 0x69}, {0x012E, 0x49}, {0x012F, 0x69},
    {0x0130, 0x49}, {0x0131, 0x69}, {0x0134, 0x4A}, {0x0135, 0x6A}, {0x0136, 0x4B}, {0x0137, 0x6B},
    {0x0139, 0x4C}, {0x013A, 0x6C}, {0x013B, 0x4C}, {0x013C, 0x6C}, {0x013D, 0x4C}, {0x013E, 0x6C},
    {0x0141, 0x4C}, {0x0142, 0x6C}, {0x0143, 0x4E}, {0x0144, 0x6E}, {0x0145, 0x4E}, {0x0146, 0x6E},
    {0x0147, 0x4E}, {0x0148, 0x6E}, {0x014C, 0x4F}, {0x014D, 0x6F}, {0x014E, 0x4F}, {0x014F, 0x6F},
    {0x0150, 0x4F}, {0x0151, 0x6F}, {0x0154, 0x52}, {0x0155, 0x72}, {0x0156, 0x52}, {0x0157, 0x72},
    {0x0158, 0x52}, {0x0159, 0x72}, {0x015A, 0x53}, {0x015B, 0x73}, {0x015C, 0x53}, {0x015D, 0x73},
    {0x015E, 0x53}, {0x015F, 0x73}, {0x0162, 0x54}, {0x0163, 0x74}, {0x0164, 0x54}, {0x0165, 0x74},
    {0x0166, 0x54}, {0x0167, 0x74}, {0x0168, 0x55}, {0x0169, 0x75}, {0x016A, 0x55}, {0x016B, 0x75},
    {0x016C, 0x55}, {0x016D, 0x75}, {0x016E, 0x55}, {0x016F, 0x75}, {0x0170, 0x55}, {0x0171, 0x75},
    {0x0172, 0x55}, {0x0173, 0x75}, {0x0174, 0x57}, {0x0175, 0x77}, {0x0176, 0x59}, {0x0177, 0x79},
    {0x0179, 0x5A}, {0x017A, 0x7A}, {0x017B, 0x5A}, {0x017C, 0x7A}, {0x0180, 0x62}, {0x0189, 0xD0},
    {0x0191, 0x83}, {0x0197, 0x49}, {0x019A, 0x6C}, {0x019F, 0x4F}, {0x01A0, 0x4F}, {0x01A1, 0x6F},
    {0x01AB, 0x74}, {0x01AE, 0x54}, {0x01AF, 0x55}, {0x01B0, 0x75}, {0x01B6, 0x7A}, {0x01C0, 0x7C},
    {0x01C3, 0x21}, {0x01CD, 0x41}, {0x01CE, 0x61}, {0x01CF, 0x49}, {0x01D0, 0x69}, {0x01D1, 0x4F},
    {0x01D2, 0x6F}, {0x01D3, 0x55}, {0x01D4, 0x75}, {0x01D5, 0x55}, {0x01D6, 0x75}, {0x01D7, 0x55},
    {0x01D8, 0x75}, {0x01D9, 0x55}, {0x01DA, 0x75}, {0x01DB, 0x55}, {0x01DC, 0x75}, {0x01DE, 0x41},
    {0x01DF, 0x61}, {0x01E4, 0x47}, {0x01E5, 0x67}, {0x01E6, 0x47}, {0x01E7, 0x67}, {0x01E8, 0x4B},
    {0x01E9, 0x6B}, {0x01EA, 0x4F}, {0x01EB, 0x6F}, {0x01EC, 0x4F}, {0x01ED, 0x6F}, {0x01F0, 0x6A},
    {0x0261, 0x67}, {0x02B9, 0x27}, {0x02BA, 0x22}, {0x02BC, 0x27}, {0x02C4, 0x5E}, {0x02C8, 0x27},
    {0x02C9, 0xAF}, {0x02CA, 0xB4}, {0x02CB, 0x60}, {0x02CD, 0x5F}, {0x02DA, 0xB0}, {0x0300, 0x60},
    {0x0301, 0xB4}, {0x0302, 0x5E}, {0x0303, 0x7E}, {0x0304, 0xAF}, {0x0305, 0xAF}, {0x0308, 0xA8},
    {0x030A, 0xB0}, {0x030E, 0x22}, {0x0327, 0xB8}, {0x0331, 0x5F}, {0x0332, 0x5F}, {0x037E, 0x3B},
    {0x0393, 0x47}, {0x0398, 0x54}, {0x03A3, 0x53}, {0x03A6, 0x46}, {0x03A9, 0x4F}, {0x03B1, 0x61},
    {0x03B2, 0xDF}, {0x03B4, 0x64}, {0x03B5, 0x65}, {0x03BC, 0xB5}, {0x03C0, 0x70}, {0x03C3, 0x73},
    {0x03C4, 0x74}, {0x03C6, 0x66}, {0x04BB, 0x68}, {0x0589, 0x3A}, {0x066A, 0x25}, {0x2000, 0x20},
    {0x2001, 0x20}, {0x2002, 0x20}, {0x2003, 0x20}, {0x2004, 0x20}, {0x2005, 0x20}, {0x2006, 0x20},
    {0x2010, 0x2D}, {0x2011, 0x2D}, {0x2017, 0x3D}, {0x2024, 0xB7}, {0x2032, 0x27}, {0x2035, 0x60},
    {0x2044, 0x2F}, {0x2070, 0xB0}, {0x2074, 0x34}, {0x2075, 0x35}, {0x2076, 0x36}, {0x2077, 0x37},
    {0x2078, 0x38}, {0x207F, 0x6E}, {0x2080, 0x30}, {0x2081, 0x31}, {0x2082, 0x32}, {0x2083, 0x33},
    {0x2084, 0x34}, {0x2085, 0x35}, {0x2086, 0x36}, {0x2087, 0x37}, {0x2088, 0x38}, {0x2089, 0x39},
    {0x20A1, 0xA2}, {0x20A4, 0xA3}, {0x20A7, 0x50}, {0x2102, 0x43}, {0x2107, 0x45}, {0x210A, 0x67},
    {0x210B, 0x48}, {0x210C, 0x48}, {0x210D, 0x48}, {0x210E, 0x68}, {0x2110, 0x49}, {0x2111, 0x49},
    {0x2112, 0x4C}, {0x2113, 0x6C}, {0x2115, 0x4E}, {0x2118, 0x50}, {0x2119, 0x50}, {0x211A, 0x51},
    {0x211B, 0x52}, {0x211C, 0x52}, {0x211D, 0x52}, {0x2124, 0x5A}, {0x2128, 0x5A}, {0x212A, 0x4B},
    {0x212B, 0xC5}, {0x212C, 0x42}, {0x212D, 0x43}, {0x212E, 0x65}, {0x212F, 0x65}, {0x2130, 0x45},
    {0x2131, 0x46}, {0x2133, 0x4D}, {0x2134, 0x6F}, {0x2205, 0xD8}, {0x2212, 0x2D}, {0x2213, 0xB1},
    {0x2215, 0x2F}, {0x2216, 0x5C}, {0x2217, 0x2A}, {0x2218, 0xB0}, {0x2219, 0xB7}, {0x221A, 0x76},
    {0x221E, 0x38}, {0x2223, 0x7C}, {0x2229, 0x6E}, {0x2236, 0x3A}, {0x223C, 0x7E}, {0x2248, 0x98},
    {0x2261, 0x3D}, {0x2264, 0x3D}, {0x2265, 0x3D}, {0x226A, 0xAB}, {0x226B, 0xBB}, {0x22C5, 0xB7},
    {0x2302, 0xA6}, {0x2303, 0x5E}, {0x2310, 0xAC}, {0x2320, 0x28}, {0x2321, 0x29}, {0x2329, 0x3C},
    {0x232A, 0x3E}, {0x2500, 0x2D}, {0x2502, 0xA6}, {0x250C, 0x2B}, {0x2510, 0x2B}, {0x2514, 0x2B},
    {0x2518, 0x2B}, {0x251C, 0x2B}, {0x2524, 0xA6}, {0x252C, 0x2D}, {0x2534, 0x2D}, {0x253C, 0x2B},
    {0x2550, 0x2D}, {0x2551, 0xA6}, {0x2552, 0x2B}, {0x2553, 0x2B}, {0x2554, 0x2B}, {0x2555, 0x2B},
    {0x2556, 0x2B}, {0x2557, 0x2B}, {0x2558, 0x2B}, {0x2559, 0x2B}, {0x255A, 0x2B}, {0x255B, 0x2B},
    {0x255C, 0x2B}, {0x255D, 0x2B}, {0x255E, 0xA6}, {0x255F, 0xA6}, {0x2560, 0xA6}, {0x2561, 0xA6},
    {0x2562, 0xA6}, {0x2563, 0xA6}, {0x2564, 0x2D}, {0x2565, 0x2D}, {0x2566, 0x2D}, {0x2567, 0x2D},
    {0x2568, 0x2D}, {0x2569, 0x2D}, {0x256A, 0x2B}, {0x256B, 0x2B}, {0x256C, 0x2B}, {0x2580, 0xAF},
    {0x2584, 0x5F}, {0x2588, 0xA6}, {0x258C, 0xA6}, {0x2590, 0xA6}, {0x2591, 0xA6}, {0x2592, 0xA6},
    {0x2593, 0xA6}, {0x25A0, 0xA6}, {0x263C, 0xA4}, {0x2758, 0x7C}, {0x3000, 0x20}, {0x3008, 0x3C},
    {0x3009, 0x3E}, {0x300A, 0xAB}, {0x300B, 0xBB}, {0x301A, 0x5B}, {0x301B, 0x5D}, {0x30FB, 0xB7},
    {0xFF01, 0x21}, {0xFF02, 0x22}, {0xFF03, 0x23}, {0xFF04, 0x24}, {0xFF05, 0x25}, {0xFF06, 0x26},
    {0xFF07, 0x27}, {0xFF08, 0x28}, {0xFF09, 0x29}, {0xFF0A, 0x2A}, {0xFF0B, 0x2B}, {0xFF0C, 0x2C},
    {0xFF0D, 0x2D}, {0xFF0E, 0x2E}, {0xFF0F, 0x2F}, {0xFF10, 0x30}, {0xFF11, 0x31}, {0xFF12, 0x32},
    {0xFF13, 0x33}, {0xFF14, 0x34}, {0xFF15, 0x35}, {0xFF16, 0x36}, {0xFF17, 0x37}, {0xFF18, 0x38},
    {0xFF19, 0x39}, {0xFF1A, 0x3A}, {0xFF1B, 0x3B}, {0xFF1C, 0x3C}, {0xFF1D, 0x3D}, {0xFF1E, 0x3E},
    {0xFF20, 0x40}, {0xFF21, 0x41}, {0xFF22, 0x42}, {0xFF23, 0x43}, {0xFF24, 0x44}, {0xFF25, 0x45},
    {0xFF26, 0x46}, {0xFF27, 0x47}, {0xFF28, 0x48}, {0xFF29, 0x49}, {0xFF2A, 0x4A}, {0xFF2B, 0x4B},
    {0xFF2C, 0x4C}, {0xFF2D, 0x4D}, {0xFF2E, 0x4E}, {0xFF2F, 0x4F}, {0xFF30, 0x50}, {0xFF31, 0x51},
    {0xFF32, 0x52}, {0xFF33, 0x53}, {0xFF34, 0x54}, {0xFF35, 0x55}, {0xFF36, 0x56}, {0xFF37, 0x57},
    {0xFF38, 0x58}, {0xFF39, 0x59}, {0xFF3A, 0x5A}, {0xFF3B, 0x5B}, {0xFF3C, 0x5C}, {0xFF3D, 0x5D},
    {0xFF3E, 0x5E}, {0xFF3F, 0x5F}, {0xFF40, 0x60}, {0xFF41, 0x61}, {0xFF42, 0x62}, {0xFF43, 0x63},
    {0xFF44, 0x64}, {0xFF45, 0x65}, {0xFF46, 0x66}, {0xFF47, 0x67}, {0xFF48, 0x68}, {0xFF49, 0x69},
    {0xFF4A, 0x6A}, {0xFF4B, 0x6B}, {0xFF4C, 0x6C}, {0xFF4D, 0x6D}, {0xFF4E, 0x6E}, {0xFF4F, 0x6F},
    {0xFF50, 0x70}, {0xFF51, 0x71}, {0xFF52, 0x72}, {0xFF53, 0x73}, {0xFF54, 0x74}, {0xFF55, 0x75},
    {0xFF56, 0x76}, {0xFF57, 0x77}, {0xFF58, 0x78}, {0xFF59, 0x79}, {0xFF5A, 0x7A}, {0xFF5B, 0x7B},
    {0xFF5C, 0x7C}, {0xFF5D, 0x7D}, {0xFF5E, 0x7E},
};

unsigned char ToAnsi(char16_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return (unsigned char)c;
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == c) return (unsigned char)(0x80 + i);
    const BestFit *end = kBestFit1252 + sizeof kBestFit1252 / sizeof kBestFit1252[0];
    const BestFit *f = std::lower_bound(kBestFit1252, end, c,
                                        [](const BestFit &b, char16_t w) { return b.wide < w; });
    return (f != end && f->wide == c) ? f->byte : (unsigned char)'?';
}

std::string ToAnsi(const WText &w) {
    std::string s;
    s.reserve(w.size());
    for (char16_t c : w) s += (char)ToAnsi(c);
    return s;
}

WText FromCp1252(const std::string &bytes, size_t from) {
    WText w;
    w.reserve(bytes.size() - from);
    for (size_t i = from; i < bytes.size(); ++i) {
        unsigned char b = (unsigned char)bytes[i];
        w += (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : (char16_t)b;
    }
    return w;
}

// UTF-8 as MultiByteToWideChar reads it: each ill-formed sequence (its
// longest valid beginning) becomes one U+FFFD.
WText FromUtf8(const std::string &bytes, size_t from) {
    WText w;
    size_t i = from, n = bytes.size();
    while (i < n) {
        unsigned char b = (unsigned char)bytes[i];
        if (b < 0x80) {
            w += (char16_t)b;
            ++i;
            continue;
        }
        int more = 0;
        unsigned cp = 0;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            more = 1;
            cp = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            more = 2;
            cp = b & 0x0F;
            if (b == 0xE0) lo = 0xA0;
            if (b == 0xED) hi = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            more = 3;
            cp = b & 0x07;
            if (b == 0xF0) lo = 0x90;
            if (b == 0xF4) hi = 0x8F;
        } else {
            w += (char16_t)0xFFFD;
            ++i;
            continue;
        }
        size_t j = i + 1;
        int got = 0;
        while (got < more && j < n) {
            unsigned char c = (unsigned char)bytes[j];
            if (c < lo || c > hi) break;
            cp = (cp << 6) | (c & 0x3F);
            lo = 0x80;
            hi = 0xBF;
            ++j;
            ++got;
        }
        i = j;
        if (got < more) {
            w += (char16_t)0xFFFD;
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            w += (char16_t)(0xD800 + (cp >> 10));
            w += (char16_t)(0xDC00 + (cp & 0x3FF));
        } else {
            w += (char16_t)cp;
        }
    }
    return w;
}

// Whether SetupAPI takes the bytes for UTF-16LE. It decides with the
// IsTextUnicode heuristic over the first 256 characters: never for an odd
// length, a byte-swapped mark, a U+0000 character (even after a mark) or
// byte-swapped white space; otherwise always when a character has a zero
// byte (Latin-1 text as UTF-16 has one in every character), or when the
// text starts with the mark or holds white space as UTF-16. (Measured under
// Wine; Windows' own heuristic is not documented in this detail.)
bool LooksLikeUtf16(const std::string &bytes) {
    size_t n = bytes.size();
    if (n < 2 || (n & 1)) return false;
    size_t count = (bytes[n - 1] == 0 ? n - 1 : n) / 2;
    if (count > 256) count = 256;
    auto unit = [&](size_t i) {
        return (char16_t)((unsigned char)bytes[2 * i] | ((unsigned char)bytes[2 * i + 1] << 8));
    };
    char16_t first = unit(0);
    if (first == 0xFFFE) return false;
    bool zeroByte = false, spaces = false, notUnicode = false;
    for (size_t i = 0; i < count; ++i) {
        char16_t u = unit(i);
        if ((u & 0xFF) == 0 || (u >> 8) == 0) zeroByte = true;
        if (u == '\r' || u == '\n' || u == '\t' || u == ' ' || u == 0x3000) spaces = true;
        if (u == 0 || u == 0x0D00 || u == 0x0A00 || u == 0x0900 || u == 0x2000) notUnicode = true;
    }
    if (notUnicode) return false;
    if (zeroByte) return true;
    return first == 0xFEFF || spaces;
}

// ---- parsing ----

struct Parser {
    WText text;
    size_t pos = 0;
    InfFile *inf = nullptr;
    int section = -1;
    unsigned line = 1;        // of the file, for the error line
    unsigned firstStray = 0;  // first line with text before any section
    DWORD error = 0;
    unsigned errorLine = 0;

    bool AtEol() const { return pos >= text.size() || text[pos] == '\n'; }

    void SkipToEol() {
        while (!AtEol()) ++pos;
    }

    static void Append(WText &field, char16_t c) {
        if (field.size() < kMaxToken) field += c ? c : u' ';
    }

    static void Append(WText &field, const WText &more) {
        for (char16_t c : more) Append(field, c);
    }

    // At a backslash: a run of backslashes and blanks (and maybe a comment)
    // up to the line's end continues the line on the next one; followed by
    // anything else on the same line it is literal text. Returns true when
    // the line was continued (pos then at the next line's first character
    // that is not blank); false with the run in *pRun and pos after it.
    bool Continuation(WText *pRun) {
        size_t start = pos;
        size_t p = pos;
        while (p < text.size() && text[p] != '\n' && (text[p] == '\\' || IsBlank(text[p]))) ++p;
        if (p < text.size() && text[p] == ';') {
            while (p < text.size() && text[p] != '\n') ++p;
        }
        if (p >= text.size()) {
            pos = p;
            pRun->clear();
            return true;  // the end of the file ends the line
        }
        if (text[p] == '\n') {
            ++line;
            pos = p + 1;
            while (pos < text.size() && text[pos] != '\n' && IsBlank(text[pos])) ++pos;
            return true;
        }
        pRun->assign(text, start, p - start);
        pos = p;
        return false;
    }

    // Skips the blanks that start a field, and line continuations there.
    void SkipLeading() {
        for (;;) {
            while (!AtEol() && IsBlank(text[pos])) ++pos;
            if (AtEol() || text[pos] != '\\') return;
            WText run;
            if (!Continuation(&run)) {
                pos -= run.size();  // literal: the field starts with it
                return;
            }
        }
    }

    // One line of a section, from its first character to the line's end.
    InfLine DataLine() {
        InfLine out;
        bool inKey = true;  // no "=" or "," yet: the first field may be the key
        WText field, pending;
        for (;;) {
            if (AtEol()) {
                out.values.push_back(field);
                return out;
            }
            char16_t c = text[pos];
            if (c == ';') {
                out.values.push_back(field);
                SkipToEol();
                return out;
            }
            if (c == ',' || (c == '=' && inKey)) {
                if (c == '=') {
                    out.hasKey = true;
                    out.key = field;
                } else {
                    out.values.push_back(field);
                }
                inKey = false;
                field.clear();
                pending.clear();
                ++pos;
                SkipLeading();
                continue;
            }
            if (c == '"') {
                Append(field, pending);
                pending.clear();
                ++pos;
                while (!AtEol()) {
                    if (text[pos] == '"') {
                        if (pos + 1 < text.size() && text[pos + 1] == '"') {
                            Append(field, u'"');
                            pos += 2;
                            continue;
                        }
                        ++pos;
                        break;
                    }
                    Append(field, text[pos++]);
                }
                continue;
            }
            if (c == '\\') {
                WText run;
                if (Continuation(&run)) {
                    pending.clear();
                } else {
                    Append(field, pending);
                    Append(field, run);
                    pending.clear();
                }
                continue;
            }
            // A NUL is white space in a value; in a key only inside a run
            // that a blank started.
            if (IsBlank(c) || (c == 0 && (!inKey || !pending.empty()))) {
                pending += c;
                ++pos;
                continue;
            }
            Append(field, pending);
            pending.clear();
            Append(field, c);
            ++pos;
        }
    }

    void SectionHeader() {
        size_t close = pos + 1;
        while (close < text.size() && text[close] != '\n' && text[close] != ']') ++close;
        if (close >= text.size() || text[close] != ']') {
            error = ERROR_BAD_SECTION_NAME_LINE;
            errorLine = line;
            return;
        }
        WText name;
        for (size_t i = pos + 1; i < close; ++i) Append(name, text[i]);
        if (name.size() > kMaxSectionName) {
            error = ERROR_SECTION_NAME_TOO_LONG;
            errorLine = line;
            return;
        }
        section = -1;
        for (size_t i = 0; i < inf->sections.size(); ++i)
            if (SameName(inf->sections[i].name, name)) section = (int)i;
        if (section < 0) {
            inf->sections.push_back(InfSection{name, {}});
            section = (int)inf->sections.size() - 1;
        }
        pos = close + 1;
        SkipToEol();  // the rest of a header line is ignored
    }

    void Run() {
        while (pos < text.size() && !error) {
            char16_t c = text[pos];
            if (c == '\n') {
                ++line;
                ++pos;
            } else if (IsBlank(c)) {
                ++pos;
            } else if (c == ';') {
                SkipToEol();
            } else if (c == '[') {
                SectionHeader();
            } else if (section < 0) {
                // Text before the first section is passed over character by
                // character: a "[" or ";" later on such a line still counts.
                if (!firstStray) firstStray = line;
                ++pos;
            } else {
                InfLine l = DataLine();
                inf->sections[section].lines.push_back(l);
            }
        }
    }
};

int FindSection(const InfFile &inf, const WText &name) {
    for (size_t i = 0; i < inf.sections.size(); ++i)
        if (SameName(inf.sections[i].name, name)) return (int)i;
    return -1;
}

// The key a line is found by: its key, or its only field when it has none.
const WText *KeyOf(const InfLine &line) {
    if (line.hasKey) return &line.key;
    return line.values.size() == 1 ? &line.values[0] : nullptr;
}

bool HasSignature(const InfFile &inf) {
    int version = FindSection(inf, Widen("Version"));
    if (version < 0) return false;
    for (const InfLine &l : inf.sections[version].lines) {
        const WText *key = KeyOf(l);
        if (!key || !SameName(*key, Widen("Signature"))) continue;
        if (l.values.empty()) return false;
        const WText &sig = l.values[0];
        return SameName(sig, Widen("$Chicago$")) || SameName(sig, Widen("$Windows NT$")) ||
               SameName(sig, Widen("$Windows 95$"));
    }
    return false;
}

// Reads the file's bytes into *inf. 0 or the error SetupOpenInfFileA reports.
DWORD ReadInf(const std::string &bytes, DWORD style, InfFile *inf, UINT *pErrorLine) {
    Parser p;
    p.inf = inf;
    if (LooksLikeUtf16(bytes)) {
        size_t n = bytes.size() / 2;
        for (size_t i = 0; i < n; ++i)
            p.text += (char16_t)((unsigned char)bytes[2 * i] | ((unsigned char)bytes[2 * i + 1] << 8));
        if (!p.text.empty() && p.text[0] == 0xFEFF) p.text.erase(0, 1);
    } else if (bytes.size() > 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        p.text = FromUtf8(bytes, 3);
    } else {
        p.text = FromCp1252(bytes, 0);
    }
    size_t ctrlZ = p.text.find(u'\x1A');  // Ctrl-Z ends the file
    if (ctrlZ != WText::npos) p.text.resize(ctrlZ);

    p.Run();
    if (p.error) {
        if (pErrorLine) *pErrorLine = p.errorLine;
        return p.error;
    }
    // Text before the first section is tolerated when there is a [Strings]
    // section. A file of such text alone, without any section, Windows
    // rejects for its missing signature (Wine: ERROR_EXPECTED_SECTION_NAME).
    bool wrongStyle = (style & INF_STYLE_WIN4) && !HasSignature(*inf);
    if (p.firstStray && FindSection(*inf, Widen("Strings")) < 0 &&
        !(inf->sections.empty() && wrongStyle)) {
        if (pErrorLine) *pErrorLine = p.firstStray;
        return ERROR_EXPECTED_SECTION_NAME;
    }
    // A file with a Windows signature is of INF_STYLE_WIN4: a caller that
    // asks only for other styles does not get it.
    if (wrongStyle || (!(style & INF_STYLE_WIN4) && HasSignature(*inf))) {
        if (pErrorLine) *pErrorLine = 0;
        return ERROR_WRONG_INF_STYLE;
    }
    // %strkey% tokens come from the one [Strings] section that best fits the
    // thread locale: [Strings.0409], else [Strings.0009], else [Strings].
    // (Wine reads [Strings] only.)
    inf->strings = FindSection(*inf, Widen(kLocaleStrings));
    if (inf->strings < 0) inf->strings = FindSection(*inf, Widen(kLanguageStrings));
    if (inf->strings < 0) inf->strings = FindSection(*inf, Widen("Strings"));
    return 0;
}

// ---- reading lines ----

std::string WindowsDir() { return M().windowsDir; }

// The directory a numeric %dirid% stands for, if it is one the layer knows.
bool DirId(const InfFile &inf, long id, WText *pOut) {
    std::string w = WindowsDir();
    std::string root = w.size() >= 2 && w[1] == ':' ? w.substr(0, 2) + "\\" : "C:\\";
    std::string dir;
    switch (id) {
    case 1: {
        size_t k = inf.path.find_last_of("\\/");
        dir = k == std::string::npos ? std::string() : inf.path.substr(0, k + 1);
        break;
    }
    case 10: dir = w; break;
    case 11: dir = w + "\\system32"; break;
    case 12: dir = w + "\\system32\\drivers"; break;
    case 17: dir = w + "\\inf"; break;
    case 18: dir = w + "\\help"; break;
    case 20: dir = w + "\\fonts"; break;
    case 24: case 30: case 54: dir = root; break;
    case 50: dir = w + "\\system"; break;
    default: return false;
    }
    *pOut = FromCp1252(dir, 0);
    return true;
}

// A %name% that is a decimal number (white space and a sign allowed before it).
bool ParseNumber(const WText &name, long *pValue) {
    size_t i = 0;
    while (i < name.size() && IsBlank(name[i])) ++i;
    bool minus = false;
    if (i < name.size() && (name[i] == '+' || name[i] == '-')) minus = name[i++] == '-';
    if (i >= name.size()) return false;
    long v = 0;
    for (; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return false;
        if (v < 100000000) v = v * 10 + (name[i] - '0');
    }
    *pValue = minus ? -v : v;
    return true;
}

// A field with its %strkey% tokens replaced: from the chosen strings section
// (by key, without regard to case; its first field, not substituted again),
// else a directory id, else left as it stands. "%%" is one "%".
WText Substitute(const InfFile &inf, const WText &field) {
    WText out;
    size_t i = 0;
    while (i < field.size()) {
        size_t open = field.find(u'%', i);
        if (open == WText::npos) {
            out.append(field, i, WText::npos);
            break;
        }
        out.append(field, i, open - i);
        size_t close = field.find(u'%', open + 1);
        if (close == WText::npos) {
            out.append(field, open, WText::npos);
            break;
        }
        WText name = field.substr(open + 1, close - open - 1);
        WText value;
        bool found = false;
        if (name.empty()) {
            value = u"%";
            found = true;
        }
        if (!found && inf.strings >= 0) {
            for (const InfLine &l : inf.sections[inf.strings].lines) {
                const WText *key = KeyOf(l);
                if (key && SameName(*key, name)) {
                    if (!l.values.empty()) {
                        value = l.values[0];
                        found = true;
                    }
                    break;
                }
            }
        }
        long id;
        if (!found && ParseNumber(name, &id) && DirId(inf, id, &value)) {
            found = true;
            // "%10%\x" does not double the directory's final backslash.
            if (close + 1 < field.size() && field[close + 1] == '\\' && !value.empty() &&
                value.back() == '\\')
                value.pop_back();
        }
        if (found)
            out += value;
        else
            out.append(field, open, close - open + 1);
        i = close + 1;
    }
    if (out.size() > kMaxSubstituted) out.resize(kMaxSubstituted);
    return out;
}

std::string LineText(const InfFile &inf, const InfLine &line) {
    std::string text;
    for (size_t i = 0; i < line.values.size(); ++i) {
        if (i) text += ',';
        text += ToAnsi(Substitute(inf, line.values[i]));
    }
    return text;
}

InfFile *FileOf(HINF h, const char *api) {
    auto it = g_infs.find(h);
    if (it == g_infs.end() || !Lookup(h, KInf)) {
        Problem(std::string(api) + " on an INF handle that is not open");
        return nullptr;
    }
    return it->second;
}

// The line a context names, or null (with a problem recorded when the
// context is not one of an open INF).
const InfLine *LineOf(PINFCONTEXT ctx, const char *api, InfFile **ppInf) {
    InfFile *inf = ctx ? FileOf(ctx->CurrentInf, api) : nullptr;
    if (!inf) return nullptr;
    *ppInf = inf;
    if (ctx->Section >= inf->sections.size()) return nullptr;
    const InfSection &s = inf->sections[ctx->Section];
    return ctx->Line < s.lines.size() ? &s.lines[ctx->Line] : nullptr;
}

WText FromAnsi(const char *s) { return FromCp1252(std::string(s), 0); }

}  // namespace

namespace sim {
namespace detail {
void ResetInf() {
    for (auto &f : g_infs) delete f.second;
    g_infs.clear();
}
}  // namespace detail
}  // namespace sim

extern "C" {

HINF WINAPI SetupOpenInfFileA(PCSTR FileName, PCSTR InfClass, DWORD InfStyle, PUINT ErrorLine) {
    (void)InfClass;  // the programs pass none
    Arguments("SetupOpenInfFileA", "style=" + std::to_string(InfStyle));
    DWORD error;
    if (Fault("SetupOpenInfFileA", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    if (!FileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // A bare file name is looked for in %WINDIR%\inf, then in system32.
    std::string path = FileName;
    File *f = nullptr;
    if (path.find_first_of("\\/") == std::string::npos) {
        std::string inInf = WindowsDir() + "\\inf\\" + path;
        std::string inSystem = WindowsDir() + "\\system32\\" + path;
        f = FindFile(inInf);
        path = f ? inInf : inSystem;
        if (!f) f = FindFile(inSystem);
    } else {
        path = ProgramPath(path);
        f = FindFile(path);
    }
    if (!f) {
        File *dir = FindFile(ParentOf(ProgramPath(path)));
        SetLastError(dir && (dir->attributes & FILE_ATTRIBUTE_DIRECTORY) ? ERROR_FILE_NOT_FOUND
                                                                         : ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    if (f->attributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (f->content.empty()) {
        SetLastError(ERROR_FILE_INVALID);  // an empty file cannot be mapped
        return INVALID_HANDLE_VALUE;
    }
    InfFile *inf = new InfFile;
    inf->path = path;
    DWORD result = ReadInf(f->content, InfStyle, inf, ErrorLine);
    if (result) {
        delete inf;
        SetLastError(result);
        return INVALID_HANDLE_VALUE;
    }
    HINF h = NewHandle(KInf, "INF handle for " + path, inf);
    g_infs[h] = inf;
    SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL WINAPI SetupFindFirstLineA(HINF InfHandle, PCSTR Section, PCSTR Key, PINFCONTEXT Context) {
    DWORD error;
    if (Fault("SetupFindFirstLineA", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return FALSE;
    }
    InfFile *inf = FileOf(InfHandle, "SetupFindFirstLineA");
    if (!inf || !Section || !Context) {
        SetLastError(inf ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // A missing section and an empty one read alike: no line.
    int s = FindSection(*inf, FromAnsi(Section));
    if (s >= 0) {
        const std::vector<InfLine> &lines = inf->sections[s].lines;
        for (size_t i = 0; i < lines.size(); ++i) {
            if (Key) {
                const WText *key = KeyOf(lines[i]);
                if (!key || !SameName(Substitute(*inf, *key), FromAnsi(Key))) continue;
            }
            Context->Inf = InfHandle;
            Context->CurrentInf = InfHandle;
            Context->Section = (UINT)s;
            Context->Line = (UINT)i;
            SetLastError(ERROR_SUCCESS);
            return TRUE;
        }
    }
    SetLastError(ERROR_LINE_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI SetupFindNextLine(PINFCONTEXT ContextIn, PINFCONTEXT ContextOut) {
    DWORD error;
    if (Fault("SetupFindNextLine", ERROR_NOT_ENOUGH_MEMORY, &error)) {
        SetLastError(error);
        return FALSE;
    }
    InfFile *inf = ContextIn ? FileOf(ContextIn->CurrentInf, "SetupFindNextLine") : nullptr;
    if (!inf || !ContextOut) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (ContextIn->Section < inf->sections.size() &&
        ContextIn->Line + 1 < inf->sections[ContextIn->Section].lines.size()) {
        INFCONTEXT next = *ContextIn;
        ++next.Line;
        *ContextOut = next;
        SetLastError(ERROR_SUCCESS);
        return TRUE;
    }
    SetLastError(ERROR_LINE_NOT_FOUND);
    return FALSE;
}

BOOL WINAPI SetupGetLineTextA(PINFCONTEXT Context, HINF InfHandle, PCSTR Section, PCSTR Key,
                              PSTR ReturnBuffer, DWORD ReturnBufferSize, PDWORD RequiredSize) {
    DWORD error;
    if (Fault("SetupGetLineTextA", ERROR_INVALID_PARAMETER, &error)) {
        SetLastError(error);
        return FALSE;
    }
    INFCONTEXT found;
    if (!Context) {
        // Without a context the line is looked up by section and key.
        if (!SetupFindFirstLineA(InfHandle, Section, Key, &found)) return FALSE;
        Context = &found;
    }
    InfFile *inf = nullptr;
    const InfLine *line = LineOf(Context, "SetupGetLineTextA", &inf);
    if (!line) {
        SetLastError(inf ? ERROR_LINE_NOT_FOUND : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    std::string text = LineText(*inf, *line);
    DWORD size = (DWORD)text.size() + 1;  // with the terminating NUL
    if (RequiredSize) *RequiredSize = size;
    if (ReturnBuffer) {
        CheckBuffer("SetupGetLineTextA", ReturnBuffer, ReturnBufferSize);
        if (ReturnBufferSize < size) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        memcpy(ReturnBuffer, text.c_str(), size);
    }
    SetLastError(ERROR_SUCCESS);
    return TRUE;
}

void WINAPI SetupCloseInfFile(HINF InfHandle) {
    Note("SetupCloseInfFile");
    if (!InfHandle || InfHandle == INVALID_HANDLE_VALUE) return;
    auto it = g_infs.find(InfHandle);
    if (it == g_infs.end()) {
        Problem("SetupCloseInfFile on an INF handle that is not open");
        return;
    }
    delete it->second;
    g_infs.erase(it);
    Release(InfHandle, KInf, "SetupCloseInfFile");
}

}  // extern "C"
