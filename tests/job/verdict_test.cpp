#include "job/verdict.h"

#include <gtest/gtest.h>

#include "archiver/archive.h"
#include "archiver/header.h"
#include "tests/job/fake_job_host.h"

namespace veltrane {
namespace {

using testing::FakeJobHost;

struct Entry {
  const char* name;
  std::uint16_t locale;
  std::uint32_t length;
  std::string stored = "";  // the member's stored bytes, placed after the tables
  std::uint32_t flags = mpq::kFlagExists;
  std::uint32_t packed = 0;  // the packed size recorded, when not that of the stored bytes
};

// An archive of header, tables and the stored bytes given, behind a preamble: enough for the
// verdict, which reads nothing else.
std::string ArchiveBytes(const std::vector<Entry>& entries) {
  mpq::Archive archive;
  archive.hashes.resize(16);
  std::string stored;
  const auto data_start = static_cast<std::uint32_t>(32 + 16 * (16 + entries.size()));
  for (const auto& entry : entries) {
    const auto slot = mpq::FindSlotFor(archive, entry.name);
    const auto block = static_cast<std::uint32_t>(archive.blocks.size());
    mpq::PlaceName(archive, *slot, entry.name, block);
    archive.hashes[*slot].locale = entry.locale;
    const auto position = static_cast<std::uint32_t>(data_start + stored.size());
    const auto packed = entry.packed           ? entry.packed
                        : entry.stored.empty() ? entry.length
                                               : std::uint32_t(entry.stored.size());
    archive.blocks.push_back({position, packed, entry.length, entry.flags});
    stored += entry.stored;
  }
  const auto hashes = mpq::EncodeHashTable(archive);
  const auto blocks = mpq::EncodeBlockTable(archive);
  mpq::Header header;
  header.archive_size = static_cast<std::uint32_t>(data_start + stored.size());
  header.sector_shift = 3;
  header.hash_position = 32;
  header.block_position = static_cast<std::uint32_t>(32 + hashes.size());
  header.hash_count = static_cast<std::uint32_t>(archive.hashes.size());
  header.block_count = static_cast<std::uint32_t>(archive.blocks.size());
  std::string bytes(512, 'P');  // a preamble, as maps have
  for (const auto b : mpq::EncodeHeader(header)) bytes += static_cast<char>(b);
  for (const auto b : hashes) bytes += static_cast<char>(b);
  for (const auto b : blocks) bytes += static_cast<char>(b);
  return bytes + stored;
}

// The map the job copied: trigger data in two locales, and one entry too short to search for.
const std::string kTriggers = "compressed trigger data of the map, locale neutral";
const std::string kTriggersGerman = "compressed trigger data of the map, German";
const std::string kMapBytes = ArchiveBytes({{"war3map.wtg", 0, 181, kTriggers},
                                            {"war3map.wtg", 0x407, 181, kTriggersGerman},
                                            {"war3map.wtg", 0x409, 15, "short, 15 bytes"}});

const std::wstring kDestination = L"C:\\Maps\\Out.w3m";
const std::wstring kMap = L"C:\\Maps\\Map.w3m";
const FileIdentity kOld{1, 10, 500, 100};
const FileIdentity kNew{1, 11, 900, 200};

// A destination that is there but that the host cannot open.
const std::string kUnopenable = "(unopenable)";

struct Case {
  const char* label;
  std::optional<FileIdentity> before, after;
  bool scratch_left;
  std::string content;  // the destination's bytes, when it is new
  bool success;
  std::vector<const char*> says;
  std::string map = kMapBytes;  // the map the job copied
};

class VerdictFromFiles : public ::testing::TestWithParam<Case> {};

TEST_P(VerdictFromFiles, GivesTheRightReport) {
  const Case& c = GetParam();
  FakeJobHost host;
  if (c.after) host.identities[kDestination] = *c.after;
  if (c.scratch_left) host.existing_files.insert(L"c:\\temp.w3m");
  if (c.content != kUnopenable) host.contents[kDestination] = c.content;
  host.contents[kMap] = c.map;
  const JobLaunch launch{L"Out.w3m", kDestination, kMap, c.before};

  const JobReport report = Judge(launch.destination, GatherFacts(launch, host));
  EXPECT_EQ(report.success, c.success) << report.text;
  EXPECT_NE(report.text.find("\"Out.w3m\""), std::string::npos) << report.text;
  for (const char* part : c.says) {
    EXPECT_NE(report.text.find(part), std::string::npos) << report.text;
  }
  if (!c.success) {
    EXPECT_EQ(report.text.find("ready"), std::string::npos) << report.text;
  }
}

const std::string kProtected = ArchiveBytes({{"war3map.wtg", 0, 0}});

// A map with members the job leaves as they are, and copies of it with war3map.wtg empty;
// war3map.j's data ends the file.
const std::string kScript = "function main takes nothing returns nothing\r\n  call Init()\r\n";
const std::string kNames = "war3map.j\r\nwar3map.w3e\r\n";
const Entry kPlainScript{"war3map.j", 0, std::uint32_t(kScript.size()), kScript};
std::string ScriptMap(std::string wtg, Entry script = kPlainScript, bool with_w3e = true) {
  std::vector<Entry> entries{{"(listfile)", 0, std::uint32_t(kNames.size()), kNames}};
  if (with_w3e) entries.push_back({"war3map.w3e", 0, 11, "terrain 123"});
  entries.push_back({"war3map.wtg", 0, std::uint32_t(wtg.size()), wtg});
  entries.push_back(script);
  return ArchiveBytes(entries);
}
Entry ScriptStoredAs(std::uint32_t flags) {
  Entry script = kPlainScript;
  script.flags = flags;
  return script;
}
// war3map.j in one sector stored as it is, behind its sector offset table; the packed size
// recorded covers the table only, but the game reads to the end the table gives.
Entry ScriptPastItsPackedSize() {
  const auto end = static_cast<char>(8 + kScript.size());
  const std::string table{8, 0, 0, 0, end, 0, 0, 0};
  return {"war3map.j",
          0,
          std::uint32_t(kScript.size()),
          table + kScript,
          mpq::kFlagExists | mpq::kFlagCompress,
          8};
}
const std::string kMapWithScript = ScriptMap(kTriggers);
const std::string kCopyOfScriptMap = ScriptMap("");
// One byte of war3map.j's stored data changed, `from_end` bytes before the file's end.
std::string Flipped(std::string copy, std::size_t from_end = 10) {
  copy[copy.size() - from_end] ^= 0x20;
  return copy;
}
// A (listfile) of 42 names in one sector compressed with bzip2, as some writers store it.
std::string BzipListfileMap(std::string wtg) {
  const std::string stream = [] {
    const std::string hex =
        "425a68393141592653596ecbd7e60002135f80001200017fe0002000042633d6c03000c5819513fd54f49ffaa9"
        "304c98"
        "4d304a51feaa00000002a54268c40320c4fd52a4d35d7dd2b6da5c65e8b7ddd7e18e4000000000000001680729"
        "a92489"
        "a92489a92489aebfa69aa52945555555515a40839020ec820a8820cc082d1186423711f2e445823e88a11908dd"
        "11808b"
        "1114228479114231a447811fc5dc914e14241bb2f5f980";
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
      bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
  }();
  const auto end = static_cast<char>(8 + 1 + stream.size());
  const std::string sector = std::string{8, 0, 0, 0, end, 0, 0, 0} + '\x10' + stream;
  return ArchiveBytes({{"(listfile)", 0, 1144, sector, mpq::kFlagExists | mpq::kFlagCompress},
                       {"war3map.w3e", 0, 11, "terrain 123"},
                       {"war3map.wtg", 0, std::uint32_t(wtg.size()), wtg},
                       kPlainScript});
}
// A map of the script and terrain in two locales, and a copy of it whose German terrain
// reads otherwise.
const Entry kListfile{"(listfile)", 0, std::uint32_t(kNames.size()), kNames};
std::string TwoLocaleMap(std::string wtg, std::string german_terrain) {
  return ArchiveBytes({kListfile,
                       {"war3map.w3e", 0, 11, "terrain 123"},
                       {"war3map.w3e", 0x407, 11, german_terrain},
                       {"war3map.wtg", 0, std::uint32_t(wtg.size()), wtg},
                       kPlainScript});
}
// war3map.w3e in a sector the game can't read: its offset table runs 1 MiB past its start,
// far beyond the file's end.
const Entry kUnreadableTerrain{"war3map.w3e", 0, 100,
                               std::string("\x08\0\0\0\0\0\x10\0", 8) + "not a sector",
                               mpq::kFlagExists | mpq::kFlagCompress};
std::string UnreadableTerrainMap(std::string wtg) {
  return ArchiveBytes({kListfile,
                       kUnreadableTerrain,
                       {"war3map.wtg", 0, std::uint32_t(wtg.size()), wtg},
                       kPlainScript});
}
// A member that begins as the map's trigger data ends, and runs on well past a needle's length.
const Entry kTriggersThenTerrain{"war3map.w3e", 0, 200,
                                 kTriggers.substr(25) + std::string(175, 't')};
// A map of five members the name hashes of which its (listfile) does not give.
const std::string kUnnamedMap = ArchiveBytes({{"a.bin", 0, 3, "aaa"},
                                              {"b.bin", 0, 3, "bbb"},
                                              {"c.bin", 0, 3, "ccc"},
                                              {"d.bin", 0, 3, "ddd"},
                                              {"e.bin", 0, 3, "eee"},
                                              {"war3map.wtg", 0, 181, kTriggers}});

INSTANTIATE_TEST_SUITE_P(
    AllFacts, VerdictFromFiles,
    ::testing::Values(
        Case{"NewAndProtected", std::nullopt, kNew, false, kProtected, true, {"ready"}},
        Case{"ReplacedAndProtected", kOld, kNew, false, kProtected, true, {"ready"}},
        Case{"SameIndexButChanged",
             kOld,
             FileIdentity{1, 10, 500, 101},
             false,
             kProtected,
             true,
             {"ready"}},
        Case{"EveryLocaleEmpty",
             kOld,
             kNew,
             false,
             ArchiveBytes({{"war3map.wtg", 0, 0}, {"war3map.wtg", 0x409, 0}}),
             true,
             {"ready"}},
        Case{"OneLocaleHoldsData",
             kOld,
             kNew,
             false,
             ArchiveBytes({{"war3map.wtg", 0, 0}, {"war3map.wtg", 0x409, 77}}),
             false,
             {"not protected", "still holds data", "It replaced the file", "Do not publish"}},
        Case{"PlaceholderHoldsData",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({{"war3map.wtg", 0, 3000}}),
             false,
             {"not protected", "still holds data"}},
        Case{"NoPlaceholder",
             kOld,
             kNew,
             false,
             ArchiveBytes({{"war3map.j", 0, 40}}),
             false,
             {"not protected", "no war3map.wtg", "It replaced the file"}},
        Case{"NotAnArchive",
             kOld,
             kNew,
             false,
             "plain text, no archive",
             false,
             {"not protected", "not a Warcraft III map", "It replaced the file"}},
        Case{"DestinationUnopenable",
             kOld,
             kNew,
             false,
             kUnopenable,
             false,
             {"not protected", "could not be opened (Cannot open", "gone"}},
        Case{"OldTriggerDataLeftInTheFile",
             kOld,
             kNew,
             false,
             kProtected + "freed space: " + kTriggers,
             false,
             {"not protected", "old trigger data is still inside the file", "Do not publish"}},
        Case{"OldTriggerDataOfAnotherLocaleLeft",
             std::nullopt,
             kNew,
             false,
             kProtected + kTriggersGerman + "signature",
             false,
             {"not protected", "old trigger data"}},
        Case{"OldTriggerDataAcrossTwoPiecesOfTheSearch",
             std::nullopt,
             kNew,
             false,
             kProtected + std::string((1 << 20) - 20 - kProtected.size(), 'z') + kTriggers,
             false,
             {"old trigger data"}},
        Case{"ShortStoredDataIsNotATrace",
             std::nullopt,
             kNew,
             false,
             kProtected + "short, 15 bytes",
             true,
             {"ready"}},
        Case{"DamagedMember",
             kOld,
             kNew,
             false,
             Flipped(kCopyOfScriptMap),
             false,
             {"is damaged: war3map.j does not read back as it is in the map.",
              "It replaced the file", "Do not publish"},
             kMapWithScript},
        Case{"LastStoredByteChanged",
             std::nullopt,
             kNew,
             false,
             Flipped(kCopyOfScriptMap, 1),
             false,
             {"is damaged: war3map.j does not read back as it is in the map."},
             kMapWithScript},
        Case{"ShadowingEntryOnTheSearchPath",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({kListfile,
                           {"war3map.w3e", 0, 11, "terrain 123"},
                           {"war3map.wtg", 0, 0},
                           kPlainScript,
                           {"war3map.j", 0, 5, "other"}}),
             false,
             {"is damaged: war3map.j does not read back as it is in the map."},
             kMapWithScript},
        Case{"SecondLocaleDamaged",
             std::nullopt,
             kNew,
             false,
             TwoLocaleMap("", "Gelaende 1X"),
             false,
             {"is damaged: war3map.w3e in locale 0x407 does not read back"},
             TwoLocaleMap(kTriggers, "Gelaende 12")},
        Case{"BzipListfile",
             std::nullopt,
             kNew,
             false,
             BzipListfileMap(""),
             true,
             {"ready"},
             BzipListfileMap(kTriggers)},
        Case{"UnreadableInTheMapAndKept",
             std::nullopt,
             kNew,
             false,
             UnreadableTerrainMap(""),
             true,
             {"ready"},
             UnreadableTerrainMap(kTriggers)},
        Case{"UnnamedMemberTwiceInTheCopy",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({{"a.bin", 0, 3, "aaa"}, {"a.bin", 0, 3, "AAA"}, {"war3map.wtg", 0, 0}}),
             false,
             {"(entry ", "does not read back"},
             ArchiveBytes({{"a.bin", 0, 3, "aaa"}, {"war3map.wtg", 0, 181, kTriggers}})},
        Case{"MissingMember",
             std::nullopt,
             kNew,
             false,
             ScriptMap("", kPlainScript, false),
             false,
             {"is damaged: war3map.w3e is missing."},
             kMapWithScript},
        Case{"TornCopy",
             std::nullopt,
             kNew,
             false,
             kCopyOfScriptMap.substr(0, kCopyOfScriptMap.size() - 64),
             false,
             {"war3map.j is cut short"},
             kMapWithScript},
        Case{"DamagedPastThePackedSize",
             std::nullopt,
             kNew,
             false,
             Flipped(ScriptMap("", ScriptPastItsPackedSize())),
             false,
             {"war3map.j does not read back"},
             ScriptMap(kTriggers, ScriptPastItsPackedSize())},
        Case{"StoredOtherwiseButTheSame",
             std::nullopt,
             kNew,
             false,
             ScriptMap("", ScriptStoredAs(mpq::kFlagExists | mpq::kFlagSingleUnit)),
             true,
             {"ready"},
             kMapWithScript},
        Case{"StoredOtherwiseAndChanged",
             std::nullopt,
             kNew,
             false,
             Flipped(ScriptMap("", ScriptStoredAs(mpq::kFlagExists | mpq::kFlagSingleUnit))),
             false,
             {"war3map.j does not read back"},
             kMapWithScript},
        Case{"ListfileThatDoesNotRead",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({{"(listfile)", 0, 100,
                            std::string("\x08\0\0\0\x15\0\0\0", 8) + "?not a sector",
                            mpq::kFlagExists | mpq::kFlagCompress},
                           {"war3map.w3e", 0, 11, "terrain 123"},
                           {"war3map.wtg", 0, 0},
                           kPlainScript}),
             false,
             {"is damaged: (listfile) cannot be read."},
             kMapWithScript},
        Case{"EncipheredUnnamedMemberStoredAnew",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({{"secret.bin", 0, 8, "12345678",
                            mpq::kFlagExists | mpq::kFlagEncrypted | mpq::kFlagSingleUnit},
                           {"war3map.wtg", 0, 0}}),
             false,
             {"(entry ", "cannot be compared with the map"},
             ArchiveBytes({{"secret.bin", 0, 8, "12345678", mpq::kFlagExists | mpq::kFlagEncrypted},
                           {"war3map.wtg", 0, 181, kTriggers}})},
        Case{"MapUnreadableAfterTheJob",
             std::nullopt,
             kNew,
             false,
             kProtected,
             false,
             {"could not be read back against the map", "Do not publish"},
             "no longer a map"},
        Case{"FourUnnamedMembersMissing",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({{"e.bin", 0, 3, "eee"}, {"war3map.wtg", 0, 0}}),
             false,
             {"a file that the map's (listfile) does not name (entry ", " is missing; and 1 more."},
             kUnnamedMap},
        Case{"TraceInALocaleAfterAShortOne",
             std::nullopt,
             kNew,
             false,
             kProtected + kTriggersGerman,
             false,
             {"old trigger data"},
             ArchiveBytes({{"war3map.wtg", 0x409, 15, "short, 15 bytes"},
                           {"war3map.wtg", 0x407, 181, kTriggersGerman}})},
        Case{"TraceBetweenKeptMembers",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({{"(listfile)", 0, std::uint32_t(kNames.size()), kNames},
                           {"war3map.w3e", 0, 11, "terrain 123"},
                           {"war3map.wtg", 0, 0, kTriggers},
                           kPlainScript}),
             false,
             {"old trigger data"},
             kMapWithScript},
        Case{"TraceRunningIntoAKeptMember",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({{"war3map.wtg", 0, 0, kTriggers.substr(0, 25)}, kTriggersThenTerrain}),
             false,
             {"old trigger data"},
             ArchiveBytes({kTriggersThenTerrain, {"war3map.wtg", 0, 181, kTriggers}})},
        Case{"NewButScratchLeft", kOld, kNew, true, kProtected, false, {"left behind"}},
        Case{"CopyFailedNothingThere",
             std::nullopt,
             std::nullopt,
             false,
             "",
             false,
             {"could not copy", "not replaced"}},
        Case{"CopyFailedStaleCopyStays",
             kOld,
             kOld,
             false,
             kProtected,
             false,
             {"could not copy", "not replaced", "not from this job"}},
        Case{"MoveFailed",
             std::nullopt,
             std::nullopt,
             true,
             "",
             false,
             {"could not move", "still there", "not replaced"}},
        Case{"MoveFailedStaleCopyStays",
             kOld,
             kOld,
             true,
             kProtected,
             false,
             {"could not move", "not from this job"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(VerdictFromFiles, ADestinationThatCannotBeOpenedIsNotProtected) {
  FakeJobHost host;
  host.identities[kDestination] = kNew;
  const JobReport report =
      Judge(L"Out.w3m", GatherFacts(JobLaunch{L"Out.w3m", kDestination, kMap, std::nullopt}, host));
  EXPECT_FALSE(report.success);
  EXPECT_NE(report.text.find("not protected"), std::string::npos) << report.text;
}

}  // namespace
}  // namespace veltrane
