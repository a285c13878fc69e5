// The page's images on disk. The preview lies beside the page, so an image
// the page names is looked for by that name from the page's folder, as the
// wiki looks for it among the page's attachments; its size comes from the
// file's header, as the wiki's image plug-in takes it, so that a percentage
// scales it the same way.
#ifndef KELVARIN_PREVIEW_IMAGES_H
#define KELVARIN_PREVIEW_IMAGES_H

#include <map>
#include <string>
#include <vector>

namespace kelvarin::preview {

struct ImageFile {
    bool found = false;        // a regular file of that name is there
    bool web_image = false;    // the name ends in .gif, .png, .jpg, .jpeg or .svg (any case)
    int width = 0, height = 0; // its size in CSS pixels; 0 when unknown
};

// Whether the wiki shows a file of this name as an image (and not as a
// link to download it): its extension is gif, png, jpg, jpeg or svg.
bool is_web_image_name(const std::string& name);

// The size in pixels an image's header gives: GIF, PNG and JPEG by their
// bytes, SVG by the width and height (or viewBox) of its root element, in
// CSS pixels (1pt = 4/3 px). False when the bytes are none of these or
// give no size.
bool image_size(const std::string& bytes, int& width, int& height);

class ImageShelf {
public:
    explicit ImageShelf(std::string folder) : folder_(std::move(folder)) {}

    // The file `name` (relative to the page's folder), read once.
    const ImageFile& file(const std::string& name);

    // The web images in the page's folder and in the folders `names` hold
    // (figs/ for figs/a.png), by the names the page would give them, sorted.
    std::vector<std::string> web_images_on_disk(const std::vector<std::string>& names) const;

private:
    std::string folder_;
    std::map<std::string, ImageFile> files_;
};

}  // namespace kelvarin::preview

#endif
