#include "console/display_width.h"

namespace {
#include "console/display_width_table.inc"
}  // namespace

int CodePointColumns(unsigned cp) {
  // Below the first range, ASCII and Latin-1 letters: the common case costs one comparison.
  if (cp < DisplayWidthRanges[0].first) return 1;
  int low = 0, high = (int)(sizeof DisplayWidthRanges / sizeof DisplayWidthRanges[0]) - 1;
  while (low <= high) {
    int mid = (low + high) / 2;
    if (cp < DisplayWidthRanges[mid].first)
      high = mid - 1;
    else if (cp > DisplayWidthRanges[mid].last)
      low = mid + 1;
    else
      return DisplayWidthRanges[mid].columns;
  }
  return 1;
}
