#pragma once

#include <cstdint>
#include <string>

// What globx is given, judged from volume 0's own bytes before any of it is read as an archive,
// so that nothing is printed about a file that is no installer.
enum class InputKind {
    Installer,           // a program with an archive behind it, as far as can be seen
    Unreadable,          // cannot be examined: left to the open to report
    Directory,
    NotInstaller,        // no Windows program: no "MZ"
    ContinuationVolume,  // GLOB<k>.DAT, named so and no program
    StubOnly,            // a Windows program holding nothing behind its image
    BadTrailer,          // a program with data behind it whose trailer does not point there
};

struct InputProbe {
    InputKind kind = InputKind::Unreadable;
    bool peChecked = false;   // a PE image whose trailer points just past it (its 0xFF byte)
    uint32_t imageEnd = 0;    // end of the last section's data; 0 when not a PE image
    uint32_t trailer = 0;     // the trailer's offset
    int continuationDisk = 0; // for ContinuationVolume: the disk it is (GLOB1.DAT is disk 2)
};

InputProbe ProbeInstaller(const std::string& path);

// The one line that says what the input is instead, without "globx: " and the path; empty for
// Installer and Unreadable.
std::string DescribeProbe(const InputProbe& probe);

// True when each of the header's six 64-byte texts ends with a NUL within its field: what every
// installer holds, and what random bytes are about once in ten thousand. (Control characters are
// allowed: a packer may put a tab in a text.)
bool HeaderTextsAreText(const unsigned char* header);

// The k of a file name "GLOB<k>.DAT" in any case, or 0 when name is not one.
int ContinuationNumber(const std::string& fileName);
