// The manifest kelvarin-render keeps beside the images of an equation
// document ("paper.eq.manifest"): one line per image it made, with a digest
// of what made it (the preamble, the formula, the resolution, the type, the
// transparency, the renderer's version) and a digest of the bytes it wrote.
// An image whose entry matches and whose file still holds those bytes need
// not be typeset again; a file whose status has not changed since the
// manifest was written holds them without being read. A formula that failed is recorded with what made it
// and why it failed, so that an unchanged failing formula is reported again
// without being typeset again (latex may take seconds to give up on one).
//
// The file is text:
//
//     kelvarin-render manifest 1 paper.eq.tex
//     <recipe digest> <image digest> <image name>
//     ...
//     failed <recipe digest> <bytes of the name>:<image name> <message>
//     ...
//     end <SHA-256 of every line above, line ends included>
//
// The digests are 64 hexadecimal digits of SHA-256. The last line makes a
// cut-short or edited manifest plain to see: anything that does not read
// exactly so, or names another document, is not trusted at all.
#ifndef KELVARIN_MANIFEST_H
#define KELVARIN_MANIFEST_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "io/sha256.h"
#include "render/equation_pages.h"
#include "render/image_making.h"

namespace kelvarin {

struct ManifestEntry {
    std::string recipe;  // digest of what made the image
    std::string image;   // digest of the image's bytes as written
    bool operator==(const ManifestEntry& o) const { return recipe == o.recipe && image == o.image; }
};

struct FailedFormula {
    std::string recipe;   // digest of what was typeset
    std::string message;  // why it failed, on one line
    bool operator==(const FailedFormula& o) const { return recipe == o.recipe && message == o.message; }
};

struct Manifest {
    std::string document;                           // the equation document's file name
    std::map<std::string, ManifestEntry> images;    // by image name
    std::map<std::string, FailedFormula> failures;  // by image name
    // When the manifest read was last written (nanoseconds since the epoch;
    // -1 when none was read): every image digest in it held then.
    std::int64_t written_ns = -1;
    // The manifest read, above its "end" line, and its digest's state at
    // every kDigestStateBytes of it: a manifest written again after a small
    // change is the same text up to that change, and its digest is taken
    // from there on only.
    std::string read_text;
    std::vector<Sha256> read_text_states;
};

// The manifest's path for `document` (a path to "paper.eq.tex") in `out_dir`:
// "paper.eq.manifest" there.
std::string manifest_path(const std::string& out_dir, const std::string& document);

// Reads the manifest at `path` for the document named `document`. A missing
// file is an empty manifest; anything else that is not a manifest of that
// document, whole and undamaged, is an empty manifest with `problem` set.
Manifest read_manifest(const std::string& path, const std::string& document, std::string& problem);

// The manifest's bytes, as read_manifest takes them back.
std::string manifest_text(const Manifest& manifest);

// Replaces the file at `path` by `bytes`: written beside it under a
// temporary name, then renamed over it, so that a reader sees the old file
// or the new one, never a part, and a link at `path` is replaced, not
// written through. Returns "" or why it could not.
std::string replace_file(const std::string& path, const std::string& bytes);

// The digest of what makes page `page`'s image, in two steps for a
// document's thousands of formulas: `recipe_digest_start` feeds the digest
// head_digest's result for the document, once; each page's recipe goes on
// from a copy of it. Whether the paper is trusted counts too: a formula may
// read what only a trusted paper may, and its image must not outlive the
// trust.
std::string head_digest(const EquationPages& doc, const RenderOptions& options, bool trusted_paper);
Sha256 recipe_digest_start(const std::string& head);
std::string recipe_digest(const Sha256& start, const FormulaPage& page);

// The SHA-256 of the regular file at `path` (a link is not followed), or ""
// when there is no such file or it cannot be read.
std::string file_digest(const std::string& path);

// Whether the regular file at `path` (a link is not followed) is untouched
// since the time `since_ns`: its status last changed strictly before it.
// Nothing can set a file's change time back, so such a file holds the bytes
// it held then, and a manifest written then vouches for them without the
// file being read again.
bool untouched_since(const std::string& path, std::int64_t since_ns);

}  // namespace kelvarin

#endif
