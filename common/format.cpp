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
    static const char digits[] = "0123456789abcdef0123456789ABCDEF";
    int len = 0;
    int fits = 1;
    const char *p;

    if (pBuffer == NULL || cbBuffer <= 0)
        return 0;
    for (p = pFormat; *p != 0; p++) {
        char text[24];
        const char *pText = text;
        int n = 0;
        int leftAlign = 0;
        char pad = ' ';
        int width = 0;

        // A plain character, or "%%".
        if (*p != '%' || *++p == '%') {
            PutChar(pBuffer, cbBuffer, &len, &fits, *p);
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
        if (leftAlign || *p == 'c' || *p == 's')
            pad = ' ';
        if (*p == 'd' || *p == 'i' || *p == 'u' || *p == 'x' || *p == 'X') {
            unsigned int value = va_arg(args, unsigned int);
            unsigned int base = (*p == 'x' || *p == 'X') ? 16 : 10;
            const char *set = digits + (*p == 'X' ? 16 : 0);
            char reversed[16];
            int nDigits = 0;

            if ((*p == 'd' || *p == 'i') && (int)value < 0) {
                value = 0u - value;
                // Zero padding goes between the sign and the digits.
                if (pad == '0' && width > 0)
                    width--;
                if (pad == '0')
                    PutChar(pBuffer, cbBuffer, &len, &fits, '-');
                else
                    text[n++] = '-';
            }
            do {
                reversed[nDigits++] = set[value % base];
                value /= base;
            } while (value != 0);
            while (nDigits > 0)
                text[n++] = reversed[--nDigits];
        } else if (*p == 'c') {
            text[n++] = (char)va_arg(args, int);
        } else if (*p == 's') {
            pText = va_arg(args, const char *);
            if (pText == NULL)
                pText = "(null)";
            while (pText[n] != 0)
                n++;
        } else {
            // A lone "%" at the end writes nothing, an unknown one its letter.
            if (*p == 0)
                p--;
            else
                PutChar(pBuffer, cbBuffer, &len, &fits, *p);
            continue;
        }
        PutField(pBuffer, cbBuffer, &len, &fits, pText, n, width, leftAlign, pad);
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
    // MAX_PATH or more is the size it would need: the buffer was not filled.
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
