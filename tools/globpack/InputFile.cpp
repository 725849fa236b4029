#include "InputFile.h"

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const char* KindName(fs::file_type type) {
    switch (type) {
    case fs::file_type::directory: return "a directory";
    case fs::file_type::fifo: return "a FIFO";
    case fs::file_type::block:
    case fs::file_type::character: return "a device";
    case fs::file_type::socket: return "a socket";
    default: return "not a regular file";
    }
}

}  // namespace

bool ReadInputFile(const std::string& name, const char* what, size_t limit,
                   std::vector<uint8_t>* bytes, std::string* error) {
    const fs::path path = fs::u8path(name);
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (status.type() == fs::file_type::not_found) {
        *error = name + ": no such file; name the " + what;
        return false;
    }
    if (ec) {
        *error = name + ": cannot be examined (" + ec.message() + "); check its permissions";
        return false;
    }
    if (status.type() != fs::file_type::regular) {
        *error = name + ": is " + KindName(status.type()) + "; the " + what +
                 " must be a regular file";
        return false;
    }
    std::ifstream input(path, std::ios::binary);
    if (!input) {
        *error = name + ": cannot be opened; check its permissions";
        return false;
    }
    // One byte more than allowed tells a file that is too large, or grew, from one that fits.
    bytes->assign(limit + 1, 0);
    input.read(reinterpret_cast<char*>(bytes->data()), static_cast<std::streamsize>(limit + 1));
    if (input.bad()) {
        *error = name + ": cannot be read; check the file and its disk";
        return false;
    }
    const size_t got = static_cast<size_t>(input.gcount());
    if (got > limit) {
        *error = name + ": more than " + std::to_string(limit) + " bytes, too large for the " +
                 what + "; shorten it";
        return false;
    }
    bytes->resize(got);
    return true;
}
