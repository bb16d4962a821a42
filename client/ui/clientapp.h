#pragma once

class QApplication;
class QWidget;

namespace kestro::ui {

// Runs KestroClient: the start-up, the main window and its event loop. Returns the
// program's exit code.
int runClient(QApplication& app);

// SIGTERM or SIGINT: ends the program even while a message box or another modal window
// waits for an answer, after the main window ran its unload steps.
void endOnTermination(QWidget& mainWindow);

// German texts for Qt's own dialogs and buttons, German dates in the date picker.
void installGermanLanguage(QApplication& app);

} // namespace kestro::ui
