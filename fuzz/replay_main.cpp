// SPDX-License-Identifier: BSD-3-Clause
// Runs the fuzz target's checks on saved inputs (the seed corpus and every
// input a fuzzing run has caught), so they are replayed by the test suite
// with any compiler. Arguments: files or directories.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  size_t replayed = 0;
  auto replay = [&](const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++replayed;
  };
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& entry : fs::directory_iterator(argv[i]))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.')
          replay(entry.path());
    } else if (fs::exists(argv[i])) {
      replay(argv[i]);
    } else {
      std::fprintf(stderr, "no such input: %s\n", argv[i]);
      return 1;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return replayed ? 0 : 1;
}
