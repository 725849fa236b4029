// Damage run through every program's way of reading an archive: globx test (decode only),
// globx extract and the installer's worker (write files) must reach the same verdict, and none may
// call a run good that changed the names or sizes of what it extracted, or leave half a file.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <stdexcept>

#include "Crc32.h"
#include "Extract.h"
#include "ExtractRun.h"
#include "FileSystem.h"
#include "MemberDecoders.h"
#include "GuessingDecoders.h"
#include "TestArchive.h"
#include "VolumeStream.h"

namespace {

namespace fs = std::filesystem;
using Tree = std::map<std::string, std::vector<uint8_t>>;

std::vector<uint8_t> Words(size_t count) {
    static const char* const words[] = {"archive ", "volume ", "member ", "the ", "of ", "disk ",
                                        "install ", "\r\n", "file ", "Setup "};
    std::vector<uint8_t> text;
    uint32_t x = 12345;
    while (text.size() < count) {
        x = x * 1103515245 + 12345;
        for (const char* c = words[(x >> 16) % 10]; *c; ++c) text.push_back(static_cast<uint8_t>(*c));
    }
    text.resize(count);
    return text;
}

TestArchive SweepArchive() {
    TestArchive archive;
    archive.Add("README.TXT", Words(6000));
    archive.Add("EMPTY.DAT", "");
    archive.Add("BIN\\TOOL.EXE", RandomBytes(12000, 7));
    archive.Add("BIN\\DATA\\RUN.DAT", std::vector<uint8_t>(5000, 'z'));
    archive.Add("LAST.TXT", "the last member\r\n");
    uint64_t time = FileTimeFromUnix(1100000000);
    for (auto& member : archive.members) {
        member.creationTime = time;
        member.lastAccessTime = time + 30000000;
        member.lastWriteTime = time + 10000000;
        time += 864000000000ULL;
    }
    archive.endMark = true;  // as globpack writes it
    return archive;
}

Tree Expected(const TestArchive& archive) {
    Tree tree;
    for (const auto& member : archive.members) {
        std::string name = member.name;
        for (char& c : name)
            if (c == '\\') c = '/';
        tree[name] = member.data;
    }
    return tree;
}

Tree ReadTree(const std::string& root, std::vector<std::string>* temporaries) {
    Tree tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = fs::relative(entry.path(), root).generic_string();
        if (entry.path().filename().string().rfind("~GLOB", 0) == 0) temporaries->push_back(relative);
        // Through the path itself: on Windows a name outside ASCII (a flipped name byte) need not
        // survive the way to a narrow string and back.
        std::ifstream file(entry.path(), std::ios::binary);
        std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        if (!file.good() && !file.eof()) throw std::runtime_error("cannot read " + relative);
        tree[relative] = std::move(bytes);
    }
    return tree;
}

// How many files and of which sizes: what the structure alone vouches for. A flipped name byte
// that still makes a name, like a flipped time or coded byte that keeps every length, is found
// only by integrity data.
std::vector<size_t> Sizes(const Tree& tree) {
    std::vector<size_t> sizes;
    for (const auto& entry : tree) sizes.push_back(entry.second.size());
    std::sort(sizes.begin(), sizes.end());
    return sizes;
}

enum class Way { Test, Extract, Installer };
const Way Ways[] = {Way::Test, Way::Extract, Way::Installer};
const char* WayName(Way way) { return way == Way::Test ? "test" : way == Way::Extract ? "extract" : "installer"; }

struct Outcome {
    bool ok = false;  // opened, and the run's verdict is Ok()
    Damage damage = Damage::None;
    Tree tree;
    std::map<std::string, uint64_t> lastWriteTimes;
    std::vector<std::string> temporaries;
    std::string summary;  // ExtractRun::Summary
};

// Reads the installer in files as a way of the three does. The installer's user retries a
// missing disk once before giving up; globx gives up at once. With threads above 1, globx's
// decoders work ahead of the run (globx -j): by the integrity data's offsets, or guessing
// without it.
Outcome Read(const InstallerFiles& files, Way way, const IntegrityTable* integrity = nullptr,
             unsigned threads = 1) {
    ExtractRun run;
    run.files = files;
    run.options.writeFiles = way != Way::Test;
    run.options.integrity = integrity;
    if (way == Way::Installer) run.host.diskAnswers = {true};
    std::unique_ptr<DecodedAhead> decoders;
    if (threads > 1 && integrity)
        decoders.reset(new MemberDecoders({files.exePath, files.baseName, {}}, *integrity, threads, 4096));
    else if (threads > 1)
        decoders.reset(new GuessingDecoders({files.exePath, files.baseName, {}}, threads, 4096));
    run.options.decodedAhead = decoders.get();
    Outcome outcome;
    if (!run.Run()) return outcome;  // no archive behind the trailer: nothing read, nothing written
    outcome.summary = run.Summary();
    outcome.ok = run.result.Ok();
    outcome.damage = run.result.damage;
    outcome.tree = ReadTree(run.install, &outcome.temporaries);
    for (const auto& entry : outcome.tree)
        ReadLastWriteTime((run.install + "/" + entry.first).c_str(), &outcome.lastWriteTimes[entry.first]);
    return outcome;
}

// Where stream byte i lies: the file and the offset in it.
std::pair<std::string, size_t> Locate(const InstallerFiles& files, size_t i) {
    const int64_t position = int64_t(files.offset) + 5 + int64_t(i);
    const int k = static_cast<int>(position / VolumeSpan);
    if (k == 0) return {files.exePath, files.offset + i};
    return {VolumePath(files, k), static_cast<size_t>(position - int64_t(k) * VolumeSpan)};
}

uint8_t Patch(const std::string& path, size_t offset, std::function<uint8_t(uint8_t)> change) {
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(static_cast<std::streamoff>(offset));
    const uint8_t old = static_cast<uint8_t>(file.get());
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(static_cast<char>(change(old)));
    return old;
}

void PatchStream(const InstallerFiles& files, size_t i, std::function<uint8_t(uint8_t)> change) {
    const auto [path, offset] = Locate(files, i);
    Patch(path, offset, change);
}

// Flips one bit of each stream byte in turn (a spread of bit positions, from seed), runs check
// on the damaged files and puts the bit back. Stops at the first failure: it explains the rest.
void ForEachFlip(const InstallerFiles& files, const std::vector<size_t>& offsets, uint32_t seed,
                 const std::function<void(size_t)>& check) {
    uint32_t x = seed;
    for (const size_t i : offsets) {
        x = x * 1664525 + 1013904223;
        const uint8_t mask = static_cast<uint8_t>(1u << ((x >> 24) % 8));
        SCOPED_TRACE("stream byte " + std::to_string(i) + " ^ " + std::to_string(mask));
        const auto flip = [&](uint8_t b) { return static_cast<uint8_t>(b ^ mask); };
        PatchStream(files, i, flip);
        check(i);
        PatchStream(files, i, flip);
        if (::testing::Test::HasFailure()) break;
    }
}

void WriteTrailer(const InstallerFiles& files, int32_t s) {
    const auto size = fs::file_size(files.exePath);
    for (int b = 0; b < 4; ++b)
        Patch(files.exePath, size - 4 + b, [&](uint8_t) { return static_cast<uint8_t>(s >> (8 * b)); });
}

// Runs the three ways over the same damaged files and checks what holds for any damage; returns
// the common verdict.
bool ExpectOneVerdict(const InstallerFiles& files, const Tree& original) {
    std::map<Way, Outcome> outcomes;
    for (Way way : Ways) outcomes[way] = Read(files, way);
    const bool ok = outcomes[Way::Test].ok;
    for (Way way : Ways) {
        SCOPED_TRACE(WayName(way));
        const Outcome& outcome = outcomes[way];
        EXPECT_EQ(outcome.ok, ok) << "test says " << (ok ? "ok" : "damaged") << ", this way "
                                  << DescribeDamage(outcome.damage);
        EXPECT_EQ(outcome.temporaries, std::vector<std::string>{}) << "a temporary file survived";
        if (way == Way::Test) continue;
        if (outcome.ok) {
            EXPECT_EQ(Sizes(outcome.tree), Sizes(original))
                << "called good, yet the files or sizes extracted differ";
        } else {
            // What did land is complete: a file of the archive's, with its recorded size.
            for (const auto& [name, bytes] : outcome.tree) {
                const auto found = original.find(name);
                if (found == original.end()) continue;  // a damaged name may land as another file
                EXPECT_EQ(bytes.size(), found->second.size()) << name << " landed half-written";
            }
        }
    }
    return ok;
}

struct DamageCase {
    const char* what;
    bool ok;  // the verdict every way must reach
    size_t membersLeft;  // members the damaged archive still holds in full
    // Changes the stream before the files are written (may be empty).
    std::function<void(std::vector<uint8_t>&, const StreamLayout&)> stream;
    // Changes the written files.
    std::function<void(const InstallerFiles&, const StreamLayout&)> files;
    size_t boundary = 0;  // stream offset where GLOB1.DAT begins; 0: inside the third member
};

// Damage of every kind, to the stream or to the written files, of SweepArchive's stream.
std::vector<DamageCase> DamageCases(const StreamLayout& layout) {
    const auto& m = layout.members;
    auto set = [](size_t i, uint8_t value) {
        return [=](std::vector<uint8_t>& s, const StreamLayout&) { s[i] = value; };
    };
    return {
        {"intact", true, 5, nullptr, nullptr},
        {"a name's terminator overwritten: the name swallows its record", false, 5,
         set(m[2].fields - 1, 'X'), nullptr},
        {"a size field too large", false, 5,
         [=](std::vector<uint8_t>& s, const StreamLayout&) { s[m[0].fields] += 1; }, nullptr},
        {"a size field too small: more decodes than it says", false, 5,
         [=](std::vector<uint8_t>& s, const StreamLayout&) { s[m[2].fields + 1] -= 1; }, nullptr},
        {"a size field of an empty member", false, 5, set(m[1].fields, 5), nullptr},
        {"a time field: nothing checks it without integrity data", true, 5,
         [=](std::vector<uint8_t>& s, const StreamLayout&) { s[m[3].fields + 4 + 16 + 3] ^= 0x40; }, nullptr},
        {"a time no file can carry (its top bit set): refused alike on every system", false, 5,
         [=](std::vector<uint8_t>& s, const StreamLayout&) { s[m[0].fields + 4 + 8 + 7] |= 0x80; }, nullptr},
        {"an early end mark with members behind it", false, 5, set(m[3].record + 1, 0xFF), nullptr},
        {"a record cut by the end of the data", false, 5,
         [=](std::vector<uint8_t>& s, const StreamLayout&) { s.resize(m[4].fields + 6); }, nullptr},
        {"a bit stream cut by the end of the data", false, 5,
         [=](std::vector<uint8_t>& s, const StreamLayout&) { s.resize(m[2].data + 100); }, nullptr},
        {"the data ends inside the header", false, 5,
         [](std::vector<uint8_t>& s, const StreamLayout&) { s.resize(200); }, nullptr},
        // Without a member count a cut at a record boundary that takes the end mark along looks
        // like a shorter archive: all agree, and integrity data is what tells.
        {"the data ends right after the header", true, 0,
         [](std::vector<uint8_t>& s, const StreamLayout&) { s.resize(SetupHeaderSize); }, nullptr},
        {"the trailer one byte late: the first name loses its first byte", false, 5, nullptr,
         [](const InstallerFiles& f, const StreamLayout&) { WriteTrailer(f, f.offset + 1); }},
        {"the trailer one byte early", false, 5, nullptr,
         [](const InstallerFiles& f, const StreamLayout&) { WriteTrailer(f, f.offset - 1); }},
        {"the continuation volume zeroed", false, 5, nullptr,
         [](const InstallerFiles& f, const StreamLayout&) {
             const auto size = fs::file_size(VolumePath(f, 1));
             std::ofstream(VolumePath(f, 1), std::ios::binary) << std::string(size, '\0');
         }},
        {"the continuation volume cut in half", false, 5, nullptr,
         [](const InstallerFiles& f, const StreamLayout&) {
             fs::resize_file(VolumePath(f, 1), fs::file_size(VolumePath(f, 1)) / 2);
         }},
        {"the continuation volume empty", false, 5, nullptr,
         [](const InstallerFiles& f, const StreamLayout&) { fs::resize_file(VolumePath(f, 1), 0); }},
        {"the header split across volumes, the continuation empty", false, 5, nullptr,
         [](const InstallerFiles& f, const StreamLayout&) { fs::resize_file(VolumePath(f, 1), 0); },
         200},
    };
}

// The files of SweepArchive's stream with the damage of c. The second volume begins inside the
// third member's bit stream; with the stream cut short, inside the header.
InstallerFiles WriteDamaged(const TempDir& media, const std::vector<uint8_t>& intact,
                            const StreamLayout& layout, const DamageCase& c) {
    const auto& m = layout.members;
    std::vector<uint8_t> stream = intact;
    if (c.stream) c.stream(stream, layout);
    VolumeLayout volumes;
    volumes.stubSize = StubSizeForBoundaryAt(c.boundary            ? c.boundary
                                             : stream.size() > m[2].data + 500 ? m[2].data + 500
                                                                               : 100);
    const InstallerFiles files = WriteInstaller(media.Path(), stream, volumes);
    if (c.files) c.files(files, layout);
    return files;
}

TEST(OneVerdict, EveryKindOfDamageGetsTheSameVerdictFromEveryProgram) {
    const TestArchive archive = SweepArchive();
    StreamLayout layout;
    const std::vector<uint8_t> intact = archive.Stream(&layout);
    for (const auto& c : DamageCases(layout)) {
        SCOPED_TRACE(c.what);
        TempDir media;
        const InstallerFiles files = WriteDamaged(media, intact, layout, c);
        const TestArchive left = [&] {
            TestArchive copy = archive;
            copy.members.resize(c.membersLeft);
            return copy;
        }();
        EXPECT_EQ(ExpectOneVerdict(files, Expected(left)), c.ok);
    }
}

// globx -j: with the intact archive's integrity data, and without any, every kind of damage
// gives the run of one thread, to the last message, file and time, whatever the threads decoded
// ahead.
TEST(OneVerdict, DecodingAheadChangesNothingOfADamagedRun) {
    const TestArchive archive = SweepArchive();
    StreamLayout layout;
    const std::vector<uint8_t> intact = archive.Stream(&layout);
    const IntegrityTable table = IntegrityTableFor(archive, intact, layout);
    for (const auto& c : DamageCases(layout)) {
        TempDir media;
        const InstallerFiles files = WriteDamaged(media, intact, layout, c);
        for (const IntegrityTable* integrity : {&table, static_cast<const IntegrityTable*>(nullptr)})
        for (const Way way : {Way::Test, Way::Extract}) {
            const Outcome alone = Read(files, way, integrity);
            for (const unsigned threads : {2u, 4u}) {
                SCOPED_TRACE(std::string(c.what) + ", " + WayName(way) + ", " + std::to_string(threads) +
                             " threads" + (integrity ? "" : ", no integrity data"));
                const Outcome ahead = Read(files, way, integrity, threads);
                EXPECT_EQ(ahead.summary, alone.summary);
                EXPECT_TRUE(ahead.tree == alone.tree) << "the files differ";
                EXPECT_TRUE(ahead.lastWriteTimes == alone.lastWriteTimes) << "the times differ";
                EXPECT_EQ(ahead.temporaries, std::vector<std::string>{});
            }
        }
    }
}

TEST(OneVerdict, FlipsSpreadOverTheArchiveNeverPassAsAChangedTree) {
    const TestArchive archive = SweepArchive();
    StreamLayout layout;
    const std::vector<uint8_t> stream = archive.Stream(&layout);
    TempDir media;
    VolumeLayout volumes;
    volumes.stubSize = StubSizeForBoundaryAt(layout.members[2].data + 500);
    const InstallerFiles files = WriteInstaller(media.Path(), stream, volumes);
    const Tree original = Expected(archive);
    // The header's totalSize, every other record byte (names, terminators, sizes, times), and
    // the coded data at a stride, each flipped in one bit of a spread of patterns.
    std::vector<size_t> offsets;
    for (size_t i = SetupHeaderSize - 4; i < SetupHeaderSize; ++i) offsets.push_back(i);
    for (const auto& member : layout.members) {
        for (size_t i = member.record; i < member.data; i += 2) offsets.push_back(i);
        offsets.push_back(member.fields - 1);
        for (size_t i = member.fields; i < member.fields + 4; ++i) offsets.push_back(i);
        for (size_t i = member.data; i < member.end; i += 401) offsets.push_back(i);
        offsets.push_back(member.end - 1);
    }
    offsets.push_back(layout.end);
    offsets.push_back(layout.end + 1);
    ForEachFlip(files, offsets, 99, [&](size_t i) {
        const bool ok = ExpectOneVerdict(files, original);
        for (const auto& member : layout.members) {
            if (i >= member.fields && i < member.fields + 4) {
                EXPECT_FALSE(ok) << "a size field changed";
            }
        }
        // globx -j, guessing where records start: the same run, message for message and file
        // for file.
        for (const Way way : {Way::Test, Way::Extract}) {
            const Outcome alone = Read(files, way);
            const Outcome ahead = Read(files, way, nullptr, 2);
            EXPECT_EQ(ahead.summary, alone.summary) << WayName(way) << ", decoded ahead";
            EXPECT_TRUE(ahead.tree == alone.tree) << WayName(way) << ", decoded ahead: the files differ";
            EXPECT_TRUE(ahead.lastWriteTimes == alone.lastWriteTimes) << WayName(way) << ", decoded ahead: the times differ";
        }
    });
}

// With integrity data every change to what lands is caught: bytes, names and times as well.
TEST(OneVerdict, WithIntegrityDataNoFlipPassesAsAChangedTree) {
    const TestArchive archive = SweepArchive();
    StreamLayout layout;
    const std::vector<uint8_t> stream = archive.Stream(&layout);
    const IntegrityTable table = IntegrityTableFor(archive, stream, layout);
    TempDir media;
    VolumeLayout volumes;
    volumes.stubSize = StubSizeForBoundaryAt(layout.members[2].data + 500);
    const InstallerFiles files = WriteInstaller(media.Path(), stream, volumes);
    const Tree original = Expected(archive);
    std::map<std::string, uint64_t> times;
    for (const auto& member : archive.members) {
        std::string name = member.name;
        std::replace(name.begin(), name.end(), '\\', '/');
        times[name] = member.lastWriteTime;
    }
    {
        SCOPED_TRACE("intact");
        for (Way way : Ways) EXPECT_TRUE(Read(files, way, &table).ok) << WayName(way);
    }
    std::vector<size_t> offsets = {0, 100, SetupHeaderSize - 1};
    for (const auto& member : layout.members) {
        for (size_t i = member.record; i < member.data; ++i) offsets.push_back(i);
        for (size_t i = member.data; i < member.end; i += 173) offsets.push_back(i);
    }
    ForEachFlip(files, offsets, 7, [&](size_t) {
        bool verdict = false;
        for (Way way : Ways) {
            const Outcome outcome = Read(files, way, &table);
            if (way == Way::Test) verdict = outcome.ok;
            EXPECT_EQ(outcome.ok, verdict) << WayName(way);
            if (way != Way::Test && outcome.ok) {
                EXPECT_TRUE(outcome.tree == original) << WayName(way) << ": called good, yet changed";
                EXPECT_TRUE(outcome.lastWriteTimes == times) << WayName(way) << ": times changed";
            }
            if (way == Way::Extract) {
                // globx -j: the same run, message for message and file for file.
                const Outcome ahead = Read(files, way, &table, 2);
                EXPECT_EQ(ahead.summary, outcome.summary) << "decoded ahead";
                EXPECT_TRUE(ahead.tree == outcome.tree) << "decoded ahead: the files differ";
            }
        }
    });
}

TEST(OneVerdict, IntegrityDataThatDoesNotFitTheArchiveIsDamage) {
    const TestArchive archive = SweepArchive();
    StreamLayout layout;
    const std::vector<uint8_t> stream = archive.Stream(&layout);
    const IntegrityTable table = IntegrityTableFor(archive, stream, layout);
    TempDir media;
    const InstallerFiles files = WriteInstaller(media.Path(), stream);
    const struct {
        const char* what;
        std::function<void(IntegrityTable&)> change;
        Damage damage;
    } cases[] = {
        {"one member fewer listed", [](IntegrityTable& t) { t.entries.pop_back(); }, Damage::MemberCount},
        {"one member more listed", [](IntegrityTable& t) { t.entries.push_back(t.entries.back()); },
         Damage::MemberCount},
        {"another header", [](IntegrityTable& t) { t.headerCrc ^= 1; }, Damage::HeaderCorrupt},
        {"a record elsewhere", [](IntegrityTable& t) { t.entries[2].recordOffset += 1; },
         Damage::RecordMisplaced},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        IntegrityTable changed = table;
        c.change(changed);
        for (Way way : Ways) {
            const Outcome outcome = Read(files, way, &changed);
            EXPECT_FALSE(outcome.ok) << WayName(way);
            EXPECT_EQ(outcome.damage, c.damage) << WayName(way) << ": " << DescribeDamage(outcome.damage);
        }
    }
    ExtractRun malformed;
    malformed.files = files;
    malformed.options.integrityMalformed = true;
    ASSERT_TRUE(malformed.Run());
    EXPECT_EQ(malformed.result.damage, Damage::TableMalformed);
    EXPECT_EQ(malformed.result.members, 0u) << "nothing is read under a malformed table";
}

}  // namespace
