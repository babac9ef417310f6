/* LD_PRELOAD shim that measures main-loop iterations without touching the
 * program: its constructor replaces the default main context's poll
 * function with one that times the interval from the return of one poll to
 * the start of the next (prepare, check and dispatch of one iteration).
 *
 * BENCH_LOOP_LOG names a file that receives one line per iteration longer
 * than BENCH_LOOP_THRESHOLD_US (default 4000): "<start_us> <length_us>",
 * start in CLOCK_REALTIME microseconds. Lines are written as they happen
 * (the launcher usually ends by a signal, so nothing waits for exit). */
#define _GNU_SOURCE
#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static int log_fd = -1;
static long long threshold_us = 4000;
static long long last_return_mono = -1;
static long long last_return_real = 0;

static long long now_us(clockid_t clock) {
    struct timespec ts;
    clock_gettime(clock, &ts);
    return (long long)ts.tv_sec * 1000000LL + ts.tv_nsec / 1000;
}

static gint timed_poll(GPollFD* fds, guint nfds, gint timeout) {
    if (last_return_mono >= 0 && log_fd >= 0) {
        const long long length = now_us(CLOCK_MONOTONIC) - last_return_mono;
        if (length >= threshold_us) {
            char line[64];
            const int n = snprintf(line, sizeof line, "%lld %lld\n", last_return_real, length);
            if (n > 0 && write(log_fd, line, (size_t)n) < 0) {
                /* nothing to do: the figure is lost */
            }
        }
    }
    const gint rc = g_poll(fds, nfds, timeout);
    last_return_mono = now_us(CLOCK_MONOTONIC);
    last_return_real = now_us(CLOCK_REALTIME);
    return rc;
}

__attribute__((constructor)) static void install_timed_poll(void) {
    const char* path = getenv("BENCH_LOOP_LOG");
    if (path == NULL || *path == '\0') {
        return;
    }
    const char* threshold = getenv("BENCH_LOOP_THRESHOLD_US");
    if (threshold != NULL && *threshold != '\0') {
        threshold_us = atoll(threshold);
    }
    log_fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    g_main_context_set_poll_func(g_main_context_default(), timed_poll);
}
