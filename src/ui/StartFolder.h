#pragma once

#include <QString>

#include <string>

namespace tessera::ui {

// The folder a file dialog opens in:
// 1. the folder of fieldPath (the path already in the dialog's field) when
//    that path is absolute and its folder exists;
// 2. else the folder in which one of the program's file dialogs last took a
//    file, kept with QSettings, while it still exists;
// 3. else the user's home folder.
// The current directory never serves: it is the program's own folder.
[[nodiscard]] QString StartFolder(const std::string& fieldPath);

// Remembers the folder of a file taken in a file dialog, for the next one.
void RememberFolder(const QString& chosenFile);

}  // namespace tessera::ui
