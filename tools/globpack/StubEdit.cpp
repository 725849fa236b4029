#include "StubEdit.h"

#include "AgreementText.h"
#include "ArchiveWriter.h"
#include "IconFile.h"
#include "InputFile.h"
#include "PeImage.h"
#include "PeResources.h"

namespace {

// As resources/resource.h numbers them.
const char kAgreementType[] = "TXT";
constexpr uint16_t kAgreementId = 105;
constexpr uint16_t kIconGroupId = 1;

// Anything larger than MaxStubSize could not fit volume 0 anyway.
bool ReadInput(const std::string& name, const char* what, std::vector<uint8_t>* bytes,
               std::string* error) {
    return ReadInputFile(name, what, static_cast<size_t>(MaxStubSize), bytes, error);
}

}  // namespace

bool CustomizeStub(const StubChanges& changes, const std::string& stubName,
                   std::vector<uint8_t>* stub, std::string* error) {
    if (changes.licensePath.empty() && changes.iconPath.empty()) return true;
    PeImage image;
    std::string what;
    if (!image.Open(*stub, &what)) {
        *error = stubName + ": " + what + "; the stub's resources cannot be changed";
        return false;
    }
    if (!changes.licensePath.empty()) {
        std::vector<uint8_t> file;
        if (!ReadInput(changes.licensePath, "agreement text", &file, error)) return false;
        std::string text;
        if (!PrepareAgreementText(std::string(file.begin(), file.end()), changes.codePage, &text,
                                  &what)) {
            *error = changes.licensePath + ": " + what;
            return false;
        }
        if (!ReplaceResource(&image, ResourceKey::Named(kAgreementType),
                             ResourceKey::Number(kAgreementId),
                             std::vector<uint8_t>(text.begin(), text.end()), &what)) {
            *error = stubName + ": " + what + "; pass the installer's own SETUP.EXE as --stub";
            return false;
        }
    }
    if (!changes.iconPath.empty()) {
        std::vector<uint8_t> file;
        std::vector<IconImage> images;
        if (!ReadInput(changes.iconPath, "icon file", &file, error)) return false;
        if (!ParseIconFile(file, &images, &what)) {
            *error = changes.iconPath + ": " + what + "; pass a Windows icon file";
            return false;
        }
        if (!ReplaceIconGroup(&image, kIconGroupId, images, &what)) {
            *error = stubName + ": " + what + "; pass the installer's own SETUP.EXE as --stub";
            return false;
        }
    }
    std::vector<uint8_t> edited = image.Build();
    if (edited.size() > static_cast<size_t>(MaxStubSize)) {
        const std::string& culprit =
            changes.licensePath.empty() ? changes.iconPath : changes.licensePath;
        *error = culprit + ": makes SETUP.EXE's program " + std::to_string(edited.size()) +
                 " bytes, more than the " + std::to_string(MaxStubSize) +
                 " that leave its floppy room for the archive; shorten it";
        return false;
    }
    *stub = std::move(edited);
    return true;
}
