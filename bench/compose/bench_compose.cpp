// Prints how long the job's file list takes to take 10,000 files and to apply the file
// settings to all of them (Anwenden), and how the file window fills for a folder of 20,000
// files: time until complete, and the longest time the window's thread was not free to
// react. Compared with find(1) listing the same folder.
//
//   bench_compose [FOLDER_FILES=20000] [LIST_FILES=10000]
#include "client/ui/frmaddfile.h"
#include "client/ui/jobpanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <cstdio>

namespace {

class SilentPrompter : public kestro::Prompter {
public:
    void message(const QString& text, Icon, const QString&) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
    bool askYesNo(const QString&, Icon, const QString&) override { return false; }
    QString chooseOpenFile(const QString&, const QString&) override { return {}; }
};

double millis(const QElapsedTimer& t) {
    return t.nsecsElapsed() / 1e6;
}

void benchFileList(int count) {
    SilentPrompter prompter;
    kestro::ui::JobPanel panel(prompter);
    panel.resize(1000, 600);
    panel.show();
    panel.model().appendFiles({{"vorher.pdf", "/auftrag/vorher.pdf"}});
    QList<kestro::compose::NewFile> files;
    files.reserve(count);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("Plan_%1.plt").arg(i, 5, 10, QLatin1Char('0'));
        files.append({name, QStringLiteral("/auftrag/") + name});
    }
    QElapsedTimer t;
    t.start();
    panel.model().appendFiles(files);
    const double added = millis(t);
    panel.grab(); // lays out and paints the list once, as the worker would see it
    std::printf(
        "main window list: %d files added in %.1f ms, shown after %.1f ms (target < 1000 ms)\n",
        count, added, millis(t));

    // Anwenden on every row: the model changes row by row, the columns are fitted once.
    panel.setCatalogueLists({"schwarz/weiß", "farbig"}, {"keine", "heften"}, {"keine"}, {"keine"});
    panel.findChild<QTreeView*>(QStringLiteral("ListView1"))->selectAll();
    t.restart();
    panel.applyToSelectedRows();
    const double applied = millis(t);
    QApplication::processEvents();
    std::printf("main window list: Anwenden on %d rows in %.1f ms, columns fitted after %.1f ms "
                "(target < 1000 ms)\n",
                count + 1, applied, millis(t));
}

void benchFolder(int count) {
    QTemporaryDir dir;
    for (int i = 0; i < count; ++i) {
        QFile f(dir.filePath(QStringLiteral("scan_%1.tif").arg(i)));
        if (!f.open(QIODevice::WriteOnly))
            qFatal("cannot create the benchmark folder");
        f.write(QByteArray(i % 4096, 'x'));
    }

    QElapsedTimer findTimer;
    findTimer.start();
    QProcess find;
    find.start(QStringLiteral("find"),
               {dir.path(), QStringLiteral("-maxdepth"), QStringLiteral("1"),
                QStringLiteral("-type"), QStringLiteral("f"), QStringLiteral("-printf"),
                QStringLiteral("%f %s\\n")});
    find.waitForFinished(-1);
    const double findMs = millis(findTimer);

    QElapsedTimer t;
    t.start();
    kestro::ui::FrmAddFile window(dir.path());
    window.show();
    const double opened = millis(t);
    QElapsedTimer sinceTick;
    sinceTick.start();
    qint64 longestStall = 0;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longestStall = std::max(longestStall, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    tick.start(1);
    double complete = 0;
    QObject::connect(&window, &kestro::ui::FrmAddFile::fillingFinished, [&] {
        complete = millis(t);
        QTimer::singleShot(0, qApp, &QApplication::quit);
    });
    qApp->exec();
    std::printf("file window, folder of %d files: window open after %.1f ms, %d rows complete "
                "after %.1f ms, longest UI stall %.1f ms; find(1) %.1f ms (ratio %.1f)\n",
                count, opened, window.fileList()->model()->rowCount(), complete, longestStall / 1e6,
                findMs, findMs > 0 ? complete / findMs : 0.0);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int folderFiles = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int listFiles = argc > 2 ? std::atoi(argv[2]) : 10000;
    benchFileList(listFiles);
    benchFolder(folderFiles);
    return 0;
}
