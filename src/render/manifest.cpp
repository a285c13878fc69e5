#include "render/manifest.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <ctime>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <limits>
#include <string_view>
#include <vector>

#include "io/file_identity.h"
#include "io/sha256.h"

#ifndef KELVARIN_VERSION
#define KELVARIN_VERSION "unknown"
#endif

namespace kelvarin {

namespace fs = std::filesystem;

namespace {

constexpr const char* kHeader = "kelvarin-render manifest 1 ";
constexpr std::size_t kDigestSize = 64;
// A manifest of a million images is some 140 MB; anything larger is no
// manifest of ours, and is not read into memory to find that out.
constexpr off_t kLargestManifest = off_t{1} << 28;

bool is_digest(std::string_view text) {
    if (text.size() != kDigestSize) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

// Adds `name`'s entry unless the name is there already. The manifest lists
// its names in order, so each goes at the end, without a search.
template <typename Value>
bool add_new(std::map<std::string, Value>& map, std::string_view name, Value&& value) {
    if (!map.empty() && !(std::prev(map.end())->first < name)) return map.emplace(name, std::move(value)).second;
    map.emplace_hint(map.end(), name, std::move(value));
    return true;
}

// Reads a line of a failed formula: "failed <recipe> <n>:<name> <message>".
bool parse_failure(std::string_view line, Manifest& manifest) {
    const std::size_t start = 7 + kDigestSize + 1;  // "failed " and the recipe and " "
    if (line.size() < start || line[6] != ' ' || line[start - 1] != ' ') return false;
    const std::string_view recipe = line.substr(7, kDigestSize);
    const std::size_t colon = line.find(':', start);
    if (!is_digest(recipe) || colon == std::string_view::npos || colon == start || colon - start > 9 ||
        line.find_first_not_of("0123456789", start) != colon)
        return false;
    std::size_t length = 0;
    for (std::size_t i = start; i < colon; ++i) length = length * 10 + static_cast<std::size_t>(line[i] - '0');
    if (line.size() < colon + 1 + length + 1 || line[colon + 1 + length] != ' ') return false;
    const std::string_view name = line.substr(colon + 1, length);
    if (!is_plain_file_name(name) || manifest.images.count(std::string(name))) return false;
    return add_new(manifest.failures, name,
                   FailedFormula{std::string(recipe), std::string(line.substr(colon + 2 + length))});
}

// Reads one entry line; false when it is not one.
bool parse_entry(std::string_view line, Manifest& manifest) {
    if (line.compare(0, 7, "failed ") == 0) return parse_failure(line, manifest);
    if (line.size() < 2 * kDigestSize + 3 || line[kDigestSize] != ' ' || line[2 * kDigestSize + 1] != ' ')
        return false;
    const std::string_view recipe = line.substr(0, kDigestSize);
    const std::string_view image = line.substr(kDigestSize + 1, kDigestSize);
    const std::string_view name = line.substr(2 * kDigestSize + 2);
    if (!is_digest(recipe) || !is_digest(image) || !is_plain_file_name(name)) return false;
    return add_new(manifest.images, name, ManifestEntry{std::string(recipe), std::string(image)});  // a name twice: not ours
}

// Manifest::read_text_states holds the digest's state every this many bytes
// of the text: some 300 states for a manifest of 8,000 images.
constexpr std::size_t kDigestStateBytes = 64 * 64;

// The SHA-256 of `text`, noting the digest's state before each
// kDigestStateBytes of it into `states`.
std::string digest_noting_states(std::string_view text, std::vector<Sha256>& states) {
    Sha256 digest;
    for (std::size_t at = 0;; at += kDigestStateBytes) {
        states.push_back(digest);
        if (at >= text.size()) break;
        sha256_add(digest, text.substr(at, kDigestStateBytes));
    }
    return sha256_finish_hex(digest);
}

// The SHA-256 of `text`, begun from the last state noted of `read` that lies
// within what `text` shares with it from its start.
std::string digest_after_read(std::string_view text, std::string_view read, const std::vector<Sha256>& states) {
    Sha256 digest;
    std::size_t at = 0;
    if (!states.empty()) {
        // Step by step while both texts hold the same bytes: a state is
        // taken only after bytes the text shares with the one read.
        const std::size_t whole_steps = std::min(text.size(), read.size()) / kDigestStateBytes;
        std::size_t state = 0;
        while (state < whole_steps && state + 1 < states.size() &&
               text.substr(state * kDigestStateBytes, kDigestStateBytes) ==
                   read.substr(state * kDigestStateBytes, kDigestStateBytes))
            ++state;
        digest = states[state];
        at = state * kDigestStateBytes;
    }
    sha256_add(digest, text.substr(at));
    return sha256_finish_hex(digest);
}

}  // namespace

std::string manifest_path(const std::string& out_dir, const std::string& document) {
    std::string name = fs::path(document).filename().string();
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tex") == 0) name.resize(name.size() - 4);
    return (fs::path(out_dir) / (name + ".manifest")).string();
}

Manifest read_manifest(const std::string& path, const std::string& document, std::string& problem) {
    Manifest manifest;
    manifest.document = document;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) return manifest;
    std::string bytes;
    struct stat info {};
    if (!read_regular_file(path, kLargestManifest, bytes, info)) {
        problem = "not a regular file that can be read";
        return manifest;
    }
    const std::string header = kHeader + document + "\n";
    if (bytes.compare(0, header.size(), header) != 0) {
        problem = bytes.compare(0, std::strlen(kHeader), kHeader) == 0 ? "the manifest of another equation document"
                                                                      : "not a manifest of kelvarin-render";
        return manifest;
    }
    // The last line vouches for every line before it.
    const std::size_t cut = bytes.size() >= 2 ? bytes.rfind('\n', bytes.size() - 2) : std::string::npos;
    const std::size_t last = cut == std::string::npos ? 0 : cut + 1;
    Manifest read;
    read.document = document;
    bool whole = last >= header.size() && bytes.back() == '\n' &&
                 bytes.compare(last, std::string::npos,
                               "end " + digest_noting_states(std::string_view(bytes).substr(0, last),
                                                             read.read_text_states) +
                                   "\n") == 0;
    for (std::size_t at = header.size(); whole && at < last;) {
        const std::size_t end = bytes.find('\n', at);
        whole = parse_entry(std::string_view(bytes).substr(at, end - at), read);
        at = end + 1;
    }
    if (!whole) {
        problem = "damaged (cut short or edited)";
        return manifest;
    }
    // A manifest dated in the future (a clock set wrong, a copy from a
    // machine ahead) would vouch for changes made before that date: every
    // image is read instead.
    struct timespec now {};
    clock_gettime(CLOCK_REALTIME, &now);
    read.written_ns = nanoseconds(info.st_mtim) <= nanoseconds(now) ? nanoseconds(info.st_mtim) : -1;
    bytes.resize(last);
    read.read_text = std::move(bytes);
    return read;
}

std::string manifest_text(const Manifest& manifest) {
    std::string text;
    std::size_t size = std::strlen(kHeader) + manifest.document.size() + 1;
    for (const auto& [name, entry] : manifest.images) size += entry.recipe.size() + entry.image.size() + name.size() + 3;
    for (const auto& [name, failure] : manifest.failures)
        size += 7 + failure.recipe.size() + 1 + 10 + 1 + name.size() + 1 + failure.message.size() + 1;
    text.reserve(size + 4 + kDigestSize + 1);
    text.append(kHeader).append(manifest.document).push_back('\n');
    for (const auto& [name, entry] : manifest.images) {
        text.append(entry.recipe).push_back(' ');
        text.append(entry.image).push_back(' ');
        text.append(name).push_back('\n');
    }
    for (const auto& [name, failure] : manifest.failures) {
        text.append("failed ").append(failure.recipe).push_back(' ');
        text.append(std::to_string(name.size())).push_back(':');
        text.append(name).push_back(' ');
        const std::size_t message = text.size();
        text.append(failure.message);
        for (std::size_t i = message; i < text.size(); ++i)
            if (text[i] == '\n' || text[i] == '\r') text[i] = ' ';
        text.push_back('\n');
    }
    const std::string digest = digest_after_read(text, manifest.read_text, manifest.read_text_states);
    text.append("end ").append(digest).push_back('\n');
    return text;
}

std::string replace_file(const std::string& path, const std::string& bytes) {
    std::string temporary = path + ".XXXXXX";
    const int fd = mkstemp(&temporary[0]);
    if (fd < 0) return "cannot write beside " + path + ": " + std::strerror(errno);
    // mkstemp makes the file for its owner alone; give it the mode a new
    // file would have.
    const mode_t mask = umask(0);
    umask(mask);
    bool ok = fchmod(fd, 0666 & ~mask) == 0;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n > 0) done += static_cast<std::size_t>(n);
        else ok = n < 0 && errno == EINTR;
    }
    ok = ok && fsync(fd) == 0;
    const int error_number = errno;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temporary.c_str(), path.c_str()) == 0) return "";
    const std::string why = std::strerror(ok ? errno : error_number);
    unlink(temporary.c_str());
    return "cannot write " + path + ": " + why;
}

std::string head_digest(const EquationPages& doc, const RenderOptions& options, bool trusted_paper) {
    Sha256 digest;
    sha256_add_field(digest, "kelvarin-render " KELVARIN_VERSION);
    sha256_add_field(digest, "dpi " + std::to_string(options.dpi));
    sha256_add_field(digest, options.transparent ? "transparent" : "opaque");
    sha256_add_field(digest, trusted_paper ? "trusted" : "confined");
    for (const std::string& line : doc.head) sha256_add_field(digest, line);
    return sha256_finish_hex(digest);
}

Sha256 recipe_digest_start(const std::string& head) {
    Sha256 digest;
    sha256_add_field(digest, head);
    return digest;
}

std::string recipe_digest(const Sha256& start, const FormulaPage& page) {
    Sha256 digest = start;
    // "type " and the image's extension, as one field.
    const std::size_t dot = page.image_name.rfind('.');
    const std::string_view type =
        dot == std::string::npos ? std::string_view() : std::string_view(page.image_name).substr(dot + 1);
    char type_field[32];
    if (type.size() <= sizeof type_field - 5) {
        std::memcpy(type_field, "type ", 5);
        std::memcpy(type_field + 5, type.data(), type.size());
        sha256_add_field(digest, std::string_view(type_field, 5 + type.size()));
    } else {
        sha256_add_field(digest, "type " + std::string(type));
    }
    // The page comment says where the formula stood in the source, which
    // changes the image in nothing.
    for (std::size_t k = 1; k < page.lines.size(); ++k) sha256_add_field(digest, page.lines[k]);
    return sha256_finish_hex(digest);
}

std::string file_digest(const std::string& path) {
    std::string bytes;
    struct stat info {};
    if (!read_regular_file(path, std::numeric_limits<off_t>::max(), bytes, info)) return "";
    return sha256_hex(bytes);
}

bool untouched_since(const std::string& path, std::int64_t since_ns) {
    struct stat info {};
    return since_ns >= 0 && lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           nanoseconds(info.st_ctim) < since_ns;
}

}  // namespace kelvarin
