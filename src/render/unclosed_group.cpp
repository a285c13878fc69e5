#include "render/unclosed_group.h"

namespace kelvarin {

std::size_t unclosed_group_line(const std::vector<std::string>& lines) {
    std::size_t depth = 0;
    std::size_t opened = lines.size();  // where the outermost open group began
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        for (std::size_t p = 0; p < line.size() && line[p] != '%'; ++p) {
            if (line[p] == '\\') {
                ++p;  // the escaped character, or the first letter of a command
            } else if (line[p] == '{') {
                if (depth++ == 0) opened = i;
            } else if (line[p] == '}' && depth > 0) {
                --depth;
            }
        }
    }
    return depth > 0 ? opened : lines.size();
}

}  // namespace kelvarin
