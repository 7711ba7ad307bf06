// The codec on POSIX: glibc's iconv with GB18030.
#include <iconv.h>

#include <cerrno>

#include "base/Codec.h"

namespace ristova::codec {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD in UTF-8

// One conversion descriptor per direction and thread: iconv_open is far too
// slow to pay on every cell, and a descriptor must not be shared between threads.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts as much as possible. On a byte that does not convert, appends
    // `bad` and skips it (and, when `skipTrail` says so, the trail bytes that
    // belong to it), then goes on.
    std::string Convert(std::string_view in, std::string_view bad,
                        bool (*skipTrail)(unsigned char)) {
        std::string out;
        if (in.empty()) return out;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(bad);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        out.reserve(in.size() * 2 + 8);
        char buffer[4096];
        char* inPtr = const_cast<char*>(in.data());
        std::size_t inLeft = in.size();
        while (inLeft > 0) {
            char* outPtr = buffer;
            std::size_t outLeft = sizeof buffer;
            std::size_t rc = iconv(cd_, &inPtr, &inLeft, &outPtr, &outLeft);
            out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
            if (rc != static_cast<std::size_t>(-1)) break;
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL (a sequence cut off at the end): replace one
            // unit and carry on with the rest.
            out.append(bad);
            ++inPtr;
            --inLeft;
            while (skipTrail != nullptr && inLeft > 0 &&
                   skipTrail(static_cast<unsigned char>(*inPtr))) {
                ++inPtr;
                --inLeft;
            }
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        char* outPtr = buffer;
        std::size_t outLeft = sizeof buffer;
        iconv(cd_, nullptr, nullptr, &outPtr, &outLeft);
        out.append(buffer, static_cast<std::size_t>(outPtr - buffer));
        return out;
    }

  private:
    iconv_t cd_;
};

bool IsUtf8Trail(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

Converter& ToCp() {
    thread_local Converter c("GB18030", "UTF-8");
    return c;
}

Converter& FromCp() {
    thread_local Converter c("UTF-8", "GB18030");
    return c;
}

}  // namespace

std::string ToCodePage(std::string_view utf8) {
    return ToCp().Convert(utf8, "?", IsUtf8Trail);
}

std::string FromCodePage(std::string_view bytes) {
    return FromCp().Convert(bytes, kReplacement, nullptr);
}

}  // namespace ristova::codec
