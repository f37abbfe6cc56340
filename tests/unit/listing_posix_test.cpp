// The Linux listing, read through a scripted getdents64: a read that gives fewer records than
// fit (as the kernel gives when a signal is pending for the thread) is no listing's end, and a
// read that fails part way makes the directory one that could not be read whole, on the scan's
// thread and on the workers that read ahead alike. Also the checks of the records themselves.
#include "tree/listing_posix.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <string>

#include "test_support.h"

namespace {
// The real call, asked for at most Cut bytes (at least one record): every read is short.
std::atomic<int> Cut{0};
// The directory whose FailAt-th read (from 1) fails with EIO; 0: none.
std::atomic<ino_t> FailingDirectory{0};
std::atomic<int> FailAt{0};
std::atomic<int> ReadsOfFailing{0};

long ScriptedRead(int fd, char* buffer, int size) {
  if (FailingDirectory != 0) {
    struct stat st;
    if (fstat(fd, &st) == 0 && st.st_ino == FailingDirectory && ++ReadsOfFailing == FailAt) {
      errno = EIO;
      return -1;
    }
  }
  int cut = Cut;
  return syscall(SYS_getdents64, fd, buffer, cut > 0 && cut < size ? cut : size);
}

class ScriptedListing : public Isolated {
 protected:
  std::string base;
  Capture out;

  void SetUp() override {
    char scratch[] = "/tmp/quorvel-listing-XXXXXX";
    ASSERT_NE(mkdtemp(scratch), nullptr);
    base = scratch;
    ReadRecordsCall = ScriptedRead;
    Cut = 0;
    FailingDirectory = 0;
    FailAt = 0;
    ReadsOfFailing = 0;
  }
  void TearDown() override {
    ReadRecordsCall = DefaultReadRecords;
    ReleaseRoot();
    unsetenv("QUORVEL_THREADS");
    std::string command = "rm -rf '" + base + "'";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
  static long DefaultReadRecords(int fd, char* buffer, int size) {
    return syscall(SYS_getdents64, fd, buffer, size);
  }

  void MakeFiles(const std::string& dir, int count) {
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    for (int i = 0; i < count; ++i) {
      std::string name = dir + "/file" + std::to_string(i);
      int fd = open(name.c_str(), O_CREAT | O_WRONLY, 0644);
      ASSERT_GE(fd, 0);
      close(fd);
    }
  }
  ino_t Inode(const std::string& path) {
    struct stat st;
    EXPECT_EQ(stat(path.c_str(), &st), 0);
    return st.st_ino;
  }

  // Scans base with the platform's enumeration and `threads` workers.
  bool Scan(int threads) {
    setenv("QUORVEL_THREADS", std::to_string(threads).c_str(), 1);
    ScanFileSystem = PlatformFileSystem();
    ::Scan = ScanSettings{true, INT32_MAX, 0, NAME, 0, 4095, 0, 4096};
    ClusterSize = 4096;
    TotalFiles = 0;
    TotalWaste = 0;
    ReleaseRoot();
    ResetRoot(base);
    ScanPath = PMake(base.c_str());
    return ScanDirectory(&RootNode);
  }
  const DirNode* Child(const std::string& name) {
    for (const DirNode* c = RootNode.firstChild; c; c = c->nextSibling)
      if (Name(c) == name) return c;
    return nullptr;
  }
};
}  // namespace

TEST(ListingRead, OnlyAReadThatGivesNothingEndsTheListing) {
  EXPECT_EQ(JudgeRead(24, 0), RecordsRead) << "one record of a buffer of thousands: read on";
  EXPECT_EQ(JudgeRead(32 * 1024, 0), RecordsRead);
  EXPECT_EQ(JudgeRead(0, 0), ListingEnded);
  EXPECT_EQ(JudgeRead(-1, EIO), ReadError);
  EXPECT_EQ(JudgeRead(-1, ENOENT), ReadError) << "a directory removed while it is read";
  EXPECT_EQ(JudgeRead(-1, EINTR), ReadInterrupted);
}

TEST(ListingRecords, ABrokenRecordEndsWhatIsRead) {
  alignas(8) char batch[96] = {};
  auto record = [&](int at, unsigned short length, const char* name) {
    LinuxDirent* d = (LinuxDirent*)(batch + at);
    d->reclen = length;
    std::memcpy(d->name, name, std::strlen(name) + 1);
  };
  record(0, 24, "a");
  record(24, 32, "bcdefgh");
  record(56, 40, "ijk");
  EXPECT_EQ(CheckRecords(batch, 96), 96);
  EXPECT_EQ(CheckRecords(batch, 90), 56) << "a record that passes the end";
  record(24, 20, "b");
  EXPECT_EQ(CheckRecords(batch, 96), 24) << "a record shorter than any the kernel writes";
  record(24, 30, "b");
  EXPECT_EQ(CheckRecords(batch, 96), 24) << "a length that is no multiple of 8";
  record(24, 24, "");
  EXPECT_EQ(CheckRecords(batch, 96), 24) << "an empty name";
  record(24, 24, "b");
  std::memset(batch + 24 + DirentNameOffset, 'x', 24 - DirentNameOffset);
  EXPECT_EQ(CheckRecords(batch, 96), 24) << "a name without its zero in the record";
}

TEST_F(ScriptedListing, ReadsCutShortLoseNothingReadInLineOrAhead) {
  // Every read gives a record or a few: the big directory takes hundreds of reads, each of
  // which the old rule would have taken for the last.
  MakeFiles(base + "/big", 700);
  MakeFiles(base + "/small", 3);
  for (int threads : {1, 8}) {
    SCOPED_TRACE(threads);
    for (int cut : {40, 100, 4000}) {  // from one record a read up
      Cut = cut;
      ASSERT_TRUE(Scan(threads));
      ASSERT_NE(Child("big"), nullptr);
      EXPECT_EQ(Child("big")->fileCount, 700);
      EXPECT_EQ(Child("small")->fileCount, 3);
      EXPECT_EQ(TotalFiles, 703);
      EXPECT_FALSE(LastScan.Incomplete());
    }
  }
  EXPECT_EQ(out.text, "");
}

TEST_F(ScriptedListing, AReadThatFailsPartWayIsNoEnd) {
  // The big directory's third read fails: what the first two gave is counted, and the
  // directory is one that could not be read whole, named with the system's reason.
  MakeFiles(base + "/big", 300);
  MakeFiles(base + "/other", 5);
  for (int threads : {1, 8}) {
    SCOPED_TRACE(threads);
    Cut = 1000;
    FailingDirectory = Inode(base + "/big");
    FailAt = 3;
    ReadsOfFailing = 0;
    ASSERT_TRUE(Scan(threads));
    const DirNode* big = Child("big");
    ASSERT_NE(big, nullptr);
    EXPECT_GT(big->fileCount, 0);
    EXPECT_LT(big->fileCount, 300);
    EXPECT_TRUE(big->readError);
    EXPECT_EQ(Child("other")->fileCount, 5);
    EXPECT_FALSE(Child("other")->readError);
    EXPECT_EQ(LastScan.unreadable, 1);
    ASSERT_EQ(LastScan.named.size(), 1u);
    EXPECT_EQ(LastScan.named[0].path, base + "/big/");
    EXPECT_EQ(LastScan.named[0].trouble, ReadFailed);
    EXPECT_EQ(LastScan.named[0].reason, "Input/output error");
  }
}

TEST_F(ScriptedListing, AFirstReadThatFailsIsADirectoryThatCouldNotBeRead) {
  MakeFiles(base + "/bad", 10);
  for (int threads : {1, 8}) {
    SCOPED_TRACE(threads);
    FailingDirectory = Inode(base + "/bad");
    FailAt = 1;
    ReadsOfFailing = 0;
    ASSERT_TRUE(Scan(threads));
    EXPECT_EQ(Child("bad")->fileCount, 0);
    EXPECT_EQ(Child("bad")->localSize, 0);
    ASSERT_EQ(LastScan.named.size(), 1u);
    EXPECT_EQ(LastScan.named[0].trouble, CouldNotOpen);
    EXPECT_EQ(LastScan.named[0].reason, "Input/output error");
  }
}
