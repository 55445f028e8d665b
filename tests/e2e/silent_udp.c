/* silent_udp: bind a UDP socket, read datagrams forever, never answer.
 * Used by tests/e2e/netns.sh to play a DNS server that swallows queries.
 * Usage: silent_udp [ADDR [PORT]]   (default 127.0.0.1 53)
 * Prints "ready" on stdout once bound; exits 0 on SIGTERM/SIGINT. */
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static volatile sig_atomic_t stop;
static void on_signal(int sig) { (void)sig; stop = 1; }

int main(int argc, char **argv) {
    const char *addr = argc > 1 ? argv[1] : "127.0.0.1";
    int port = argc > 2 ? atoi(argv[2]) : 53;
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_port = htons((unsigned short)port);
    if (port <= 0 || port > 65535 || inet_pton(AF_INET, addr, &sa.sin_addr) != 1) {
        fprintf(stderr, "silent_udp: bad address %s:%s\n", addr, argc > 2 ? argv[2] : "53");
        return 2;
    }
    struct sigaction act;
    memset(&act, 0, sizeof act);
    act.sa_handler = on_signal; /* no SA_RESTART: recv() returns EINTR */
    sigaction(SIGTERM, &act, NULL);
    sigaction(SIGINT, &act, NULL);
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0 || bind(fd, (struct sockaddr *)&sa, sizeof sa) != 0) {
        fprintf(stderr, "silent_udp: bind %s:%d: %s\n", addr, port, strerror(errno));
        return 1;
    }
    printf("ready\n");
    fflush(stdout);
    char buf[65536];
    unsigned long count = 0;
    while (!stop) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n >= 0)
            fprintf(stderr, "silent_udp: swallowed datagram #%lu (%zd bytes)\n", ++count, n);
        else if (errno != EINTR) {
            fprintf(stderr, "silent_udp: recv: %s\n", strerror(errno));
            return 1;
        }
    }
    close(fd);
    return 0;
}
