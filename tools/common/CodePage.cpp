#include "CodePage.h"

#include <cctype>

namespace {

const int kSingleByteCodePages[] = {437, 720,  737,  775,  850,  852,  855,  857,  858,
                                    860, 861,  862,  863,  864,  865,  866,  869,  874,
                                    1250, 1251, 1252, 1253, 1254, 1255, 1256, 1257, 1258};

bool IsSingleByte(int codePage) {
    for (int known : kSingleByteCodePages)
        if (known == codePage) return true;
    return false;
}

std::string Lower(const std::string& text) {
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

}  // namespace

bool ParseCodePage(const std::string& text, int* codePage) {
    std::string digits = Lower(text);
    for (const char* prefix : {"windows-", "cp", "ibm"}) {
        const std::string p(prefix);
        if (digits.compare(0, p.size(), p) == 0) {
            digits.erase(0, p.size());
            break;
        }
    }
    if (digits.empty() || digits.size() > 5) return false;
    int number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return false;
        number = number * 10 + (c - '0');
    }
    if (!IsSingleByte(number) || !CodePageAvailable(number)) return false;
    *codePage = number;
    return true;
}

std::string SupportedCodePages() {
    std::string list;
    for (int codePage : kSingleByteCodePages) {
        if (!CodePageAvailable(codePage)) continue;
        if (!list.empty()) list += ", ";
        list += std::to_string(codePage);
    }
    return list;
}
