// SPDX-License-Identifier: GPL-3.0-or-later
// The suite's main() for a fuzz harness built without libFuzzer: every input
// of the seed corpus ORVALE_FUZZ_CORPUS through LLVMFuzzerTestOneInput once.
// Included last by each harness, which defines that function.
#pragma once

#ifdef ORVALE_FUZZ_CORPUS
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

int main()
{
    int inputs = 0;
    for (const auto &entry : std::filesystem::directory_iterator(ORVALE_FUZZ_CORPUS)) {
        std::ifstream file(entry.path(), std::ios::binary);
        const std::vector<char> bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        std::printf("replay %s\n", entry.path().c_str());  // named first: an abort points at its input
        std::fflush(stdout);
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(bytes.data()), bytes.size());
        ++inputs;
    }
    return inputs > 0 ? 0 : 1;
}
#endif
