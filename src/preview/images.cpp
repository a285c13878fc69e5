#include "preview/images.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <set>

namespace kelvarin::preview {

namespace {

namespace fs = std::filesystem;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

unsigned be16(const std::string& b, std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(b[at])) << 8 | static_cast<unsigned char>(b[at + 1]);
}
unsigned le16(const std::string& b, std::size_t at) {
    return static_cast<unsigned>(static_cast<unsigned char>(b[at + 1])) << 8 | static_cast<unsigned char>(b[at]);
}
unsigned long be32(const std::string& b, std::size_t at) {
    return static_cast<unsigned long>(be16(b, at)) << 16 | be16(b, at + 2);
}

bool jpeg_size(const std::string& b, int& width, int& height) {
    std::size_t i = 2;
    while (i + 9 < b.size()) {
        if (static_cast<unsigned char>(b[i]) != 0xFF) return false;
        const unsigned char marker = static_cast<unsigned char>(b[i + 1]);
        if (marker == 0xFF) {
            ++i;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            i += 2;
            continue;
        }
        const bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            height = static_cast<int>(be16(b, i + 5));
            width = static_cast<int>(be16(b, i + 7));
            return width > 0 && height > 0;
        }
        i += 2 + be16(b, i + 2);
    }
    return false;
}

// A length of SVG in CSS pixels, or a negative value when it has a unit
// that depends on something else (%, em, ex) or is no number.
double svg_length(const std::string& value) {
    const char* start = value.c_str();
    char* end = nullptr;
    const double number = std::strtod(start, &end);
    if (end == start || !(number >= 0)) return -1;
    std::string unit(end);
    while (!unit.empty() && std::isspace(static_cast<unsigned char>(unit.back()))) unit.pop_back();
    if (unit.empty() || unit == "px") return number;
    if (unit == "pt") return number * 96.0 / 72.0;
    if (unit == "pc") return number * 16.0;
    if (unit == "in") return number * 96.0;
    if (unit == "cm") return number * 96.0 / 2.54;
    if (unit == "mm") return number * 96.0 / 25.4;
    return -1;
}

// The value of attribute `name` in the tag `tag`, or "" when it has none.
std::string attribute(const std::string& tag, const std::string& name) {
    for (std::size_t at = tag.find(name); at != std::string::npos; at = tag.find(name, at + 1)) {
        if (at == 0 || !std::isspace(static_cast<unsigned char>(tag[at - 1]))) continue;
        std::size_t i = at + name.size();
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        if (i >= tag.size() || tag[i] != '=') continue;
        ++i;
        while (i < tag.size() && std::isspace(static_cast<unsigned char>(tag[i]))) ++i;
        if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) continue;
        const std::size_t close = tag.find(tag[i], i + 1);
        if (close == std::string::npos) return "";
        return tag.substr(i + 1, close - i - 1);
    }
    return "";
}

bool svg_size(const std::string& b, int& width, int& height) {
    const std::size_t open = b.find("<svg");
    if (open == std::string::npos) return false;
    const std::size_t close = b.find('>', open);
    if (close == std::string::npos) return false;
    const std::string tag = b.substr(open, close - open);
    double w = svg_length(attribute(tag, "width")), h = svg_length(attribute(tag, "height"));
    if (w < 0 || h < 0) {
        const std::string box = attribute(tag, "viewBox");
        double x = 0, y = 0, bw = -1, bh = -1;
        if (std::sscanf(box.c_str(), "%lf%*[ ,]%lf%*[ ,]%lf%*[ ,]%lf", &x, &y, &bw, &bh) != 4) return false;
        if (w < 0 && h < 0) w = bw, h = bh;
        else if (w < 0 && bh > 0) w = h * bw / bh;
        else if (h < 0 && bw > 0) h = w * bh / bw;
    }
    if (!(w > 0) || !(h > 0) || w > 1e6 || h > 1e6) return false;
    width = std::max(1, static_cast<int>(w + 0.5));
    height = std::max(1, static_cast<int>(h + 0.5));
    return true;
}

// Up to `limit` bytes from the start of a regular file; false for anything
// else (a folder, a device, a pipe, which a page must not make us wait on).
bool read_head(const std::string& path, std::size_t limit, std::string& out, bool& found) {
    found = false;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    found = true;
    out.resize(std::min<std::size_t>(limit, static_cast<std::size_t>(st.st_size)));
    std::size_t got = 0;
    while (got < out.size()) {
        const ssize_t n = read(fd, &out[got], out.size() - got);
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    out.resize(got);
    close(fd);
    return true;
}

}  // namespace

bool is_web_image_name(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.find('/', dot) != std::string::npos) return false;
    const std::string ext = lower(name.substr(dot + 1));
    return ext == "gif" || ext == "png" || ext == "jpg" || ext == "jpeg" || ext == "svg";
}

bool image_size(const std::string& b, int& width, int& height) {
    width = height = 0;
    if (b.size() >= 10 && (b.compare(0, 6, "GIF87a") == 0 || b.compare(0, 6, "GIF89a") == 0)) {
        width = static_cast<int>(le16(b, 6));
        height = static_cast<int>(le16(b, 8));
    } else if (b.size() >= 24 && b.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0 && b.compare(12, 4, "IHDR") == 0) {
        const unsigned long w = be32(b, 16), h = be32(b, 20);
        if (w > 1000000 || h > 1000000) return false;
        width = static_cast<int>(w);
        height = static_cast<int>(h);
    } else if (b.size() >= 4 && static_cast<unsigned char>(b[0]) == 0xFF && static_cast<unsigned char>(b[1]) == 0xD8) {
        if (!jpeg_size(b, width, height)) width = height = 0;
    } else if (b.find("<svg") != std::string::npos) {
        if (!svg_size(b, width, height)) width = height = 0;
    }
    if (width <= 0 || height <= 0) {
        width = height = 0;
        return false;
    }
    return true;
}

const ImageFile& ImageShelf::file(const std::string& name) {
    const auto known = files_.find(name);
    if (known != files_.end()) return known->second;
    ImageFile info;
    info.web_image = is_web_image_name(name);
    std::string head;
    const std::string path = name.empty() || name[0] == '/' ? name : folder_ + "/" + name;
    // A JPEG's size may come after its thumbnail and tables; an SVG's root
    // element after a long comment.
    if (!name.empty() && read_head(path, 1 << 18, head, info.found) && info.web_image)
        image_size(head, info.width, info.height);
    return files_.emplace(name, info).first->second;
}

std::vector<std::string> ImageShelf::web_images_on_disk(const std::vector<std::string>& names) const {
    std::set<std::string> prefixes{""};
    for (const std::string& name : names) {
        const std::size_t slash = name.rfind('/');
        // Folders the page names below its own; one above it ("../") holds
        // other things than this page's images.
        const std::string prefix = slash == std::string::npos ? "" : name.substr(0, slash + 1);
        if (!prefix.empty() && prefix[0] != '/' && prefix.find("../") == std::string::npos && prefix != "..")
            prefixes.insert(prefix);
    }
    std::vector<std::string> found;
    for (const std::string& prefix : prefixes) {
        std::error_code ec;
        for (fs::directory_iterator it(folder_ + "/" + prefix, ec), end; !ec && it != end; it.increment(ec)) {
            const std::string leaf = it->path().filename().string();
            std::error_code kind;
            if (!leaf.empty() && leaf[0] != '.' && it->is_regular_file(kind) && is_web_image_name(leaf))
                found.push_back(prefix + leaf);
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace kelvarin::preview
