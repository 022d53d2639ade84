// The package trailer on arbitrary executables: the input is the running
// executable as CreateTempZip sees it. A temporary archive it returns must
// hold exactly the bytes the trailer names; a failure must leave nothing.
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/sandbox.h"
#include "package/paths.h"
#include "package/temp_zip.h"
#include "package/trailer.h"
#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morva;
  using namespace morva::fuzz;
  Sandbox& sandbox = Sandbox::Get();
  const std::string_view exe(reinterpret_cast<const char*>(data), size);
  // Next to the temporary folder, not in it: only what CreateTempZip makes
  // counts as left behind.
  static const std::string exe_path = sandbox.root() + "/player";
  FUZZ_CHECK(WriteWholeFile(exe_path, exe, 0700));
  sandbox.SetModuleFileName(exe_path);

  sandbox.BeginRun();
  std::string temp_zip;
  const int result = CreateTempZip(&temp_zip);

  // The region the trailer names, if it names one.
  bool names_region = false;
  std::string_view expected;
  if (size >= kTrailerSize) {
    const size_t trailer_at = size - kTrailerSize;
    const uint32_t n = DecodeTrailer(data + trailer_at);
    if (n <= trailer_at) {
      names_region = true;
      expected = exe.substr(trailer_at - n, n);
    }
  }
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK((result == 1) == names_region);
  if (result == 1) {
    FUZZ_CHECK(GetDirPart(temp_zip) == sandbox.temp());
    FUZZ_CHECK(GetFileNamePart(temp_zip).starts_with(kTempPrefix));
    std::string copied;
    FUZZ_CHECK(ReadWholeFile(temp_zip, &copied));
    FUZZ_CHECK(copied == expected);
    FUZZ_CHECK(RemoveFile(temp_zip));
  } else {
    FUZZ_CHECK(temp_zip.empty());
  }
  sandbox.EndRun({"player"});
  return 0;
}
