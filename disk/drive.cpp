#include "disk/drive.h"

#include "console/output.h"

namespace {
int FindBackslash(const BStr& s, int from) {
  for (int i = from; i < s.length; ++i)
    if (s.text[i] == '\\') return i;
  return -1;
}
}  // namespace

RootKind DeriveDriveRoot(const BStr& path, BStr* root) {
  if (path.length >= 3 && path.text[1] == ':' && path.text[2] == '\\') {
    char c = path.text[0];
    if (c >= 'a' && c <= 'z') c = (char)(c - 'a' + 'A');
    char r[3] = {c, ':', '\\'};
    BSet(*root, r, 3);
    return RootDrive;
  }
  if (path.length >= 2 && path.text[0] == '\\' && path.text[1] == '\\') {
    int afterServer = FindBackslash(path, 2);
    if (afterServer < 0) return RootServerOnly;
    int afterShare = FindBackslash(path, afterServer + 1);
    if (afterShare < 0) {
      *root = path;
      BAppendChar(*root, '\\');
    } else {
      BSet(*root, path.text, afterShare + 1);
    }
    return RootShare;
  }
  return RootUnknown;
}

void SayInvalidDrive(const char* root, int length) {
  WriteRunEndingMessage("Invalid drive ", root, length, "  Ensure the drive door is closed");
}
