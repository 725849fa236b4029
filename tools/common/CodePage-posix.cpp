#include "CodePage.h"

#include <iconv.h>

#include <cerrno>

namespace {

std::string IconvName(int codePage) { return "CP" + std::to_string(codePage); }

// Without a //TRANSLIT or //IGNORE suffix glibc's iconv refuses every character that has no exact
// mapping, which is the behaviour both directions want.
bool Convert(const std::string& from, const std::string& to, const std::string& input,
             std::string* output) {
    iconv_t cd = iconv_open(to.c_str(), from.c_str());
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string result;
    char* in = const_cast<char*>(input.data());
    size_t inLeft = input.size();
    char chunk[256];
    bool ok = true;
    for (bool flushing = false;;) {
        char* out = chunk;
        size_t outLeft = sizeof chunk;
        // The final call with no input flushes converters that hold back a base character
        // waiting for a combining mark.
        const size_t rc = flushing ? iconv(cd, nullptr, nullptr, &out, &outLeft)
                                   : iconv(cd, &in, &inLeft, &out, &outLeft);
        result.append(chunk, static_cast<size_t>(out - chunk));
        if (rc == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            ok = false;  // EILSEQ: no mapping or malformed; EINVAL: input ends inside a sequence
            break;
        }
        if (flushing) break;
        flushing = true;
    }
    iconv_close(cd);
    if (ok) *output = std::move(result);
    return ok;
}

}  // namespace

bool CodePageAvailable(int codePage) {
    iconv_t cd = iconv_open(IconvName(codePage).c_str(), "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv_close(cd);
    return true;
}

bool ToCodePage(const std::string& utf8, int codePage, std::string* bytes) {
    return Convert("UTF-8", IconvName(codePage), utf8, bytes);
}

bool FromCodePage(const std::string& bytes, int codePage, std::string* utf8) {
    return Convert(IconvName(codePage), "UTF-8", bytes, utf8);
}
