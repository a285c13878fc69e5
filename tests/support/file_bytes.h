// Whole files as byte strings, and the line-end rule every output obeys.
// Shared by the tests and the fuzz target, so it does not depend on
// GoogleTest.
#ifndef KELVARIN_TEST_FILE_BYTES_H
#define KELVARIN_TEST_FILE_BYTES_H

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace kelvarin_test {

inline std::string read_file(const std::string& path) {
    std::ostringstream buf;
    buf << std::ifstream(path, std::ios::binary).rdbuf();
    return buf.str();
}

inline void write_file(const std::string& path, const std::string& bytes) {
    if (!(std::ofstream(path, std::ios::binary) << bytes)) throw std::runtime_error("cannot write " + path);
}

// Every line ends with CR LF, and nothing follows the last one.
inline bool all_lines_end_with_crlf(const std::string& bytes) {
    for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1))
        if (i == 0 || bytes[i - 1] != '\r') return false;
    return bytes.empty() || bytes.back() == '\n';
}

}  // namespace kelvarin_test

#endif
