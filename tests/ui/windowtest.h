#pragma once

// Helpers of the window tests: a window's controls by the names a reviewer looks for,
// clicks and choices as the worker makes them, and waits with the event loop running.
#include "common/settingwriter.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

namespace kestro::test {

// The control `name` of `window`; a failure names it when it is missing.
template <class T = QWidget> T* child(const QObject& window, const char* name) {
    T* w = window.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

inline void press(const QObject& window, const char* button) {
    if (auto* b = child<QAbstractButton>(window, button))
        b->click();
}

inline void choose(const QObject& window, const char* box, const QString& text) {
    auto* c = child<QComboBox>(window, box);
    c->setCurrentIndex(c->findText(text));
    EXPECT_EQ(c->currentText(), text) << box;
}

// The service as the window reaches it: every message is delivered and kept.
class RecordingService : public ServiceMessageSender {
public:
    bool send(const QString& message) override {
        sent << message;
        return true;
    }
    QStringList sent;
};

// Runs the event loop until `done` holds; false when it does not within `timeoutMs`.
// `longestGapMs`, when given, gets the longest gap between two turns of the loop: how
// long the window could not react.
inline bool waitUntil(const std::function<bool()>& done, int timeoutMs = 20000,
                      qint64* longestGapMs = nullptr) {
    QElapsedTimer total, gap;
    total.start();
    gap.start();
    qint64 ignored = 0;
    qint64& longest = longestGapMs ? *longestGapMs : ignored;
    while (!done()) {
        if (total.elapsed() > timeoutMs)
            return false;
        QTest::qWait(5);
        longest = std::max(longest, gap.restart() - 5);
    }
    return true;
}

} // namespace kestro::test
