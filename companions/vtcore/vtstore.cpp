// vtstore.exe: prints the state of the settings store that vtcore.dll builds
// from a profiles.xml, as another process sees it:
//   vtstore PROFILES_XML
// reads profiles.xml and its store file (without changing either) and prints
// the tree in the form of vtcore::DescribeTree: each node's path on a line,
// then "<path>: <name> = <type> <data>" for each of its values. Exit code 0;
// 1 when the store cannot be built (the reason on stderr); 2 for a wrong
// command line. Lines end in LF.
#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "companions/vtcore/settings_files.h"
#include "component/oxa/text/utf.h"

namespace {

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  oxa::Utf16ToUtf8(text, narrow, oxa::InvalidText::Replace);
  return narrow;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputs("usage: vtstore PROFILES_XML\n", stderr);
    return 2;
  }
  vtcore::SettingsNode tree;
  vtcore::BuildFailure failure;
  const oxa::ResultCode result = vtcore::BuildSettingsTree(argv[1], vtcore::TreeSources{}, tree, &failure);
  if (OXA_FAILED(result)) {
    const std::string_view text = oxa::GetResultCodeText(result);
    std::fprintf(stderr, "vtstore: %s: 0x%08x (%.*s)", Narrow(failure.file).c_str(), static_cast<unsigned>(result),
                 static_cast<int>(text.size()), text.data());
    if (!failure.parse.message.empty()) std::fprintf(stderr, ", %s", failure.parse.Text().c_str());
    std::fputs("\n", stderr);
    return 1;
  }
  // Lines end in LF as the listing has them, on every console and pipe.
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string listing = vtcore::DescribeTree(tree);
  std::fwrite(listing.data(), 1, listing.size(), stdout);
  return 0;
}
