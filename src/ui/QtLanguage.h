#pragma once

namespace tessera::ui {

// Makes Qt's own dialogs and standard buttons (file dialogs, "replace?"
// questions, OK and Cancel) speak Japanese, as the window does, with Qt's
// translation "qtbase_ja" from where Qt keeps its translations. False, and
// Qt stays in English, when that translation is not installed.
bool LoadQtJapanese();

}  // namespace tessera::ui
