// Whether TeX is there for the renderer tests. Without it a test is skipped
// with the command that installs it, except under CI (CI=true), where it
// fails: a green CI run must mean that the renderer was tested.
#ifndef KELVARIN_TEST_TEX_CHECK_H
#define KELVARIN_TEST_TEX_CHECK_H

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace kelvarin_test {

// The full path of a program on PATH, or "".
inline std::string on_path(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string rest = path ? path : "";
    while (!rest.empty()) {
        const std::size_t colon = rest.find(':');
        const std::string candidate = rest.substr(0, colon) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        rest = colon == std::string::npos ? "" : rest.substr(colon + 1);
    }
    return "";
}

inline bool have_tex() { return !on_path("latex").empty() && !on_path("dvipng").empty() && !on_path("dvisvgm").empty(); }

inline bool under_ci() {
    const char* ci = std::getenv("CI");
    return ci && std::strcmp(ci, "true") == 0;
}

}  // namespace kelvarin_test

#define KELVARIN_TEX_MISSING                                                    \
    "latex, dvipng or dvisvgm not installed: apt-get install texlive-latex-base " \
    "texlive-fonts-recommended dvipng dvisvgm"

// At the top of a test that needs real TeX.
#define REQUIRE_TEX()                                                              \
    do {                                                                           \
        if (!::kelvarin_test::have_tex()) {                                        \
            if (::kelvarin_test::under_ci()) FAIL() << KELVARIN_TEX_MISSING " (CI=true)"; \
            GTEST_SKIP() << KELVARIN_TEX_MISSING;                                  \
        }                                                                          \
    } while (0)

#endif
