#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "ByteSink.h"
#include "HuffmanModel.h"

// The installer's coder written as plainly as its description reads, in the style of careful,
// straightforward C: buffered byte input and output (a 64 KiB buffer each way, no call through a
// table per byte), one call per bit, the update's backward search over equal weights and the
// rebuild's block moves, an array of four-field nodes. It is the yardstick the real coder in
// archive/ is measured against, and it stays bit-exact with it: same model steps, same bit
// order, same padding.
namespace baseline {

struct Model {
    int32_t leaf[SymbolCount];  // the symbol's leaf, or -1 while it is not in the tree
    int32_t nextFreeNode;
    HuffmanNode nodes[NodeCount];
};

void InitializeModel(Model& model);
void UpdateModel(Model& model, int c);
void RebuildTree(Model& model);
void SwapNodes(Model& model, int i, int j);
// False, with nothing changed, when c is in the tree already or the tree is full.
bool AddNode(Model& model, int c);

// The archive as one byte stream over volume 0 (the installer) and "<baseName><k>.DAT", read
// through a buffer that fread fills. A continuation volume that does not open ends the data;
// nobody is asked for a disk.
class Reader {
public:
    Reader() = default;
    ~Reader() { Close(); }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    bool Open(const char* baseName, const char* firstVolumeName);
    // Seeks to the offset that the 4-byte trailer of volume 0 names; false when that lies outside
    // the file.
    bool PositionAtArchive();
    void Close();

    // 0 to 255, or -1 past the end of the data.
    int ReadByte() {
        if (next != end) {
            ++position;
            return *next++;
        }
        return ReadByteSlow();
    }
    void ReadBytes(void* destination, int count);
    int ReadBit();
    uint32_t ReadBits(int count);
    void AlignToByte() {
        rack = 0;
        mask = 0x80;
    }
    // The end indicator of the current volume: a read has run past the end of the data.
    bool AtVolumeEnd() const { return ended; }
    // The byte feeding bit input was not data.
    bool BitsPastEnd() const { return rack < 0; }

private:
    int ReadByteSlow();
    void SelectVolume();
    void SetEnd();

    std::FILE* file = nullptr;
    bool ended = false;
    int64_t dataLeft = 0;  // bytes the current file may still supply: up to the trailer in volume 0
    unsigned char buffer[1 << 16];
    unsigned char* next = buffer;    // the next byte to hand out
    unsigned char* filled = buffer;  // end of the bytes fread gave
    unsigned char* end = buffer;     // ReadByte's fast path stops here: filled, or a volume's end
    int32_t volume = 0;
    std::string baseName;
    std::string firstVolumeName;
    int32_t position = 0;
    uint8_t mask = 0x80;
    int32_t rack = 0;
};

// One symbol, 0 to 256, an Escape resolved into its byte; -1 for an Escape no coder would send.
int DecodeSymbol(Model& model, Reader& reader);

// Decodes one member from a fresh model, handing each byte to output; returns the member's length,
// or -1 when the bits ran out before EndOfStream or named an impossible Escape. The reader is left
// after EndOfStream.
int64_t DecodeMember(Model& model, Reader& reader, ByteSink& output);

// Reads an installer as the extraction loop does (header, then name, size, three times and bit
// stream per member, up to the 0xFF mark or the end of the data) and decodes every member into
// output, which sees the members' bytes back to back.
struct ArchiveTotals {
    uint32_t members = 0;
    uint64_t decodedBytes = 0;
    bool damaged = false;
};
bool DecodeArchive(const char* baseName, const char* firstVolumeName, ByteSink& output,
                   ArchiveTotals& totals);

// Codes members into bit streams: per symbol, the path from its leaf to the root is collected and
// then sent from the root down, one bit at a time; finished bytes gather in a buffer that goes to
// the sink when full and at the end of each member.
class Encoder {
public:
    explicit Encoder(ByteSink& sink) : sink(sink) {}

    void BeginMember();
    void Put(const uint8_t* data, size_t count);
    // Codes EndOfStream and pads the last byte with 0 bits. False when the sink refused a byte.
    bool EndMember();

    uint64_t BytesOut() const { return bytesOut; }
    const Model& CurrentModel() const { return model; }

private:
    void PutCode(int node);
    void PutBit(int bit);
    void Flush();

    ByteSink& sink;
    uint8_t buffer[1 << 16];
    size_t used = 0;
    Model model{};
    uint8_t mask = 0x80;
    uint8_t rack = 0;
    bool sinkFailed = false;
    uint64_t bytesOut = 0;
};

}  // namespace baseline
