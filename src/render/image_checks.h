// Checks of an image file before it takes its name: that it is whole (a
// tool that met a full disk may leave a file cut short and still say
// nothing), and that an SVG file, which a browser runs as a document of its
// own when the wiki serves it, holds no script, no event handler and no link
// that leaves the image.
#ifndef KELVARIN_IMAGE_CHECKS_H
#define KELVARIN_IMAGE_CHECKS_H

#include <string>
#include <string_view>

namespace kelvarin {

// "" when `bytes` is a whole image of type `ext` ("gif", "png", "svg"), and
// for svg a harmless one; otherwise what is wrong with it.
std::string image_problem(std::string_view bytes, const std::string& ext);

// "" when the SVG text holds no script, event handler, link out of the image
// or construct that could hide one; otherwise the first one found.
std::string svg_problem(std::string_view svg);

}  // namespace kelvarin

#endif
