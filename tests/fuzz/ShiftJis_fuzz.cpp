// The Shift_JIS encoding of arbitrary bytes: it accepts exactly valid UTF-8
// whose characters all have a code page 932 form, and what it makes decodes
// back to text of the same number of characters (a character the converter
// would skip is refused). Any bytes decode for display.
#include <iconv.h>

#include <string>

#include "FuzzInput.h"
#include "plan/ShiftJis.h"

using namespace tessera;
using fuzz::Check;

namespace {

// Converts with a fresh iconv descriptor; false on any failure.
bool Convert(const char* to, const char* from, std::string_view in, std::string& out)
{
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1))
        fuzz::Fail("iconv_open");
    out.assign(in.size() * 4 + 8, '\0');
    char* src = const_cast<char*>(in.data());
    std::size_t srcLeft = in.size();
    char* dst = out.data();
    std::size_t dstLeft = out.size();
    const bool ok = iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<std::size_t>(-1) && srcLeft == 0;
    iconv_close(cd);
    out.resize(out.size() - dstLeft);
    return ok;
}

std::size_t Characters(std::string_view utf8)
{
    std::size_t n = 0;
    for (const char c : utf8)
        n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// True when some character of the UTF-8 text converts to no byte at all on
// its own: a character the converter skips has no code page 932 form.
bool SomeCharacterVanishes(std::string_view utf8)
{
    for (std::size_t i = 0; i < utf8.size();) {
        std::size_t length = 1;
        while (i + length < utf8.size() && (static_cast<unsigned char>(utf8[i + length]) & 0xC0) == 0x80)
            ++length;
        std::string one;
        if (Convert("CP932", "UTF-8", utf8.substr(i, length), one) && one.empty())
            return true;
        i += length;
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::string utf32;
    // Any bytes show as UTF-8 text without control characters.
    const std::string shown = DecodeShiftJisForDisplay(text);
    Check(Convert("UTF-32LE", "UTF-8", shown, utf32), "display text is not UTF-8");
    for (const char c : shown)
        Check(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F, "control character shown");
    Check(Characters(shown) <= text.size(), "more characters shown than bytes");

    const Planned<std::string> encoded = EncodeShiftJis(text);
    const bool isUtf8 = Convert("UTF-32LE", "UTF-8", text, utf32);
    if (!encoded) {
        // Either not UTF-8 at all, or a character without a form in the
        // code page; never a valid, fully mappable text.
        std::string direct;
        Check(!isUtf8 || !Convert("CP932", "UTF-8", text, direct) || SomeCharacterVanishes(text),
              "refused a mappable text");
        const Refusal why = encoded.error();
        Check(why.reason == Reason::NoCodePage932Form && why.at < text.size() && !why.token.empty() &&
                  text.substr(why.at, why.token.size()) == why.token,
              "the refusal names no character of the text");
        return 0;
    }
    Check(isUtf8, "encoded text that is not UTF-8");
    Check(encoded->size() <= 2 * text.size(), "more than two bytes a character");
    std::string back;
    Check(Convert("UTF-8", "CP932", *encoded, back), "the encoding does not decode");
    Check(Characters(back) == Characters(text), "characters lost or added");
    bool ascii = true;
    for (const char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        Check(*encoded == text, "ASCII changed");
    return 0;
}
