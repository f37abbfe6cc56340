// The Windows half of reading ahead of the scan: worker threads that open folders and read their
// FileIdBothDirectoryInfo batches (the protocol they follow is tree/readahead.h), and the hooks
// by which the Windows enumeration (tree/find_win32.cpp) takes what they read. Called by the
// enumeration on the scan's thread only.
#pragma once

#include "console/bounded_string.h"
#include "console/windows_api.h"
#include "tree/listing_entry.h"

// Opens the folder at the wide "\\?\" path for reading its listing, as the scan opens every
// folder: the start directory as the system resolves it; a folder below it never through a
// reparse point (a directory link or junction that replaced it since it was listed is not
// followed: the open fails with ERROR_PATH_NOT_FOUND). INVALID_HANDLE_VALUE with *error the
// system's error code on failure.
HANDLE OpenListingHandle(const WCHAR* path, bool belowStart, DWORD* error);

// True for the errors by which the system has no handle or memory to give for an open.
bool NoHandleLeft(DWORD error);

// The system's message for error code error, without its line end and final full stop ("Access
// is denied"), or "error N" where it has none: how the enumeration and the removal name a failure.
void ErrorText(DWORD error, BStr* text);

// A new scan begins, by these rules: what the last one kept is released, and the next folder
// opened is its start directory.
void ReadAheadScanBegins(const ScanRules& rules);
// True when the directory the enumeration opens is below the start directory.
bool BelowStartDirectory(const PathStr& directory);

// The folder the scan asks for, before the enumeration opens it: true when the read-ahead answers
// for it, with *result (and *error the system's error code of a failure); with FindFound its
// batches come from ReadAheadNextBatch. False: the enumeration opens and reads it in line.
bool ReadAheadTake(const PathStr& directory, FindResult* result, DWORD* error);

// Where the next batch of the listing being handed out comes from.
enum ReadAheadSource {
  BatchReadAhead,  // *bytes and *length: a batch read ahead, valid until the next call or close
  BatchInLine,     // read it from *directory (a handle the read-ahead may have just handed over)
  BatchesEnded,    // the listing ended: *error is ERROR_NO_MORE_FILES, or why its last read failed
};
ReadAheadSource ReadAheadNextBatch(HANDLE* directory, const void** bytes, int* length,
                                   DWORD* error);
// True while a listing read ahead is handed out (its batches may come with no handle open).
bool ReadAheadListing();

// The enumeration gave the first entry of directory: the workers start when it is the start
// directory and is read in batches (names in codePage); the subdirectories of a listing the
// scan's thread reads are gathered for them. Then each entry it hands out, and the end of the
// listing (or its failure).
void ReadAheadListingOpened(const PathStr& directory, bool batches, UINT codePage);
void ReadAheadEntryHanded(const FindEntry& entry);
void ReadAheadListingEnded();
// The enumeration is closed: what the listing read ahead still held is released.
void ReadAheadClose();

// True from the start of the workers until StopReadAhead.
bool ReadingAhead();
// Ends reading ahead: the workers are stopped and joined, everything they hold is released.
// Harmless when not reading ahead.
void StopReadAhead();
