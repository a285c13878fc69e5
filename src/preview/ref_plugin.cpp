#include "preview/ref_plugin.h"

#include <cstdlib>

#include "preview/html_text.h"

namespace kelvarin::preview {

namespace {

bool is_url(std::string_view name) {
    for (const std::string_view scheme : {"http://", "https://", "ftp://", "news://"})
        if (name.substr(0, scheme.size()) == scheme) return true;
    return false;
}

bool all_digits(std::string_view s) {
    if (s.empty()) return false;
    for (const char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// "640x480": a size given in the reference.
bool size_argument(const std::string& arg, int& w, int& h) {
    const std::size_t x = arg.find('x');
    if (x == std::string::npos || !all_digits(std::string_view(arg).substr(0, x)) ||
        !all_digits(std::string_view(arg).substr(x + 1)) || x > 6 || arg.size() - x > 7)
        return false;
    w = std::atoi(arg.substr(0, x).c_str());
    h = std::atoi(arg.substr(x + 1).c_str());
    return true;
}

// "70%", "12.5%": a percentage above 0 and below 100000, so that a side
// scaled by it still fits. One out of range is a word of the title and
// leaves the percentage read before it as it was.
bool percent_argument(const std::string& arg, double& percent) {
    if (arg.size() < 2 || arg.back() != '%') return false;
    for (std::size_t i = 0; i + 1 < arg.size(); ++i)
        if ((arg[i] < '0' || arg[i] > '9') && arg[i] != '.') return false;
    const double read = std::atof(arg.c_str());
    if (!(read > 0 && read < 100000)) return false;
    percent = read;
    return true;
}

std::string base_of(const std::string& name) {
    const std::size_t slash = name.rfind('/');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

std::string error(bool block, const std::string& message) {
    const std::string text = escape_html(std::string(block ? "#ref(): " : "&ref(): ") + message + (block ? "" : ";"));
    return block ? "<p class=\"ref-error\">" + text + "</p>" : "<span class=\"ref-error\">" + text + "</span>";
}

// What follows the file name in a reference.
struct RefOptions {
    std::string align;       // a block's place: left, center, right
    int w = 0, h = 0;        // "640x480"
    bool sized = false;
    double percent = 0;      // "70%"
    std::string title;       // the other words
};

// The options, as the plug-in takes them: the start of one of these names
// sets it; from the first empty argument (",,", the place of a page name)
// or the first that is no option on, arguments are sizes ("640x480"),
// percentages ("70%") or words of the title.
RefOptions read_options(const std::vector<std::string>& fields, bool block) {
    static const char* const kOptions[] = {"left", "center", "right", "wrap", "nowrap", "around",
                                           "noicon", "nolink", "noimg", "zoom"};
    RefOptions o;
    o.align = block ? "center" : "";
    bool done = false;
    for (std::size_t k = 1; k < fields.size(); ++k) {
        const std::string& arg = fields[k];
        if (arg.empty()) {
            done = true;
            continue;
        }
        if (!done) {
            std::string word = arg;
            for (char& c : word) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
            bool option = false;
            for (const char* name : kOptions) {
                const std::string_view key(name);
                if (key.substr(0, word.size()) == word) {
                    if (key == "left" || key == "center" || key == "right") o.align = std::string(key);
                    option = true;
                    break;
                }
            }
            if (option) continue;
            done = true;
        }
        if (size_argument(arg, o.w, o.h)) o.sized = true;
        else if (!percent_argument(arg, o.percent)) o.title += (o.title.empty() ? "" : ",") + arg;
    }
    return o;
}

}  // namespace

std::vector<std::string> split_plugin_arguments(std::string_view args) {
    std::vector<std::string> out;
    std::size_t i = 0;
    while (true) {
        std::string field;
        if (i < args.size() && args[i] == '"') {
            // A quoted field runs to the '"' that no second '"' follows.
            std::size_t k = i + 1;
            bool closed = false;
            std::string inner;
            while (k < args.size()) {
                if (args[k] == '"') {
                    if (k + 1 < args.size() && args[k + 1] == '"') {
                        inner += '"';
                        k += 2;
                        continue;
                    }
                    closed = true;
                    break;
                }
                inner += args[k++];
            }
            if (closed && (k + 1 == args.size() || args[k + 1] == ',')) {
                out.push_back(inner);
                i = k + 1;
                if (i == args.size()) break;
                ++i;
                continue;
            }
        }
        const std::size_t comma = args.find(',', i);
        field = std::string(args.substr(i, comma == std::string_view::npos ? std::string_view::npos : comma - i));
        out.push_back(field);
        if (comma == std::string_view::npos) break;
        i = comma + 1;
    }
    return out;
}

std::string ref_html(std::string_view args, bool block, int line, ImageShelf& images, PageFacts* facts) {
    // A reference whose arguments run over the lines of a block joined for
    // reading (a "#code{{" the wiki could not take) has a line end in them:
    // a blank, in a name or title.
    std::string one_line(args);
    for (char& c : one_line)
        if (c == '\r') c = ' ';
    std::vector<std::string> fields = split_plugin_arguments(one_line);
    const std::string name = fields.empty() ? "" : fields[0];
    if (name.empty()) return error(block, "Usage: (attached-file-name[,parameters])");

    const RefOptions options = read_options(fields, block);
    const std::string& align = options.align;
    const std::string& title = options.title;
    const int w = options.w, h = options.h;
    const bool sized = options.sized;
    const double percent = options.percent;

    std::string content;
    if (is_url(name)) {
        const std::string shown = escape_html(title.empty() ? name : title);
        content = is_web_image_name(name)
                      ? "<img src=\"" + escape_html(name) + "\" alt=\"" + shown + "\" title=\"" + shown + "\" />"
                      : "<a href=\"" + escape_html(name) + "\">" + shown + "</a>";
    } else {
        if (facts) facts->images.push_back({line, name, block});
        const ImageFile& file = images.file(name);
        if (!file.found) return error(block, "File not found: \"" + name + "\"");
        const std::string url = escape_html(path_to_url(name));
        if (!file.web_image) {
            content = "<a class=\"attachment\" href=\"" + url + "\" title=\"" + escape_html(name) + "\">" +
                      escape_html(base_of(name)) + "</a>";
        } else {
            int width = file.width, height = file.height;
            if (sized) {
                if (width == 0 && height == 0) width = w, height = h;
                else {
                    if (w) width = w;
                    if (h) height = h;
                }
            }
            if (percent > 0) {
                width = static_cast<int>(width * percent / 100);
                height = static_cast<int>(height * percent / 100);
            }
            const std::string shown = escape_html(title.empty() ? name : title);
            content = "<img src=\"" + url + "\" alt=\"" + shown + "\" title=\"" + shown + "\"";
            if (width > 0 && height > 0)
                content += " width=\"" + std::to_string(width) + "\" height=\"" + std::to_string(height) + "\"";
            content += " />";
        }
    }
    if (!block) return content;
    return "<div class=\"ref\" style=\"text-align:" + align + "\">" + content + "</div>";
}

}  // namespace kelvarin::preview
