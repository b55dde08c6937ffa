// FrontPrint of the Linux programs: stdout and stderr as the program was given them.
#include <cstdio>

#include "front/front_end.h"

int FrontPrint(int toStderr, const char* text) {
    FILE* out = toStderr ? stderr : stdout;
    fputs(text, out);
    return ferror(out) || fflush(out) != 0 ? 0 : 1;
}
