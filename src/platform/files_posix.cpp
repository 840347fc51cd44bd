// File seam on POSIX: log files written with one write() per line, whole-file reads.
#include "platform/files.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

FileHandle createLogFile(const char* path) {
  int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  return fd < 0 ? NO_FILE : static_cast<FileHandle>(fd);
}

// A disk that fills up in the middle of a line first takes part of it; the next write then
// reports why it took no more.
long writeFileBytes(FileHandle f, const void* bytes, long count) {
  if (f == NO_FILE) return -1;
  const char* p = static_cast<const char*>(bytes);
  for (long done = 0; done < count;) {
    ssize_t n = write(static_cast<int>(f), p + done, static_cast<size_t>(count - done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) {
      errno = EIO;
      return -1;
    }
    done += n;
  }
  return count;
}

bool closeFileHandle(FileHandle f) {
  return f == NO_FILE || close(static_cast<int>(f)) == 0;
}

void lastFileErrorText(char* text, int size) {
  std::snprintf(text, static_cast<size_t>(size), "%s", std::strerror(errno));
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
