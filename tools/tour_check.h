// What the player would do with a tour executable, found by running the
// player's own launch sequence on it without a window.
//
// The player reports nothing by design: a package it cannot use leaves an
// empty window. The packer runs the same CPreviewDlg, with the tour as the
// module file name and a headless window, and turns where the launch stopped
// into a message for the tour's author. It also reads every entry's data
// back, which the player does not do.
#ifndef MORVA_TOOLS_TOUR_CHECK_H_
#define MORVA_TOOLS_TOUR_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/preview_dlg.h"
#include "package/stale.h"
#include "package/temp_folder.h"
#include "tools/flash_movies.h"

namespace morva::pack {

// The private temporary folder the packer works in: see ScopedTempFolder.
class PrivateTempFolder : public ScopedTempFolder {
 public:
  PrivateTempFolder();
};

// Copies the archive out of the tour with the player's CreateTempZip, as if
// the tour were the running executable. Returns the temporary archive's path
// in the current temporary folder, or empty text with *error set.
std::string CopyArchiveOut(const std::string& tour, std::string* error);

struct TourCheck {
  LaunchStop stop = LaunchStop::kNotRun;
  // The window title as the player would set it; empty when it sets none.
  std::string title;
  // Relative to the work folder; "." is the work folder itself.
  std::string content_folder;
  std::string launcher;    // the launcher page, when autorun.inf named one
  std::string start_page;  // the tour page the window would show
  int32_t width = 0;
  int32_t height = 0;
  // The archive length the trailer gives, when the tour has a trailer.
  bool has_trailer = false;
  uint32_t archive_size = 0;
  int32_t entries = -1;  // -1 when the archive could not be opened
  // Each a line naming the step and the reason. Empty: the tour plays, its
  // tour page is there, its data is intact and the cleanup leaves nothing.
  std::vector<std::string> problems;
  // Things that do not stop the tour but that its author may want to know.
  std::vector<std::string> notes;
  // The Flash movies the package's pages embed (when the launch got as far
  // as the unpacking).
  std::vector<FlashMovie> flash_movies;

  bool plays() const { return stop == LaunchStop::kNone; }
  bool intact() const { return plays() && problems.empty(); }
};

// Runs the checks above on the tour executable at `tour` in a private
// temporary folder, which is gone again afterwards.
TourCheck CheckTour(const std::string& tour);

// One line on what killed players left in `folder`, for a note; empty text
// when they left nothing.
std::string StaleNote(const StaleReport& stale, const std::string& folder);

// Why an unpack stopped, as one line; archive_size is the archive length
// the trailer gives, for the message about bytes that are no ZIP archive.
std::string UnpackProblemText(const UnpackReport& report,
                              uint32_t archive_size);

// Why the reader refuses an entry's data: "is encrypted, ..." or "is
// compressed with bzip2 (method 12), ...", to follow the entry's name.
std::string RefusedFormText(bool encrypted, uint32_t method);

// One line for an archive reader result, e.g. "the entry's data cannot be
// read or inflated (0x400)". With the reader's own reason (ArchiveEntryProblem)
// that reason stands in for the code's general text.
std::string ArchiveResultText(uint32_t result, const std::string& reason = "");

}  // namespace morva::pack

#endif  // MORVA_TOOLS_TOUR_CHECK_H_
