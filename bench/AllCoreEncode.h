#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Encoding on every core: the members coded through the same worker pipeline globpack uses
// (RunParallelEncoding) against the plain coder on one thread, timed by the wall clock.

// The pipeline's output on threads threads must be the core's one-thread output byte for byte;
// a difference is added to failures. Checked on the concatenated corpora cut into 64 members.
void CheckAllCoreEncode(const std::vector<const std::vector<uint8_t>*>& corpora, unsigned threads,
                        std::vector<std::string>& failures);

// Prints, for the corpora joined into one mixed corpus, as one member and as 64 members: the
// one-thread CPU ratio of the core coder over the plain one, and the wall-clock ratio of the
// pipeline on threads threads over the plain coder on one, as medians and ranges of paired runs.
void PrintAllCoreEncodeTable(const std::vector<const std::vector<uint8_t>*>& corpora,
                             unsigned threads, int pairs);
