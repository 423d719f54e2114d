#include "ShiftJis.h"

#include <iconv.h>

#include <cstdint>

namespace tessera {

namespace {

// The length of the strict UTF-8 character at the start of text (no overlong
// forms, no surrogates, nothing above U+10FFFF, no truncated sequence); 0 when
// there is none. Checked here so that the result never depends on how lenient
// the converter's decoder is.
std::size_t Utf8Length(std::string_view text)
{
    const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
    const std::uint8_t c = p[0];
    if (c < 0x80)
        return 1;
    std::size_t extra = 0;
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
        return 0;
    }
    if (text.size() <= extra)
        return 0;
    if (p[1] < lo || p[1] > hi)
        return 0;
    for (std::size_t k = 2; k <= extra; ++k) {
        if (p[k] < 0x80 || p[k] > 0xBF)
            return 0;
    }
    return extra + 1;
}

class Converter {
public:
    Converter(const char* to = "CP932", const char* from = "UTF-8") : cd_(iconv_open(to, from)) {}
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

// Appends one decoded character, or "." for one that is not to be shown.
void AppendShown(std::string& out, std::string_view utf8)
{
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    char32_t code = 0;
    if (utf8.size() == 1)
        code = p[0];
    else if (utf8.size() == 2)
        code = (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    else if (utf8.size() == 3)
        code = (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    else
        code = 0xE000;  // nothing in the code page lies beyond the basic plane
    const bool control = code < 0x20 || (code >= 0x7F && code <= 0x9F);
    const bool privateUse = code >= 0xE000 && code <= 0xF8FF;
    if (control || privateUse)
        out += '.';
    else
        out.append(utf8);
}

}  // namespace

std::string DecodeShiftJisForDisplay(std::string_view bytes)
{
    std::string out;
    Converter converter("UTF-8", "CP932");
    if (!converter.ok())
        return std::string(bytes.size(), '.');
    // One character at a time: a character is one byte or a lead byte and a
    // trail byte, and whatever fails to convert costs one "." and one byte.
    for (std::size_t i = 0; i < bytes.size();) {
        bool shown = false;
        for (std::size_t length = 1; length <= 2 && i + length <= bytes.size() && !shown; ++length) {
            char in[2] = {bytes[i], length == 2 ? bytes[i + 1] : '\0'};
            char* from = in;
            std::size_t fromLeft = length;
            char decoded[8];
            char* to = decoded;
            std::size_t toLeft = sizeof decoded;
            iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
            if (iconv(converter.get(), &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1) &&
                fromLeft == 0) {
                AppendShown(out, std::string_view(decoded, sizeof decoded - toLeft));
                i += length;
                shown = true;
            }
        }
        if (!shown) {
            out += '.';
            ++i;
        }
    }
    return out;
}

Planned<std::string> EncodeShiftJis(std::string_view utf8)
{
    if (utf8.empty())
        return std::string();
    // One converter per call: iconv_t carries shift state and is not shared
    // between threads.
    Converter converter;
    if (!converter.ok())
        return Refuse(Reason::NoCodePage932Form, utf8.substr(0, Utf8Length(utf8)), 0);
    std::string out;
    out.reserve(utf8.size() * 2);
    // One character at a time: the converter skips some characters it has no
    // form for (U+E0000, for one) without a word, so a character that gives
    // no byte is refused here, as one that fails.
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t length = Utf8Length(utf8.substr(i));
        if (length == 0)
            return Refuse(Reason::NoCodePage932Form, utf8.substr(i, 1), i);
        const std::string_view character = utf8.substr(i, length);
        char* in = const_cast<char*>(character.data());
        std::size_t inLeft = character.size();
        char bytes[8];
        char* to = bytes;
        std::size_t outLeft = sizeof bytes;
        // No //TRANSLIT and no //IGNORE: a character without a code page 932
        // form fails with EILSEQ instead of turning into "?".
        iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
        if (iconv(converter.get(), &in, &inLeft, &to, &outLeft) == static_cast<std::size_t>(-1) || inLeft != 0 ||
            iconv(converter.get(), nullptr, nullptr, &to, &outLeft) == static_cast<std::size_t>(-1) ||
            outLeft == sizeof bytes)
            return Refuse(Reason::NoCodePage932Form, character, i);
        out.append(bytes, sizeof bytes - outLeft);
        i += length;
    }
    return out;
}

}  // namespace tessera
