#pragma once

#include <cstddef>
#include <string>

// Wall-clock decoding on every core, as `globx test` does it: ExtractAll with the integrity data,
// globx's MemberDecoders working ahead on one thread per core, and without it, GuessingDecoders
// guessing where records start, against the plain coder decoding the same files on one thread. The mixed corpus (text and executables in turns of 256 KiB) of
// corpusBytes is timed as one member and as 64 members, in pairs of wall-clock runs; the table
// gives the median MiB/s of both and the median ratio with its range. Returns false (with a
// message on stderr) when a run did not read the whole archive.
bool PrintAllCoreDecodeTable(const std::string& scratch, size_t corpusBytes, int pairs);
