#include "TargetNames.h"

#include <cstring>
#include <string>

#include "CodePage.h"

namespace {

class CodePageNameMapper : public NameMapper {
public:
    explicit CodePageNameMapper(int codePage) : codePage(codePage) {}

    bool Map(const char* storedName, char* mapped, int mappedSize) override {
        std::string utf8;
        if (!FromCodePage(storedName, codePage, &utf8)) return false;
        if (mappedSize <= 0 || utf8.size() >= static_cast<size_t>(mappedSize)) return false;
        std::memcpy(mapped, utf8.c_str(), utf8.size() + 1);
        return true;
    }

private:
    int codePage;
};

}  // namespace

char TargetSeparator() { return '/'; }

std::unique_ptr<NameMapper> MakeTargetNameMapper(int codePage) {
    return std::make_unique<CodePageNameMapper>(codePage);
}
