/* LD_PRELOAD=nothreads.so TARNWELL_THREADS=K: pthread_create fails with EAGAIN after K threads, as it does under a
 * task limit (a pids cgroup, systemd's TasksMax) that `ulimit -u` cannot impose on root. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdlib.h>

static atomic_int made;

int pthread_create(pthread_t *thread, const pthread_attr_t *attr, void *(*start)(void *), void *arg) {
    static int (*real)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    const char *most = getenv("TARNWELL_THREADS");
    if (!real) real = (int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *))dlsym(RTLD_NEXT,
                                                                                                     "pthread_create");
    if (!real || (most && atomic_fetch_add(&made, 1) >= atoi(most))) return EAGAIN;
    return real(thread, attr, start, arg);
}
