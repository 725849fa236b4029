#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Benchmark inputs of a fixed size, built at run time. The file corpora read sorted file lists
// and take at most perFileLimit bytes from the start of each file, so a system gives the same
// bytes on every run; when the files hold less than size bytes, what they hold is repeated.
// An empty result means that no usable file was found.
struct Corpus {
    std::string name;
    std::vector<uint8_t> bytes;
};

// Licence texts (/usr/share/common-licenses, then /usr/share/doc/*/copyright).
Corpus TextCorpus(size_t size);

// ELF executables under /usr/bin.
Corpus BinaryCorpus(size_t size);

// Uniformly random bytes from a fixed-seed generator; the same on every system.
Corpus RandomCorpus(size_t size, uint64_t seed);
