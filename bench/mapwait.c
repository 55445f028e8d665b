/* Starts a window program and measures, on the X display of $DISPLAY, the
 * time from its exec to the mapping of its first top-level window whose
 * name contains NAME; then, after SETTLE_MS with the window shown, reads its
 * peak resident memory (VmHWM) from /proc and ends it.
 *
 *   mapwait NAME SETTLE_MS PROGRAM [ARG...]
 *   prints: MAPPED_MS VMHWM_KIB
 */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double Now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static long PeakKiB(pid_t pid) {
    char path[64], line[256];
    long kib = -1;
    snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE* f = fopen(path, "r");
    if (!f) return -1;
    while (fgets(line, sizeof line, f))
        if (sscanf(line, "VmHWM: %ld", &kib) == 1) break;
    fclose(f);
    return kib;
}

static int Named(Display* d, Window w, const char* name) {
    char* title = NULL;
    int found = XFetchName(d, w, &title) && title && strstr(title, name);
    if (title) XFree(title);
    return found;
}

int main(int argc, char** argv) {
    if (argc < 4) {
        fprintf(stderr, "usage: %s NAME SETTLE_MS PROGRAM [ARG...]\n", argv[0]);
        return 64;
    }
    const char* name = argv[1];
    const int settle = atoi(argv[2]);
    Display* d = XOpenDisplay(NULL);
    if (!d) {
        fprintf(stderr, "mapwait: cannot open display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(d);
    XSelectInput(d, root, SubstructureNotifyMask);
    XSync(d, False);

    const double start = Now();
    const pid_t pid = fork();
    if (pid == 0) {
        execv(argv[3], argv + 3);
        _exit(127);
    }
    double mapped = -1;
    while (mapped < 0 && Now() - start < 20000) {
        if (!XPending(d)) {
            struct pollfd p = {ConnectionNumber(d), POLLIN, 0};
            poll(&p, 1, 50);
            if (waitpid(pid, NULL, WNOHANG) == pid) {
                fprintf(stderr, "mapwait: %s ended before its window was mapped\n", argv[3]);
                return 1;
            }
            continue;
        }
        XEvent e;
        XNextEvent(d, &e);
        if (e.type == MapNotify && e.xmap.event == root && !e.xmap.override_redirect && Named(d, e.xmap.window, name))
            mapped = Now() - start;
    }
    long peak = -1;
    if (mapped >= 0) {
        usleep((useconds_t)settle * 1000);
        peak = PeakKiB(pid);
    }
    kill(pid, SIGTERM);
    waitpid(pid, NULL, 0);
    XCloseDisplay(d);
    if (mapped < 0) {
        fprintf(stderr, "mapwait: no window named '%s' within 20 s\n", name);
        return 1;
    }
    printf("%.1f %ld\n", mapped, peak);
    return 0;
}
