// Whole-file reads of script sources and sample files for the Script Manager.
#include "script/compiler.h"
#include "platform/files.h"
#include "platform/window.h"

// Room for the path the Open dialog returns.
static constexpr int CHOSEN_PATH_SIZE = 300;

char* readScriptFile(const char* path) {
  char* data = nullptr;
  long size = 0;
  long got = 0;
  if (!readWholeFile(path, &data, &size, &got)) return nullptr;
  if (got < size) showCompilerOutput("Failed to read whole file! Continuing anyway");
  return data;
}

char* readChosenFile() {
  char path[CHOSEN_PATH_SIZE] = "";
  if (!chooseOpenFileName(path, CHOSEN_PATH_SIZE)) return nullptr;
  return readScriptFile(path);
}
