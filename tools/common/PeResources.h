#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "IconFile.h"
#include "PeImage.h"

// Reading and replacing resources of a PeImage. Every edit appends: new data, and a new copy of
// any directory that gains entries, go behind the existing resources, and the entries that led
// to the old ones are repointed in place. Bytes no longer referenced stay where they were, so
// nothing already there moves.
//
// The tree is walked three levels deep (type, name, language) with every offset checked, so a
// damaged tree gives an error, never a read outside the image. Errors say what is wrong without
// the file's name.

constexpr uint16_t ResourceTypeIcon = 3;       // RT_ICON
constexpr uint16_t ResourceTypeIconGroup = 14; // RT_GROUP_ICON

// A resource type or name: a number, or an ASCII name, matched without regard to case as the
// system's resource lookup matches it.
struct ResourceKey {
    uint16_t id = 0;
    std::string name;  // not empty: the key is this name

    static ResourceKey Number(uint16_t id) { return {id, std::string()}; }
    static ResourceKey Named(std::string name) { return {0, std::move(name)}; }
};

// The bytes of a resource in the first language it has.
bool ReadResource(const PeImage& image, const ResourceKey& type, const ResourceKey& name,
                  std::vector<uint8_t>* data, std::string* error);

// Gives every language of an existing resource the bytes data (empty allowed).
bool ReplaceResource(PeImage* image, const ResourceKey& type, const ResourceKey& name,
                     const std::vector<uint8_t>& data, std::string* error);

// Gives icon group groupId, in every language it has, the images given (at least one). Each
// image becomes a new RT_ICON resource, numbered after the highest icon number in the image, in
// the group's first language; icons the group named before stay in the tree unreferenced, as
// another group may name them too.
bool ReplaceIconGroup(PeImage* image, uint16_t groupId, const std::vector<IconImage>& images,
                      std::string* error);
