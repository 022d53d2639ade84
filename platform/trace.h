// The debug trace channel: printf-formatted lines for a developer, never for
// the user. By default a line goes to stderr only when MORVA_TRACE is set in
// the environment; tests install a sink that keeps the lines.
#ifndef MORVA_PLATFORM_TRACE_H_
#define MORVA_PLATFORM_TRACE_H_

#include <functional>
#include <string>

namespace morva {

using TraceSink = std::function<void(const std::string& line)>;

// Formats one line (no newline is added) and hands it to the current sink.
void Trace(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Replaces the sink; an empty sink restores the default. Returns the old one.
TraceSink SetTraceSink(TraceSink sink);

}  // namespace morva

#endif  // MORVA_PLATFORM_TRACE_H_
