// kinestim-script: compiles script sources, generates images from sample files and lists
// images as the memory view would and previews what an image does to the electrodes, without
// a device, using the program's own script code.
#include "script/compiler.h"
#include "script/instruction_set.h"
#include "script/memory_view.h"
#include "script/preview.h"
#include "script/samples.h"
#include "platform/files.h"
#include "link/catalogue.h"
#include "link/framing.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <sstream>

static const char USAGE[] =
    "usage: kinestim-script compile SOURCE [-o IMAGE] [--at ADDRESS]\n"
    "       kinestim-script samples FILE [--timestep MS] [-o IMAGE] [--at ADDRESS]\n"
    "       kinestim-script list IMAGE [--at ADDRESS]\n"
    "       kinestim-script preview FILE [--at ADDRESS] [--timestep MS] [--svg OUT.svg] [--csv OUT.csv]\n"
    "                               [--max-steps N]\n"
    "       kinestim-script --help\n";

static const char HELP[] =
    "\n"
    "compile  compiles a script source. The image goes to IMAGE as raw bytes, or to\n"
    "         standard output as lower-case hex pairs separated by spaces. A syntax error\n"
    "         is shown as the Compiler Output pane shows it, followed by SOURCE:LINE:COLUMN\n"
    "         of the offending token.\n"
    "samples  generates the image of a sample file (four values per row) with a timestep\n"
    "         in milliseconds (default 25), written like compile's.\n"
    "list     lists an image as the Script Manager's memory view lists script memory,\n"
    "         placed at ADDRESS (default 0), with CR LF line ends.\n"
    "preview  runs FILE offline by the device's step rules (25 ms a step) from ADDRESS in an\n"
    "         otherwise empty memory, every electrode starting at code 127, and prints what\n"
    "         the electrodes carry, the faults the device would raise and where it stops or\n"
    "         repeats (within N steps, default 1000000). FILE is a sample file with\n"
    "         --timestep, an image when its first byte is an opcode (0 to 8), else a source.\n"
    "         --svg plots the currents; --csv writes time_ms and the four currents, a row at\n"
    "         the start, at each change and at the end.\n"
    "\n"
    "Every command reports on standard error the image's length and whether it fits in\n"
    "script memory (0 to 2047) from ADDRESS. Exit status: 0 success, 1 failure, 2 bad usage.\n";

static constexpr int DEFAULT_TIMESTEP_MS = 25;

enum class Command { Compile, Samples, List, Preview };

struct Options {
  Command command;
  const char* input = nullptr;
  const char* output = nullptr;
  int address = 0;
  int timestep = DEFAULT_TIMESTEP_MS;
  bool timestepGiven = false;
  const char* svg = nullptr;
  const char* csv = nullptr;
  int maxSteps = static_cast<int>(PREVIEW_DEFAULT_MAX_STEPS);
};

static int usageError(const char* message, const char* detail = nullptr) {
  if (detail != nullptr) fprintf(stderr, "kinestim-script: %s %s\n", message, detail);
  else fprintf(stderr, "kinestim-script: %s\n", message);
  fputs(USAGE, stderr);
  return 2;
}

// A whole argument as one "%i" number within the int range.
static bool parseWholeNumber(const char* text, int* value) {
  int64_t v;
  long next;
  if (!readScanfInteger(text, 0, &v, &next) || text[next] != '\0') return false;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int>(v);
  return true;
}

static void reportFit(int address, long length) {
  long end = address + length - 1;
  if (length == 0)
    fprintf(stderr, "image: 0 bytes, fits in script memory at %d (nothing to write)\n", address);
  else if (end < SCRIPT_MEMORY_SIZE)
    fprintf(stderr, "image: %ld bytes, fits in script memory at %d (ends at %ld)\n", length, address, end);
  else
    fprintf(stderr, "image: %ld bytes, does not fit in script memory at %d: ends at %ld, memory ends at %d\n",
            length, address, end, SCRIPT_MEMORY_SIZE - 1);
}

// Where an offset lies in the text: line and column counted from 1; LF, CR LF and a lone CR
// each end a line.
static void lineAndColumn(const char* text, long offset, long* line, long* column) {
  long l = 1;
  long lineStart = 0;
  for (long i = 0; i < offset; ++i) {
    bool lineEnd = text[i] == '\n' || (text[i] == '\r' && text[i + 1] != '\n');
    if (lineEnd) {
      ++l;
      lineStart = i + 1;
    }
  }
  *line = l;
  *column = offset - lineStart + 1;
}

// Reads the input file; a partial read is said first and the program goes on with it.
static char* readInput(const Options& options) {
  bool partial = false;
  char* text = readScriptFile(options.input, &partial);
  if (partial) fprintf(stderr, "%s\n", READ_PARTLY_TEXT);
  return text;
}

static int writeImage(const Options& options, const ScriptImage& image) {
  if (options.output != nullptr) {
    FILE* f = fopen(options.output, "wb");
    bool written = f != nullptr &&
                   fwrite(image.bytes, 1, static_cast<size_t>(image.length), f) == static_cast<size_t>(image.length);
    if (f != nullptr && fclose(f) != 0) written = false;
    if (!written) {
      fprintf(stderr, "kinestim-script: cannot write %s\n", options.output);
      return 1;
    }
  } else if (image.length > 0) {
    for (int i = 0; i < image.length; ++i) printf(i == 0 ? "%.2x" : " %.2x", image.bytes[i]);
    printf("\n");
  }
  reportFit(options.address, image.length);
  return 0;
}

// Compiles the source into image; false (with the error shown) when it cannot.
static bool compileSource(const Options& options, ScriptImage& image) {
  char* text = readInput(options);
  if (text == nullptr) {
    fprintf(stderr, "Failed to read source file\n");
    return false;
  }
  ScriptBuild build = compileScript(text);
  if (!build.built) {
    long line, column;
    lineAndColumn(text, build.diagnostic.offset < 0 ? 0 : build.diagnostic.offset, &line, &column);
    fprintf(stderr, "%s\n%s:%ld:%ld\n", diagnosticText(build.diagnostic).c_str(), options.input, line, column);
    free(text);
    return false;
  }
  image = build.image;
  free(text);
  return true;
}

// Generates the image of the sample file; false (with the error shown) when it cannot.
static bool generateSamples(const Options& options, ScriptImage& image) {
  int delay;
  if (!sampleDelayCount(options.timestep, &delay)) {
    fprintf(stderr, "%s\n", INVALID_TIMESTEP_TEXT);
    return false;
  }
  const std::string notice = timestepNotice(options.timestep);
  if (!notice.empty()) fprintf(stderr, "%s\n", notice.c_str());
  char* text = readInput(options);
  if (text == nullptr) {
    fprintf(stderr, "Failed to read sample file\n");
    return false;
  }
  ScriptBuild build = generateSampleImage(text, delay);
  free(text);
  if (!build.built) fprintf(stderr, "%s\n", diagnosticText(build.diagnostic).c_str());
  image = build.image;
  return build.built;
}

static int compileCommand(const Options& options) {
  ScriptImage image;
  if (!compileSource(options, image)) return 1;
  int status = writeImage(options, image);
  releaseScriptImage(image);
  return status;
}

static int samplesCommand(const Options& options) {
  ScriptImage image;
  if (!generateSamples(options, image)) return 1;
  int status = writeImage(options, image);
  releaseScriptImage(image);
  return status;
}

// Lists the image as answers to read-back requests would list it: one synthesised
// mdgScrMemDld per instruction, carrying the (up to five) image bytes from its address.
static int listCommand(const Options& options) {
  char* data = nullptr;
  long size = 0;
  long got = 0;
  if (!readWholeFile(options.input, &data, &size, &got)) {
    fprintf(stderr, "kinestim-script: cannot read %s\n", options.input);
    return 1;
  }
  if (got < size) fprintf(stderr, "Failed to read whole file! Continuing anyway\n");
  const uint8_t* image = reinterpret_cast<const uint8_t*>(data);
  if (got > 0 && options.address + got - 1 > 0xFFFF) {
    fprintf(stderr, "kinestim-script: %s is too long to list: its addresses would pass 65535\n", options.input);
    free(data);
    return 1;
  }
  uint8_t frame[3 + 2 + MAX_INSTRUCTION_LENGTH + 2];
  char line[LISTING_LINE_SIZE];
  for (long p = 0; p < got;) {
    long address = options.address + p;
    int n = got - p < MAX_INSTRUCTION_LENGTH ? static_cast<int>(got - p) : MAX_INSTRUCTION_LENGTH;
    frame[0] = SOT;
    frame[1] = static_cast<uint8_t>(1 + 2 + n);
    frame[2] = mdgScrMemDld;
    frame[3] = static_cast<uint8_t>(address & 0xFF);
    frame[4] = static_cast<uint8_t>(address >> 8);
    memcpy(frame + 5, image + p, static_cast<size_t>(n));
    frame[5 + n] = computeChecksum(frame + 2, 3 + n);
    frame[6 + n] = EOT;
    Packet packet{frame};
    int length = formatInstructionLine(packet, line);
    fwrite(line, 1, strlen(line), stdout);
    p += length;
  }
  free(data);
  reportFit(options.address, got);
  return 0;
}

// Reads the image that preview runs: a sample file with --timestep, an image file when its
// first byte is an opcode (0 to 8: no source starts with such a byte), otherwise a source.
static bool loadPreviewImage(const Options& options, ScriptImage& image) {
  if (options.timestepGiven) return generateSamples(options, image);
  char* data = nullptr;
  long size = 0;
  long got = 0;
  if (!readWholeFile(options.input, &data, &size, &got)) {
    fprintf(stderr, "kinestim-script: cannot read %s\n", options.input);
    return false;
  }
  const bool isImage = got > 0 && static_cast<uint8_t>(data[0]) < NO_OPCODE;
  if (!isImage) {
    free(data);
    return compileSource(options, image);
  }
  if (got < size) fprintf(stderr, "Failed to read whole file! Continuing anyway\n");
  image.bytes = reinterpret_cast<uint8_t*>(data);
  image.length = static_cast<int>(got < INT32_MAX ? got : INT32_MAX);
  return true;
}

// Writes text to path through a temporary file beside it, renamed into place only when all
// of it was written: a failed write leaves no half-written file.
static bool writeWhole(const char* path, const std::string& text, std::string* temporary) {
  *temporary = std::string(path) + ".part";
  FILE* f = fopen(temporary->c_str(), "wb");
  bool written = f != nullptr && fwrite(text.data(), 1, text.size(), f) == text.size();
  if (f != nullptr && fclose(f) != 0) written = false;
  if (!written) {
    if (f != nullptr) remove(temporary->c_str());
    fprintf(stderr, "kinestim-script: cannot write %s\n", path);
  }
  return written;
}

static int previewCommand(const Options& options) {
  ScriptImage image{nullptr, 0, options.address};
  if (!loadPreviewImage(options, image)) return 1;
  reportFit(options.address, image.length);
  if (static_cast<long>(options.address) + image.length > SCRIPT_MEMORY_SIZE) {
    fprintf(stderr, "kinestim-script: the device would refuse this upload; nothing to preview\n");
    releaseScriptImage(image);
    return 1;
  }
  const ScriptPreview preview = previewScript(image.bytes, image.length, options.address, options.maxSteps);
  releaseScriptImage(image);
  std::string svgPart, csvPart;
  bool ok = options.svg == nullptr || writeWhole(options.svg, previewSvg(preview), &svgPart);
  ok = ok && (options.csv == nullptr || writeWhole(options.csv, previewCsv(preview), &csvPart));
  for (const auto& [part, path] : {std::pair{&svgPart, options.svg}, std::pair{&csvPart, options.csv}}) {
    if (ok && path != nullptr && rename(part->c_str(), path) != 0) {
      fprintf(stderr, "kinestim-script: cannot write %s\n", path);
      ok = false;
    }
  }
  if (!ok) {
    if (!svgPart.empty()) remove(svgPart.c_str());
    if (!csvPart.empty()) remove(csvPart.c_str());
    return 1;
  }
  fputs(previewSummary(preview, options.maxSteps).c_str(), stdout);
  return 0;
}

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0) {
      fputs(USAGE, stdout);
      fputs(HELP, stdout);
      return 0;
    }
  }
  if (argc < 2) return usageError("no command given");

  Options options;
  if (strcmp(argv[1], "compile") == 0) options.command = Command::Compile;
  else if (strcmp(argv[1], "samples") == 0) options.command = Command::Samples;
  else if (strcmp(argv[1], "list") == 0) options.command = Command::List;
  else if (strcmp(argv[1], "preview") == 0) options.command = Command::Preview;
  else return usageError("unknown command", argv[1]);

  for (int i = 2; i < argc; ++i) {
    const char* arg = argv[i];
    bool previewOption = strcmp(arg, "--svg") == 0 || strcmp(arg, "--csv") == 0 || strcmp(arg, "--max-steps") == 0;
    bool takesValue = strcmp(arg, "-o") == 0 || strcmp(arg, "--at") == 0 || strcmp(arg, "--timestep") == 0 ||
                      previewOption;
    if (takesValue && i + 1 >= argc) return usageError("missing value after", arg);
    if (previewOption && options.command != Command::Preview) return usageError("only preview takes", arg);
    if (strcmp(arg, "--svg") == 0) {
      options.svg = argv[++i];
    } else if (strcmp(arg, "--csv") == 0) {
      options.csv = argv[++i];
    } else if (strcmp(arg, "--max-steps") == 0) {
      const char* value = argv[++i];
      if (!parseWholeNumber(value, &options.maxSteps) || options.maxSteps < 1)
        return usageError("--max-steps needs a number of at least 1, not", value);
    } else if (strcmp(arg, "-o") == 0) {
      if (options.command == Command::List || options.command == Command::Preview)
        return usageError("no -o for this command:", arg);
      options.output = argv[++i];
    } else if (strcmp(arg, "--at") == 0) {
      const char* value = argv[++i];
      if (!parseWholeNumber(value, &options.address)) return usageError("--at needs a number, not", value);
      if (options.address < 0 || options.address >= SCRIPT_MEMORY_SIZE)
        return usageError("Invalid address, must be between 0 and 2047:", value);
    } else if (strcmp(arg, "--timestep") == 0) {
      if (options.command != Command::Samples && options.command != Command::Preview)
        return usageError("only samples and preview take", arg);
      const char* value = argv[++i];
      if (!parseWholeNumber(value, &options.timestep)) return usageError("--timestep needs a number, not", value);
      options.timestepGiven = true;
    } else if (arg[0] == '-' && arg[1] != '\0') {
      return usageError("unknown option", arg);
    } else if (options.input == nullptr) {
      options.input = arg;
    } else {
      return usageError("unexpected argument", arg);
    }
  }
  if (options.input == nullptr) return usageError("missing file name");

  switch (options.command) {
    case Command::Compile: return compileCommand(options);
    case Command::Samples: return samplesCommand(options);
    case Command::List: return listCommand(options);
    case Command::Preview: return previewCommand(options);
  }
  return 2;
}
