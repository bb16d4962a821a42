#include "common/ansi.h"

#include <cerrno>
#include <iconv.h>

namespace kestro {
namespace {

// iconv has no notion of "replace what does not fit", so the conversion walks the input
// and writes '?' for each code point it refuses.
class Iconv {
public:
    Iconv(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Iconv() {
        if (valid())
            iconv_close(handle_);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

private:
    iconv_t handle_;
};

} // namespace

QByteArray toAnsi(const QString& text) {
    QByteArray out;
    if (text.isEmpty())
        return out;
    Iconv cd("WINDOWS-1252", "UTF-16LE");
    if (!cd.valid()) {
        // No iconv module for the code page: keep Latin-1 and mark the rest.
        out.reserve(text.size());
        for (QChar c : text)
            out.append(c.unicode() < 256 ? char(c.unicode()) : '?');
        return out;
    }
    out.resize(text.size());
    auto* in = const_cast<char*>(reinterpret_cast<const char*>(text.utf16()));
    size_t inLeft = size_t(text.size()) * 2;
    char* dst = out.data();
    size_t outLeft = size_t(out.size());
    while (inLeft > 0) {
        size_t r = iconv(cd.get(), &in, &inLeft, &dst, &outLeft);
        if (r != size_t(-1))
            break;
        if (errno == E2BIG) {
            // Cannot happen for a single-byte target with one output byte per unit, but
            // grow rather than lose text should it ever do so.
            qsizetype used = dst - out.data();
            out.resize(out.size() + 16);
            dst = out.data() + used;
            outLeft += 16;
            continue;
        }
        // EILSEQ or EINVAL: one code point that the code page cannot hold (a lone
        // surrogate included). Skip it as a whole and write '?'.
        const char16_t unit = char16_t(uchar(in[0]) | (uchar(in[1]) << 8));
        size_t skip = 2;
        if (QChar::isHighSurrogate(unit) && inLeft >= 4) {
            const char16_t next = char16_t(uchar(in[2]) | (uchar(in[3]) << 8));
            if (QChar::isLowSurrogate(next))
                skip = 4;
        }
        in += skip;
        inLeft -= skip;
        if (outLeft == 0) {
            qsizetype used = dst - out.data();
            out.resize(out.size() + 16);
            dst = out.data() + used;
            outLeft += 16;
        }
        *dst++ = '?';
        --outLeft;
    }
    out.resize(dst - out.data());
    return out;
}

QString fromAnsi(const QByteArray& bytes) {
    static const char16_t high[32] = {
        0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    QString out;
    out.resize(bytes.size());
    QChar* dst = out.data();
    for (char ch : bytes) {
        const uchar b = uchar(ch);
        *dst++ = (b >= 0x80 && b < 0xA0) ? QChar(high[b - 0x80]) : QChar(b);
    }
    return out;
}

bool isValidUtf8(const QByteArray& bytes) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
    const auto* end = p + bytes.size();
    while (p < end) {
        const uchar b = *p;
        int extra = 0;
        char32_t cp = 0;
        if (b < 0x80) {
            ++p;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            extra = 1;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (end - p <= extra)
            return false;
        for (int i = 1; i <= extra; ++i) {
            if ((p[i] & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        static const char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        p += extra + 1;
    }
    return true;
}

} // namespace kestro
