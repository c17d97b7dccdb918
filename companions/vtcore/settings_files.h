// The files behind a settings store: profiles.xml, which declares the tree,
// and the store file beside it, which keeps its state (formats in
// settings_tree.h).
#pragma once

#include <string>

#include "companions/vtcore/settings_tree.h"

namespace vtcore {

// The store file of the profiles.xml at `xmlPath`: that path with ".store"
// appended.
std::wstring StoreFilePath(const std::wstring& xmlPath);

// A whole file; FileTooBig above 16 MiB, the converted Windows error when it
// cannot be read.
oxa::ResultCode ReadWholeFile(const std::wstring& path, std::string& bytes);

// Replaces the file at `path` by `bytes` in one step: a readers sees the old
// file or the new one, never a part.
oxa::ResultCode WriteFileAtomically(const std::wstring& path, const std::string& bytes);

struct TreeSources {
  // Start from the store file when there is one (else only profiles.xml).
  bool useStoreFile = true;
  // Add the nodes of profiles.xml that the store file lacks.
  bool addDeclaredNodes = true;
};

// What went wrong while building, for people: the file and the parse error.
struct BuildFailure {
  std::wstring file;
  ParseError parse;
};

// The tree of the store declared by the profiles.xml at `xmlPath`, as
// `sources` say. Fails with the error of the file that could not be read or
// parsed (and leaves `tree` empty).
oxa::ResultCode BuildSettingsTree(const std::wstring& xmlPath, const TreeSources& sources, SettingsNode& tree,
                                  BuildFailure* failure = nullptr);

}  // namespace vtcore
