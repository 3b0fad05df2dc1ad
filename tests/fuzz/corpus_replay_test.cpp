// Feeds every file of one fuzz target's corpus to the target, as libFuzzer
// would: a target checks its own properties and stops the process on a
// failed one, so a fault the fuzzer once found cannot come back unnoticed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

// One suite name per target (KVT_CORPUS_SUITE), so that each has its own test.
TEST(KVT_CORPUS_SUITE, EveryInputOfTheCorpusPassesTheTarget) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(KVT_CORPUS)) {
        if (entry.is_regular_file()) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    // A corpus is seeded with meaningful inputs: an empty one means a wrong path.
    ASSERT_FALSE(files.empty()) << KVT_CORPUS;
    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::ifstream in(file, std::ios::binary);
        ASSERT_TRUE(in) << file;
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        // A copy of exactly the input's size, so that ASan sees reads past its end.
        const std::vector<std::uint8_t> input(bytes.begin(), bytes.end());
        EXPECT_EQ(LLVMFuzzerTestOneInput(input.data(), input.size()), 0);
    }
}

}  // namespace
