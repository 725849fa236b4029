#include "PeResources.h"

#include <algorithm>

namespace {

constexpr uint32_t kHighBit = 0x80000000;  // a named key; a target that is a subdirectory
constexpr uint32_t kDirectorySize = 16;
constexpr uint32_t kEntrySize = 8;
constexpr uint32_t kDataEntrySize = 16;

struct Entry {
    uint32_t key = 0;
    uint32_t target = 0;
    uint32_t at = 0;  // resource offset of the entry itself
};

struct Directory {
    uint32_t at = 0;
    uint16_t named = 0;  // the first `named` entries have named keys
    std::vector<Entry> entries;
};

void Put16(std::vector<uint8_t>* out, uint16_t value) {
    out->push_back(static_cast<uint8_t>(value));
    out->push_back(static_cast<uint8_t>(value >> 8));
}

void Put32(std::vector<uint8_t>* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<uint8_t>(value >> (8 * i)));
}

std::string Describe(const ResourceKey& key) {
    if (!key.name.empty()) return key.name;
    if (key.id == ResourceTypeIcon) return "RT_ICON";
    if (key.id == ResourceTypeIconGroup) return "RT_GROUP_ICON";
    return std::to_string(key.id);
}

bool Damaged(std::string* error, const std::string& what) {
    *error = "damaged resources: " + what;
    return false;
}

bool ReadDirectory(const PeImage& image, uint32_t at, Directory* directory, std::string* error) {
    uint16_t named = 0, ids = 0;
    if (!image.ResourceAt(at, kDirectorySize))
        return Damaged(error, "a directory at offset " + std::to_string(at) + " lies outside them");
    image.ReadResource16(at + 12, &named);
    image.ReadResource16(at + 14, &ids);
    const uint32_t count = static_cast<uint32_t>(named) + ids;
    if (!image.ResourceAt(at + kDirectorySize, count * kEntrySize))
        return Damaged(error, "the directory at offset " + std::to_string(at) + " overruns them");
    directory->at = at;
    directory->named = named;
    directory->entries.clear();
    for (uint32_t i = 0; i < count; ++i) {
        Entry entry;
        entry.at = at + kDirectorySize + i * kEntrySize;
        image.ReadResource32(entry.at, &entry.key);
        image.ReadResource32(entry.at + 4, &entry.target);
        directory->entries.push_back(entry);
    }
    return true;
}

bool KeyMatches(const PeImage& image, const Entry& entry, const ResourceKey& key) {
    if (key.name.empty()) return entry.key == key.id;
    if (!(entry.key & kHighBit)) return false;
    const uint32_t at = entry.key & ~kHighBit;
    uint16_t length = 0;
    if (!image.ReadResource16(at, &length) || length != key.name.size()) return false;
    const uint8_t* units = image.ResourceAt(at + 2, 2u * length);
    if (!units) return false;
    for (size_t i = 0; i < length; ++i) {
        const unsigned unit = units[2 * i] | units[2 * i + 1] << 8;
        const unsigned want = static_cast<unsigned char>(key.name[i]);
        const auto upper = [](unsigned c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
        if (upper(unit) != upper(want)) return false;
    }
    return true;
}

// The entry of `directory` with `key`; false with *error when there is none, or it does not lead
// to a subdirectory.
bool FindSubdirectory(const PeImage& image, const Directory& directory, const ResourceKey& key,
                      const std::string& missing, Entry* found, std::string* error) {
    for (const Entry& entry : directory.entries) {
        if (!KeyMatches(image, entry, key)) continue;
        if (!(entry.target & kHighBit))
            return Damaged(error, "the entry for " + Describe(key) + " is not a directory");
        *found = entry;
        return true;
    }
    *error = "has no " + missing;
    return false;
}

// The language entries of resource type/name; each targets a data entry that lies within the
// resources.
bool FindLanguages(const PeImage& image, const ResourceKey& type, const ResourceKey& name,
                   std::vector<Entry>* languages, std::string* error) {
    const std::string what = "resource " + Describe(type) + " " + Describe(name);
    Directory root, names, languageDirectory;
    Entry typeEntry, nameEntry;
    if (!ReadDirectory(image, 0, &root, error) ||
        !FindSubdirectory(image, root, type, what, &typeEntry, error) ||
        !ReadDirectory(image, typeEntry.target & ~kHighBit, &names, error) ||
        !FindSubdirectory(image, names, name, what, &nameEntry, error) ||
        !ReadDirectory(image, nameEntry.target & ~kHighBit, &languageDirectory, error))
        return false;
    if (languageDirectory.entries.empty()) {
        *error = "has no " + what + " (no language of it)";
        return false;
    }
    for (const Entry& entry : languageDirectory.entries)
        if ((entry.target & kHighBit) || !image.ResourceAt(entry.target, kDataEntrySize))
            return Damaged(error, what + " has a data entry outside them");
    *languages = languageDirectory.entries;
    return true;
}

bool ReadData(const PeImage& image, const Entry& language, const std::string& what,
              std::vector<uint8_t>* data, std::string* error) {
    uint32_t rva = 0, size = 0;
    image.ReadResource32(language.target, &rva);
    image.ReadResource32(language.target + 4, &size);
    const uint8_t* bytes = image.ImageAt(rva, size);
    if (!bytes) return Damaged(error, "the data of " + what + " lies outside the file");
    data->assign(bytes, bytes + size);
    return true;
}

bool Append(PeImage* image, const std::vector<uint8_t>& bytes, uint32_t* offset,
            std::string* error) {
    if (image->AppendResource(bytes.data(), bytes.size(), offset)) return true;
    *error = "the resources would grow past " + std::to_string(PeImage::MaxResourceSize) + " bytes";
    return false;
}

// Appends data and points every language entry's data entry at it.
bool Repoint(PeImage* image, const std::vector<Entry>& languages, const std::vector<uint8_t>& data,
             std::string* error) {
    uint32_t offset = 0;
    if (!Append(image, data, &offset, error)) return false;
    for (const Entry& entry : languages) {
        image->WriteResource32(entry.target, image->ResourceRva() + offset);
        image->WriteResource32(entry.target + 4, static_cast<uint32_t>(data.size()));
    }
    return true;
}

// A directory: the first 12 bytes (characteristics, time stamp, version) copied from template_,
// then the entries, named ones first.
std::vector<uint8_t> DirectoryBytes(const uint8_t* template_, uint16_t named,
                                    const std::vector<Entry>& entries) {
    std::vector<uint8_t> out(template_, template_ + 12);
    Put16(&out, named);
    Put16(&out, static_cast<uint16_t>(entries.size() - named));
    for (const Entry& entry : entries) {
        Put32(&out, entry.key);
        Put32(&out, entry.target);
    }
    return out;
}

}  // namespace

bool ReadResource(const PeImage& image, const ResourceKey& type, const ResourceKey& name,
                  std::vector<uint8_t>* data, std::string* error) {
    std::vector<Entry> languages;
    return FindLanguages(image, type, name, &languages, error) &&
           ReadData(image, languages[0], "resource " + Describe(type) + " " + Describe(name), data,
                    error);
}

bool ReplaceResource(PeImage* image, const ResourceKey& type, const ResourceKey& name,
                     const std::vector<uint8_t>& data, std::string* error) {
    std::vector<Entry> languages;
    return FindLanguages(*image, type, name, &languages, error) &&
           Repoint(image, languages, data, error);
}

bool ReplaceIconGroup(PeImage* image, uint16_t groupId, const std::vector<IconImage>& images,
                      std::string* error) {
    if (images.empty() || images.size() > 0xFFFF) {
        *error = "an icon needs 1 to 65535 images";
        return false;
    }
    const ResourceKey iconType = ResourceKey::Number(ResourceTypeIcon);
    std::vector<Entry> groupLanguages;
    if (!FindLanguages(*image, ResourceKey::Number(ResourceTypeIconGroup),
                       ResourceKey::Number(groupId), &groupLanguages, error))
        return false;
    const uint32_t language = groupLanguages[0].key;

    Directory root, icons;
    Entry iconTypeEntry;
    if (!ReadDirectory(*image, 0, &root, error) ||
        !FindSubdirectory(*image, root, iconType, "RT_ICON resources", &iconTypeEntry, error) ||
        !ReadDirectory(*image, iconTypeEntry.target & ~kHighBit, &icons, error))
        return false;
    uint64_t nextId = 1;
    for (size_t i = icons.named; i < icons.entries.size(); ++i)
        if (!(icons.entries[i].key & kHighBit))
            nextId = std::max<uint64_t>(nextId, icons.entries[i].key + 1);
    if (nextId + images.size() - 1 > 0xFFFF) {
        *error = "no icon numbers left for " + std::to_string(images.size()) + " images";
        return false;
    }
    // The template's 12 bytes are read before any append can move the resources' buffer.
    const std::vector<uint8_t> header(image->ResourceAt(icons.at, 12),
                                      image->ResourceAt(icons.at, 12) + 12);

    std::vector<Entry> entries(icons.entries);
    std::vector<uint8_t> group;
    Put16(&group, 0);
    Put16(&group, 1);
    Put16(&group, static_cast<uint16_t>(images.size()));
    for (size_t i = 0; i < images.size(); ++i) {
        const IconImage& icon = images[i];
        const uint16_t id = static_cast<uint16_t>(nextId + i);
        uint32_t data = 0, dataEntry = 0, languages = 0;
        std::vector<uint8_t> entryBytes;
        if (!Append(image, icon.data, &data, error)) return false;
        Put32(&entryBytes, image->ResourceRva() + data);
        Put32(&entryBytes, static_cast<uint32_t>(icon.data.size()));
        Put32(&entryBytes, 0);  // code page
        Put32(&entryBytes, 0);
        if (!Append(image, entryBytes, &dataEntry, error) ||
            !Append(image, DirectoryBytes(header.data(), 0, {{language, dataEntry, 0}}), &languages,
                    error))
            return false;
        // Every new number is above the old ones, so the numbered entries stay in ascending order.
        entries.push_back({id, languages | kHighBit, 0});

        group.insert(group.end(), {icon.width, icon.height, icon.colorCount, icon.reserved});
        Put16(&group, icon.planes);
        Put16(&group, icon.bitCount);
        Put32(&group, static_cast<uint32_t>(icon.data.size()));
        Put16(&group, id);
    }
    uint32_t directory = 0;
    if (!Append(image, DirectoryBytes(header.data(), icons.named, entries), &directory, error))
        return false;
    image->WriteResource32(iconTypeEntry.at + 4, directory | kHighBit);
    return Repoint(image, groupLanguages, group, error);
}
