// The packing window as the worker sees it, driven by a real packing run.
#include "client/ui/frmprogresszip.h"
#include "client/zip/czip.h"
#include "support/uitest.h"
#include "ui/windowtest.h"

#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

using kestro::ui::FrmProgressZip;
using kestro::zip::cZip;

namespace {

QStringList writeJob(const QTemporaryDir& dir, int files, qsizetype size) {
    QStringList paths;
    QRandomGenerator gen(7);
    for (int i = 0; i < files; ++i) {
        QByteArray text;
        while (text.size() < size)
            text += QByteArray::number(gen.bounded(1000000)) + " lineto stroke\n";
        const QString path = dir.filePath(QStringLiteral("plot%1.ps").arg(i));
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
        paths << path;
    }
    return paths;
}

// Runs the packer with the window wired up as the send does it; returns the result.
qint32 packWithWindow(cZip& packer, FrmProgressZip& window) {
    QObject::connect(&packer, &cZip::BytesPacked, &window, &FrmProgressZip::setProgress);
    QObject::connect(&window, &FrmProgressZip::abortRequested, &window, [&] { packer.Abort(); });
    qint32 result = -1;
    QEventLoop loop;
    QObject::connect(&packer, &cZip::Finished, &loop, [&](qint32 r) {
        result = r;
        loop.quit();
    });
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    EXPECT_TRUE(packer.StartZip());
    loop.exec();
    return result;
}

} // namespace

// The send waits for the ready flag before it packs: raised once the window is shown
// (centred), lowered when it closes. The bar follows a run to its end; the abort button stops
// a run and leaves no archive.
TEST(FrmProgressZip, ShowsCentredFollowsTheRunAndAbortLeavesNoArchive) {
    QTemporaryDir dir;
    FrmProgressZip window;
    kestro::test::saveScreenshot(&window, "frmProgressZip");
    QSignalSpy ready(&window, &FrmProgressZip::readyChanged);
    EXPECT_FALSE(window.isReady());
    window.show();
    ASSERT_TRUE(ready.wait(5000));
    EXPECT_TRUE(window.isReady());
    EXPECT_TRUE(ready.takeFirst().at(0).toBool());
    const QRect area = window.screen()->availableGeometry();
    const QRect frame = window.frameGeometry();
    EXPECT_NEAR(frame.x(), area.x() + (area.width() - frame.width()) / 2, 1);
    EXPECT_NEAR(frame.y(), area.y() + (area.height() - frame.height()) / 2, 1);

    auto* bar = kestro::test::child<QProgressBar>(window, "ProgressBar1");
    EXPECT_EQ(bar->value(), 0);
    cZip whole;
    whole.setZipFile(dir.filePath("whole.zip"));
    for (const QString& f : writeJob(dir, 3, 1 << 20))
        whole.AddFileSpec(f);
    EXPECT_EQ(packWithWindow(whole, window), 0);
    EXPECT_EQ(bar->value(), bar->maximum());

    cZip aborted;
    aborted.setZipFile(dir.filePath("job.zip"));
    for (const QString& f : writeJob(dir, 8, 2 << 20))
        aborted.AddFileSpec(f);
    auto* button = kestro::test::child<QPushButton>(window, "cmdAbort");
    // The worker clicks as soon as the bar moves.
    QObject::connect(&aborted, &cZip::BytesPacked, button, [button](qint64 done, qint64 total) {
        if (done < total && button->isEnabled())
            button->click();
    });
    EXPECT_EQ(packWithWindow(aborted, window), kestro::zip::ZE_ABORT);
    EXPECT_EQ(QDir(dir.path()).entryList({"job.zip*"}, QDir::Files), QStringList());

    window.close();
    EXPECT_FALSE(window.isReady());
    ASSERT_EQ(ready.size(), 1);
    EXPECT_FALSE(ready.takeFirst().at(0).toBool());
}
