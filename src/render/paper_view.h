// What the tools the renderer starts on a paper's files (latex, dvipng,
// dvisvgm) may reach, unless the paper is trusted: files whose real path lies
// in the paper's folder, the TeX installation, and the scratch folder.
//
// Two ways, by what the system offers:
// - The kernel (Landlock, Linux 5.13 and later): the tools run in the
//   paper's folder, and the kernel refuses any file outside the allowed
//   folders, whatever name led to it: a link, a link replaced while latex
//   runs, "~user", "$VAR", a picture named in a DVI special.
// - Elsewhere, a view of the paper's folder in the scratch folder: folders
//   that hold a link leading out of the paper's folder are rebuilt there,
//   entry by entry, without that link; every other entry is a link to its
//   resolved real path; untouched folders are linked whole, so the cost is
//   that of reading the folder's names plus the size of the folders that
//   hold such links. The tools run in the view.
// Either way the tools get an environment of their own: HOME, TMPDIR and
// kpathsea's variable trees (TEXMFVAR, TEXMFCONFIG, VARTEXFONTS) in the
// scratch folder, so that "~/" and "$HOME" lead there and fonts a paper
// makes (its own .mf files included) go into a private cache that goes away
// with the run; nothing else of the user's environment is passed on but
// PATH, the time zone, and TeX's own search paths.
#ifndef KELVARIN_PAPER_VIEW_H
#define KELVARIN_PAPER_VIEW_H

#include <map>
#include <string>
#include <vector>

#include "render/child_process.h"

namespace kelvarin {

struct PaperConfinement {
    bool active = false;                          // false for a trusted paper: the tools run as the user's own
    bool by_kernel = false;                       // confined by Landlock (else by the view alone)
    std::string paper_folder;                     // the real path of the paper's folder
    std::string run_folder;                       // where the tools run: the paper's folder or its view
    std::vector<std::string> environment;         // the tools' whole environment ("NAME=value")
    int landlock = -1;                            // the ruleset each tool enters before it starts, or -1
    std::map<std::string, std::string> left_out;  // view: path in the paper's folder -> what it is, why not there
    std::string note;                             // what this system cannot confine, said once; "" when all is
};

// Prepares the confinement of the tools for the paper in `paper_folder`,
// in the scratch folder `scratch`. `latex` is latex's full path (kpsewhich
// beside it says where the TeX installation is). Returns false with `error`
// set when the scratch folder cannot hold what is needed.
bool confine_paper(const std::string& paper_folder, const std::string& scratch, const std::string& latex,
                   bool trust_paper, PaperConfinement& confinement, std::string& error);

// Makes `command` run confined: in the run folder, with the confinement's
// environment plus the command's own entries, inside the Landlock ruleset.
void confine_command(ChildCommand& command, const PaperConfinement& confinement);

// Why a tool could not read `name` (as the tool named it, relative to
// where it runs) when the confinement is the reason: "it is a link to
// /etc/passwd, outside the paper's folder"; "" when it is not.
std::string why_confined(const std::string& name, const PaperConfinement& confinement);

}  // namespace kelvarin

#endif
