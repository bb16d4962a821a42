#include "client/zip/zipdeflate.h"

#include <array>
#include <memory>
#include <string_view>
#include <zlib.h>

namespace kestro::zip {

namespace {

constexpr int kRawDeflate = -15;
constexpr int kMemLevel = 8;
constexpr qsizetype kProbeWindow = 8 * 1024;
// A chunk whose level-1 samples keep more than this share of their size is stored.
constexpr double kStoreRatio = 0.97;
// Huffman coding alone is chosen when its samples come within this factor of level 1's.
constexpr double kHuffmanEnough = 1.03;

class Deflater {
public:
    explicit Deflater(int level, int strategy = Z_DEFAULT_STRATEGY) {
        ok_ = deflateInit2(&z_, level, Z_DEFLATED, kRawDeflate, kMemLevel, strategy) == Z_OK;
    }
    ~Deflater() {
        if (ok_)
            deflateEnd(&z_);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;

    bool setDictionary(QByteArrayView dict) {
        if (!ok_ || dict.isEmpty())
            return ok_;
        return deflateSetDictionary(&z_, reinterpret_cast<const Bytef*>(dict.data()),
                                    uInt(dict.size())) == Z_OK;
    }

    // Compresses all of `in` into `out` (appending) and flushes with `flush`.
    bool run(QByteArrayView in, QByteArray& out, int flush) {
        if (!ok_)
            return false;
        const qsizetype start = out.size();
        out.resize(start + qsizetype(deflateBound(&z_, uLong(in.size()))) + 64);
        z_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
        z_.avail_in = uInt(in.size());
        z_.next_out = reinterpret_cast<Bytef*>(out.data() + start);
        z_.avail_out = uInt(out.size() - start);
        const int rc = deflate(&z_, flush);
        const bool done = flush == Z_FINISH ? rc == Z_STREAM_END : rc == Z_OK;
        out.resize(out.size() - qsizetype(z_.avail_out));
        return done && z_.avail_in == 0;
    }

private:
    z_stream z_{};
    bool ok_ = false;
};

// Compressed size of a few windows of the chunk with the given settings.
qsizetype sampleSize(const QByteArray& input, int level, int strategy) {
    const std::array<qsizetype, 3> starts{0, input.size() / 2 - kProbeWindow / 2,
                                          input.size() - kProbeWindow};
    qsizetype out = 0;
    for (qsizetype start : starts) {
        Deflater probe(level, strategy);
        QByteArray sample;
        if (!probe.run(QByteArrayView(input).sliced(start, kProbeWindow), sample, Z_FINISH))
            return 3 * kProbeWindow;
        out += sample.size();
    }
    return out;
}

struct ChunkMethod {
    int level;
    int strategy;
};

// How to deflate a chunk, judged from samples: data that does not shrink is stored;
// data that shrinks only by entropy coding (photos inside a PDF in ASCII85, say) gets
// Huffman coding alone, which is several times faster than searching for matches that
// are not there; everything else gets the full level.
ChunkMethod chooseMethod(const QByteArray& input, int level) {
    if (input.size() < 3 * kProbeWindow)
        return {level, Z_DEFAULT_STRATEGY};
    const double sampled = double(3 * kProbeWindow);
    const qsizetype matched = sampleSize(input, 1, Z_DEFAULT_STRATEGY);
    const qsizetype huffman = sampleSize(input, 1, Z_HUFFMAN_ONLY);
    if (double(std::min(matched, huffman)) >= kStoreRatio * sampled)
        return {0, Z_DEFAULT_STRATEGY};
    if (double(huffman) <= kHuffmanEnough * double(matched))
        return {level, Z_HUFFMAN_ONLY};
    return {level, Z_DEFAULT_STRATEGY};
}

} // namespace

DeflatedChunk deflateChunk(const QByteArray& input, QByteArrayView dictionary, int level,
                           bool last) {
    DeflatedChunk chunk;
    chunk.inputSize = input.size();
    chunk.crc =
        quint32(crc32(0L, reinterpret_cast<const Bytef*>(input.constData()), uInt(input.size())));
    const ChunkMethod method = chooseMethod(input, level);
    Deflater deflater(method.level, method.strategy);
    if (!deflater.setDictionary(dictionary))
        return chunk;
    chunk.data.reserve(input.size() / 2);
    chunk.ok = deflater.run(input, chunk.data, last ? Z_FINISH : Z_SYNC_FLUSH);
    return chunk;
}

bool looksAlreadyCompressed(QByteArrayView head) {
    const auto starts = [&](std::string_view magic, qsizetype at = 0) {
        return head.size() >= at + qsizetype(magic.size()) &&
               head.sliced(at, qsizetype(magic.size())) ==
                   QByteArrayView(magic.data(), qsizetype(magic.size()));
    };
    using namespace std::string_view_literals;
    return starts("\xFF\xD8\xFF"sv) ||      // JPEG
           starts("\x89PNG\r\n\x1A\n"sv) || // PNG
           starts("GIF8"sv) ||              // GIF
           starts("PK\x03\x04"sv) ||        // zip, docx, xlsx, odt
           starts("\x1F\x8B"sv) ||          // gzip
           starts("BZh"sv) ||               // bzip2
           starts("\xFD"
                  "7zXZ\x00"sv) ||                    // xz
           starts("7z\xBC\xAF\x27\x1C"sv) ||          // 7z
           starts("Rar!\x1A\x07"sv) ||                // rar
           starts("\x28\xB5\x2F\xFD"sv) ||            // zstd
           starts("ftyp"sv, 4) ||                     // MP4, MOV, HEIC
           (starts("RIFF"sv) && starts("WEBP"sv, 8)); // WebP
}

ParallelDeflater::ParallelDeflater(QThreadPool& pool, int level, int maxInFlight)
    : pool_(pool), level_(level), maxInFlight_(maxInFlight), crc_(quint32(crc32(0L, nullptr, 0))) {}

ParallelDeflater::~ParallelDeflater() {
    // Jobs hold references to nothing of ours, but waiting keeps threads from outliving
    // the stream that queued them.
    for (auto& f : queue_)
        f.wait();
}

void ParallelDeflater::push(QByteArray chunk, bool last) {
    QByteArray dictionary = previousTail_;
    previousTail_ = chunk.right(kDictionarySize);
    auto task = std::make_shared<std::packaged_task<DeflatedChunk()>>(
        [input = std::move(chunk), dictionary = std::move(dictionary), level = level_, last] {
            return deflateChunk(input, dictionary, level, last);
        });
    queue_.push_back(task->get_future());
    pool_.start([task] { (*task)(); });
}

DeflatedChunk ParallelDeflater::takeNext() {
    DeflatedChunk chunk = queue_.front().get();
    queue_.pop_front();
    crc_ = quint32(crc32_combine(crc_, chunk.crc, z_off_t(chunk.inputSize)));
    taken_ += chunk.inputSize;
    return chunk;
}

} // namespace kestro::zip
