// What the files that lines are appended to share on both platforms: their paths under a lock, and
// the telling of a file that stops or starts again taking lines.
#include "log/log_file.h"

#include <cstdio>

#include "front/front_end.h"

void SetLineFilePath(LineFile* file, const char* path) {
    Held hold(file->lock);
    snprintf(file->path, sizeof file->path, "%s", path);
    file->named.store(path[0] != '\0');
}

void LineFilePath(LineFile* file, char* path) {
    path[0] = '\0';
    if (file->named.load()) {
        Held hold(file->lock);
        snprintf(path, kLogPathBytes, "%s", file->path);
    }
}

void AppendLine(LineFile* file, const char* what, const char* path, const char* text, size_t n) {
    int written = AppendToLogFile(path, text, n);
    if (written != file->written) {
        file->written = written;
        char told[kLogPathBytes + 32];
        snprintf(told, sizeof told, "%s %s %s", what, path,
                 written ? "written again" : "cannot be written");
        FrontTell(told);
    }
}
