// latex's state after a document's preamble, dumped once and kept in the
// user's cache, so that a render that typesets a few changed formulas starts
// latex from it instead of reading the preamble and its packages again:
// about half of what such a render costs.
//
// A kept format is used only while everything it was made from is as it
// was: the preamble's text, the latex program, the paper's folder and
// trust, the day (a preamble may write the date into a macro), and every
// file latex read while making it (the paper's own style files, the
// packages, latex's own base format), by size, times and identity. Anything
// else, and latex reads the preamble as usual. The cache holds the newest
// few formats, in a folder of the user's alone.
#ifndef KELVARIN_PREAMBLE_FORMAT_H
#define KELVARIN_PREAMBLE_FORMAT_H

#include <cstddef>
#include <string>

#include "render/equation_pages.h"
#include "render/typesetting.h"

namespace kelvarin {

struct FormatCache {
    std::string folder;  // "" when there is none to use
};

// The cache folder, $XDG_CACHE_HOME/kelvarin-render or
// ~/.cache/kelvarin-render, made for the user alone when missing. None
// when it is a link, another user's (a HOME kept through sudo), or
// writable by others: latex then reads the preamble on every run, as
// without a cache.
FormatCache open_format_cache();

// What a format of this document's preamble, for latex as set up, is kept
// under: a digest of everything it is made from but the files it reads.
// `scratch` is this run's scratch folder, whose name the tools'
// environment holds and which changes nothing.
std::string format_key(const EquationPages& doc, const LatexSetup& setup, const std::string& scratch);

// A kept format for `key` whose inputs are all unchanged, copied into
// `scratch`; its path without ".fmt" (as latex's -fmt takes it), or "".
std::string kept_format(const FormatCache& cache, const std::string& key, const std::string& scratch);

// Dumps the preamble of `doc` with latex as set up, in `folder` (a new
// folder of the scratch folder), and keeps the format in the cache. A
// preamble that does not dump cleanly leaves nothing. Returns "" or why no
// format was kept.
std::string make_format(const EquationPages& doc, const LatexSetup& setup, const FormatCache& cache,
                        const std::string& key, const std::string& folder, const std::string& scratch);

}  // namespace kelvarin

#endif
