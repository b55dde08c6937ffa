/* Test equipment for the Wine test, preloaded into the wine processes; every COM port of the
 * test's prefix is a pseudo-terminal.
 *  - Linux refuses the modem-line ioctls (TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC) on a pty with
 *    ENOTTY, which makes Wine's serial event wait fail at once: where the real ioctl refuses them,
 *    this answers as a port whose modem lines are all up would.
 *  - A pty whose device end has been closed (the adapter pulled) fails as a removed USB serial
 *    device does on Windows: its ioctls and reads are refused (access denied), where Linux would
 *    report an input/output error (Wine: "not ready") or an end of file.
 * Every other call is the real one's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

/* Whether `fd` is a pty slave (majors 136 to 143) whose other end has been closed. */
static int pulled(int fd) {
    struct stat st;
    struct pollfd p = {fd, 0, 0};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 &&
           major(st.st_rdev) <= 143 && poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
}

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    int modem =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    if (pulled(fd)) {
        errno = EACCES;
        return -1;
    }
    int r = ((int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl"))(fd, request, arg);
    int refused = r == -1 && (errno == ENOTTY || errno == EINVAL);
    if (refused && request == TIOCMGET) {
        *(int*)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    }
    return refused && modem ? 0 : r;
}

ssize_t read(int fd, void* buffer, size_t n) {
    ssize_t r = ((ssize_t(*)(int, void*, size_t))dlsym(RTLD_NEXT, "read"))(fd, buffer, n);
    if ((r == 0 || (r < 0 && errno == EIO)) && n > 0 && pulled(fd)) {
        errno = EACCES;
        return -1;
    }
    return r;
}
