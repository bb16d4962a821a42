#pragma once

// Waiting in window tests: the event loop keeps running, as it does for the worker.
#include <QElapsedTimer>
#include <QTest>
#include <algorithm>
#include <functional>

namespace kestro::test {

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
