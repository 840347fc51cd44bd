// Runs a fuzz target over folders of inputs without libFuzzer, so the checked-in seed corpora
// run as regression tests in every native build (with the sanitizers in the ASan build).
// Exits non-zero when a folder cannot be read or the folders hold no input.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int inputs = 0;
  std::error_code error;
  for (int i = 1; i < argc && !error; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[i], error)) {
      std::ifstream file(entry.path(), std::ios::binary);
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++inputs;
    }
  }
  std::printf("%d inputs ran%s%s\n", inputs, error ? ": " : "", error ? error.message().c_str() : "");
  return inputs > 0 && !error ? 0 : 1;
}
