#pragma once

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

class QByteArray;
class QMimeData;

// Paths are the file system's bytes; the widgets show QString. One
// reversible mapping joins the two: valid UTF-8 decodes as usual, and each
// byte that is not part of valid UTF-8 becomes the lone surrogate
// U+DC00 + byte, and back. Valid UTF-8 never yields a lone surrogate, so
// TextToPath(PathToText(bytes)) == bytes for every byte string.
[[nodiscard]] QString PathToText(std::string_view bytes);
// The inverse of PathToText. A lone surrogate that PathToText cannot yield
// (below U+DC80, or a high surrogate) is written in its three-byte form,
// which no valid UTF-8 name has either.
[[nodiscard]] std::string TextToPath(const QString& text);

// The local paths named by a text/uri-list, as raw bytes: each file URI
// (empty host or this machine's) percent-decoded byte by byte; other lines
// and comments are skipped.
[[nodiscard]] std::vector<std::string> PathsOfUriList(const QByteArray& list);
// The local files of a drop: from its raw text/uri-list when there is one,
// from its decoded URLs otherwise.
[[nodiscard]] std::vector<std::string> DroppedPaths(const QMimeData* mime);

// The exact path behind a name that a file dialog gave. Qt decodes names
// lossily, a byte that is not UTF-8 becoming U+FFFD: each part of the path
// that holds U+FFFD is looked up in its folder among the entries that Qt
// shows the same way. Empty when a part matches no entry or several: then
// the name cannot be told from its look-alikes.
[[nodiscard]] std::optional<std::string> ChosenPath(const QString& chosen);
