#include "ShiftJis.h"

#include <iconv.h>

#include <cstdint>

namespace tessera {

namespace {

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF, no
// truncated sequence. Checked here so that the result never depends on how
// lenient the converter's decoder is.
bool IsValidUtf8(std::string_view text)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const auto* const end = p + text.size();
    while (p < end) {
        const std::uint8_t c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        int extra = 0;
        std::uint8_t lo = 0x80;
        std::uint8_t hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            extra = 2;
            if (c == 0xE0)
                lo = 0xA0;
            else if (c == 0xED)
                hi = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            extra = 3;
            if (c == 0xF0)
                lo = 0x90;
            else if (c == 0xF4)
                hi = 0x8F;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        if (p[1] < lo || p[1] > hi)
            return false;
        for (int k = 2; k <= extra; ++k) {
            if (p[k] < 0x80 || p[k] > 0xBF)
                return false;
        }
        p += extra + 1;
    }
    return true;
}

class Converter {
public:
    Converter() : cd_(iconv_open("CP932", "UTF-8")) {}
    ~Converter()
    {
        if (ok())
            iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

private:
    iconv_t cd_;
};

}  // namespace

std::optional<std::string> EncodeShiftJis(std::string_view utf8)
{
    if (!IsValidUtf8(utf8))
        return std::nullopt;
    if (utf8.empty())
        return std::string();
    // One converter per call: iconv_t carries shift state and is not shared
    // between threads.
    Converter converter;
    if (!converter.ok())
        return std::nullopt;
    // A character of k UTF-8 bytes becomes at most 2 code page bytes.
    std::string out(utf8.size() * 2, '\0');
    char* in = const_cast<char*>(utf8.data());
    std::size_t inLeft = utf8.size();
    char* to = out.data();
    std::size_t outLeft = out.size();
    // No //TRANSLIT and no //IGNORE: a character without a code page 932 form
    // fails with EILSEQ instead of turning into "?" or vanishing.
    if (iconv(converter.get(), &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    if (inLeft != 0)
        return std::nullopt;
    // Flush any shift state (none for this code page, but cheap to be sure).
    if (iconv(converter.get(), nullptr, nullptr, &to, &outLeft) == static_cast<std::size_t>(-1))
        return std::nullopt;
    out.resize(out.size() - outLeft);
    return out;
}

}  // namespace tessera
