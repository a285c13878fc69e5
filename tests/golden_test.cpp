// Golden examples: every folder under tests/golden holds a source beside
// the exact files it must give; the bundled sample is pinned the same way.
#include <filesystem>

#include <gtest/gtest.h>

#include "support/harness.h"

using namespace kelvarin_test;
namespace fs = std::filesystem;

namespace {

// Converts `source_path` under its own file name and compares both outputs
// with the files of the same stem in `expected_dir`.
void expect_golden(const fs::path& source_path, const fs::path& expected_dir) {
    Sandbox box;
    const std::string name = source_path.filename().string();
    const std::string stem = source_path.stem().string();
    write_file(box.path(name), read_file(source_path.string()));
    RunResult r = run_kelvarin(box.dir, {name});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(read_file(box.path("kelvarin.log")), crlf({"file : " + name, "  parse ok"}));
    EXPECT_EQ(read_file(box.path(stem + ".wiki.txt")),
              read_file((expected_dir / (stem + ".wiki.txt")).string()))
        << "wiki page of " << source_path;
    EXPECT_EQ(read_file(box.path(stem + ".eq.tex")),
              read_file((expected_dir / (stem + ".eq.tex")).string()))
        << "equation document of " << source_path;
}

const fs::path kGolden = fs::path(KELVARIN_SOURCE_DIR) / "tests" / "golden";

}  // namespace

TEST(Golden, EveryExampleFolder) {
    int examples = 0;
    for (const auto& folder : fs::directory_iterator(kGolden)) {
        if (!folder.is_directory() || folder.path().filename() == "sample") continue;
        for (const auto& file : fs::directory_iterator(folder.path())) {
            if (file.path().extension() == ".tex" &&
                file.path().stem().extension() != ".eq") {
                SCOPED_TRACE(file.path().string());
                expect_golden(file.path(), folder.path());
                ++examples;
            }
        }
    }
    EXPECT_GE(examples, 2);
}

TEST(Golden, BundledSample) {
    expect_golden(fs::path(KELVARIN_SOURCE_DIR) / "tex" / "test2.tex", kGolden / "sample");
}
