// Path lookup through the mount table: which mount a path lies on, and which mount points lie
// below a start directory (other file systems and bind mounts of the same one), whatever the
// order of the table's lines.
#include "disk/mounts_posix.h"

#include <gtest/gtest.h>

namespace {
// The shape of a real table: /proc, /sys and /dev listed before the root mount they sit on.
const char RootListedLate[] =
    "22 27 0:21 / /proc rw,relatime - proc proc rw\n"
    "23 27 0:22 / /sys rw,relatime - sysfs sysfs rw\n"
    "24 27 0:6 / /dev rw,relatime - devtmpfs devtmpfs rw\n"
    "25 24 0:23 / /dev/shm rw,relatime - tmpfs tmpfs rw\n"
    "26 24 0:24 / /dev/pts rw,relatime - devpts devpts rw\n"
    "27 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
    "28 27 0:25 / /mnt/two\\040words ro - tmpfs none ro\n"
    "31 23 0:28 / /sys/fs/cgroup rw - tmpfs tmpfs rw\n";

std::string At(const MountTable& t, const std::string& path) {
  int m = MountHolding(t, path);
  return m < 0 ? "(none)" : t.mounts[m].mountPoint;
}
}  // namespace

TEST(MountTable, MountsListedBeforeTheirParentAreStillFound) {
  MountTable t;
  ASSERT_TRUE(ParseMountTable(RootListedLate, &t));
  EXPECT_EQ(At(t, "/"), "/");
  EXPECT_EQ(At(t, "/proc/self"), "/proc");
  EXPECT_EQ(At(t, "/dev/shm/x"), "/dev/shm");
  EXPECT_EQ(At(t, "/devices"), "/");  // a name that only begins like a mount point
  EXPECT_EQ(At(t, "/mnt/two words/in"), "/mnt/two words");
  EXPECT_EQ(MountPointsBelow(t, "/"),
            (std::vector<std::string>{"/dev/", "/dev/pts/", "/dev/shm/", "/mnt/two words/",
                                      "/proc/", "/sys/", "/sys/fs/cgroup/"}));
  EXPECT_EQ(MountPointsBelow(t, "/sys/"), (std::vector<std::string>{"/sys/fs/cgroup/"}));
  EXPECT_EQ(MountPointsBelow(t, "/sys/fs/cgroup/"), (std::vector<std::string>{}))
      << "the start directory itself is not below it";
}

TEST(MountTable, StackedCoveredAndMovedMounts) {
  // 40: a tmpfs at /srv/a/b; 41: /srv/a covered later by a bind mount of the disk, which hides
  // 40; 42: a tmpfs mounted at /srv/x and then moved below the bind mount (its id is older than
  // its new parent's); 43 and 44: two mounts stacked at /srv/s, the second on the first.
  const char table[] =
      "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
      "40 27 0:40 / /srv/a/b rw - tmpfs none rw\n"
      "42 41 0:42 / /srv/a/moved rw - tmpfs none rw\n"
      "41 27 254:0 /data /srv/a rw - ext4 /dev/vda rw\n"
      "44 43 254:0 /other /srv/s rw - ext4 /dev/vda rw\n"
      "43 27 0:43 / /srv/s rw - tmpfs none rw\n";
  MountTable t;
  ASSERT_TRUE(ParseMountTable(table, &t));
  EXPECT_EQ(t.mounts[MountHolding(t, "/srv/a/b")].id, 41)
      << "the covered tmpfs is not what /srv/a/b shows";
  EXPECT_EQ(t.mounts[MountHolding(t, "/srv/a/moved/f")].id, 42);
  EXPECT_EQ(t.mounts[MountHolding(t, "/srv/s")].id, 44);
  // The bind mounts of the disk at /srv/a and /srv/s are mount points as much as the tmpfs;
  // the covered /srv/a/b is not where lookup goes.
  EXPECT_EQ(MountPointsBelow(t, "/srv/"),
            (std::vector<std::string>{"/srv/a/", "/srv/a/moved/", "/srv/s/"}));
}

TEST(MountTable, MalformedTablesAreRefused) {
  MountTable t;
  EXPECT_FALSE(ParseMountTable("27 1 254:0 / /\n", &t));                     // too few fields
  EXPECT_FALSE(ParseMountTable("x 1 254:0 / / rw - ext4 d rw\n", &t));       // no id
  EXPECT_FALSE(ParseMountTable("22 27 0:21 / /proc rw - proc p rw\n", &t));  // no root mount
  EXPECT_TRUE(ParseMountTable("27 1 254:0 / / rw - ext4 d rw\n", &t));
}
