/* A stand-in for the benchmark in the recorder's tests: prints the
 * transcript in FAKE_BENCH_TRANSCRIPT line by line, as the benchmark does,
 * and works FAKE_BENCH_WORK_MS milliseconds of processor time on one thread
 * before each result line, so that a load on the machine stretches its lines
 * as it stretches the real ones. Then waits for ENTER and ends with status
 * FAKE_BENCH_STATUS (0 unless given). */
#define _POSIX_C_SOURCE 200809L
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double threadSeconds(void)
{
    struct timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(void)
{
    const char* path = getenv("FAKE_BENCH_TRANSCRIPT");
    const char* work = getenv("FAKE_BENCH_WORK_MS");
    const char* status = getenv("FAKE_BENCH_STATUS");
    FILE* file = path ? fopen(path, "rb") : NULL;
    if (file == NULL)
        return 99;
    const double seconds = work ? atof(work) / 1000 : 0;
    setvbuf(stdout, NULL, _IOLBF, BUFSIZ);
    char line[4096];
    volatile unsigned long sink = 0;
    while (fgets(line, sizeof line, file) != NULL) {
        /* A result line ends with its time: work first. */
        if (strstr(line, " s\n") != NULL || strstr(line, " s\r\n") != NULL) {
            const double start = threadSeconds();
            while (threadSeconds() - start < seconds)
                for (int i = 0; i < 10000; ++i)
                    sink += (unsigned long)i;
        }
        fputs(line, stdout);
    }
    fclose(file);
    fflush(stdout);
    getchar();
    return status ? atoi(status) : 0;
}
