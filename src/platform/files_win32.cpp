// File seam on Windows: CreateFileA for logs (write only, no sharing, always create) and
// whole-file reads of script and sample files.
#include "platform/files.h"
#include <cstdlib>
#include <windows.h>

FileHandle createLogFile(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? NO_FILE : reinterpret_cast<FileHandle>(h);
}

long writeFileBytes(FileHandle f, const void* bytes, long count) {
  if (f == NO_FILE) return -1;
  DWORD written = 0;
  if (!WriteFile(reinterpret_cast<HANDLE>(f), bytes, static_cast<DWORD>(count), &written, nullptr)) return -1;
  return static_cast<long>(written);
}

void closeFileHandle(FileHandle f) {
  if (f != NO_FILE) CloseHandle(reinterpret_cast<HANDLE>(f));
}

bool readWholeFile(const char* path, char** data, long* size, long* got) {
  HANDLE h = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD fileSize = GetFileSize(h, nullptr);
  if (fileSize == INVALID_FILE_SIZE) {
    CloseHandle(h);
    return false;
  }
  char* block = static_cast<char*>(std::malloc(static_cast<size_t>(fileSize) + 5));
  if (block == nullptr) {
    CloseHandle(h);
    return false;
  }
  DWORD n = 0;
  if (!ReadFile(h, block, fileSize, &n, nullptr)) {
    std::free(block);
    CloseHandle(h);
    return false;
  }
  CloseHandle(h);
  block[n] = '\0';
  *data = block;
  *size = static_cast<long>(fileSize);
  *got = static_cast<long>(n);
  return true;
}
