#pragma once

#include <QDir>
#include <QWidget>

namespace kestro::test {

// Saves a picture of the window into $KESTRO_SCREENSHOTS (when set), as a user sees it.
inline void saveScreenshot(QWidget* window, const QString& name) {
    const QString folder = qEnvironmentVariable("KESTRO_SCREENSHOTS");
    if (folder.isEmpty())
        return;
    QDir().mkpath(folder);
    window->show();
    window->grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png"));
}

} // namespace kestro::test
