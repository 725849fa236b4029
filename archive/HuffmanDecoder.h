#pragma once

#include "HuffmanModel.h"

class MemberOutput;
class VolumeStream;

enum class DecodeStatus {
    Complete,  // EndOfStream was decoded from data
    Damaged,   // the bits ran past the end of the data, or an Escape no coder would send
    Stopped,   // the host asked to stop
};

// Decodes one member's bit stream from a fresh model into output. The stream is left on the bit
// after EndOfStream; aligning it is the caller's task.
DecodeStatus DecodeMember(HuffmanModel& model, VolumeStream& stream, MemberOutput& output);

// One symbol, 0 to 256; an Escape is resolved into the byte that follows it and added to the
// tree. -1 for an Escape that names a byte already in the tree or finds the tree full.
int DecodeSymbol(HuffmanModel& model, VolumeStream& stream);
