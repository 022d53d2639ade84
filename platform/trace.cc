#include "platform/trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace morva {
namespace {

void DefaultSink(const std::string& line) {
  // Read each time: a developer may export it without restarting anything
  // that caches it, and tracing is rare enough for this not to matter.
  if (std::getenv("MORVA_TRACE") == nullptr) return;
  std::fprintf(stderr, "%s\n", line.c_str());
}

TraceSink& CurrentSink() {
  static TraceSink sink;
  return sink;
}

}  // namespace

void Trace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int size = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string line;
  if (size > 0) {
    std::vector<char> buffer(static_cast<size_t>(size) + 1);
    std::vsnprintf(buffer.data(), buffer.size(), format, args);
    line.assign(buffer.data(), static_cast<size_t>(size));
  }
  va_end(args);
  const TraceSink& sink = CurrentSink();
  if (sink) {
    sink(line);
  } else {
    DefaultSink(line);
  }
}

TraceSink SetTraceSink(TraceSink sink) {
  return std::exchange(CurrentSink(), std::move(sink));
}

}  // namespace morva
