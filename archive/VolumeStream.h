#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class Host;

// Stream positions each volume covers: a formatted 3.5" 1.44 MB floppy (2847 sectors of 512 bytes).
constexpr int32_t VolumeSpan = 1457664;

// Size of the trailer at the end of volume 0: the file offset S of the stream's first byte.
constexpr int TrailerSize = 4;

// The byte in front of the stream, at offset S - 1 of volume 0. It is never read as data.
constexpr unsigned char UnreadByte = 0xFF;

// The archive as one logical byte stream over the installer's own file (volume 0) and the
// continuation files "<baseName><k>.DAT". The volume follows the position counter: the read that
// makes position reach k * VolumeSpan is the first byte of volume k, whatever the files hold. In
// volume 0 the byte at file offset x is read with position x + 5.
//
// Reads past the end of the data return -1; bit input then reads ones. A read error shows the
// read-error box once and ends the data. The four trailer bytes of volume 0 are never data.
class VolumeStream {
public:
    explicit VolumeStream(Host& host);
    ~VolumeStream();
    VolumeStream(const VolumeStream&) = delete;
    VolumeStream& operator=(const VolumeStream&) = delete;

    // Opens volume 0 (firstVolumeName, the installer itself), prompting for disk 1 until it
    // opens; false when the user cancelled (no file is open then).
    bool OpenVolumeSet(const char* baseName, const char* firstVolumeName);

    // Reads the trailer (the last four bytes, or those in front of a signature's certificate
    // table: FindTrailer) and positions on the stream's first byte. False when volume 0 is shorter
    // than the trailer, the trailer points outside it, or the byte before the stream is not the
    // 0xFF that the layout puts there (a trailer that is off by any amount); nothing can be read
    // then.
    bool PositionAtArchive();

    // The counted byte reader: 0 to 255, or -1 past the end of the data, after a read error or
    // once the host has asked to stop.
    int ReadByte() {
        if (cursor != fastEnd) {
            ++position;
            return *cursor++;
        }
        return ReadByteSlow();
    }

    // Stores the low 8 bits of count reads (-1 becomes 0xFF); nothing for count <= 0.
    void ReadBytes(void* destination, int32_t count);

    // Most significant bit of each byte first. A byte is fetched when its first bit is needed.
    int ReadBit() {
        if (mask == 0x80) rack = ReadByte();
        const int bit = (rack & mask) != 0;
        mask = static_cast<uint8_t>(mask >> 1 ? mask >> 1 : 0x80);
        return bit;
    }

    // count bits (1 to 32), the first read becoming the most significant.
    uint32_t ReadBits(int count);

    // Drops the unread bits of the current byte.
    void AlignToByte() {
        rack = 0;
        mask = 0x80;
    }

    // The bytes the inline path can hand out before a refill or a volume boundary needs looking
    // at, for readers that take them in bulk and then Skip what they used.
    const unsigned char* Peek() const { return cursor; }
    size_t Contiguous() const { return static_cast<size_t>(fastEnd - cursor); }
    // As count ReadByte calls would (count <= Contiguous()).
    void Skip(size_t count) {
        cursor += count;
        position += static_cast<int32_t>(count);
    }

    // True once a read has run past the end of the data (or failed, or was stopped).
    bool AtVolumeEnd() const { return endIndicator; }

    // True when the current volume holds a further byte of data within its span. Never switches
    // volumes, so it never prompts: after the last byte of a full volume it is false.
    bool MoreDataInVolume();

    // True when the byte now feeding bit input was not data: bits are being made up.
    bool BitsPastEnd() const { return rack < 0; }

    bool ReadFailed() const { return readError; }
    bool Stopped() const { return stopped; }

    // The offset S that the trailer gave.
    int32_t ArchiveOffset() const { return archiveOffset; }

    void CloseVolume();

    // A second place for the continuation volumes, e.g. "<the installer's directory>\GLOB":
    // a volume that is not found under baseName is looked for there before anyone is asked.
    // Empty (the default): baseName only.
    void SetSecondBaseName(const char* base);

    std::FILE* file = nullptr;
    int32_t volume = 0;
    char baseName[256] = {};
    char volumeName[256] = {};
    int32_t position = 0;
    uint8_t mask = 0x80;
    int32_t rack = 0;

private:
    int ReadByteSlow();
    void SelectVolume();
    bool OpenCurrentVolume();
    void MakeVolumeName();
    void ResetBuffer();
    bool Refill();
    void SetFastEnd();

    static constexpr int BufferSize = 1 << 16;

    Host& host;
    char firstVolumeName[256] = {};
    char secondBaseName[256] = {};
    int32_t archiveOffset = 0;
    // Bytes the current volume file may still supply before its data ends: up to the trailer in
    // volume 0, unlimited in the others.
    int64_t dataLeftInFile = 0;
    bool endIndicator = false;
    bool readError = false;
    bool stopped = false;
    unsigned char* cursor = nullptr;   // next byte of buffer to return
    unsigned char* bufferEnd = nullptr;
    unsigned char* fastEnd = nullptr;  // the inline path returns bytes up to here
    unsigned char buffer[BufferSize];
};
