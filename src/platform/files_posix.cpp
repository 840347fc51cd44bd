// File seam on POSIX: log files written with one write() per line, whole-file reads.
#include "platform/files.h"
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileHandle createLogFile(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? NO_FILE : static_cast<FileHandle>(fd);
}

long writeFileBytes(FileHandle f, const void* bytes, long count) {
  if (f == NO_FILE) return -1;
  return static_cast<long>(write(static_cast<int>(f), bytes, static_cast<size_t>(count)));
}

void closeFileHandle(FileHandle f) {
  if (f != NO_FILE) close(static_cast<int>(f));
}

bool readWholeFile(const char* path, char** data, long* size, long* got) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st{};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return false;
  }
  long fileSize = static_cast<long>(st.st_size);
  char* block = static_cast<char*>(std::malloc(static_cast<size_t>(fileSize) + 5));
  if (block == nullptr) {
    close(fd);
    return false;
  }
  ssize_t n = fileSize > 0 ? read(fd, block, static_cast<size_t>(fileSize)) : 0;
  close(fd);
  if (n < 0) {
    std::free(block);
    return false;
  }
  block[n] = '\0';
  *data = block;
  *size = fileSize;
  *got = static_cast<long>(n);
  return true;
}
