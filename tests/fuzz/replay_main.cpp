// Runs a fuzz target over files and folders of inputs without libFuzzer, so the checked-in
// seed corpora run as regression tests in every native build (with the sanitizers in the
// ASan build). Exits non-zero when an argument cannot be read or holds no input.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  int inputs = 0;
  for (int i = 1; i < argc; ++i) {
    std::error_code error;
    std::vector<std::filesystem::path> paths = {argv[i]};
    if (std::filesystem::is_directory(argv[i], error)) {
      paths.assign(std::filesystem::directory_iterator(argv[i], error), {});
    }
    for (const std::filesystem::path& path : paths) {
      std::ifstream file(path, std::ios::binary);
      if (!file || std::filesystem::is_directory(path, error)) {
        std::fprintf(stderr, "cannot read %s\n", path.c_str());
        return 1;
      }
      std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++inputs;
    }
  }
  std::printf("%d inputs ran\n", inputs);
  return inputs > 0 ? 0 : 1;
}
