// The stored default parameter strings: the usual parameters of every user of the machine and
// of this user, applied in that order before the environment variable and the command line.
// Windows keeps them in the registry (HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER), POSIX systems
// in /etc/quorvel and in a file of the user's configuration folder. Quorvel only reads them; on
// Windows the configuration program writes them (StoreDefaultParams).
#pragma once

#include "console/bounded_string.h"

// The two stored strings as one (JoinStoredDefaults): the machine's, then the user's; empty
// until LoadStoredDefaults has run, after any failure, and when it is too long. Written by
// LoadStoredDefaults only.
extern ParamStr StoredDefaultParams;
// A stored string, or the two joined, holds more than ParamCapacity bytes: nothing stored is
// used, and the option parser refuses to run (a string cut to fit would change its last token).
// Written by LoadStoredDefaults only.
extern bool StoredDefaultsTooLong;

// Whose stored string: the machine's, for every user, or this user's own.
enum StoredScope { MachineDefaults, UserDefaults };

// Reads both stored strings into StoredDefaultParams. Never writes a message.
void LoadStoredDefaults();

// One stored string, cut by StoredText (*tooLong set when it holds too much); empty when it is
// missing or cannot be read.
ParamStr ReadStoredDefaults(StoredScope scope, bool* tooLong);

// The machine's string, a blank and the user's, so that the user's words come later and win;
// either alone when the other is empty. Each is cut already; when the two hold more than
// ParamCapacity bytes together the result is empty and *tooLong is set.
ParamStr JoinStoredDefaults(const ParamStr& machine, const ParamStr& user, bool* tooLong);

// POSIX only: the path of the file that holds the user's stored string (at most 255 bytes;
// empty when neither XDG_CONFIG_HOME nor HOME is set). With create, a missing file is created
// empty, with its folders, so that an editor can be opened on it.
BStr StoredDefaultsFile(bool create);
// POSIX only: the file of the machine's string.
extern const char MachineDefaultsFile[];
// POSIX only: the stored string a file holds, its first line (StoredText); empty when it is
// missing, unreadable or not a regular file.
ParamStr ReadStoredFile(const char* path, bool* tooLong);

// The cut every source of the stored string goes through: the text up to its first zero byte
// and, when endAtLine, up to its first line end. When that holds more than ParamCapacity bytes
// the result is empty and *tooLong is set (otherwise cleared).
ParamStr StoredText(const char* bytes, int length, bool endAtLine, bool* tooLong);

// Windows only: stores text as the string value of the scope's key, creating the key when
// missing. False, with the system's text of the error in *failure, when it could not (a user
// who may not write under HKEY_LOCAL_MACHINE: the configuration program asks for elevation
// for the machine's string).
bool StoreDefaultParams(StoredScope scope, const ParamStr& text, BStr* failure);

// Windows only: where the scope's string is kept, as the configuration program names it.
const char* StoredDefaultsPlace(StoredScope scope);
