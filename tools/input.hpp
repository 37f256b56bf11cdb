// Whole inputs in memory: a file or standard input, read to its end.
#pragma once

#include <cstddef>

namespace daduzozi_cli {

// The bytes of one input in a malloc'd block, released by the destructor.
// `data` is never null once read_input succeeded, even for an empty input,
// because the parse call refuses a null buffer.
class InputBytes {
  public:
    InputBytes() = default;
    InputBytes(const InputBytes &) = delete;
    InputBytes &operator=(const InputBytes &) = delete;
    ~InputBytes();

    const char *data() const { return data_; }
    size_t size() const { return size_; }

  private:
    friend int read_input(const char *path, InputBytes &bytes);
    char *data_ = nullptr;
    size_t size_ = 0;
};

// True for the operand that names standard input.
bool is_standard_input(const char *path);

// Reads all of `path` ("-": standard input) into `bytes`. Returns 0 or the
// errno value of the failure (ENOMEM when the bytes do not fit in memory).
int read_input(const char *path, InputBytes &bytes);

} // namespace daduzozi_cli
