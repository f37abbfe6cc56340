// The settings of one run and the parameter sources that set them.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"
#include "tree/sort_order.h"

enum OutputMode : unsigned char { Screen = 0, Tab = 1, Comma = 2 };

struct RunOptions {
  unsigned char maxDepth;       // levels below the root shown as nodes of their own
  int64_t minSize;              // bytes; never negative
  OutputMode outputMode;
  int32_t clusterSizeOverride;  // 0: the drive's
  bool dirListingSizes;
  BStr directory;               // as given, not upper-cased
  SortOrder sortOrder;
};

// The one instance, holding its defaults until options change it.
extern RunOptions Options;

// Reads the stored string, the environment variable and the command-line arguments in that
// order, applies every token, then runs the report once.
void ProcessParameters(int argc, char** argv);

// Applies one token.
void ParseOption(const BStr& token);
