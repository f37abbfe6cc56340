// The portable half of the Windows listing: batches of FILE_ID_BOTH_DIR_INFO records as the
// listing call fills them, and the long form of a directory's path.
#include "tree/ntfs_listing.h"

#include <string>
#include <vector>

#include "test_support.h"

namespace {
// One batch as Wine 8 filled it for a folder of three files: "." and "..", "ab" (5 bytes in
// 4,096), "h\u00e9\u00e9" (5,000 bytes in 8,192: a name of an odd count of units, so padding
// follows it) and "sparse" (50 MB holding nothing), the last. The padding is Wine's leftover.
const char RecordedBatch[] =
    "7000000000000000c8bab3105c87dd01a22643115c87dd01c8bab3105c87dd01c8bab3105c87dd010000000000"
    "000000000000000000000010000000020000000000000000aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    "aaaaaaaaaaaa6420a700000000002e00aaaaaaaaaaaa700000000000000063db67135c87dd0164a1c4135c87dd"
    "0163db67135c87dd0163db67135c87dd0100000000000000000000000000000000100000000400000000000000"
    "00aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa9120a700000000002e002e00aaaaaaaa70"
    "00000000000000e658b3105c87dd01e658b3105c87dd01e658b3105c87dd01e658b3105c87dd01050000000000"
    "0000001000000000000020000000040000000000000000aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    "aaaaaaaaaa8620a7000000000061006200aaaaaaaa7000000000000000c8bab3105c87dd01e658b3105c87dd01"
    "c8bab3105c87dd01c8bab3105c87dd018813000000000000002000000000000020000000060000000000000010"
    "aa48005f005f007e007e004d004a004a00aaaaaaaaaaaaaaaaaaaaf927a700000000006800e900e900aaaa0000"
    "000000000000e658b3105c87dd01627fb2105c87dd01e658b3105c87dd01e658b3105c87dd0100002003000000"
    "000000000000000000200000000c0000000000000000aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
    "aaaaaaaa7520a70000000000730070006100720073006500";

std::vector<unsigned char> FromHex(const char* hex) {
  std::vector<unsigned char> bytes;
  for (const char* p = hex; p[0] && p[1]; p += 2)
    bytes.push_back((unsigned char)std::stoi(std::string(p, 2), nullptr, 16));
  return bytes;
}

std::string Utf16Name(const ListingRecord& r) {
  std::string out;
  for (int i = 0; i < r.nameUnits; ++i) {
    unsigned unit = r.name[2 * i] | r.name[2 * i + 1] << 8;
    out += unit < 0x80 ? std::string(1, (char)unit) : "<" + std::to_string(unit) + ">";
  }
  return out;
}

std::vector<ListingRecord> Walk(const std::vector<unsigned char>& bytes, int length = -1) {
  NtfsBatch batch;
  StartBatch(&batch, bytes.data(), length < 0 ? (int)bytes.size() : length);
  std::vector<ListingRecord> records;
  ListingRecord r;
  while (NextRecord(&batch, &r)) records.push_back(r);
  return records;
}

void Put(std::vector<unsigned char>& b, int at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = (unsigned char)(value >> (8 * i));
}
}  // namespace

TEST(NtfsBatch, ReadsTheRecordsOfARecordedBatch) {
  std::vector<unsigned char> batch = FromHex(RecordedBatch);
  ASSERT_EQ(batch.size(), 564u);
  std::vector<ListingRecord> r = Walk(batch);
  ASSERT_EQ(r.size(), 5u);
  std::vector<std::string> names;
  for (const ListingRecord& e : r) names.push_back(Utf16Name(e));
  EXPECT_EQ(names, (std::vector<std::string>{".", "..", "ab", "h<233><233>", "sparse"}));
  EXPECT_EQ(r[0].attributes, 0x10u);
  EXPECT_EQ(r[2].attributes, 0x20u);
  EXPECT_EQ(r[2].endOfFile, 5);
  EXPECT_EQ(r[2].allocationSize, 4096);
  EXPECT_EQ(r[3].endOfFile, 5000);
  EXPECT_EQ(r[3].allocationSize, 8192);
  EXPECT_EQ(r[4].endOfFile, 52428800);
  EXPECT_EQ(r[4].allocationSize, 0);
  EXPECT_EQ(r[2].fileId, 0xa72086u);
  EXPECT_EQ(r[4].fileId, 0xa72075u);
}

TEST(NtfsBatch, ARecordThatDoesNotFitEndsTheBatch) {
  std::vector<unsigned char> batch = FromHex(RecordedBatch);
  // Cut inside the last record's name, then inside its fixed part: it is not read.
  EXPECT_EQ(Walk(batch, 563).size(), 4u);
  EXPECT_EQ(Walk(batch, 448 + 100).size(), 4u);
  // A successor past the end, and one that would not move forward, end it after the record.
  Put(batch, 224, 5000, 4);
  EXPECT_EQ(Walk(batch).size(), 3u);
  Put(batch, 0, 0, 4);
  EXPECT_EQ(Walk(batch).size(), 1u);
  EXPECT_TRUE(Walk(batch, 0).empty());
}

TEST(NtfsBatch, AnOddByteCountOfANameDropsItsLastByte) {
  std::vector<unsigned char> batch = FromHex(RecordedBatch);
  Put(batch, 448 + 60, 11, 4);  // "sparse" is 12 bytes
  std::vector<ListingRecord> r = Walk(batch);
  ASSERT_EQ(r.size(), 5u);
  EXPECT_EQ(Utf16Name(r[4]), "spars");
}

TEST(NtfsBatch, EntriesChargeWhatTheFilesHoldAndKeyThemByFileId) {
  std::vector<unsigned char> batch = FromHex(RecordedBatch);
  std::vector<FindEntry> e;
  for (const ListingRecord& r : Walk(batch)) {
    FindEntry entry;
    EntryFromRecord(r, &entry);
    e.push_back(entry);
  }
  // "ab": 5 bytes of data in a cluster; the sparse file's 50 MB hold nothing.
  EXPECT_EQ(e[2].size, 5);
  EXPECT_EQ(e[2].allocated, 5);
  EXPECT_EQ(e[2].held, 4096);
  EXPECT_EQ(e[4].size, 52428800);
  EXPECT_EQ(e[4].allocated, 0);
  EXPECT_TRUE(e[2].linked);
  EXPECT_EQ(e[2].inode, 0xa72086u);
  EXPECT_EQ(e[0].attributes, AttrDirectory);
  // A volume without file ids (0) gives no key: every name of it counts. A directory link is
  // listed as a file, and a reported allocation below 0 as none.
  Put(batch, 224 + 96, 0, 8);
  Put(batch, 224 + 56, 0x410, 4);
  Put(batch, 224 + 48, (uint64_t)-1, 8);
  std::vector<ListingRecord> r = Walk(batch);
  FindEntry entry;
  EntryFromRecord(r[2], &entry);
  EXPECT_FALSE(entry.linked);
  EXPECT_EQ(entry.attributes, 0x400u);
  EXPECT_EQ(entry.allocated, 0);
  EXPECT_EQ(entry.held, 0);
}

TEST(NtfsBatch, OnlyIdsThatTellFilesApartCount) {
  EXPECT_TRUE(KnownFileId(0xa72086));
  EXPECT_TRUE(KnownFileId(1));
  EXPECT_FALSE(KnownFileId(0));             // FAT keeps no ids
  EXPECT_FALSE(KnownFileId(~(uint64_t)0));  // an id of 128 bits (ReFS)
}

TEST(LongDirectoryForm, PrefixesAndResolvesWhatTheLiteralFormCannot) {
  auto L = [](const char* path) { return S(LongDirectoryForm(PMake(path))); };
  EXPECT_EQ(L("C:\\"), "\\\\?\\C:\\");
  EXPECT_EQ(L("C:\\Users\\x\\"), "\\\\?\\C:\\Users\\x\\");
  EXPECT_EQ(L("Z:\\a\\..\\b\\.\\c\\\\d"), "\\\\?\\Z:\\b\\c\\d\\");
  EXPECT_EQ(L("C:\\..\\..\\a\\"), "\\\\?\\C:\\a\\");
  // A final dot or blank, and dots that are no "." or "..", are names of their own.
  EXPECT_EQ(L("C:\\w\\apache.\\trail \\...\\"), "\\\\?\\C:\\w\\apache.\\trail \\...\\");
  EXPECT_EQ(L("\\\\srv\\share\\d\\..\\..\\e\\"), "\\\\?\\UNC\\srv\\share\\e\\");
  EXPECT_EQ(L("\\\\srv\\share"), "\\\\?\\UNC\\srv\\share\\");
  EXPECT_EQ(L("\\\\?\\C:\\a\\..\\b."), "\\\\?\\C:\\a\\..\\b.\\");
  EXPECT_EQ(L("relative\\"), "relative\\");
  // The longest path of the budget still has room for the prefix.
  std::string deep = "\\\\srv\\s\\" + std::string(4095 - 9, 'n') + "\\";
  EXPECT_EQ(L(deep.c_str()), "\\\\?\\UNC\\" + deep.substr(2));
}
