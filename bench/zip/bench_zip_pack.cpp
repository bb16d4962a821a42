// Packs the given files into one archive the way the send pipeline does (file names only,
// one run) and prints the wall time, the archive size and the peak memory.
//
//   bench_zip_pack [--level N] ARCHIVE FILE...
#include "client/zip/czip.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <cstdio>
#include <sys/resource.h>

using kestro::zip::cZip;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    cZip packer;
    if (args.size() > 2 && args.first() == QLatin1String("--level")) {
        packer.setCompressionLevel(char('0' + args.at(1).toInt()));
        args = args.mid(2);
    }
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_zip_pack [--level N] ARCHIVE FILE...\n");
        return 64;
    }
    QFile::remove(args.first());
    packer.setZipFile(args.first());
    for (const QString& file : args.mid(1))
        packer.AddFileSpec(file);
    QElapsedTimer timer;
    timer.start();
    const bool ok = packer.Zip();
    const double seconds = double(timer.elapsed()) / 1000.0;
    struct rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("seconds %.2f bytes %lld packed %d notpacked %d maxrss_kb %ld result %d\n", seconds,
                static_cast<long long>(QFileInfo(args.first()).size()), packer.PackedCount(),
                packer.NotPackedCount(), usage.ru_maxrss, packer.LastResult());
    return ok ? 0 : 1;
}
