/* Test equipment for the Wine test, preloaded into the wine processes: Linux pseudo-terminals
 * refuse the modem-line ioctls (TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC) with ENOTTY, which makes
 * Wine's serial event wait fail at once. Where the real ioctl refuses them (only Wine's serial
 * code asks, and every COM port of the test's prefix is a pty), this answers as a port whose modem
 * lines are all up would; every other call is the real ioctl's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>

int ioctl(int fd, unsigned long request, ...) {
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    int r = ((int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl"))(fd, request, arg);
    int refused = r == -1 && (errno == ENOTTY || errno == EINVAL);
    if (refused && request == TIOCMGET) {
        *(int*)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
    }
    int modem =
        request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS || request == TIOCMBIC;
    return refused && modem ? 0 : r;
}
