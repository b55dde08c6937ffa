#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "log/log_file.h"

int AppendToLogFile(const char* path, const char* text, size_t n) {
    int fd = open(path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
    if (fd < 0) {
        return 0;
    }
    // The file is not shared while a line is written: take an exclusive lock, and skip the line
    // when another holder has it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        close(fd);
        return 0;
    }
    while (n > 0) {
        ssize_t w = write(fd, text, n);
        if (w < 0 && errno == EINTR) {
            continue;
        }
        if (w <= 0) {
            break;
        }
        text += w;
        n -= static_cast<size_t>(w);
    }
    close(fd);  // also releases the lock
    return n == 0 ? 1 : 0;
}

void FormatTimeStamp(char* stamp) {
    struct timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    struct tm local;
    localtime_r(&now.tv_sec, &local);
    size_t n = strftime(stamp, kTimeStampBytes, "%Y-%m-%dT%H:%M:%S", &local);
    snprintf(stamp + n, kTimeStampBytes - n, ".%03ld", now.tv_nsec / 1000000);
}
