#include "io/line_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace kelvarin {

namespace {

// Large enough that an ordinary line and its CR LF go out in one write call.
constexpr std::size_t kBufferLimit = 1 << 16;

void note_failure(LineOutput& out) {
    if (!out.failed) {
        out.failed = true;
        out.error_number = errno;
    }
}

// A replacing output's lines go out in writes of about this size.
constexpr std::size_t kBlockSize = 1 << 16;

// Writes `size` bytes at `p` whole, as far as the file takes them.
void write_through(LineOutput& out, const char* p, std::size_t size) {
    // After a failure the rest of the file is lost anyway; trying again on
    // every line would only cost a failing system call per line.
    if (out.fd == -1 || out.failed) return;
    while (size > 0) {
        const ssize_t n = ::write(out.fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;  // no progress: the line cannot be written
            note_failure(out);
            return;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
}

// Hands bytes to the file: at once, or for a replacing output gathered
// into a block, in the order given either way.
void write_all(LineOutput& out, const char* p, std::size_t size) {
    if (!out.in_blocks) {
        write_through(out, p, size);
        return;
    }
    if (out.block.size() + size > kBlockSize) flush_output(out);
    if (size >= kBlockSize) {
        write_through(out, p, size);
        return;
    }
    out.block.append(p, size);
}

}  // namespace

void flush_output(LineOutput& out) {
    write_through(out, out.block.data(), out.block.size());
    out.block.clear();
}

bool open_output(LineOutput& out, const std::string& path) {
    out.in_blocks = false;
    out.failed = false;
    out.error_number = 0;
    out.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return out.fd != -1;
}

void add_large_piece(LineOutput& out, std::string_view piece) {
    if (out.size + piece.size() <= kBufferLimit) {
        // Room for an ordinary line: the buffer grows, once, to its limit.
        std::unique_ptr<char[]> bigger(new char[kBufferLimit]);
        if (out.size > 0) std::memcpy(bigger.get(), out.buffer.get(), out.size);
        out.buffer = std::move(bigger);
        out.capacity = kBufferLimit;
        std::memcpy(out.buffer.get() + out.size, piece.data(), piece.size());
        out.size += piece.size();
        return;
    }
    // A line beyond the limit: what is put together so far goes out, and so
    // does a piece too big to buffer; the line goes on behind them.
    write_all(out, out.buffer.get(), out.size);
    out.size = 0;
    if (piece.size() > out.capacity) {
        write_all(out, piece.data(), piece.size());
        return;
    }
    std::memcpy(out.buffer.get(), piece.data(), piece.size());
    out.size = piece.size();
}

void finish_line(LineOutput& out) {
    // The line is handed to the system whole: one write call per line, as a
    // flushed stream would make, without the stream's own copying and
    // locking for each piece.
    add_to_line(out, "\r\n");
    write_all(out, out.buffer.get(), out.size);
}

void write_line(LineOutput& out,
                std::initializer_list<std::string_view> pieces) {
    start_line(out);
    for (std::string_view piece : pieces) add_to_line(out, piece);
    finish_line(out);
}


bool close_output(LineOutput& out) {
    if (out.fd == -1) return !out.failed;
    flush_output(out);
    errno = 0;
    if (::close(out.fd) != 0) note_failure(out);
    out.fd = -1;
    return !out.failed;
}

namespace {

std::string folder_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The permission bits a file made by open(…, 0666) would get.
mode_t default_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

}  // namespace

bool open_replacing_output(LineOutput& out, const std::string& path) {
    out.failed = false;
    out.error_number = 0;
    out.final_path = path;
    const std::size_t slash = path.rfind('/');
    out.temp_path = path.substr(0, slash == std::string::npos ? 0 : slash + 1) + "." +
                    path.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
    out.fd = ::mkostemp(out.temp_path.data(), O_CLOEXEC);
    if (out.fd == -1) {
        out.temp_path.clear();
        return false;
    }
    // mkostemp makes the file private; the page is an ordinary file.
    ::fchmod(out.fd, default_file_mode());
    out.in_blocks = true;
    out.block.reserve(kBlockSize);
    return true;
}

bool commit_output(LineOutput& out) {
    if (out.fd != -1) flush_output(out);
    if (out.fd != -1 && !out.failed && ::fsync(out.fd) != 0) note_failure(out);
    bool ok = close_output(out);
    if (ok && ::rename(out.temp_path.c_str(), out.final_path.c_str()) != 0) {
        note_failure(out);
        ok = false;
    }
    if (!ok) ::unlink(out.temp_path.c_str());
    out.temp_path.clear();
    return ok;
}

void discard_output(LineOutput& out) {
    out.block.clear();
    close_output(out);
    if (!out.temp_path.empty()) ::unlink(out.temp_path.c_str());
    out.temp_path.clear();
}

bool can_write_at(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd != -1) {
        ::close(fd);
        return true;
    }
    if (errno != ENOENT) return false;
    return ::access(folder_of(path).c_str(), W_OK | X_OK) == 0;
}

}  // namespace kelvarin
