// What the report says of saved scans: that it was made from one (-from) and when that scan
// was made, whether the dump held the drive's statistics, and what it was compared with
// (-since). Kept in the run's record (RunRecord::saved), written by the run driver before the
// report; all false and empty for a report of the disk alone.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"

struct SavedScanNotes {
  bool fromDump;          // the tree was read from a dump, not the disk
  PathStr fromFile;       // that dump, as given
  bool fromDated;         // the dump said when its scan was made
  int64_t fromTimestamp;  // seconds since 1970 (UTC)
  BStr fromMade;          // that time in the user's locale, as the title shows times
  bool noDrive;           // the dump held no drive statistics (never so for the disk)
  bool since;             // compared with a dump (-since)
  PathStr sinceFile;
  bool sinceDated;
  int64_t sinceTimestamp;
  BStr sinceMade;
  int64_t totalGrowth;  // the start directory's growth
};
