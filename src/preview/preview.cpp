#include "preview/preview.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <cstdlib>

#include "preview/checks.h"
#include "preview/html_writer.h"
#include "preview/images.h"
#include "preview/page_facts.h"
#include "preview/page_lines.h"
#include "preview/wiki_blocks.h"
#include "preview/wiki_inline.h"

namespace kelvarin::preview {

namespace {

// Writes `bytes` to a new file beside `path` and renames it to `path` once
// complete: a link at that name is replaced, never written through, and a
// full disk leaves the old preview as it was. Returns 0, or the errno of
// what failed (the new file then removed).
int replace_file(const std::string& path, const std::string& bytes) {
    const std::size_t slash = path.rfind('/');
    const std::size_t leaf = slash == std::string::npos ? 0 : slash + 1;
    std::string temp = path.substr(0, leaf) + "." + path.substr(leaf) + ".XXXXXX";
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return errno;
    // mkostemp makes the file private; a preview is an ordinary file.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    int error = 0;
    for (std::size_t done = 0; done < bytes.size() && error == 0;) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) error = n < 0 ? errno : EIO;
        else done += static_cast<std::size_t>(n);
    }
    if (error == 0 && fsync(fd) != 0) error = errno;
    if (close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temp.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) unlink(temp.c_str());
    return error;
}

}  // namespace

Preview make_preview(const std::string& page, const std::string& title, const std::string& folder) {
    const std::vector<std::string> lines = split_page_lines(page);
    ImageShelf images(folder);
    PageFacts facts;
    InlineReader inline_reader(images, facts);
    const ReadPage read = read_blocks(lines, inline_reader, facts);
    Preview out;
    std::string stem = preview_path_for(title);
    stem.resize(stem.size() - std::string(".preview.html").size());
    out.findings = check_page(lines, facts, images, stem);
    out.html = write_preview(title, render_page(read, inline_reader.notes()), out.findings);
    return out;
}

std::string preview_path_for(const std::string& page_path) {
    const std::size_t slash = page_path.rfind('/');
    const std::size_t leaf = slash == std::string::npos ? 0 : slash + 1;
    std::string stem = page_path;
    const std::string suffix = ".wiki.txt";
    if (stem.size() - leaf > suffix.size() && stem.compare(stem.size() - suffix.size(), suffix.size(), suffix) == 0) {
        stem.resize(stem.size() - suffix.size());
    } else {
        const std::size_t dot = stem.rfind('.');
        if (dot != std::string::npos && dot > leaf) stem.resize(dot);
    }
    return stem + ".preview.html";
}

std::vector<Finding> preview_file(const std::string& page_path) {
    const auto fail = [](const std::string& what, const std::string& path, int error) {
        return std::runtime_error("cannot " + what + " " + path + ": " + std::strerror(error));
    };
    const int fd = open(page_path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw fail("read", page_path, errno);
    struct stat st;
    const bool stated = fstat(fd, &st) == 0;
    if (!stated || S_ISDIR(st.st_mode)) {
        const int error = stated ? EISDIR : errno;
        close(fd);
        throw fail("read", page_path, error);
    }
    std::string bytes;
    char buf[1 << 16];
    while (true) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            throw fail("read", page_path, error);
        }
        if (n == 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    close(fd);
    const std::size_t slash = page_path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : page_path.substr(0, slash);
    const std::string title = slash == std::string::npos ? page_path : page_path.substr(slash + 1);
    const Preview preview = make_preview(bytes, title, folder);
    const std::string out_path = preview_path_for(page_path);
    const int error = replace_file(out_path, preview.html);
    if (error != 0) throw fail("write", out_path, error);
    return preview.findings;
}

}  // namespace kelvarin::preview
