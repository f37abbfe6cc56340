// The screen report: a two-line header, one indented tree line per directory and a nine-line
// footer with the totals and the drive's statistics.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"
#include "report/display.h"
#include "tree/dir_node.h"

int32_t ScreenHeader();
void WalkScreenTree(const DirNode* first);
int32_t ScreenFooter(int32_t total);
int32_t NoFooter(int32_t total);
