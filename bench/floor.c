/* floor DIR SIZE...: writes one file per SIZE (DIR/floor0, DIR/floor1, ...)
 * of exactly that many bytes with plain sequential write calls of 1 MiB
 * from one buffer, then closes it: the least any program must spend to put
 * the same bytes into the page cache. Exits with 1 on any failure. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { CHUNK = 1 << 20 };

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: floor DIR SIZE...\n");
        return 1;
    }
    static char buffer[CHUNK];
    memset(buffer, 'x', sizeof buffer);
    for (int i = 2; i < argc; ++i) {
        long long left = atoll(argv[i]);
        char path[4096];
        snprintf(path, sizeof path, "%s/floor%d", argv[1], i - 2);
        int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            perror(path);
            return 1;
        }
        while (left > 0) {
            size_t part = left < CHUNK ? (size_t)left : CHUNK;
            ssize_t done = write(fd, buffer, part);
            if (done <= 0) {
                perror(path);
                return 1;
            }
            left -= done;
        }
        if (close(fd) != 0) {
            perror(path);
            return 1;
        }
    }
    return 0;
}
