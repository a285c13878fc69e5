// The wiki's image plug-in: "#ref(name,,70%)" on a line of its own and
// "&ref(name,,70%);" in text. An attachment that is a web image shows as
// the image, scaled by the percentage from its own size; any other file as
// a link to it; a file that is not there as the plug-in's error message.
#ifndef KELVARIN_PREVIEW_REF_PLUGIN_H
#define KELVARIN_PREVIEW_REF_PLUGIN_H

#include <string>
#include <string_view>
#include <vector>

#include "preview/images.h"
#include "preview/page_facts.h"

namespace kelvarin::preview {

// The plug-in's arguments split at ",", with "..." quoting a field that
// holds a "," ("" in it for a '"'), as the wiki splits them.
std::vector<std::string> split_plugin_arguments(std::string_view args);

// The HTML the plug-in gives for `args` (what stands between its
// parentheses): a block (centred on a line of its own) or inline. An
// attachment it names is recorded in `facts` at page line `line`, unless
// `facts` is null.
std::string ref_html(std::string_view args, bool block, int line, ImageShelf& images, PageFacts* facts);

}  // namespace kelvarin::preview

#endif
