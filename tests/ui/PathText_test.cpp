// The mapping between path bytes and the text the widgets show, and the
// reading of dropped URI lists.
#include "PathText.h"

#include <gtest/gtest.h>

#include <QByteArray>

#include <string>
#include <vector>

namespace {

std::string Hex(const std::string& bytes)
{
    return QByteArray::fromStdString(bytes).toHex(' ').toStdString();
}

// Every byte string comes back unchanged; valid UTF-8 reads as usual, and
// look-alikes (a bad byte against the U+FFFD it is often shown as) stay apart.
TEST(PathText, BytesSurviveTheRoundTrip)
{
    const std::vector<std::string> table = {
        "",
        "/tmp/a b.bin",
        "/表示/動画.avi",
        "\x93\xae\x89\xe6.avi",       // Shift_JIS
        "n\xFFx.bin",
        "n\xEF\xBF\xBDx.bin",          // U+FFFD itself
        "\xC0\xAF",                    // overlong '/'
        "\xE0\x80\xAF",                // overlong, three bytes
        "\xED\xA0\x80\xED\xB0\x80",    // a surrogate pair encoded as two
        "\xF4\x90\x80\x80",            // beyond U+10FFFF
        "\xE3\x81",                    // cut short
        "\xF0\x9F\x98\x80 smile",      // four bytes
        "\x80\xBF\xFE\xFF",            // stray bytes
    };
    for (const std::string& bytes : table)
        EXPECT_EQ(Hex(TextToPath(PathToText(bytes))), Hex(bytes));
    for (int b = 0; b < 256; ++b) {
        const std::string one(1, static_cast<char>(b));
        EXPECT_EQ(Hex(TextToPath(PathToText(one))), Hex(one)) << b;
        const std::string inside = "a" + one + "\xE3\x81\x82";
        EXPECT_EQ(Hex(TextToPath(PathToText(inside))), Hex(inside)) << b;
    }

    EXPECT_EQ(PathToText("/表示/動画.avi \xF0\x9F\x98\x80"), QString::fromUtf8("/表示/動画.avi \xF0\x9F\x98\x80"));
    EXPECT_EQ(PathToText("n\xFFx"), QString::fromUtf16(u"n\xDCFFx"));
    EXPECT_NE(PathToText("n\xFFx"), PathToText("n\xEF\xBF\xBDx"));
    // Lone surrogates that no name yields still name one byte string.
    EXPECT_EQ(Hex(TextToPath(QString(QChar(0xD800)))), "ed a0 80");
    EXPECT_EQ(Hex(TextToPath(QString(QChar(0xDC41)))), "ed b1 81");
}

TEST(PathText, UriListsGiveTheRawBytesOfLocalFiles)
{
    const QByteArray list = "# a comment\r\n"
                            "file:///tmp/%93%AE%89%E6.avi\r\n"
                            "file:///tmp/n%FFx.bin\r\n"
                            "file:///tmp/n%EF%BF%BDx.bin\r\n"
                            "FILE://localhost/tmp/a%20b\r\n"
                            "file:/tmp/short%2fform\r\n"
                            "file:///tmp/100%zz\r\n"
                            "file://elsewhere.example/tmp/remote\r\n"
                            "http://example.org/x\r\n"
                            "file:///tmp/zero%00byte\r\n"
                            "\r\n"
                            "file:///last";
    const std::vector<std::string> expected = {
        "/tmp/\x93\xae\x89\xe6.avi", "/tmp/n\xFFx.bin", "/tmp/n\xEF\xBF\xBDx.bin", "/tmp/a b",
        "/tmp/short/form",           "/tmp/100%zz",     "/last",
    };
    EXPECT_EQ(PathsOfUriList(list), expected);
}

}  // namespace
