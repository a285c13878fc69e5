// Reads an input file as bytes, in large blocks, and splits it into lines.
//
// Line rules: a line ends at LF; one CR directly before that LF belongs to the
// line end; any other CR is data. The first byte 0x1A ends the input as if the
// file ended there. End of input is noticed like a stream's end-of-file state:
// only a read that runs into the end while looking for the next byte sees it,
// so an input whose last byte is LF yields one more, empty, line, and an empty
// input yields exactly one empty line.
#ifndef KELVARIN_LINE_INPUT_H
#define KELVARIN_LINE_INPUT_H

#include <cstdio>
#include <string>
#include <vector>

namespace kelvarin {

struct LineInput {
    std::FILE* file = nullptr;
    std::vector<char> block;   // bytes read from the file and not yet handed out
    std::size_t begin = 0;     // first unread byte of block
    std::size_t end = 0;       // one past the last valid byte of block
    bool source_done = false;  // the file has nothing more (end, 0x1A or error)
    bool at_eof = false;       // a read ran into the end of the input
    bool read_error = false;   // the file failed before its end
    int error_number = 0;      // errno of that failure, or of a failed open
    const char* open_problem = nullptr;  // a failed open: why, in words
};

// Opens a regular file for reading. Directories, devices and missing paths
// fail, with open_problem saying why.
bool open_input(LineInput& in, const std::string& path);

// Reads the next line into `line` (without its line end). Returns false when
// the end of the input was already reached by an earlier read, or when the
// file fails; the line in progress at a failure is not returned.
bool read_line(LineInput& in, std::string& line);

void close_input(LineInput& in);

}  // namespace kelvarin

#endif
