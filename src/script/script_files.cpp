// Whole-file reads of script sources and sample files.
#include "script/compiler.h"
#include "platform/files.h"

char* readScriptFile(const char* path, bool* partial) {
  char* data = nullptr;
  long size = 0;
  long got = 0;
  *partial = false;
  if (!readWholeFile(path, &data, &size, &got)) return nullptr;
  *partial = got < size;
  return data;
}
