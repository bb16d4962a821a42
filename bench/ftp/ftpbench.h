#pragma once

// What the FTP benchmarks share: one timed upload through the client's uploader, and medians.
#include "client/ftp/ftpuploader.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <algorithm>
#include <vector>

namespace kestro::bench {

// Runs one upload as the window does, with an event loop; `seconds` is its wall time.
inline transfer::FtpUploadResult timedUpload(const transfer::FtpUploadRequest& request,
                                             double& seconds) {
    transfer::FtpUploader uploader;
    QEventLoop loop;
    transfer::FtpUploadResult result;
    QObject::connect(&uploader, &transfer::FtpUploader::finished, &loop,
                     [&](const transfer::FtpUploadResult& r) {
                         result = r;
                         loop.quit();
                     });
    QElapsedTimer clock;
    clock.start();
    uploader.start(request);
    loop.exec();
    seconds = double(clock.nsecsElapsed()) / 1e9;
    return result;
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace kestro::bench
