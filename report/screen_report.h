// The screen report: a two-line header, one indented tree line per directory and a nine-line
// footer with the totals and the drive's statistics.
#pragma once

#include <cstdint>

#include "console/bounded_string.h"
#include "driver/run_record.h"
#include "report/display.h"
#include "tree/dir_node.h"

int32_t ScreenHeader(const RunRecord& run);
void WalkScreenTree(const RunRecord& run);
int32_t ScreenFooter(const RunRecord& run, int32_t total);
int32_t NoFooter(const RunRecord& run, int32_t total);
