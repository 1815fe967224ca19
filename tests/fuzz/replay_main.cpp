// Replays fuzz inputs through the harness without libFuzzer, so that the seed
// corpus and any crash input saved beside it run in the ordinary build and
// under gcc. Arguments are files or directories (each file in a directory, in
// name order); with none, the committed seed corpus is replayed. A failing
// input aborts inside the harness; finding no input at all is a failure too,
// so a moved corpus cannot pass unnoticed.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace fs = std::filesystem;

namespace {

bool collect(const fs::path &path, std::vector<fs::path> &inputs)
{
    std::error_code error;
    if (fs::is_directory(path, error)) {
        std::vector<fs::path> found;
        for (const fs::directory_entry &entry : fs::directory_iterator(path, error)) {
            if (entry.is_regular_file())
                found.push_back(entry.path());
        }
        std::sort(found.begin(), found.end());
        inputs.insert(inputs.end(), found.begin(), found.end());
        return !error;
    }
    if (fs::is_regular_file(path, error)) {
        inputs.push_back(path);
        return true;
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<fs::path> roots;
    for (int i = 1; i < argc; ++i)
        roots.emplace_back(argv[i]);
#ifdef ORVALE_FUZZ_CORPUS
    if (roots.empty())
        roots.emplace_back(ORVALE_FUZZ_CORPUS);
#endif
    if (roots.empty()) {
        std::fprintf(stderr, "usage: %s FILE-OR-DIRECTORY...\n", argv[0]);
        return 2;
    }

    std::vector<fs::path> inputs;
    for (const fs::path &root : roots) {
        if (!collect(root, inputs)) {
            std::fprintf(stderr, "cannot read %s\n", root.c_str());
            return 2;
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no inputs found\n");
        return 1;
    }

    for (const fs::path &input : inputs) {
        std::ifstream file(input, std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        if (!file.good() && !file.eof()) {
            std::fprintf(stderr, "cannot read %s\n", input.c_str());
            return 2;
        }
        // Named before it runs: an abort in the harness then points at its input.
        std::printf("replay %s (%zu bytes)\n", input.c_str(), bytes.size());
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
    }
    std::printf("replayed %zu inputs\n", inputs.size());
    return 0;
}
