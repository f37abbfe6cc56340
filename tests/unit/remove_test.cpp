// Deleting and trashing an entry below the start directory, on real files in a temporary
// folder: files, trees deeper than the descriptors and the path limit, links never followed
// (also a folder swapped for a link while it is being deleted), what cannot be removed named
// while the rest goes, and the trash holding what was trashed with where it came from.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <string>

#ifdef _WIN32
#include "console/windows_api.h"
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "test_support.h"
#include "tree/remove.h"

namespace fs = std::filesystem;

namespace {
std::function<void(const std::string&)> OnStep;
void StepHook(const char* rel, int length) {
  if (OnStep) OnStep(std::string(rel, (size_t)length));
}

// A test's paths below the start directory are written with '/'; the build's separator here.
std::string Native(std::string path) {
  for (char& c : path)
    if (c == '/') c = PathSeparator;
  return path;
}

std::string Read(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Write(const fs::path& p, const std::string& text) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << text;
}

#ifdef _WIN32
bool UnderWine() {
  return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
}

// The Unix path Wine gives a Windows one; empty when not under Wine.
std::string UnixPath(const fs::path& p) {
  typedef char*(CDECL * ToUnix)(const WCHAR*);
  auto toUnix =
      (ToUnix)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
  char* unix = toUnix ? toUnix(p.wstring().c_str()) : nullptr;
  std::string out = unix ? unix : "";
  if (unix) HeapFree(GetProcessHeap(), 0, unix);
  return out;
}

bool IsLink(const fs::path& p) {
  DWORD a = GetFileAttributesW(p.wstring().c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A directory link at link to target: a symbolic link where the system lets the user make one;
// under Wine, whose own call makes none, a link of the Unix file system below it, which Wine
// lists as a directory reparse point.
bool MakeLink(const fs::path& link, const fs::path& target) {
  typedef BOOLEAN(WINAPI * MakeSymbolicLink)(LPCWSTR, LPCWSTR, DWORD);
  auto make = (MakeSymbolicLink)(void*)GetProcAddress(GetModuleHandleA("kernel32.dll"),
                                                      "CreateSymbolicLinkW");
  if (make && make(link.wstring().c_str(), target.wstring().c_str(), 1 | 2) && IsLink(link))
    return true;
  if (!UnderWine()) return false;
  std::string line = "Z:\\bin\\ln -s \"" + UnixPath(target) + "\" \"" + UnixPath(link) + "\"";
  STARTUPINFOA si = {};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
    return false;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  // Wine hands a Unix program over to the Unix side and its handle may end first.
  for (int waited = 0; waited < 10000 && !IsLink(link); waited += 10) Sleep(10);
  return IsLink(link);
}
#else
bool MakeLink(const fs::path& link, const fs::path& target) {
  std::error_code ec;
  fs::create_directory_symlink(target, link, ec);
  return !ec;
}
#endif

class RemoveTest : public ::testing::Test {
 protected:
  fs::path root, start, outside;

  void SetUp() override {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    root = fs::temp_directory_path() / ("qv-remove-" + std::to_string(stamp));
    start = root / "start";
    outside = root / "outside";
    fs::create_directories(start);
    Write(outside / "keep", "kept");
    RemoveStepHook = StepHook;
  }

  void TearDown() override {
    RemoveStepHook = nullptr;
    OnStep = nullptr;
    std::error_code ec;
#ifndef _WIN32
    for (auto it = fs::recursive_directory_iterator(root, ec); !ec && it != fs::end(it);
         it.increment(ec))
      if (it->is_directory(ec) && !it->is_symlink(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
#endif
    fs::remove_all(root, ec);
  }

  PathStr Start() const {
    return PMake(start.string().c_str());
  }

  // Deletes (or trashes) the entry at rel, a '/'-separated path below the start directory.
  bool Remove(const std::string& rel, RemoveOutcome* o, bool trash = false) {
    size_t slash = rel.find_last_of('/');
    std::string parent = Native(slash == std::string::npos ? "" : rel.substr(0, slash + 1));
    std::string name = slash == std::string::npos ? rel : rel.substr(slash + 1);
    auto call = trash ? TrashEntry : DeleteEntry;
    return call(Start(), parent.data(), (int)parent.size(), name.data(), (int)name.size(), o);
  }

  // The folder outside the tree is as the test made it.
  void ExpectOutsideUntouched() {
    EXPECT_EQ(Read(outside / "keep"), "kept");
    int entries = 0;
    for (auto& e : fs::directory_iterator(outside)) (void)e, ++entries;
    EXPECT_EQ(entries, 1);
  }

  // A link removed as the link it is: gone, or where the system opens it as its target
  // (Wine), left and named.
  void ExpectLinkRemovedOrLeft(const RemoveOutcome& o, const std::string& rel) {
#ifdef _WIN32
    if (!o.whole) {
      ASSERT_EQ(o.failures, 1);
      EXPECT_EQ(S(o.named[0].path), Native(rel));
      std::string reason = S(o.named[0].reason);
      EXPECT_TRUE(reason == RefusedLinkAsTarget || reason == RefusedReplaced) << reason;
      return;
    }
#endif
    EXPECT_TRUE(o.whole);
    EXPECT_EQ(o.failures, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(start / rel)));
  }
};

TEST_F(RemoveTest, DeletesFilesTreesAndLinksButNeverWhatALinkPointsTo) {
  RemoveOutcome o;
  Write(start / "f", "x");
  EXPECT_TRUE(Remove("f", &o));
  EXPECT_TRUE(o.whole);
  EXPECT_EQ(o.failures, 0);
  EXPECT_FALSE(fs::exists(start / "f"));

  // A read-only file goes as it goes in Explorer (on POSIX its own mode never mattered).
  Write(start / "ro.txt", "x");
  fs::permissions(start / "ro.txt",
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  EXPECT_TRUE(Remove("ro.txt", &o));
  EXPECT_FALSE(fs::exists(start / "ro.txt"));

  Write(start / "tree/a/b/c.txt", "c");
  Write(start / "tree/.hidden", "h");
  Write(start / "tree/e.txt", "e");
  fs::create_directories(start / "tree/a/empty");
  Write(start / "tree/sub/deeper/still/f", "f");
  EXPECT_TRUE(Remove("tree", &o));
  EXPECT_EQ(o.failures, 0);
  EXPECT_FALSE(fs::exists(start / "tree"));

  fs::create_directories(start / "sub");
  fs::create_directories(start / "tree2/in");
  Write(start / "tree2/in/file", "f");
  if (!MakeLink(start / "sub/link", outside) || !MakeLink(start / "tree2/in/link", outside))
    GTEST_SKIP() << "no directory link can be made here";
  Remove("sub/link", &o);
  ExpectOutsideUntouched();
  ExpectLinkRemovedOrLeft(o, "sub/link");
  EXPECT_TRUE(fs::exists(start / "sub"));

  // A link inside the tree deleted: the tree goes, what it points to stays.
  Remove("tree2", &o);
  ExpectOutsideUntouched();
  EXPECT_FALSE(fs::exists(start / "tree2/in/file"));
  ExpectLinkRemovedOrLeft(o, "tree2/in/link");
  if (o.whole) {
    EXPECT_FALSE(fs::exists(start / "tree2"));
  }
}

#ifndef _WIN32
// Deeper than the longest path the system resolves and than the descriptors the process may
// open: nothing is reached by its path, and folders closed on the way down are found again.
TEST_F(RemoveTest, TreeDeeperThanThePathLimitAndTheDescriptorsIsDeleted) {
  const int depth = 60;
  const std::string name(100, 'd');  // 6,060 bytes of path, past PATH_MAX
  int fd = open(start.c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  for (int level = 0; level < depth; ++level) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    if (level % 10 == 0) close(openat(fd, "f", O_CREAT | O_WRONLY, 0644));
  }
  close(fd);
  struct rlimit before, low;
  getrlimit(RLIMIT_NOFILE, &before);
  low = before;
  low.rlim_cur = 24;
  setrlimit(RLIMIT_NOFILE, &low);
  RemoveOutcome o;
  bool whole = Remove(name, &o);
  setrlimit(RLIMIT_NOFILE, &before);
  EXPECT_TRUE(whole);
  EXPECT_EQ(o.failures, 0);
  EXPECT_TRUE(fs::is_empty(start));
}

// As a user who may not write in a folder: what is in it stays, named with the system's reason,
// and so do the folders holding it, without a line of their own.
TEST_F(RemoveTest, ReadOnlyFolderKeepsWhatItHolds) {
  if (geteuid() == 0) GTEST_SKIP() << "run as root, whom a folder's mode does not stop";
  Write(start / "locked/ro/f", "f");
  Write(start / "locked/other", "o");
  fs::permissions(start / "locked/ro", fs::perms::owner_read | fs::perms::owner_exec);
  RemoveOutcome o;
  EXPECT_FALSE(Remove("locked", &o));
  ASSERT_EQ(o.failures, 1);
  EXPECT_EQ(S(o.named[0].path), "locked/ro/f");
  EXPECT_EQ(S(o.named[0].reason), "Permission denied");
  EXPECT_TRUE(fs::exists(start / "locked/ro/f"));
  EXPECT_FALSE(fs::exists(start / "locked/other"));
}
#endif

TEST_F(RemoveTest, WhatCannotBeRemovedIsNamedAndTheRestGoes) {
  Write(start / "half/a.txt", "a");
  Write(start / "half/b/x.txt", "x");
  Write(start / "half/c/y.txt", "y");
  // A file made in b once its listing is read: b cannot be removed, and half stays for it.
  OnStep = [&](const std::string& rel) {
    if (rel == Native("half/b/")) Write(start / "half/b/late", "late");
  };
  RemoveOutcome o;
  EXPECT_FALSE(Remove("half", &o));
  ASSERT_EQ(o.failures, 1);
  EXPECT_EQ(S(o.named[0].path), Native("half/b"));
#ifdef _WIN32
  EXPECT_NE(S(o.named[0].reason).find("not empty"), std::string::npos) << S(o.named[0].reason);
#else
  EXPECT_EQ(S(o.named[0].reason), "Directory not empty");
#endif
  EXPECT_TRUE(fs::exists(start / "half/b/late"));
  EXPECT_FALSE(fs::exists(start / "half/b/x.txt"));
  EXPECT_FALSE(fs::exists(start / "half/a.txt"));
  EXPECT_FALSE(fs::exists(start / "half/c"));

  // Past the first few, failures are counted, not named.
  for (int i = 0; i < 12; ++i) Write(start / ("many/d" + std::to_string(i) + "/f"), "f");
  OnStep = [&](const std::string& rel) {
    if (rel.size() > 6 && rel.compare(0, 6, Native("many/d")) == 0)
      Write(start / rel / "late", "late");
  };
  EXPECT_FALSE(Remove("many", &o));
  EXPECT_EQ(o.failures, 12);
  EXPECT_EQ((int)o.named.size(), MaxNamedFailures);
}

TEST_F(RemoveTest, FolderSwappedForALinkWhileDeletedLeavesTheOutsideAlone) {
  Write(start / "victim/a/b/inner.txt", "i");
  Write(start / "victim/a/z.txt", "z");
  bool linked = false;
  // b is listed as a folder of a; before it is opened, it is moved away and a link to the
  // outside takes its name.
  OnStep = [&](const std::string& rel) {
    if (rel != Native("victim/a/")) return;
    fs::rename(start / "victim/a/b", root / "parked");
    linked = MakeLink(start / "victim/a/b", outside);
  };
  RemoveOutcome o;
  Remove("victim", &o);
  if (!linked) GTEST_SKIP() << "no directory link can be made here";
  ExpectOutsideUntouched();
  EXPECT_TRUE(fs::exists(root / "parked/inner.txt"));
  EXPECT_FALSE(fs::exists(start / "victim/a/z.txt"));
  ExpectLinkRemovedOrLeft(o, "victim/a/b");
  if (o.whole) {
    EXPECT_FALSE(fs::exists(start / "victim"));
  }
}

TEST_F(RemoveTest, LinkOrNoNameOnTheWayIsRefused) {
  RemoveOutcome o;
  std::string up = Native("../outside/");
  EXPECT_FALSE(DeleteEntry(Start(), up.data(), (int)up.size(), "keep", 4, &o));
  ASSERT_EQ(o.failures, 1);
  EXPECT_EQ(S(o.named[0].reason), RefusedBadName);
  EXPECT_FALSE(DeleteEntry(Start(), "", 0, "..", 2, &o));
  EXPECT_EQ(S(o.named[0].reason), RefusedBadName);
  std::string nested = Native("a/b");
  EXPECT_FALSE(TrashEntry(Start(), "", 0, nested.data(), (int)nested.size(), &o));
  EXPECT_EQ(S(o.named[0].reason), RefusedBadName);
  EXPECT_FALSE(Remove("missing", &o));
  ASSERT_EQ(o.failures, 1);
  EXPECT_GT(o.named[0].reason.length, 0);
  ExpectOutsideUntouched();

  if (!MakeLink(start / "via", outside)) GTEST_SKIP() << "no directory link can be made here";
  for (bool trash : {false, true}) {
    EXPECT_FALSE(Remove("via/keep", &o, trash));
    ASSERT_EQ(o.failures, 1);
    EXPECT_EQ(S(o.named[0].path), Native("via/keep"));
    EXPECT_EQ(S(o.named[0].reason), RefusedLinkOnTheWay);
    ExpectOutsideUntouched();
  }
}

#ifndef _WIN32
TEST_F(RemoveTest, TrashHoldsTheEntryAndWhereItCameFrom) {
  const char* before = std::getenv("XDG_DATA_HOME");
  std::string saved = before ? before : "";
  setenv("XDG_DATA_HOME", (root / "data").c_str(), 1);
  fs::path trash = root / "data/Trash";
  std::string from = fs::canonical(start).string() + "/";
  auto info = [&](const std::string& name) { return Read(trash / "info" / (name + ".trashinfo")); };
  const std::regex shape(
      "\\[Trash Info\\]\nPath=(.*)\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n");
  std::smatch m;

  RemoveOutcome o;
  Write(start / "docs/readme", "first");
  EXPECT_TRUE(Remove("docs", &o, true));
  EXPECT_EQ(o.failures, 0);
  EXPECT_FALSE(fs::exists(start / "docs"));
  EXPECT_EQ(Read(trash / "files/docs/readme"), "first");
  std::string text = info("docs");
  ASSERT_TRUE(std::regex_match(text, m, shape)) << text;
  EXPECT_EQ(m[1].str(), from + "docs");
  for (const char* folder : {"", "/files", "/info"})
    EXPECT_EQ(fs::status(trash.string() + folder).permissions(), fs::perms::owner_all) << folder;

  // The same name again takes a name of its own; a name is written as a URL path.
  Write(start / "docs/readme", "second");
  EXPECT_TRUE(Remove("docs", &o, true));
  EXPECT_EQ(Read(trash / "files/docs.2/readme"), "second");
  EXPECT_EQ(Read(trash / "files/docs/readme"), "first");
  ASSERT_TRUE(std::regex_match(text = info("docs.2"), m, shape)) << text;
  EXPECT_EQ(m[1].str(), from + "docs");
  Write(start / "a b%c\xC3\xA9", "x");
  EXPECT_TRUE(Remove("a b%c\xC3\xA9", &o, true));
  ASSERT_TRUE(std::regex_match(text = info("a b%c\xC3\xA9"), m, shape)) << text;
  EXPECT_EQ(m[1].str(), from + "a%20b%25c%C3%A9");

  // A link goes as itself; a name of 255 bytes is cut to leave room for its info file's.
  ASSERT_TRUE(MakeLink(start / "lnk", outside));
  EXPECT_TRUE(Remove("lnk", &o, true));
  EXPECT_TRUE(fs::is_symlink(trash / "files/lnk"));
  ExpectOutsideUntouched();
  std::string longName(255, 'n');
  Write(start / longName, "x");
  EXPECT_TRUE(Remove(longName, &o, true)) << S(o.named[0].reason);
  EXPECT_TRUE(fs::exists(trash / "files" / std::string(245, 'n')));
  EXPECT_TRUE(fs::exists(trash / "info" / (std::string(245, 'n') + ".trashinfo")));

  if (before)
    setenv("XDG_DATA_HOME", saved.c_str(), 1);
  else
    unsetenv("XDG_DATA_HOME");
}
#else
TEST_F(RemoveTest, TrashGoesToTheRecycleBin) {
  // Wine's Recycle Bin is the freedesktop trash of $XDG_DATA_HOME, read when it is first used.
  fs::create_directories(root / "data");
  std::string data = UnixPath(root / "data");
  if (!data.empty()) SetEnvironmentVariableA("XDG_DATA_HOME", data.c_str());
  Write(start / "junk/f", "f");
  RemoveOutcome o;
  EXPECT_TRUE(Remove("junk", &o, true)) << (o.named.empty() ? "" : S(o.named[0].reason));
  EXPECT_FALSE(fs::exists(start / "junk"));
  if (!data.empty()) {
    EXPECT_EQ(Read(root / "data/Trash/files/junk/f"), "f");
  }

  // Past what the shell takes, refused with the reason, and the entry stays.
  std::wstring folder = L"\\\\?\\" + start.wstring() + L"\\" + std::wstring(200, L'p');
  ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
  HANDLE f = CreateFileW((folder + L"\\" + std::wstring(60, L'f')).c_str(), GENERIC_WRITE, 0,
                         nullptr, CREATE_NEW, 0, nullptr);
  ASSERT_NE(f, INVALID_HANDLE_VALUE);
  CloseHandle(f);
  std::string parent = std::string(200, 'p') + "\\";
  std::string name(60, 'f');
  EXPECT_FALSE(
      TrashEntry(Start(), parent.data(), (int)parent.size(), name.data(), (int)name.size(), &o));
  ASSERT_EQ(o.failures, 1);
  EXPECT_EQ(S(o.named[0].reason), RefusedTooLongToRecycle);
  // Deleting takes the long path.
  EXPECT_TRUE(Remove(std::string(200, 'p'), &o));
  EXPECT_TRUE(fs::is_empty(start));
  SetEnvironmentVariableA("XDG_DATA_HOME", nullptr);
}
#endif
}  // namespace
