// The main of an example runner: parses one example file and registers each
// example as a test of its own, named by its line, so that a failure points
// at the example in the file.
#ifndef KELVARIN_TEST_EXAMPLE_MAIN_H
#define KELVARIN_TEST_EXAMPLE_MAIN_H

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/example_notation.h"
#include "support/harness.h"

namespace kelvarin_test {

using ExampleRun = std::string (*)(const Example&);  // what differs, or ""

struct ExampleTest : testing::Test {
    ExampleTest(const std::string& f, const Example& e, ExampleRun r) : file(f), ex(e), run(r) {}
    void TestBody() override {
        const std::string report = run(ex);
        if (!report.empty()) ADD_FAILURE_AT(file.c_str(), ex.at) << "the example's outputs differ\n" << report;
    }
    std::string file;
    Example ex;
    ExampleRun run;
};

// `suite_prefix` goes before the file's stem in the test names.
inline int example_main(int argc, char** argv, const std::string& program, const std::string& suite_prefix,
                        std::vector<Example> (*parse)(const std::string&), ExampleRun run) {
    testing::InitGoogleTest(&argc, argv);
    if (argc != 2) return std::cerr << "usage: " << program << " FILE.md\n", 2;
    const std::string file = argv[1];
    std::vector<Example> examples;
    try {
        examples = parse(read_file(file));
    } catch (const std::exception& e) {
        return std::cerr << file << ": " << e.what() << "\n", 1;
    }
    // A "-" would start the negative patterns of a test filter.
    std::string suite = suite_prefix + std::filesystem::path(file).stem().string();
    std::replace(suite.begin(), suite.end(), '-', '_');
    for (const Example& ex : examples)
        testing::RegisterTest(suite.c_str(), ("line" + std::to_string(ex.at)).c_str(), nullptr, nullptr, file.c_str(),
                              ex.at, [file, ex, run]() -> testing::Test* { return new ExampleTest(file, ex, run); });
    return RUN_ALL_TESTS();
}

}  // namespace kelvarin_test

#endif
