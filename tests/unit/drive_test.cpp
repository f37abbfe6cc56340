// The Windows drive-root derivation, portable: drive paths, network shares, servers alone.
#include "test_support.h"

namespace {
std::string RootOf(const char* path, RootKind expect) {
  BStr root = BMake("unchanged");
  EXPECT_EQ(DeriveDriveRoot(BMake(path), &root), expect) << path;
  return S(root);
}
}  // namespace

TEST(DriveRoot, DrivePathsGiveTheUpperCasedLetterAndRoot) {
  EXPECT_EQ(RootOf("c:\\data\\sub", RootDrive), "C:\\");
  EXPECT_EQ(RootOf("Z:\\", RootDrive), "Z:\\");
  EXPECT_EQ(RootOf("d:\\x", RootDrive), "D:\\");
}

TEST(DriveRoot, NetworkPathsGiveServerAndShare) {
  EXPECT_EQ(RootOf("\\\\server\\share\\dir\\sub", RootShare), "\\\\server\\share\\");
  EXPECT_EQ(RootOf("\\\\server\\share\\", RootShare), "\\\\server\\share\\");
  EXPECT_EQ(RootOf("\\\\server\\share", RootShare), "\\\\server\\share\\");
}

TEST(DriveRoot, AServerAloneOrAnUnknownFormHasNoRoot) {
  EXPECT_EQ(RootOf("\\\\server", RootServerOnly), "unchanged");
  EXPECT_EQ(RootOf("relative\\dir", RootUnknown), "unchanged");
  EXPECT_EQ(RootOf("C:", RootUnknown), "unchanged");
  EXPECT_EQ(RootOf("", RootUnknown), "unchanged");
}
