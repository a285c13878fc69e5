// The one place that writes a line to a file: its pieces, then CR LF, in one
// write call, so a reader of the file sees whole lines only and the file grows
// as the input is read. A replacing output, which no one reads before it is
// complete, gathers its lines into blocks instead. Line ends are CR LF on
// every platform.
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
    std::string temp_path;      // a replacing output: where the lines go until committed
    std::string final_path;     // and the name it then takes
    bool in_blocks = false;     // lines are gathered in `block` and written a block at a time
    std::string block;
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

// Hands the lines a replacing output has gathered to the file, so that
// `failed` says whether every line so far reached it.
void flush_output(LineOutput& out);

// Closes the file; returns true when every line reached it.
bool close_output(LineOutput& out);

// A replacing output: the lines go to a new file in the folder of `path`,
// which takes that name only when it is complete (commit_output). So a link
// at `path` is replaced, never written through, and a failed run keeps the
// old file. Returns false (nothing left behind) when the new file cannot be
// made; errno tells why.
bool open_replacing_output(LineOutput& out, const std::string& path);

// Closes a replacing output and gives it its name. Returns false, removing
// the new file and keeping the old one, when a line or the rename failed.
bool commit_output(LineOutput& out);

// Closes a replacing output and removes it; the old file stays.
void discard_output(LineOutput& out);

// Whether a file could be written at `path` now, without changing anything
// there: an existing file opens for writing, or a missing one's folder takes
// new files. On false, errno tells why.
bool can_write_at(const std::string& path);

}  // namespace kelvarin

#endif
