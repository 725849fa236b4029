#include "IntegrityData.h"

#include <cstdio>
#include <vector>

#include "FileSystem.h"
#include "PeImage.h"
#include "PeResources.h"

IntegrityParse ReadIntegrityData(const std::string& installerPath, int32_t archiveOffset,
                                 IntegrityTable* table, std::string* programGroup) {
    if (archiveOffset < 2) return IntegrityParse::Absent;
    std::vector<uint8_t> stub(static_cast<size_t>(archiveOffset - 1));
    std::FILE* file = OpenFile(installerPath.c_str(), "rb");
    if (!file) return IntegrityParse::Absent;
    const size_t got = std::fread(stub.data(), 1, stub.size(), file);
    std::fclose(file);
    if (got != stub.size()) return IntegrityParse::Absent;

    PeImage image;
    std::string error;
    if (!image.Open(std::move(stub), &error, true)) return IntegrityParse::Absent;
    std::vector<uint8_t> data;
    if (programGroup && ReadResource(image, ResourceKey::Named("PMGROUP"), ResourceKey::Number(107), &data, &error))
        programGroup->assign(data.begin(), data.end());
    if (!ReadResource(image, ResourceKey::Named(IntegrityResourceType),
                      ResourceKey::Number(IntegrityResourceId), &data, &error))
        return IntegrityParse::Absent;
    return ParseIntegrityTable(data.data(), data.size(), table);
}
