#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace tessera::fuzz {

// Takes fixed-size values from the front of a fuzzer's input; what is left
// is the payload. Values past the end of the input are 0.
class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint64_t Take(int bytes)
    {
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value <<= 8;
            if (size_ > 0) {
                value |= *data_++;
                --size_;
            }
        }
        return value;
    }

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    std::string_view rest() const { return {reinterpret_cast<const char*>(data_), size_}; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A finding: says what went wrong and aborts, so the fuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what)
{
    std::fprintf(stderr, "finding: %s\n", what);
    std::abort();
}

inline void Check(bool condition, const char* what)
{
    if (!condition)
        Fail(what);
}

// A model's own reading of a hex digit, kept apart from the table the code
// under test uses: 0 to 15, -1 for any other byte.
inline int ModelHexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

}  // namespace tessera::fuzz
