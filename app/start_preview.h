// The start page read straight from the package in the running executable,
// before the package is copied out and unpacked, so that a large tour's
// window can show at its final size and title at once.
#ifndef MORVA_APP_START_PREVIEW_H_
#define MORVA_APP_START_PREVIEW_H_

#include <cstdint>

#include "startpage/start_page.h"

namespace morva {

// Unpacks only autorun.inf and the launcher page it names (at most
// kPreviewMaxBytes of each) into a scratch folder of its own, reads them as
// the launch's start-page step does, and removes the folder again. True
// with out's title, width and height as the launch will find them in an
// ordinary package. False, with nothing left on disk, when the package
// cannot be read this way or its start page would not be found: no
// package, an entry the unpack would refuse before writing anything, a
// start-page step that stops, a launcher larger than the bound. What a
// whole unpack gives stays the launch's truth: a crafted archive may give
// other names or data there.
bool PreviewStartPage(StartPage* out);

constexpr uint64_t kPreviewMaxBytes = 4 << 20;

}  // namespace morva

#endif  // MORVA_APP_START_PREVIEW_H_
