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
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buf;
    buf << in.rdbuf();
    return buf.str();
}

inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

// Every line ends with CR LF, and nothing follows the last one.
inline bool all_lines_end_with_crlf(const std::string& bytes) {
    if (!bytes.empty() && bytes.back() != '\n') return false;
    for (std::size_t i = bytes.find('\n'); i != std::string::npos; i = bytes.find('\n', i + 1))
        if (i == 0 || bytes[i - 1] != '\r') return false;
    return true;
}

}  // namespace kelvarin_test

#endif
