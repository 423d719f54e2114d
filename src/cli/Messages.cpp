#include "Messages.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "fileio/FileQuery.h"

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

std::string RefusalText(const std::string& path, const Admission& admission)
{
    const std::string quoted = Quoted(path);
    switch (admission.refusal) {
    case Admission::Refusal::None: return {};
    case Admission::Refusal::NotFound: return WithError("cannot open " + quoted, admission.error);
    case Admission::Refusal::Open:
        if (admission.error == EWOULDBLOCK)
            return "cannot open " + quoted + ": another job is writing it";
        return WithError("cannot open " + quoted, admission.error);
    case Admission::Refusal::NotRegular:
        if (admission.type == S_IFDIR)
            return "cannot read " + quoted + ": it is a folder";
        if (admission.type == 0)
            return "cannot read " + quoted + ": not a regular file";
        return "cannot read " + quoted + ": it is " + FileTypeName(admission.type) + ", not a regular file";
    case Admission::Refusal::LongerThanSize:
        return "cannot read " + quoted + ": it holds more than the " + std::to_string(admission.size) +
               " bytes its size says (a file that grows, or one such as /proc's)";
    case Admission::Refusal::Read: return WithError("cannot read " + quoted, admission.error);
    }
    return "cannot read " + quoted;
}

}  // namespace tessera::cli
