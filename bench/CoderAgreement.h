#pragma once

#include <string>
#include <vector>

#include "BenchCorpus.h"
#include "CoderRuns.h"

// What must hold before a timing means anything: the baseline reproduces the worked example, the
// two encoders write identical bytes (and hold identical models), and both decoders give back the
// input through their own readers. Each failure appends one line to failures. directory is a
// scratch directory owned by the caller.

void CheckWorkedExample(const std::string& directory, std::vector<std::string>& failures);

// Generated members that reach the model's corners: empty, every byte value, runs long enough to
// rebuild, a new byte in the very update that rebuilds.
void CheckGeneratedMembers(const std::string& directory, std::vector<std::string>& failures);

// One corpus, split into members and coded into image by the core's encoder.
void CheckCorpus(const Corpus& corpus, const std::vector<MemberInput>& members,
                 const InstallerImage& image, const std::string& directory,
                 std::vector<std::string>& failures);
