// The player's built-in resources (res/morva.gresource.xml), compiled into
// the binary.
#ifndef MORVA_APP_RESOURCES_GTK_H_
#define MORVA_APP_RESOURCES_GTK_H_

#include <glib.h>

#include <string>

namespace morva {

// The resource `name` (e.g. "morva.svg"), or nullptr when there is none.
// Free with g_bytes_unref.
GBytes* LookUpResource(const char* name);

// The same as text; empty when there is none.
std::string ResourceText(const char* name);

}  // namespace morva

#endif  // MORVA_APP_RESOURCES_GTK_H_
