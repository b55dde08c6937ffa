/* Test equipment for the Wine test, preloaded into the wine process only: Linux pseudo-terminals
 * refuse the modem-line ioctls (TIOCMGET, TIOCMSET, TIOCMBIS, TIOCMBIC) with ENOTTY, which makes
 * Wine's serial event wait fail at once. On a pty slave this answers them as a port whose modem
 * lines are all up would; every other call goes to the real ioctl. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

typedef int (*IoctlFn)(int, unsigned long, ...);

/* Unix98 pty slaves have the major numbers 136 to 143. */
static int IsPtySlave(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
        return 0;
    }
    unsigned int m = major(st.st_rdev);
    return m >= 136 && m <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
    static IoctlFn real = 0;
    if (!real) {
        real = (IoctlFn)dlsym(RTLD_NEXT, "ioctl");
    }
    va_list ap;
    va_start(ap, request);
    void* arg = va_arg(ap, void*);
    va_end(ap);
    int r = real(fd, request, arg);
    if (r == -1 && (errno == ENOTTY || errno == EINVAL) && IsPtySlave(fd)) {
        switch (request) {
            case TIOCMGET:
                *(int*)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR;
                return 0;
            case TIOCMSET:
            case TIOCMBIS:
            case TIOCMBIC:
                return 0;
            default:
                break;
        }
    }
    return r;
}
