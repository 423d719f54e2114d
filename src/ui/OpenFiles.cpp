// Files handed to the dialog from outside the window: the command line, or a
// file manager's "open with".
#include <QStringList>

#include "CTesseraDlg.h"
#include "PathText.h"
#include "fileio/FileQuery.h"

namespace {

// Left out: what is no regular file, and relative names, which would be
// looked up in the program's folder. Names are carried as their exact bytes.
bool Admissible(const std::string& path)
{
    if (path.empty() || path.front() != '/')
        return false;
    return tessera::IsRegularFile(path);
}

}  // namespace

void CTesseraDlg::OpenFiles(const std::vector<std::string>& split, const std::vector<std::string>& join)
{
    // A running job reads the source field and the split list.
    if (JobRunning())
        return;
    std::vector<std::string> leftOut;
    for (const std::string& path : split) {
        if (!Admissible(path)) {
            leftOut.push_back(path);
            continue;
        }
        OnClearSplitList();
        SetFieldText(kEditSource, PathToText(path));
    }
    QStringList joined;
    for (const std::string& path : join) {
        if (Admissible(path))
            joined.append(PathToText(path));
        else
            leftOut.push_back(path);
    }
    AppendLines(kListJoin, joined);
    SayLeftOut(leftOut);
}

void CTesseraDlg::SayLeftOut(const std::vector<std::string>& leftOut, const std::string& note)
{
    std::string text;
    if (!leftOut.empty()) {
        text = "ファイルとして開けないため除外 :";
        for (const std::string& path : leftOut)
            text += " 「" + path + "」";
    }
    if (!note.empty())
        text += (text.empty() ? "" : " / ") + note;
    if (!text.empty())
        SetStatus(text);
}
