#include <cinttypes>
#include <cstdio>
#include <iostream>
#include <string>

#include "Commands.h"
#include "FileTime.h"
#include "InstallerReader.h"
#include "JsonWriter.h"
#include "StoredText.h"
#include "TerminalProgress.h"

namespace {

// A text and, when the code page could not convert every byte, the stored bytes beside it.
void WriteStoredText(JsonWriter& json, const std::string& key, const std::string& stored,
                     int codePage) {
    bool exact;
    json.Key(key);
    json.String(StoredTextToUtf8(stored, codePage, &exact));
    if (!exact) {
        json.Key(key + "Bytes");
        json.String(HexBytes(stored));
    }
}

void WriteTime(JsonWriter& json, const std::string& key, uint64_t fileTime) {
    json.Key(key);
    json.Number(fileTime);
    json.Key(key + "Utc");
    const std::string iso = FileTimeToIso8601(fileTime);
    if (iso.empty())
        json.Null();
    else
        json.String(iso);
}

// Members are written as they are decoded: nothing of the archive is kept but the running sums.
class ListObserver : public MemberObserver {
public:
    ListObserver(const CommonOptions& options, JsonWriter* json, TerminalProgress& progress,
                 uint32_t totalSize)
        : options(options), json(json), progress(progress), totalSize(totalSize) {}

    void MemberStarted(const MemberRecord& record, const char*) override {
        lastName = DisplayName(record.name, options.codePage);
        progress.Update(sizes, totalSize, lastName);
    }

    void MemberFinished(const MemberRecord& record, uint64_t, MemberFailure failure) override {
        progress.Clear();
        lastName = DisplayName(record.name, options.codePage);
        sizes += record.size;
        ++count;
        if (json) {
            json->BeginObject();
            WriteStoredText(*json, "name", record.name, options.codePage);
            json->Key("size");
            json->Number(record.size);
            WriteTime(*json, "creationTime", record.creationTime);
            WriteTime(*json, "lastAccessTime", record.lastAccessTime);
            WriteTime(*json, "lastWriteTime", record.lastWriteTime);
            if (integrity && count <= integrity->entries.size()) {
                json->Key("crc32");
                char hex[9];
                std::snprintf(hex, sizeof hex, "%08x", static_cast<unsigned>(integrity->entries[count - 1].dataCrc));
                json->String(hex);
            }
            json->EndObject();
        } else {
            std::printf("%10" PRIu32 "  %-19s  ", record.size,
                        FileTimeToTableText(record.lastWriteTime).c_str());
            if (options.verbose) {
                std::printf("%-19s  %-19s  ", FileTimeToTableText(record.creationTime).c_str(),
                            FileTimeToTableText(record.lastAccessTime).c_str());
            }
            std::printf("%s\n", lastName.c_str());
        }
        // Damage is reported once for the whole archive, with this member's name.
        if (failure != MemberFailure::None && failure != MemberFailure::Damaged) {
            std::fflush(stdout);
            failures.Report(lastName, failure);
        }
    }

    const CommonOptions& options;
    JsonWriter* json;
    TerminalProgress& progress;
    uint32_t totalSize;
    uint64_t sizes = 0;
    uint64_t count = 0;
    std::string lastName;
    const IntegrityTable* integrity = nullptr;  // the installer's, when it has a sound one
    FailureLines failures;
};

const char* IntegrityText(IntegrityParse integrity) {
    switch (integrity) {
    case IntegrityParse::Valid: return "CRC-32 per member";
    case IntegrityParse::Malformed: return "malformed: the installer is damaged";
    case IntegrityParse::Absent: break;
    }
    return "none: built without integrity data, so only the structure can be checked";
}

void PrintHeaderTable(const SetupHeader& header, int codePage, const std::string& group,
                      IntegrityParse integrity, int64_t certificateSize) {
    for (int i = 0; i < HeaderTextCount; ++i) {
        bool exact;
        const std::string text = StoredTextToUtf8(HeaderText(header, i), codePage, &exact);
        std::printf("%-13s%s\n", (std::string(HeaderTextNames[i]) + ":").c_str(),
                    PrintableText(text).c_str());
    }
    std::printf("%-13s%" PRIu32 "\n", "totalSize:", header.totalSize);
    bool exact;
    if (!group.empty())
        std::printf("%-13s%s\n", "group:", PrintableText(StoredTextToUtf8(group.c_str(), codePage, &exact)).c_str());
    else
        std::printf("%-13snone: the installer creates \"Vornhelm Software\" and adds its item to \"New Group\"\n",
                    "group:");
    std::printf("%-13s%s\n", "integrity:", IntegrityText(integrity));
    if (certificateSize > 0)
        std::printf("%-13syes: a certificate table of %" PRId64 " bytes follows the archive (the "
                    "signature itself is not checked here)\n\n",
                    "signed:", certificateSize);
    else
        std::printf("%-13sno\n\n", "signed:");
}

}  // namespace

int RunList(const CommonOptions& options, bool json) {
    InstallerReader reader;
    if (const int status = reader.Open(options.installer, options.volumesDirs)) return status;
    const SetupHeader& header = reader.state.header;

    JsonWriter writer(std::cout);
    if (json) {
        writer.BeginObject();
        for (int i = 0; i < HeaderTextCount; ++i)
            WriteStoredText(writer, HeaderTextNames[i], HeaderText(header, i), options.codePage);
        writer.Key("totalSize");
        writer.Number(header.totalSize);
        if (reader.ProgramGroup().empty()) {
            writer.Key("group");
            writer.Null();
        } else {
            WriteStoredText(writer, "group", reader.ProgramGroup().c_str(), options.codePage);
        }
        writer.Key("integrity");
        writer.String(reader.Integrity() == IntegrityParse::Valid       ? "crc32"
                      : reader.Integrity() == IntegrityParse::Malformed ? "malformed"
                                                                        : "none");
        writer.Key("signed");
        writer.Bool(reader.CertificateSize() > 0);
        writer.Key("members");
        writer.BeginArray();
    } else if (!options.quiet) {
        PrintHeaderTable(header, options.codePage, reader.ProgramGroup(), reader.Integrity(),
                         reader.CertificateSize());
        std::printf("%10s  %-19s  ", "Size", "Last write (UTC)");
        if (options.verbose) std::printf("%-19s  %-19s  ", "Created (UTC)", "Last access (UTC)");
        std::printf("Name\n");
    }

    TerminalProgress progress(!options.quiet);
    ListObserver observer(options, json ? &writer : nullptr, progress, header.totalSize);
    if (reader.Integrity() == IntegrityParse::Valid) observer.integrity = &reader.IntegrityData();
    ExtractOptions extract;
    extract.writeFiles = false;
    extract.observer = &observer;
    ExtractResult result;
    reader.Run(extract, result);
    progress.Clear();

    if (json) {
        writer.EndArray();
        writer.Key("complete");
        writer.Bool(!result.damaged && !result.stopped && !result.readError);
        writer.EndObject();
        writer.Finish();
        std::cout.flush();
    } else if (!options.quiet) {
        std::printf("\n%" PRIu64 " members, %" PRIu64 " bytes\n", observer.count, observer.sizes);
    }
    std::fflush(stdout);
    observer.failures.Finish();
    return reader.ReportArchiveProblems(result, options.codePage);
}
