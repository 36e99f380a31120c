#include "format.h"

// Appends one character if there is room; the caller keeps one byte for the NUL.
static void PutChar(char *pBuffer, int cbBuffer, int *pLen, int *pFits, char c)
{
    if (*pLen < cbBuffer - 1)
        pBuffer[(*pLen)++] = c;
    else
        *pFits = 0;
}

static void PutField(char *pBuffer, int cbBuffer, int *pLen, int *pFits, const char *pText,
                     int cchText, int width, int leftAlign, char pad)
{
    int i;

    if (!leftAlign)
        for (i = cchText; i < width; i++)
            PutChar(pBuffer, cbBuffer, pLen, pFits, pad);
    for (i = 0; i < cchText; i++)
        PutChar(pBuffer, cbBuffer, pLen, pFits, pText[i]);
    if (leftAlign)
        for (i = cchText; i < width; i++)
            PutChar(pBuffer, cbBuffer, pLen, pFits, ' ');
}

int FormatTextV(char *pBuffer, int cbBuffer, const char *pFormat, va_list args)
{
    static const char lowerDigits[] = "0123456789abcdef";
    static const char upperDigits[] = "0123456789ABCDEF";
    int len = 0;
    int fits = 1;
    const char *p;

    if (pBuffer == NULL || cbBuffer <= 0)
        return 0;
    for (p = pFormat; *p != 0; p++) {
        char digits[16];
        int nDigits = 0;
        int leftAlign = 0;
        char pad = ' ';
        int width = 0;

        if (*p != '%') {
            PutChar(pBuffer, cbBuffer, &len, &fits, *p);
            continue;
        }
        p++;
        if (*p == '%') {
            PutChar(pBuffer, cbBuffer, &len, &fits, '%');
            continue;
        }
        for (; *p == '-' || *p == '0'; p++) {
            if (*p == '-')
                leftAlign = 1;
            else
                pad = '0';
        }
        for (; *p >= '0' && *p <= '9'; p++)
            width = width * 10 + (*p - '0');
        if (*p == 'l' || *p == 'h')
            p++;
        if (leftAlign)
            pad = ' ';
        switch (*p) {
        case 'd':
        case 'i':
        case 'u':
        case 'x':
        case 'X': {
            unsigned int value = va_arg(args, unsigned int);
            int negative = 0;
            unsigned int base = (*p == 'x' || *p == 'X') ? 16 : 10;
            const char *set = (*p == 'X') ? upperDigits : lowerDigits;
            char text[24];
            int n = 0;

            if ((*p == 'd' || *p == 'i') && (int)value < 0) {
                negative = 1;
                value = 0u - value;
            }
            do {
                digits[nDigits++] = set[value % base];
                value /= base;
            } while (value != 0);
            if (negative && pad == '0') {
                PutChar(pBuffer, cbBuffer, &len, &fits, '-');
                if (width > 0)
                    width--;
            } else if (negative) {
                text[n++] = '-';
            }
            while (nDigits > 0)
                text[n++] = digits[--nDigits];
            PutField(pBuffer, cbBuffer, &len, &fits, text, n, width, leftAlign, pad);
            break;
        }
        case 'c': {
            char c = (char)va_arg(args, int);
            PutField(pBuffer, cbBuffer, &len, &fits, &c, 1, width, leftAlign, ' ');
            break;
        }
        case 's': {
            const char *s = va_arg(args, const char *);
            int n = 0;

            if (s == NULL)
                s = "(null)";
            while (s[n] != 0)
                n++;
            PutField(pBuffer, cbBuffer, &len, &fits, s, n, width, leftAlign, ' ');
            break;
        }
        case 0:
            p--;  // a lone "%" at the end
            break;
        default:
            PutChar(pBuffer, cbBuffer, &len, &fits, *p);
            break;
        }
    }
    pBuffer[len] = 0;
    return fits;
}

int FormatText(char *pBuffer, int cbBuffer, const char *pFormat, ...)
{
    va_list args;
    int fits;

    va_start(args, pFormat);
    fits = FormatTextV(pBuffer, cbBuffer, pFormat, args);
    va_end(args);
    return fits;
}

int WindowsPath(char *pPath, const char *pFormat, ...)
{
    va_list args;
    UINT cchDir;
    int fits;

    cchDir = GetWindowsDirectoryA(pPath, MAX_PATH);
    // A result of MAX_PATH or more is the size the folder would need: the
    // buffer was not filled.
    if (cchDir == 0 || cchDir >= MAX_PATH) {
        if (cchDir != 0)
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
        pPath[0] = 0;
        return 0;
    }
    va_start(args, pFormat);
    fits = FormatTextV(pPath + cchDir, MAX_PATH - (int)cchDir, pFormat, args);
    va_end(args);
    // Cut, it would name another file.
    if (!fits)
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return fits;
}
