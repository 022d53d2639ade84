// morva-pack's commands. Each writes its report to `out`, its complaints to
// `err` as "morva-pack: PATH: reason" lines, and returns the exit code: 0
// when it did what was asked, 1 when it could not (or, for check, when the
// tour would not play intact), 2 for a command line it does not understand.
#ifndef MORVA_TOOLS_PACK_H_
#define MORVA_TOOLS_PACK_H_

#include <optional>
#include <ostream>
#include <string>

#include "tools/conventions.h"

namespace morva::pack {

struct BuildOptions {
  std::string source;  // a tour folder, or a ZIP archive
  std::string output;
  std::string player;  // empty: FindDefaultPlayer
  bool force = false;  // write a tour that would not play intact
  // Set (--page): the conventions the folder lacks are made for this page
  // and added to the archive (see MakeConventions); the folder is left as
  // it is.
  std::optional<StartRequest> start;
};

// Writes the player's bytes, the archive and its length as 4 bytes
// little-endian to a temporary file beside OUTPUT, checks it as Check does,
// and renames it to OUTPUT (mode 0777 less the umask) when it plays intact
// or `force` is set; otherwise nothing is left behind. With `start`, a
// source that is no folder, or one that has an autorun.inf, is a usage
// error (2).
int Build(const BuildOptions& options, std::ostream& out, std::ostream& err);

// Writes the conventions for `request` (MakeConventions) into `folder`:
// autorun.inf and the launcher page, in its content folder. A folder that
// has an autorun.inf is refused unless `force` is set; then autorun.inf and
// the launcher it named are replaced. Each file is replaced only once its
// new bytes are complete.
int Init(const std::string& folder, const StartRequest& request, bool force,
         std::ostream& out, std::ostream& err);

// Says what the player would do with the tour: CheckTour, reported.
int Check(const std::string& tour, std::ostream& out, std::ostream& err);

// Lists the entries of the tour's archive, like unzip -l.
int List(const std::string& tour, std::ostream& out, std::ostream& err);

// Unpacks the tour into `folder` with the player's own walk and safety
// rules. The folder is made when missing; one that holds anything is refused
// unless `force` is set.
int Extract(const std::string& tour, const std::string& folder, bool force,
            std::ostream& out, std::ostream& err);

// The player installed beside the tool at tool_path, or the one at the top
// of its build tree: DIR/morva or DIR/../morva, where DIR is tool_path's
// folder. Empty text when there is none.
std::string FindDefaultPlayer(const std::string& tool_path);

// The command line: parses argv and runs the command it names.
int RunMorvaPack(int argc, const char* const* argv, std::ostream& out,
                 std::ostream& err);

}  // namespace morva::pack

#endif  // MORVA_TOOLS_PACK_H_
