// The columns a terminal gives one character, from a table made from Unicode's own data (see
// display_width_table.py beside it), never from the system's locale, so both builds agree.
#pragma once

// One run of code points that do not take one column.
struct DisplayWidthRange {
  unsigned first, last;  // code points, inclusive
  int columns;           // 0 (combining and format characters) or 2 (wide characters)
};

// Columns of a code point: 2 for East Asian wide and full-width characters and emoji shown as
// emoji, 0 for combining marks and format characters (Mn, Me, Cf), 1 for every other one.
// Control characters count as 1 here: callers mask or handle them first.
int CodePointColumns(unsigned cp);
