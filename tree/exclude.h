// Directories and files left out of a scan on purpose (-exclude): glob patterns matched against
// an entry's name, or against its path below the start directory when the pattern holds a
// separator. An excluded directory is not read and adds nothing; it has no node of its own. An
// excluded file adds nothing but its entry in its directory's table.
#pragma once

// Forgets every pattern and sets how the next ones compare. ignoreCase: letters match in either
// case, every letter the system folds in names (tree/case_fold.h); utf8: names are UTF-8, so
// "?" and a set match one character of several bytes. Called by the run driver before each
// scan, never while one runs.
void ClearExclusions(bool ignoreCase, bool utf8);

// Adds the pattern of length bytes: "*" matches any run of characters within one path
// component, "?" one character, "[...]" one of a set ("a-z" ranges, "!" or "^" first negates,
// "]" first is itself; a "[" without its "]" is itself). '/' is a separator on every build,
// besides the build's own. Leading separators and "./" are dropped (a pattern with a
// separator is anchored at the start directory anyway), and so are trailing separators; what
// holds no separator then is matched against names at every depth. A pattern that is left
// empty is ignored. Never while a scan runs.
void AddExclusion(const char* pattern, int length);

// The number of patterns in effect, and pattern i of them as it is matched (separators the
// build's own, none leading or trailing); *length receives its length.
int ExclusionCount();
const char* ExclusionPattern(int i, int* length);

// True when the entry called name (nameLength bytes), in the directory whose path below
// the start directory is parent (parentLength bytes: components each followed by the build's
// separator; empty for the start directory itself), matches a pattern. Reads only what the
// calls above set and allocates nothing, so threads reading ahead of the scan may call it
// while it runs.
bool Excluded(const char* parent, int parentLength, const char* name, int nameLength);
