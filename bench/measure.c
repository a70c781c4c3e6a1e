/* measure OUTFILE COMMAND...: runs COMMAND and writes
 * "wall_seconds user_seconds system_seconds peak_rss_kb" to OUTFILE, as
 * /usr/bin/time -f "%e %U %S %M" would (which a fresh system may lack).
 * Exits with the command's status (127 when it could not be started). */
#define _GNU_SOURCE
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: measure OUTFILE COMMAND...\n");
        return 2;
    }
    struct timespec start, end;
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t pid = fork();
    if (pid < 0) return 127;
    if (pid == 0) {
        execvp(argv[2], argv + 2);
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    if (wait4(pid, &status, 0, &usage) < 0) return 127;
    clock_gettime(CLOCK_MONOTONIC, &end);
    double wall = (double)(end.tv_sec - start.tv_sec) + (double)(end.tv_nsec - start.tv_nsec) / 1e9;
    FILE* out = fopen(argv[1], "w");
    if (out == NULL) return 127;
    fprintf(out, "%.3f %.3f %.3f %ld\n", wall,
            (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6,
            (double)usage.ru_stime.tv_sec + (double)usage.ru_stime.tv_usec / 1e6, usage.ru_maxrss);
    fclose(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
