// The outcome of a removal and the texts of what both builds refuse (tree/remove.h).
#include "tree/remove.h"

#include <cstring>

void (*RemoveStepHook)(const char* rel, int relLength) = nullptr;

const char* const RefusedLinkOnTheWay =
    "A folder on the way there is a link, which is not followed";
const char* const RefusedOtherFileSystem =
    "Another file system is mounted there, which is not entered";
const char* const RefusedReplaced = "It was replaced by something else while being removed";
const char* const RefusedLinkAsTarget =
    "A link that the system opens as its target, so it is left as it is";
const char* const RefusedBadName = "Not the name of an entry of a folder";
const char* const RefusedTrashNotOwned = "The trash folder is a link or belongs to another user";
const char* const RefusedTooLongToRecycle =
    "The path is too long for the Recycle Bin (at most 259 characters)";

void NoteRemoveFailure(RemoveOutcome* outcome, const std::string& path, const char* reason) {
  outcome->whole = false;
  ++outcome->failures;
  if ((int)outcome->named.size() >= MaxNamedFailures) return;
  RemoveFailure failure;
  BSet(failure.path, path.data(), (int)path.size());
  BSet(failure.reason, reason);
  outcome->named.push_back(failure);
}

bool BeginRemoval(const char* parentRel, int parentRelLength, const char* name, int nameLength,
                  bool (*validName)(const char* name, int length), RemoveOutcome* outcome,
                  std::string* entryPath) {
  *outcome = RemoveOutcome{};
  outcome->whole = true;
  entryPath->assign(parentRel, (size_t)parentRelLength);
  entryPath->append(name, (size_t)nameLength);
  if (validName(name, nameLength)) return true;
  NoteRemoveFailure(outcome, *entryPath, RefusedBadName);
  return false;
}
