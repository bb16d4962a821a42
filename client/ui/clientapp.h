#pragma once

class QApplication;

namespace kestro::ui {

// Runs KestroClient: the start-up, the main window and its event loop. Returns the
// program's exit code.
int runClient(QApplication& app);

// German texts for Qt's own dialogs and buttons, German dates in the date picker.
void installGermanLanguage(QApplication& app);

} // namespace kestro::ui
