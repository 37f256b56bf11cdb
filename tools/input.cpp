#include "input.hpp"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

namespace daduzozi_cli {
namespace {

const size_t first_capacity = 64 * 1024;

// A regular file's size lets it be read into one block of exactly the right
// size; one spare byte lets the final read see the end without growing.
size_t initial_capacity(FILE *stream) {
    struct stat status;
    if (fstat(fileno(stream), &status) == 0 && S_ISREG(status.st_mode) && status.st_size >= 0 &&
        static_cast<uintmax_t>(status.st_size) < SIZE_MAX)
        return static_cast<size_t>(status.st_size) + 1;
    return first_capacity;
}

bool grow(char **data, size_t *capacity) {
    if (*capacity > SIZE_MAX / 2)
        return false;
    char *grown = static_cast<char *>(std::realloc(*data, *capacity * 2));
    if (!grown)
        return false;
    *data = grown;
    *capacity *= 2;
    return true;
}

// Reads `stream` to its end. Pipes and terminals give no size, so the block
// grows by doubling until a read returns nothing.
int read_stream(FILE *stream, char **data, size_t *size) {
    size_t capacity = initial_capacity(stream);
    size_t used = 0;
    *data = static_cast<char *>(std::malloc(capacity));
    if (!*data)
        return ENOMEM;
    for (;;) {
        if (used == capacity && !grow(data, &capacity))
            return ENOMEM;
        size_t got = std::fread(*data + used, 1, capacity - used, stream);
        used += got;
        if (got == 0)
            break;
    }
    *size = used;
    return std::ferror(stream) ? (errno ? errno : EIO) : 0;
}

} // namespace

InputBytes::~InputBytes() { std::free(data_); }

bool is_standard_input(const char *path) { return std::strcmp(path, "-") == 0; }

int read_input(const char *path, InputBytes &bytes) {
    bool from_stdin = is_standard_input(path);
    FILE *stream = from_stdin ? stdin : std::fopen(path, "rb");
    if (!stream)
        return errno;
    errno = 0;
    int error = read_stream(stream, &bytes.data_, &bytes.size_);
    if (!from_stdin)
        std::fclose(stream);
    return error;
}

} // namespace daduzozi_cli
