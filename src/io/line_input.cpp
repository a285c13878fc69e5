#include "io/line_input.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kelvarin {

namespace {

constexpr std::size_t kInputBlockSize = 1 << 16;

// Refills the block. Returns false when the file has nothing more to give.
bool fill_block(LineInput& in) {
    if (in.source_done) return false;
    errno = 0;
    std::size_t n = std::fread(in.block.data(), 1, in.block.size(), in.file);
    if (n == 0) {
        in.source_done = true;
        if (std::ferror(in.file)) {
            in.read_error = true;
            in.error_number = errno != 0 ? errno : EIO;
        }
        return false;
    }
    // A 0x1A byte ends the input for good; what follows it is never used.
    if (const void* stop = std::memchr(in.block.data(), 0x1A, n)) {
        n = static_cast<std::size_t>(static_cast<const char*>(stop) -
                                     in.block.data());
        in.source_done = true;
        if (n == 0) return false;
    }
    in.begin = 0;
    in.end = n;
    return true;
}

}  // namespace

bool open_input(LineInput& in, const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(fs::path(path), ec);
    if (ec) {
        in.error_number = ec.value();
        in.open_problem = std::strerror(in.error_number);
        return false;
    }
    if (status.type() == fs::file_type::directory) {
        in.open_problem = "is a directory";
        return false;
    }
    if (status.type() != fs::file_type::regular) {
        in.open_problem = "is not a regular file";
        return false;
    }
    in.file = std::fopen(path.c_str(), "rb");
    if (in.file == nullptr) {
        in.error_number = errno;
        in.open_problem = std::strerror(in.error_number);
        return false;
    }
    // The block below is the only buffer; the stream's own would copy twice.
    std::setvbuf(in.file, nullptr, _IONBF, 0);
    in.block.resize(kInputBlockSize);
    return true;
}

bool read_line(LineInput& in, std::string& line) {
    if (in.at_eof || in.read_error) return false;
    line.clear();
    for (;;) {
        if (in.begin == in.end && !fill_block(in)) {
            if (in.read_error) return false;
            in.at_eof = true;
            return true;
        }
        const char* start = in.block.data() + in.begin;
        const std::size_t avail = in.end - in.begin;
        const void* lf = std::memchr(start, '\n', avail);
        if (lf == nullptr) {
            line.append(start, avail);
            in.begin = in.end;
            continue;
        }
        const std::size_t len =
            static_cast<std::size_t>(static_cast<const char*>(lf) - start);
        line.append(start, len);
        in.begin += len + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }
}

void close_input(LineInput& in) {
    if (in.file != nullptr) std::fclose(in.file);
    in.file = nullptr;
}

}  // namespace kelvarin
