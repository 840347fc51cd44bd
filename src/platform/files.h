// File seam for the logs and for script and sample files.
#pragma once
#include <cstdint>

// An open file; -1 means none.
using FileHandle = intptr_t;
constexpr FileHandle NO_FILE = -1;

// Creates (or empties) a file for writing only, no sharing with other openers.
FileHandle createLogFile(const char* path);
// Writes all bytes (a partial write is continued); the result is count, or -1 on a failure.
long writeFileBytes(FileHandle f, const void* bytes, long count);
// False when the system reports that the file could not be completed.
bool closeFileHandle(FileHandle f);
// The system's reason for the last failed file operation, as text.
void lastFileErrorText(char* text, int size);

// Whole-file read: opens an existing file for reading, takes its size, reads size bytes in
// one call. Returns false when it cannot be opened or the read fails. On success *data is
// a malloc'ed block of size + 5 bytes holding *got bytes followed by a NUL; *size is the
// file's size (got < size means a partial read).
bool readWholeFile(const char* path, char** data, long* size, long* got);
