// Preloaded into the binary by tests: fclose of the file whose name ends in
// $FLOWDEAL_FAIL_CLOSE closes it, then reports an I/O error, as a quota or a
// late write-back failure would.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern "C" int fclose(FILE *stream) {
    using fclose_function = int (*)(FILE *);
    static const auto real_fclose = reinterpret_cast<fclose_function>(dlsym(RTLD_NEXT, "fclose"));
    const char *target = std::getenv("FLOWDEAL_FAIL_CLOSE");
    bool fail = false;
    if (target != nullptr && stream != nullptr && fileno(stream) >= 0) {
        char link[64];
        char path[4096];
        std::snprintf(link, sizeof link, "/proc/self/fd/%d", fileno(stream));
        const ssize_t n = readlink(link, path, sizeof path - 1);
        if (n > 0) {
            path[n] = '\0';
            const char *base = std::strrchr(path, '/');
            fail = base != nullptr && std::strcmp(base + 1, target) == 0;
        }
    }
    const int result = real_fclose(stream);
    if (fail) {
        errno = EIO;
        return EOF;
    }
    return result;
}
