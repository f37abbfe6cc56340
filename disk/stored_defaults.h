// The stored default parameter string: the user's usual parameters, applied before the
// environment variable and the command line. Windows keeps it in the registry, POSIX systems
// in a file of the user's configuration folder. Quorvel only reads it; on Windows the
// configuration program writes it (StoreDefaultParams).
#pragma once

#include "console/bounded_string.h"

// The stored string, up to its first zero byte; empty until LoadStoredDefaults has run, after
// any failure, and when it is longer than ParamCapacity bytes. Written by LoadStoredDefaults
// only.
extern ParamStr StoredDefaultParams;
// The stored string holds more than ParamCapacity bytes: it is not used, and the option parser
// refuses to run (a string cut to fit would change its last token). Written by
// LoadStoredDefaults only.
extern bool StoredDefaultsTooLong;

// Reads the stored string into StoredDefaultParams. Never writes a message.
void LoadStoredDefaults();

// POSIX only: the path of the file that holds the stored string (at most 255 bytes; empty when
// neither XDG_CONFIG_HOME nor HOME is set). With create, a missing file is created empty, with
// its folders, so that an editor can be opened on it.
BStr StoredDefaultsFile(bool create);

// The cut every source of the stored string goes through: the text up to its first zero byte
// and, when endAtLine, up to its first line end. When that holds more than ParamCapacity bytes
// the result is empty and *tooLong is set (otherwise cleared).
ParamStr StoredText(const char* bytes, int length, bool endAtLine, bool* tooLong);

// Windows only: stores text as the string value, creating the key when missing. False, with
// the system's text of the error in *failure, when it could not (a user who may not write under
// HKEY_LOCAL_MACHINE: the configuration program asks for elevation for this).
bool StoreDefaultParams(const ParamStr& text, BStr* failure);

// Windows only: where the string is kept, as the configuration program names it.
extern const char StoredDefaultsPlace[];
