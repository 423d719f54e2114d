#include "PathText.h"

#include <QByteArray>
#include <QFile>
#include <QMimeData>
#include <QUrl>

#include <unistd.h>

#include <memory>
#include <vector>

#include "fileio/FileSystem.h"
#include "plan/ParseNumber.h"

namespace {

constexpr char16_t kEscapeBase = 0xDC00;

// The length of the valid UTF-8 sequence at the start of bytes and its code
// point; 0 when it does not start with one (overlong forms, encoded
// surrogates and values beyond U+10FFFF are not valid).
std::size_t DecodeOne(std::string_view bytes, char32_t& point)
{
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length;
    char32_t least;
    if (lead < 0x80) {
        point = lead;
        return 1;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, least = 0x80, point = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, least = 0x800, point = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, least = 0x10000, point = lead & 0x07;
    } else {
        return 0;
    }
    if (bytes.size() < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(bytes[k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = (point << 6) | (next & 0x3F);
    }
    if (point < least || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
        return 0;
    return length;
}

void AppendUtf8(std::string& out, char32_t point)
{
    if (point < 0x80) {
        out += static_cast<char>(point);
    } else if (point < 0x800) {
        out += static_cast<char>(0xC0 | (point >> 6));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else if (point < 0x10000) {
        out += static_cast<char>(0xE0 | (point >> 12));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (point >> 18));
        out += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (point & 0x3F));
    }
}

bool IsThisHost(const QByteArray& host)
{
    if (host.isEmpty() || host.compare("localhost", Qt::CaseInsensitive) == 0)
        return true;
    char name[256] = {};
    return ::gethostname(name, sizeof name - 1) == 0 && host.compare(name, Qt::CaseInsensitive) == 0;
}

// The local path of one file URI, percent-decoded to bytes; empty when the
// line is no file URI of this machine.
std::string LocalPathOfUri(const QByteArray& uri)
{
    constexpr std::string_view kScheme = "file:";
    if (uri.size() <= static_cast<qsizetype>(kScheme.size()) ||
        !uri.first(kScheme.size()).toLower().startsWith("file:"))
        return {};
    QByteArray rest = uri.mid(kScheme.size());
    if (rest.startsWith("//")) {
        const qsizetype slash = rest.indexOf('/', 2);
        if (slash < 0 || !IsThisHost(rest.mid(2, slash - 2)))
            return {};
        rest = rest.mid(slash);
    }
    if (!rest.startsWith('/'))
        return {};
    std::string path;
    path.reserve(static_cast<std::size_t>(rest.size()));
    for (qsizetype i = 0; i < rest.size(); ++i) {
        const char c = rest[i];
        if (c == '%' && i + 2 < rest.size()) {
            const int high = tessera::kHexDigits[static_cast<unsigned char>(rest[i + 1])];
            const int low = tessera::kHexDigits[static_cast<unsigned char>(rest[i + 2])];
            if (high >= 0 && low >= 0) {
                path += static_cast<char>(high * 16 + low);
                i += 2;
                continue;
            }
        }
        path += c;
    }
    // No file name holds a zero byte.
    if (path.find('\0') != std::string::npos)
        return {};
    return path;
}

}  // namespace

QString PathToText(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    while (!bytes.empty()) {
        char32_t point;
        const std::size_t length = DecodeOne(bytes, point);
        if (length == 0) {
            text.append(QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[0]))));
            bytes.remove_prefix(1);
            continue;
        }
        if (point < 0x10000) {
            text.append(QChar(static_cast<char16_t>(point)));
        } else {
            text.append(QChar(QChar::highSurrogate(point)));
            text.append(QChar(QChar::lowSurrogate(point)));
        }
        bytes.remove_prefix(length);
    }
    return text;
}

std::string TextToPath(const QString& text)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < size && QChar::isLowSurrogate(text[i + 1].unicode())) {
            AppendUtf8(bytes, QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            ++i;
        } else if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF) {
            bytes += static_cast<char>(unit - kEscapeBase);
        } else {
            AppendUtf8(bytes, unit);
        }
    }
    return bytes;
}

std::vector<std::string> PathsOfUriList(const QByteArray& list)
{
    std::vector<std::string> paths;
    for (QByteArray line : list.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        std::string path = LocalPathOfUri(line);
        if (!path.empty())
            paths.push_back(std::move(path));
    }
    return paths;
}

std::vector<std::string> DroppedPaths(const QMimeData* mime)
{
    if (!mime)
        return {};
    // The raw list keeps the name's bytes; QUrl::toLocalFile does not.
    const QString uriList = QStringLiteral("text/uri-list");
    if (mime->hasFormat(uriList))
        return PathsOfUriList(mime->data(uriList));
    std::vector<std::string> paths;
    for (const QUrl& url : mime->urls()) {
        if (url.isLocalFile())
            paths.push_back(TextToPath(url.toLocalFile()));
    }
    return paths;
}

std::optional<std::string> ChosenPath(const QString& chosen)
{
    if (!chosen.contains(QChar::ReplacementCharacter))
        return TextToPath(chosen);
    std::string path;
    const QStringList parts = chosen.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        if (i > 0)
            path += '/';
        if (!part.contains(QChar::ReplacementCharacter)) {
            path += TextToPath(part);
            continue;
        }
        // The folder read so far, with its closing slash.
        const std::string folder = i == 0 ? std::string(".") : path;
        std::vector<std::string> names;
        if (tessera::RealFiles().List(folder, names) != 0)
            return std::nullopt;
        std::optional<std::string> match;
        for (const std::string& entry : names) {
            const QByteArray name = QByteArray::fromStdString(entry);
            if (QFile::decodeName(name) != part)
                continue;
            if (match)
                return std::nullopt;  // look-alikes: none can be told from the others
            match = name.toStdString();
        }
        if (!match)
            return std::nullopt;
        path += *match;
    }
    return path;
}
