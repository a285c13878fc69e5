// Times kelvarin --rich on each pathological input of the test group
// (tests/support/rich_pathological.h): median of N runs per input, with the
// input's size and the rate. A reader that goes quadratic on one of them
// shows here as a rate far below the others'.
//
//   build/bench/kelvarin_rich_pathological build/kelvarin [runs]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/rich_pathological.h"

namespace {

namespace fs = std::filesystem;

// Seconds one run of `kelvarin --rich paper.tex` takes in `folder`, or a
// negative number when it fails.
double time_one_run(const std::string& kelvarin, const fs::path& folder) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0) _exit(127);
        execl(kelvarin.c_str(), kelvarin.c_str(), "--rich", "paper.tex", static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? took.count() : -1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s path/to/kelvarin [runs]\n", argv[0]);
        return 2;
    }
    const std::string kelvarin = fs::absolute(argv[1]).string();
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    char pattern[] = "/tmp/kelvarin-pathological-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 2;
    const fs::path folder = pattern;
    int status = 0;
    std::printf("%-34s %10s %10s %10s\n", "input", "bytes", "median ms", "MB/s");
    for (const auto& input : kelvarin_test::rich_pathological_cases()) {
        const std::string source = "\\begin{document}\n" + input.body;
        std::ofstream(folder / "paper.tex", std::ios::binary) << source;
        std::vector<double> times;
        for (int i = 0; i < runs; ++i) times.push_back(time_one_run(kelvarin, folder));
        std::sort(times.begin(), times.end());
        const double median = times[times.size() / 2];
        if (times.front() < 0) {
            std::printf("%-34s %10zu %10s\n", input.name.c_str(), source.size(), "FAILED");
            status = 1;
            continue;
        }
        std::printf("%-34s %10zu %10.1f %10.1f\n", input.name.c_str(), source.size(), median * 1000,
                    static_cast<double>(source.size()) / median / 1e6);
    }
    fs::remove_all(folder);
    return status;
}
