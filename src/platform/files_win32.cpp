// File seam on Windows: CreateFileA for logs (write only, no sharing, always create) and
// whole-file reads of script and sample files.
#include "platform/files.h"
#include <cstdio>
#include <cstdlib>
#include <windows.h>

FileHandle createLogFile(const char* path) {
  HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  return h == INVALID_HANDLE_VALUE ? NO_FILE : reinterpret_cast<FileHandle>(h);
}

// A disk file takes all bytes or fails; a short count is still continued.
long writeFileBytes(FileHandle f, const void* bytes, long count) {
  if (f == NO_FILE) return -1;
  const char* p = static_cast<const char*>(bytes);
  for (long done = 0; done < count;) {
    DWORD written = 0;
    if (!WriteFile(reinterpret_cast<HANDLE>(f), p + done, static_cast<DWORD>(count - done), &written, nullptr))
      return -1;
    if (written == 0) {
      SetLastError(ERROR_WRITE_FAULT);
      return -1;
    }
    done += static_cast<long>(written);
  }
  return count;
}

bool closeFileHandle(FileHandle f) {
  return f == NO_FILE || CloseHandle(reinterpret_cast<HANDLE>(f)) != 0;
}

// The system's message without its closing line end.
void lastFileErrorText(char* text, int size) {
  DWORD error = GetLastError();
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                           static_cast<DWORD>(size), nullptr);
  if (n == 0) {
    std::snprintf(text, static_cast<size_t>(size), "system error %lu", static_cast<unsigned long>(error));
    return;
  }
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n' || text[n - 1] == ' ')) text[--n] = '\0';
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
