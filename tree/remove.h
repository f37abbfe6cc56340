// Deleting an entry below the start directory, or moving it to the trash: what the browser's
// `d` key does once the user has confirmed it. Neither ever follows a link on the way or below
// the entry, nor leaves the start directory, nor enters another file system; what cannot be
// removed is named with the system's reason, and the rest is removed all the same. The
// platform files (tree/remove_posix.cpp, tree/remove_win32.cpp) hold the two ways of doing it;
// tree/remove.cpp keeps the outcome and the texts both builds give for what they refuse.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "console/bounded_string.h"

// One entry that could not be removed: its path below the start directory (the separator after
// a directory's name left out), and why, in the system's words or one of the Refused texts.
struct RemoveFailure {
  PathStr path;
  BStr reason;
};

// The most failures an outcome names; the rest are counted only.
constexpr int MaxNamedFailures = 10;

// What became of one removal. whole: the entry is gone, and everything below it with it;
// otherwise failures says how many entries were left (a directory left only because something
// below it was is not counted), the first MaxNamedFailures of them named. The caller reads the
// directory again to see what is really gone.
struct RemoveOutcome {
  bool whole = false;
  int32_t failures = 0;
  std::vector<RemoveFailure> named;
};

// Deletes the entry `name` (nameLength bytes, no separator in it) of the directory parentRel
// (parentRelLength bytes: its path below start, ending in the separator, or empty for start
// itself), below the start directory start (an absolute path, with or without its final
// separator); a directory with everything below it. A link is removed itself, never what it
// points to; a folder on the way that is a link refuses the whole removal. Returns
// outcome->whole, having filled *outcome.
bool DeleteEntry(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                 int nameLength, RemoveOutcome* outcome);

// Moves the same entry to the trash instead, whole or not at all: on Linux the freedesktop
// trash of the user's home, or of the top directory of the entry's file system when the home
// is on another one; on Windows the Recycle Bin. Never copies: where the entry cannot be moved
// there, it stays where it is and the outcome says why.
bool TrashEntry(const PathStr& start, const char* parentRel, int parentRelLength, const char* name,
                int nameLength, RemoveOutcome* outcome);

// For tests: called, when set, as soon as the listing of each directory being deleted has been
// read, before anything in it is removed, with that directory's path below the start directory
// (ending in the separator). Null in the program.
extern void (*RemoveStepHook)(const char* rel, int relLength);

// The texts of what the program refuses itself, the same on both builds.
extern const char* const RefusedLinkOnTheWay;      // a folder of parentRel is a link
extern const char* const RefusedOtherFileSystem;   // a mount point, or another volume
extern const char* const RefusedReplaced;          // swapped for something else while removed
extern const char* const RefusedLinkAsTarget;      // the system opens the link as its target
extern const char* const RefusedBadName;           // a name that is no entry of a directory
extern const char* const RefusedTrashNotOwned;     // a trash folder that is a link or not ours
extern const char* const RefusedTooLongToRecycle;  // past what the Recycle Bin takes

// Records a failure of path (below the start directory) in outcome: counted, and named while
// fewer than MaxNamedFailures are. For the platform files.
void NoteRemoveFailure(RemoveOutcome* outcome, const std::string& path, const char* reason);

// Begins a removal of the entry name of parentRel, for the platform files: *outcome emptied and
// whole until a failure is noted, and *entryPath the entry's path below the start directory.
// False, with RefusedBadName noted for it, when validName (the platform's rule) says name is no
// entry of a folder.
bool BeginRemoval(const char* parentRel, int parentRelLength, const char* name, int nameLength,
                  bool (*validName)(const char* name, int length), RemoveOutcome* outcome,
                  std::string* entryPath);
