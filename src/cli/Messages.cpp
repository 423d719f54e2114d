#include "Messages.h"

#include <cstdio>
#include <cstring>


namespace tessera::cli {

int Fail(const std::string& message)
{
    std::fflush(stdout);
    std::fprintf(stderr, "tessera-cli: %s\n", message.c_str());
    return kExitFailed;
}

std::string Quoted(std::string_view text)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte != 0x7f) {
            quoted += c;
            continue;
        }
        quoted += '\\';
        switch (c) {
        case '\n': quoted += 'n'; break;
        case '\r': quoted += 'r'; break;
        case '\t': quoted += 't'; break;
        default:
            quoted += 'x';
            quoted += kHex[byte >> 4];
            quoted += kHex[byte & 15];
        }
    }
    quoted += '\'';
    return quoted;
}

std::string WithError(const std::string& what, int error)
{
    return error == 0 ? what : what + ": " + std::strerror(error);
}

}  // namespace tessera::cli
