/* Process timing helper for scripts/bench.
 *
 *   bench_run stamp FILE -- CMD ARGS...   writes the CLOCK_REALTIME time in
 *       microseconds to FILE, then execs CMD in this same process, so the
 *       stamp is the moment of exec (no fork lies between the two).
 *   bench_run time -- CMD ARGS...        spawns CMD (its standard output on
 *       /dev/null), waits for it and prints "<microseconds> <status>"
 *       (CLOCK_MONOTONIC, spawn to reaped exit).
 *
 * Both look CMD up through PATH. Exit status 127 when CMD cannot start. */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

static long long now_us(clockid_t clock) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    return (long long)ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

static int usage(void) {
    fprintf(stderr, "usage: bench_run stamp FILE -- CMD... | bench_run time -- CMD...\n");
    return 2;
}

int main(int argc, char** argv) {
    if (argc >= 5 && strcmp(argv[1], "stamp") == 0 && strcmp(argv[3], "--") == 0) {
        FILE* out = fopen(argv[2], "w");
        if (out == NULL) {
            perror("bench_run: stamp file");
            return 127;
        }
        fprintf(out, "%lld\n", now_us(CLOCK_REALTIME));
        fclose(out);
        execvp(argv[4], argv + 4);
        perror("bench_run: exec");
        return 127;
    }
    if (argc >= 4 && strcmp(argv[1], "time") == 0 && strcmp(argv[2], "--") == 0) {
        pid_t child;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
        const long long start = now_us(CLOCK_MONOTONIC);
        const int rc = posix_spawnp(&child, argv[3], &actions, NULL, argv + 3, environ);
        posix_spawn_file_actions_destroy(&actions);
        if (rc != 0) {
            fprintf(stderr, "bench_run: spawn %s: %s\n", argv[3], strerror(rc));
            return 127;
        }
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        const long long end = now_us(CLOCK_MONOTONIC);
        printf("%lld %d\n", end - start,
               WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
        return 0;
    }
    return usage();
}
