#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QThreadPool>
#include <deque>
#include <future>

// Deflate on several cores without giving up the ratio of one stream: the input is cut
// into chunks, each chunk is compressed on its own thread with the last 32 KiB of the
// chunk before it as its dictionary, and every chunk but the last ends on a byte boundary
// (a sync flush), so the concatenated outputs form one valid raw deflate stream. Chunks
// that will not shrink (a photo inside a PDF, say) are written as stored deflate blocks,
// which costs almost no time; chunks that only entropy coding shrinks skip the match
// search.
namespace kestro::zip {

inline constexpr qsizetype kDeflateChunk = 512 * 1024;
inline constexpr qsizetype kDictionarySize = 32 * 1024;

struct DeflatedChunk {
    QByteArray data;
    quint32 crc = 0;
    qint64 inputSize = 0;
    bool ok = false;
};

// Compresses one chunk; `last` ends the deflate stream. Level 1..9; judged from samples, a
// chunk that will not shrink is stored and one that shrinks by entropy coding alone gets
// Huffman coding without the search for matches.
DeflatedChunk deflateChunk(const QByteArray& input, QByteArrayView dictionary, int level,
                           bool last);

// True for the first bytes of a format that is compressed already (JPEG, PNG, GIF, zip
// and Office files, gzip, bzip2, xz, 7z, rar, zstd, MP4/QuickTime, WebP).
bool looksAlreadyCompressed(QByteArrayView head);

// Keeps up to `maxInFlight` chunks compressing on `pool` and hands their output back in
// order. Used from one thread.
class ParallelDeflater {
public:
    ParallelDeflater(QThreadPool& pool, int level, int maxInFlight);
    ~ParallelDeflater();
    ParallelDeflater(const ParallelDeflater&) = delete;
    ParallelDeflater& operator=(const ParallelDeflater&) = delete;

    bool full() const { return int(queue_.size()) >= maxInFlight_; }
    bool hasPending() const { return !queue_.empty(); }
    // Queues the next chunk of input; `last` ends the stream.
    void push(QByteArray chunk, bool last);
    // Waits for the oldest queued chunk and returns its output; ok is false when zlib
    // failed. Only call when hasPending().
    DeflatedChunk takeNext();
    // CRC-32 and length of all input whose output has been taken.
    quint32 crc() const { return crc_; }
    qint64 bytesTaken() const { return taken_; }

private:
    QThreadPool& pool_;
    int level_;
    int maxInFlight_;
    QByteArray previousTail_;
    std::deque<std::future<DeflatedChunk>> queue_;
    quint32 crc_;
    qint64 taken_ = 0;
};

} // namespace kestro::zip
