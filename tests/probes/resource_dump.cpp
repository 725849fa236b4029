// resource_dump FILE TYPE NAME OUT
//     Loads FILE as an image (DONT_RESOLVE_DLL_REFERENCES: mapped and checked by the system
//     loader, nothing run), finds resource TYPE NAME with FindResourceA, as the installer does,
//     and writes exactly the SizeofResource bytes that LockResource gives to OUT. TYPE and NAME
//     are numbers or names ("txt"). Exit 0 done, 1 usage, 2 not loadable, 3 no such resource.
// resource_dump --checksum FILE
//     Compares the checksum stored in FILE's header with MapFileAndCheckSumA's; exit 0 when they
//     agree, 4 when not.
// Link with an image base away from 0x400000: the stub has no relocations and must map there.
#include <windows.h>

#include <imagehlp.h>  // after windows.h, which it needs

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LPCSTR ResourceKey(const char* text) {
    char* end = nullptr;
    const unsigned long number = std::strtoul(text, &end, 10);
    if (*text && !*end && number <= 0xFFFF) return MAKEINTRESOURCEA(number);
    return text;
}

int Checksum(const char* file) {
    DWORD stored = 0, computed = 0;
    const DWORD rc = MapFileAndCheckSumA(const_cast<char*>(file), &stored, &computed);
    if (rc != CHECKSUM_SUCCESS) {
        std::fprintf(stderr, "resource_dump: %s: MapFileAndCheckSumA failed (%lu)\n", file,
                     static_cast<unsigned long>(rc));
        return 2;
    }
    std::printf("stored %08lx computed %08lx\n", static_cast<unsigned long>(stored),
                static_cast<unsigned long>(computed));
    return stored == computed ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--checksum") == 0) return Checksum(argv[2]);
    if (argc != 5) {
        std::fprintf(stderr, "usage: resource_dump FILE TYPE NAME OUT | --checksum FILE\n");
        return 1;
    }
    HMODULE module = LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
    if (!module) {
        std::fprintf(stderr, "resource_dump: %s: the loader refused it (error %lu)\n", argv[1],
                     static_cast<unsigned long>(GetLastError()));
        return 2;
    }
    HRSRC found = FindResourceA(module, ResourceKey(argv[3]), ResourceKey(argv[2]));
    HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data) {
        std::fprintf(stderr, "resource_dump: %s: no resource %s %s (error %lu)\n", argv[1], argv[2],
                     argv[3], static_cast<unsigned long>(GetLastError()));
        return 3;
    }
    const DWORD size = SizeofResource(module, found);
    std::FILE* out = std::fopen(argv[4], "wb");
    if (!out || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0) {
        std::fprintf(stderr, "resource_dump: %s: cannot be written\n", argv[4]);
        return 2;
    }
    std::printf("%lu bytes\n", static_cast<unsigned long>(size));
    FreeLibrary(module);
    return 0;
}
