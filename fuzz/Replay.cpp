// Feeds files to a fuzz target without libFuzzer, so that every build can
// replay the corpora. Like libFuzzer it takes files and folders of files; it
// fails when it replayed nothing, so that a wrong path cannot pass.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  std::set<std::filesystem::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!std::filesystem::is_directory(argv[i])) {
      inputs.insert(argv[i]);
      continue;
    }
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      if (entry.is_regular_file()) inputs.insert(entry.path());
    }
  }
  for (const std::filesystem::path& input : inputs) {
    std::ifstream in(input, std::ios::binary);
    if (!in) {
      fprintf(stderr, "cannot read %s\n", input.c_str());
      return 2;
    }
    // Named first, so that a failing input is known from the output.
    fprintf(stderr, "replaying %s\n", input.c_str());
    const std::string bytes(std::istreambuf_iterator<char>(in), {});
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  fprintf(stderr, "%zu inputs replayed\n", inputs.size());
  return inputs.empty() ? 2 : 0;
}
