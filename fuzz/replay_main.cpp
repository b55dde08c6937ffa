// Replays inputs through the fuzz target without libFuzzer: every file named on the command line,
// or every file in a directory named there. Exits non-zero if a path cannot be read.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool RunFile(const std::string& path) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        fprintf(stderr, "cannot read %s\n", path.c_str());
        return false;
    }
    std::vector<uint8_t> data;
    uint8_t buf[4096];
    size_t got;
    while ((got = fread(buf, 1, sizeof buf, f)) > 0) {
        data.insert(data.end(), buf, buf + got);
    }
    fclose(f);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return true;
}

int main(int argc, char** argv) {
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        struct stat st;
        if (stat(argv[i], &st) != 0) {
            fprintf(stderr, "cannot read %s\n", argv[i]);
            return 1;
        }
        if (!S_ISDIR(st.st_mode)) {
            if (!RunFile(argv[i])) {
                return 1;
            }
            ++files;
            continue;
        }
        DIR* dir = opendir(argv[i]);
        if (!dir) {
            return 1;
        }
        while (struct dirent* e = readdir(dir)) {
            if (e->d_name[0] == '.') {
                continue;
            }
            if (!RunFile(std::string(argv[i]) + "/" + e->d_name)) {
                closedir(dir);
                return 1;
            }
            ++files;
        }
        closedir(dir);
    }
    printf("replayed %d inputs\n", files);
    return files > 0 ? 0 : 1;
}
