#include "console.h"

#include <cstdio>

void prepareOutput()
{
    // Line buffering: a result line is written out as soon as its line feed
    // is printed, whatever standard output is connected to. Both writers,
    // printf and GMP's formatted output, share this stream.
#ifdef _WIN32
    // The Windows C runtime (msvcrt) takes _IOLBF for full buffering: lines
    // would reach a pipe or a file only when the buffer fills. Unbuffered
    // output writes each printf call out at once instead.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
#else
    std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
#endif
}

void waitForKey()
{
    // A prompt has no line feed; flush it so it stands on the screen
    // during the wait.
    std::fflush(stdout);
    std::getchar();
}

bool outputFailed()
{
    return std::fflush(stdout) != 0 || std::ferror(stdout) != 0;
}
