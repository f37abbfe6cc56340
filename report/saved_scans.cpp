#include "report/saved_scans.h"

SavedScanNotes SavedScans = {};
