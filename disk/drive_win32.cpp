// Win32 drive query: GetDiskFreeSpaceA for the cluster size and the cluster-based totals, and
// GetDiskFreeSpaceExA, bound at run time, for exact 64-bit totals. Only code for Windows goes in
// this file.
#include "console/output.h"
#include "console/windows_api.h"
#include "disk/drive.h"

namespace {
typedef BOOL(WINAPI* DiskFreeSpaceEx)(LPCSTR, PULARGE_INTEGER, PULARGE_INTEGER, PULARGE_INTEGER);
}  // namespace

bool QueryDiskSpaceEx(const BStr& root, int64_t* total, int64_t* free) {
  HMODULE kernel = LoadLibraryA("KERNEL32.DLL");
  if (!kernel) return false;
  DiskFreeSpaceEx query = (DiskFreeSpaceEx)(void*)GetProcAddress(kernel, "GetDiskFreeSpaceExA");
  if (!query) return false;
  ULARGE_INTEGER toCaller, totalBytes, freeBytes;
  if (!query(root.text, &toCaller, &totalBytes, &freeBytes)) return false;
  *total = (int64_t)totalBytes.QuadPart;
  *free = (int64_t)freeBytes.QuadPart;
  return true;
}

bool GetDriveStatistics(const PathStr& path, DriveFacts* drive) {
  BStr root;
  // A Windows path holds at most 255 bytes, the program's string bound.
  switch (DeriveDriveRoot(BCopy<BStrCapacity>(path), &root)) {
    case RootServerOnly:
      return false;
    case RootUnknown:
      WriteRunEndingMessage("Can't determine drive of ", path.text, path.length, "");
      return false;
    default:
      break;
  }
  DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
  if (!GetDiskFreeSpaceA(root.text, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                         &totalClusters)) {
    SayInvalidDrive(root.text, root.length);
    return false;
  }
  int32_t cluster = (int32_t)(bytesPerSector * sectorsPerCluster);
  drive->cluster = cluster;
  drive->freeBytes = (int64_t)cluster * (int64_t)(int32_t)freeClusters;
  drive->totalBytes = (int64_t)cluster * (int64_t)(int32_t)totalClusters;
  QueryDiskSpaceEx(root, &drive->totalBytes, &drive->freeBytes);
  char letter = path.text[0];
  if (letter >= 'a' && letter <= 'z') letter = (char)(letter - 'a' + 'A');
  BSet(drive->label, &letter, 1);
  drive->rootLength = 3;
  return true;
}
