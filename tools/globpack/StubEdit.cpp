#include "StubEdit.h"

#include <algorithm>
#include <cstring>

#include "AgreementText.h"
#include "ArchiveWriter.h"
#include "CodePage.h"
#include "IconFile.h"
#include "InputFile.h"
#include "PeImage.h"
#include "PeResources.h"

namespace {

// As resources/resource.h numbers them.
const char kAgreementType[] = "TXT";
constexpr uint16_t kAgreementId = 105;
constexpr uint16_t kIconGroupId = 1;
const char kGroupType[] = "PMGROUP";
constexpr uint16_t kGroupId = 107;
constexpr size_t kGroupNameMost = 63;

// Anything larger than MaxStubSize could not fit volume 0 anyway.
bool ReadInput(const std::string& name, const char* what, std::vector<uint8_t>* bytes,
               std::string* error) {
    return ReadInputFile(name, what, static_cast<size_t>(MaxStubSize), bytes, error);
}

// The room for count members' integrity data: a table of the right size whose entries are still
// zero, recognisable by its first bytes.
std::vector<uint8_t> RoomFor(size_t count) {
    IntegrityTable table;
    table.entries.resize(count);
    return SerializeIntegrityTable(table);
}

uint32_t Get32(const uint8_t* b) {
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

}  // namespace

std::string GroupNameProblem(const std::string& text, int codePage, std::string* bytes) {
    if (text.empty()) return "is empty; name the group or leave --group out";
    if (!ToCodePage(text, codePage, bytes))
        return "cannot be written in code page " + std::to_string(codePage) + "; change the name or the --code-page";
    if (bytes->size() > kGroupNameMost)
        return "is " + std::to_string(bytes->size()) + " bytes in code page " + std::to_string(codePage) +
               ", more than 63; shorten it";
    if (bytes->front() == ' ' || bytes->back() == ' ') return "begins or ends with a space; trim it";
    for (const char c : *bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return "holds a control character; remove it";
        if (std::strchr("[](),\"\\/:*?<>|", u))
            return std::string("holds '") + c +
                   "', which would end the group command or is not allowed in a folder name; remove it";
    }
    return std::string();
}

bool FillIntegrityTable(const IntegrityTable& table, std::vector<uint8_t>* stub) {
    const std::vector<uint8_t> room = RoomFor(table.entries.size());
    const std::vector<uint8_t> filled = SerializeIntegrityTable(table);
    const auto at = std::search(stub->begin(), stub->end(), room.begin(), room.end());
    if (at == stub->end() || room.size() != filled.size()) return false;
    std::copy(filled.begin(), filled.end(), at);
    // The checksum field of the PE32 optional header, 64 bytes into it.
    if (stub->size() < 0x40) return false;
    const size_t checksumOffset = size_t(Get32(stub->data() + 0x3C)) + 24 + 64;
    if (checksumOffset + 4 > stub->size()) return false;
    const uint32_t checksum = PeChecksum(stub->data(), stub->size(), checksumOffset);
    for (int i = 0; i < 4; ++i) (*stub)[checksumOffset + i] = static_cast<uint8_t>(checksum >> (8 * i));
    return true;
}

bool CustomizeStub(const StubChanges& changes, const std::string& stubName,
                   std::vector<uint8_t>* stub, std::string* error) {
    if (changes.licensePath.empty() && changes.iconPath.empty() && !changes.integrity && !changes.group)
        return true;
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
    if (changes.group &&
        !ReplaceResource(&image, ResourceKey::Named(kGroupType), ResourceKey::Number(kGroupId),
                         std::vector<uint8_t>(changes.groupName.begin(), changes.groupName.end()), &what)) {
        *error = stubName + ": " + what + "; pass this build's SETUP.EXE as --stub, or leave --group out";
        return false;
    }
    if (changes.integrity &&
        !ReplaceResource(&image, ResourceKey::Named(IntegrityResourceType),
                         ResourceKey::Number(IntegrityResourceId), RoomFor(changes.integrityMembers),
                         &what)) {
        *error = stubName + ": " + what + "; pass this build's SETUP.EXE as --stub, or --no-integrity";
        return false;
    }
    std::vector<uint8_t> edited = image.Build();
    if (edited.size() > static_cast<size_t>(MaxStubSize)) {
        const std::string culprit =
            !changes.licensePath.empty() ? changes.licensePath
            : !changes.iconPath.empty()  ? changes.iconPath
                                         : "the integrity data of " + std::to_string(changes.integrityMembers) + " members";
        *error = culprit + ": makes SETUP.EXE's program " + std::to_string(edited.size()) +
                 " bytes, more than the " + std::to_string(MaxStubSize) +
                 " that leave its floppy room for the archive; shorten it";
        return false;
    }
    *stub = std::move(edited);
    return true;
}
