// The settings tree of vtcore.dll and its two text forms: profiles.xml, which
// declares the tree, and the store file, which keeps its state between
// processes. No Win32 here (the files are read and written in
// settings_files.cpp).
//
// The tree: nodes with byte-string names, each node holding named values of
// a type code and raw data. Names are compared byte by byte (case matters);
// the module passes names in its narrow code page, so keep them ASCII.
// A node name is 1 to 255 bytes without control characters and without '\'
// (the separator of node paths such as "tasks\Scan\def"); a value name is 1
// to 255 bytes without control characters. Type codes: 1 string (the text
// and one terminating zero byte), 3 binary, 4 dword (4 bytes, little
// endian), 11 qword (8 bytes); data is at most 1 MiB, the tree at most 64
// nodes deep.
//
// profiles.xml (UTF-8, a byte order mark is skipped):
//
//   <?xml version="1.0" encoding="utf-8"?>
//   <profiles version="1">
//     <node name="tasks">
//       <node name="Scan">
//         <value name="schedule" type="string">daily</value>
//         <node name="def">
//           <value name="enabled" type="dword">1</value>
//         </node>
//       </node>
//     </node>
//   </profiles>
//
// - The root element is `profiles`; its optional attribute `version` must be
//   "1". Below it and below every `node` stand `node` elements (attribute
//   `name`, required) and, below a `node` only, `value` elements (attributes
//   `name` and `type`, both required; `type` is dword, qword, string or
//   binary). Names are unique among the nodes, and among the values, of one
//   parent.
// - A value's content is its data: dword and qword a decimal number or "0x"
//   and hex digits, within the type's range; binary pairs of hex digits
//   (white space between them is ignored); string the text as it stands.
//   Around numbers and binary data white space is ignored.
// - The XML subset: an optional XML declaration first, comments anywhere
//   between elements, attribute values in double or single quotes, the
//   references &lt; &gt; &amp; &quot; &apos; &#N; &#xH; in attribute values
//   and text. No DOCTYPE, CDATA, processing instructions other than the
//   declaration, namespaces, unknown elements or attributes, or text outside
//   `value` elements (white space aside).
//
// The store file (profiles.xml's path with ".store" appended, beside it):
// UTF-8 text, lines ending in LF (a CR before it is dropped):
//
//   vtstore 1
//   value <name> <type> <data>       a value of the root node
//   node <path>                      a node, by its full path from the root
//   value <name> <type> <data>       a value of the node named last
//
// <name> and <path> are written with every byte outside '!'..'~', and '%'
// itself, as '%' and two upper-case hex digits (so "%20" is a space); <type>
// is the decimal type code; <data> the data's bytes as pairs of hex digits,
// or "-" when empty. Fields are separated by single spaces. A node line
// creates the missing nodes of its path; a path or a value listed twice, a
// malformed line, or a value that breaks the rules above rejects the file.
// The writer lists every node, depth first, in name order.
//
// How the two meet (BuildSettingsTree): the store file, when there is one,
// holds the state; the nodes of profiles.xml that it lacks are added with
// their declared values, so a newer profiles.xml brings its new nodes in,
// while a node that the store file holds keeps the store file's values.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "component/oxa/result_code.h"

namespace vtcore {

enum ValueType : std::uint32_t {
  kStringValue = 1,
  kBinaryValue = 3,
  kDwordValue = 4,
  kQwordValue = 11,
};

inline constexpr std::size_t kMaxNameBytes = 255;
inline constexpr std::size_t kMaxValueBytes = 1u << 20;
inline constexpr std::size_t kMaxDepth = 64;

struct SettingsValue {
  std::uint32_t type = kBinaryValue;
  std::string data;
  bool operator==(const SettingsValue&) const = default;
};

struct SettingsNode {
  SettingsNode() = default;
  SettingsNode(const SettingsNode& other);
  SettingsNode& operator=(const SettingsNode& other);
  SettingsNode(SettingsNode&&) = default;
  SettingsNode& operator=(SettingsNode&&) = default;
  bool operator==(const SettingsNode& other) const;

  std::map<std::string, SettingsValue> values;
  // Children stay at their address while the tree grows (store handles
  // point at them).
  std::map<std::string, std::unique_ptr<SettingsNode>> children;
};

// Why a text was rejected, for people: "line 3: ...".
struct ParseError {
  std::size_t line = 0;
  std::string message;
  std::string Text() const;
};

bool IsKnownValueType(std::uint32_t type);
bool IsValidNodeName(std::string_view name);
bool IsValidValueName(std::string_view name);
// Whether `size` bytes fit `type` (dword 4, qword 8, string at least the
// terminating zero, anything up to kMaxValueBytes for binary).
bool IsValidValueData(std::uint32_t type, std::size_t size);

// Splits "a\b\c" into its names; an empty path gives none. InvalidArgument
// for an empty or invalid name, or for more than kMaxDepth names.
oxa::ResultCode SplitNodePath(std::string_view path, std::vector<std::string>& names);

// The tree declared by profiles.xml. SyntaxError (with `error` filled when
// given) for anything outside the format; `root` is left empty then.
oxa::ResultCode ParseProfilesXml(std::string_view text, SettingsNode& root, ParseError* error = nullptr);

// The tree of a store file; SyntaxError for a malformed file, InvalidVersion
// for another first line starting with "vtstore ".
oxa::ResultCode ParseStoreFile(std::string_view text, SettingsNode& root, ParseError* error = nullptr);
std::string SerializeStoreFile(const SettingsNode& root);

// Adds to `state` every node of `declared` that it lacks, with its values.
void AddMissingNodes(SettingsNode& state, const SettingsNode& declared);

// The tree as the reader tool prints it: each node's path on a line of its
// own, depth first in name order, and after it one line per value,
// "<path>: <name> = <type> <data>" (dword and qword in decimal, string as
// the text in double quotes, binary as hex digits); the root's values are
// shown under the path "(root)".
std::string DescribeTree(const SettingsNode& root);

}  // namespace vtcore
