// The one place that writes a line to a file: its pieces, then CR LF, in one
// write call, so a reader of the file sees whole lines only and the file grows
// as the input is read. Line ends are CR LF on every platform.
#ifndef KELVARIN_LINE_OUTPUT_H
#define KELVARIN_LINE_OUTPUT_H

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace kelvarin {

struct LineOutput {
    int fd = -1;                // -1 until opened, and after closing
    bool failed = false;        // a write failed; later lines are dropped
    int error_number = 0;       // errno of the first failure
    std::unique_ptr<char[]> buffer;  // the line being put together, reused
    std::size_t capacity = 0;
    std::size_t size = 0;
};

// Creates or truncates the file. Returns false (nothing opened) on failure.
bool open_output(LineOutput& out, const std::string& path);

// A line put together piece by piece, in place: start_line, then add_to_line
// for each piece, then finish_line, which adds CR LF and writes the line in
// one write call. A line longer than the buffer's limit goes out in several
// writes, its CR LF with the last, so that a huge line is never held twice.
inline void start_line(LineOutput& out) { out.size = 0; }
void add_large_piece(LineOutput& out, std::string_view piece);
inline void add_to_line(LineOutput& out, std::string_view piece) {
    if (piece.empty()) return;
    if (out.capacity - out.size < piece.size()) {
        add_large_piece(out, piece);
        return;
    }
    std::memcpy(out.buffer.get() + out.size, piece.data(), piece.size());
    out.size += piece.size();
}
void finish_line(LineOutput& out);

// Writes the pieces one after the other as one line, CR LF, in one write.
void write_line(LineOutput& out, std::initializer_list<std::string_view> pieces);
inline void write_line(LineOutput& out, std::string_view text) {
    write_line(out, {text});
}
inline void write_empty_line(LineOutput& out) { write_line(out, {}); }

// Closes the file; returns true when every line reached it.
bool close_output(LineOutput& out);

}  // namespace kelvarin

#endif
