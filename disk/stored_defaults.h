// The stored default parameter string: the user's usual parameters, applied before the
// environment variable and the command line. Windows keeps it in the registry, POSIX systems
// in a file of the user's configuration folder. Quorvel only reads it; on Windows the
// configuration program writes it (StoreDefaultParams).
#pragma once

#include "console/bounded_string.h"

// The stored string, cut at 255 bytes and at its first zero byte; empty until
// LoadStoredDefaults has run, and empty after any failure. Written by LoadStoredDefaults only.
extern BStr StoredDefaultParams;

// Reads the stored string into StoredDefaultParams. Never writes a message.
void LoadStoredDefaults();

// POSIX only: the path of the file that holds the stored string (at most 255 bytes; empty when
// neither XDG_CONFIG_HOME nor HOME is set). With create, a missing file is created empty, with
// its folders, so that an editor can be opened on it.
BStr StoredDefaultsFile(bool create);

// The cut every source of the stored string goes through: the text up to its first zero byte
// and, when endAtLine, up to its first line end; at most 255 bytes.
BStr StoredText(const char* bytes, int length, bool endAtLine);

// Windows only: stores text as the string value, creating the key when missing. False, with
// the system's text of the error in *failure, when it could not (a user who may not write under
// HKEY_LOCAL_MACHINE: the configuration program asks for elevation for this).
bool StoreDefaultParams(const BStr& text, BStr* failure);

// Windows only: where the string is kept, as the configuration program names it.
extern const char StoredDefaultsPlace[];
