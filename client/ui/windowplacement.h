#pragma once

class QWidget;

namespace kestro::ui {

// Secondary windows open in the middle of the screen, not of their parent.
void centerOnScreen(QWidget* window);

// Keeps a window above ordinary windows (or puts it back among them).
void setTopmost(QWidget* window, bool topmost);

} // namespace kestro::ui
