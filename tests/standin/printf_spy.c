/* Preloaded into the benchmark to record which output goes through the C
 * library's printf (and puts, which compilers substitute for printf of a
 * plain string). Every format is appended to the file named by
 * PRINTF_SPY_LOG, each followed by a 0x1E record separator. GMP's own
 * formatted output does not go through these entries. */
#define _GNU_SOURCE
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>

static void note(const char* text, const char* suffix)
{
    const char* path = getenv("PRINTF_SPY_LOG");
    if (path == NULL)
        return;
    FILE* log = fopen(path, "a");
    if (log == NULL)
        return;
    fprintf(log, "%s%s\x1e", text, suffix);
    fclose(log);
}

int printf(const char* format, ...)
{
    note(format, "");
    va_list args;
    va_start(args, format);
    const int written = vprintf(format, args);
    va_end(args);
    return written;
}

int puts(const char* text)
{
    note(text, "\n");
    if (fputs(text, stdout) == EOF || putchar('\n') == EOF)
        return EOF;
    return 1;
}
