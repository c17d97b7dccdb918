#include "companions/vtcore/settings_tree.h"

#include <set>
#include <utility>

namespace vtcore {
namespace {

constexpr oxa::ResultCode kInvalidVersion = static_cast<oxa::ResultCode>(0x8000005Bu);
constexpr char kStoreHeader[] = "vtstore 1";
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// Decimal, or "0x" and hex digits; false when empty, malformed or above `max`.
bool ParseNumber(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  unsigned base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    const int digit = HexValue(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= base) return false;
    if (value > (max - static_cast<unsigned>(digit)) / base) return false;
    value = value * base + static_cast<unsigned>(digit);
  }
  return true;
}

std::string LittleEndian(std::uint64_t value, std::size_t bytes) {
  std::string data(bytes, '\0');
  for (std::size_t i = 0; i < bytes; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return data;
}

std::uint64_t FromLittleEndian(const std::string& data) {
  std::uint64_t value = 0;
  for (std::size_t i = data.size(); i-- > 0;) value = (value << 8) | static_cast<unsigned char>(data[i]);
  return value;
}

// Hex digit pairs, white space between them ignored when `allowSpaces`.
bool ParseHexBytes(std::string_view text, bool allowSpaces, std::string& data) {
  data.clear();
  int high = -1;
  for (char c : text) {
    if (allowSpaces && IsSpace(c)) {
      if (high >= 0) return false;
      continue;
    }
    const int digit = HexValue(c);
    if (digit < 0) return false;
    if (high < 0) {
      high = digit;
    } else {
      data.push_back(static_cast<char>(high * 16 + digit));
      high = -1;
      if (data.size() > kMaxValueBytes) return false;
    }
  }
  return high < 0;
}

void AppendUtf8(std::uint32_t codePoint, std::string& out) {
  if (codePoint < 0x80) {
    out.push_back(static_cast<char>(codePoint));
  } else if (codePoint < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (codePoint >> 6)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else if (codePoint < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (codePoint >> 12)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (codePoint >> 18)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (codePoint & 0x3F)));
  }
}

// --- profiles.xml -----------------------------------------------------------

struct XmlElement {
  std::string name;
  std::vector<std::pair<std::string, std::string>> attributes;
  std::string text;
  bool hasText = false;  // text other than white space
  std::vector<XmlElement> children;
  std::size_t line = 0;

  const std::string* Attribute(std::string_view attribute) const {
    for (const auto& [key, value] : attributes)
      if (key == attribute) return &value;
    return nullptr;
  }
};

// Reads the XML subset of profiles.xml into elements.
class XmlReader {
 public:
  XmlReader(std::string_view text, ParseError& error) : text_(text), error_(error) {}

  bool ReadDocument(XmlElement& root) {
    static constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
    if (text_.substr(0, 3) == kByteOrderMark) pos_ = 3;
    if (Next("<?xml") && pos_ + 5 < text_.size() && (IsSpace(text_[pos_ + 5]) || text_[pos_ + 5] == '?')) {
      if (!SkipPast("?>", "unterminated XML declaration")) return false;
    }
    if (!SkipMisc()) return false;
    if (AtEnd() || text_[pos_] != '<') return Fail("expected the root element");
    if (!ReadElement(root, 1)) return false;
    if (!SkipMisc()) return false;
    return AtEnd() || Fail("content after the root element");
  }

 private:
  // Elements: profiles, nested nodes, value.
  static constexpr std::size_t kMaxElementDepth = kMaxDepth + 2;

  bool AtEnd() const { return pos_ >= text_.size(); }
  bool Next(std::string_view token) const { return text_.substr(pos_, token.size()) == token; }

  bool Fail(const std::string& message) {
    error_.line = line_;
    error_.message = message;
    return false;
  }

  void Advance() {
    if (text_[pos_] == '\n') ++line_;
    ++pos_;
  }

  void SkipSpaces() {
    while (!AtEnd() && IsSpace(text_[pos_])) Advance();
  }

  bool SkipPast(std::string_view end, const char* message) {
    while (!AtEnd() && !Next(end)) Advance();
    if (AtEnd()) return Fail(message);
    pos_ += end.size();
    return true;
  }

  // White space and comments.
  bool SkipMisc() {
    for (;;) {
      SkipSpaces();
      if (!Next("<!--")) return true;
      pos_ += 4;
      if (!SkipPast("-->", "unterminated comment")) return false;
    }
  }

  static bool IsNameStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
  static bool IsNameChar(char c) { return IsNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

  bool ReadName(std::string& name) {
    if (AtEnd() || !IsNameStart(text_[pos_])) return Fail("expected a name");
    const std::size_t start = pos_;
    while (!AtEnd() && IsNameChar(text_[pos_])) ++pos_;
    name.assign(text_.substr(start, pos_ - start));
    if (!AtEnd() && text_[pos_] == ':') return Fail("namespaces are not supported");
    return true;
  }

  // At '&': appends the character referred to.
  bool ReadReference(std::string& out) {
    static constexpr std::pair<std::string_view, char> kEntities[] = {
        {"&lt;", '<'}, {"&gt;", '>'}, {"&amp;", '&'}, {"&quot;", '"'}, {"&apos;", '\''}};
    for (const auto& [entity, character] : kEntities) {
      if (Next(entity)) {
        pos_ += entity.size();
        out.push_back(character);
        return true;
      }
    }
    if (!Next("&#")) return Fail("unknown entity reference");
    pos_ += 2;
    unsigned base = 10;
    if (!AtEnd() && text_[pos_] == 'x') {
      base = 16;
      ++pos_;
    }
    std::uint32_t codePoint = 0;
    std::size_t digits = 0;
    for (; !AtEnd() && text_[pos_] != ';'; ++pos_, ++digits) {
      const int digit = HexValue(text_[pos_]);
      if (digit < 0 || static_cast<unsigned>(digit) >= base || codePoint > 0x10FFFF) {
        return Fail("malformed character reference");
      }
      codePoint = codePoint * base + static_cast<unsigned>(digit);
    }
    if (AtEnd() || digits == 0) return Fail("malformed character reference");
    ++pos_;
    if (codePoint == 0 || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
      return Fail("character reference out of range");
    }
    AppendUtf8(codePoint, out);
    return true;
  }

  bool ReadAttributeValue(std::string& value) {
    if (AtEnd() || (text_[pos_] != '"' && text_[pos_] != '\'')) return Fail("expected a quoted attribute value");
    const char quote = text_[pos_++];
    for (;;) {
      if (AtEnd()) return Fail("unterminated attribute value");
      const char c = text_[pos_];
      if (c == quote) break;
      if (c == '<') return Fail("'<' in an attribute value");
      if (c == '&') {
        if (!ReadReference(value)) return false;
        continue;
      }
      value.push_back(c);
      Advance();
    }
    ++pos_;
    return true;
  }

  bool ReadElement(XmlElement& element, std::size_t depth) {
    if (depth > kMaxElementDepth) return Fail("elements nested too deeply");
    element.line = line_;
    ++pos_;  // '<'
    if (!ReadName(element.name)) return false;
    for (;;) {
      const std::size_t before = pos_;
      SkipSpaces();
      if (Next("/>")) {
        pos_ += 2;
        return true;
      }
      if (Next(">")) {
        ++pos_;
        break;
      }
      if (pos_ == before) return Fail("expected white space, '>' or '/>'");
      std::string name;
      std::string value;
      if (!ReadName(name)) return false;
      SkipSpaces();
      if (!Next("=")) return Fail("expected '=' after attribute " + name);
      ++pos_;
      SkipSpaces();
      if (!ReadAttributeValue(value)) return false;
      if (element.Attribute(name)) return Fail("attribute " + name + " given twice");
      element.attributes.emplace_back(std::move(name), std::move(value));
    }
    for (;;) {
      if (AtEnd()) return Fail("element " + element.name + " is not closed");
      if (Next("</")) {
        pos_ += 2;
        std::string name;
        if (!ReadName(name)) return false;
        if (name != element.name) return Fail("</" + name + "> closes <" + element.name + ">");
        SkipSpaces();
        if (!Next(">")) return Fail("expected '>'");
        ++pos_;
        return true;
      }
      if (Next("<!--")) {
        pos_ += 4;
        if (!SkipPast("-->", "unterminated comment")) return false;
        continue;
      }
      if (Next("<!") || Next("<?")) return Fail("DOCTYPE, CDATA and processing instructions are not supported");
      if (Next("<")) {
        element.children.emplace_back();
        if (!ReadElement(element.children.back(), depth + 1)) return false;
        continue;
      }
      const char c = text_[pos_];
      if (c == '&') {
        if (!ReadReference(element.text)) return false;
        element.hasText = true;
        continue;
      }
      if (!IsSpace(c)) element.hasText = true;
      element.text.push_back(c);
      Advance();
    }
  }

  std::string_view text_;
  ParseError& error_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

// Turns the elements into the settings tree.
class ProfilesInterpreter {
 public:
  explicit ProfilesInterpreter(ParseError& error) : error_(error) {}

  bool Root(const XmlElement& element, SettingsNode& root) {
    if (element.name != "profiles") return Fail(element, "the root element must be <profiles>");
    if (!OnlyAttributes(element, {"version"})) return false;
    if (const std::string* version = element.Attribute("version"); version && *version != "1") {
      return Fail(element, "unsupported version \"" + *version + "\"");
    }
    return Children(element, root, false);
  }

 private:
  bool Fail(const XmlElement& element, const std::string& message) {
    error_.line = element.line;
    error_.message = message;
    return false;
  }

  bool OnlyAttributes(const XmlElement& element, std::initializer_list<std::string_view> allowed) {
    for (const auto& attribute : element.attributes) {
      bool known = false;
      for (std::string_view name : allowed) known = known || attribute.first == name;
      if (!known) return Fail(element, "unknown attribute " + attribute.first + " of <" + element.name + ">");
    }
    return true;
  }

  bool Required(const XmlElement& element, const char* attribute, const std::string*& value) {
    value = element.Attribute(attribute);
    return value || Fail(element, std::string("<") + element.name + "> needs the attribute " + attribute);
  }

  bool Children(const XmlElement& element, SettingsNode& node, bool valuesAllowed) {
    if (element.hasText) return Fail(element, "text in <" + element.name + ">");
    for (const XmlElement& child : element.children) {
      if (child.name == "node") {
        if (!Node(child, node)) return false;
      } else if (child.name == "value" && valuesAllowed) {
        if (!Value(child, node)) return false;
      } else {
        return Fail(child, "<" + child.name + "> is not allowed in <" + element.name + ">");
      }
    }
    return true;
  }

  bool Node(const XmlElement& element, SettingsNode& parent) {
    const std::string* name = nullptr;
    if (!OnlyAttributes(element, {"name"}) || !Required(element, "name", name)) return false;
    if (!IsValidNodeName(*name)) return Fail(element, "invalid node name \"" + *name + "\"");
    auto [child, inserted] = parent.children.try_emplace(*name, std::make_unique<SettingsNode>());
    if (!inserted) return Fail(element, "node \"" + *name + "\" declared twice");
    return Children(element, *child->second, true);
  }

  bool Value(const XmlElement& element, SettingsNode& node) {
    const std::string* name = nullptr;
    const std::string* type = nullptr;
    if (!OnlyAttributes(element, {"name", "type"}) || !Required(element, "name", name) ||
        !Required(element, "type", type)) {
      return false;
    }
    if (!IsValidValueName(*name)) return Fail(element, "invalid value name \"" + *name + "\"");
    if (!element.children.empty()) return Fail(element, "elements in <value>");
    SettingsValue value;
    const std::string_view data = Trim(element.text);
    std::uint64_t number = 0;
    if (*type == "dword") {
      if (!ParseNumber(data, 0xFFFFFFFFu, number)) return Fail(element, "invalid dword \"" + element.text + "\"");
      value = {kDwordValue, LittleEndian(number, 4)};
    } else if (*type == "qword") {
      if (!ParseNumber(data, ~std::uint64_t{0}, number)) {
        return Fail(element, "invalid qword \"" + element.text + "\"");
      }
      value = {kQwordValue, LittleEndian(number, 8)};
    } else if (*type == "binary") {
      value.type = kBinaryValue;
      if (!ParseHexBytes(data, true, value.data)) return Fail(element, "invalid binary data");
    } else if (*type == "string") {
      if (element.text.size() >= kMaxValueBytes) return Fail(element, "string too long");
      value = {kStringValue, element.text + '\0'};
    } else {
      return Fail(element, "unknown value type \"" + *type + "\"");
    }
    if (!node.values.try_emplace(*name, std::move(value)).second) {
      return Fail(element, "value \"" + *name + "\" declared twice");
    }
    return true;
  }

  ParseError& error_;
};

// --- store file ---------------------------------------------------------------

void AppendEscaped(std::string_view text, std::string& out) {
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x21 || byte > 0x7E || c == '%') {
      out.push_back('%');
      out.push_back(kHexDigits[byte >> 4]);
      out.push_back(kHexDigits[byte & 0xF]);
    } else {
      out.push_back(c);
    }
  }
}

bool Unescape(std::string_view text, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out.push_back(text[i]);
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return false;
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return true;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t space = line.find(' ', start);
    fields.push_back(line.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start));
    if (space == std::string_view::npos) return fields;
    start = space + 1;
  }
}

void SerializeNode(const SettingsNode& node, const std::string& path, std::string& out) {
  for (const auto& [name, value] : node.values) {
    out += "value ";
    AppendEscaped(name, out);
    out += ' ';
    out += std::to_string(value.type);
    out += ' ';
    if (value.data.empty()) out += '-';
    for (char c : value.data) {
      const auto byte = static_cast<unsigned char>(c);
      out.push_back(kHexDigits[byte >> 4]);
      out.push_back(kHexDigits[byte & 0xF]);
    }
    out += '\n';
  }
  for (const auto& [name, child] : node.children) {
    const std::string childPath = path.empty() ? name : path + '\\' + name;
    out += "node ";
    AppendEscaped(childPath, out);
    out += '\n';
    SerializeNode(*child, childPath, out);
  }
}

std::string DescribeValue(const SettingsValue& value) {
  switch (value.type) {
    case kDwordValue:
      if (value.data.size() == 4) return "dword " + std::to_string(FromLittleEndian(value.data));
      break;
    case kQwordValue:
      if (value.data.size() == 8) return "qword " + std::to_string(FromLittleEndian(value.data));
      break;
    case kStringValue: {
      std::string_view text = value.data;
      if (!text.empty() && text.back() == '\0') text.remove_suffix(1);
      std::string shown = "string \"";
      for (char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
          shown += '\\';
          shown += c;
        } else if (IsControl(byte)) {
          shown += "\\x";
          shown += kHexDigits[byte >> 4];
          shown += kHexDigits[byte & 0xF];
        } else {
          shown += c;
        }
      }
      return shown + '"';
    }
    default:
      break;
  }
  std::string shown = value.type == kBinaryValue ? "binary " : "type " + std::to_string(value.type) + " ";
  if (value.data.empty()) shown += '-';
  for (char c : value.data) {
    const auto byte = static_cast<unsigned char>(c);
    shown += "0123456789abcdef"[byte >> 4];
    shown += "0123456789abcdef"[byte & 0xF];
  }
  return shown;
}

void DescribeNode(const SettingsNode& node, const std::string& path, std::string& out) {
  for (const auto& [name, value] : node.values) {
    out += (path.empty() ? std::string("(root)") : path) + ": " + name + " = " + DescribeValue(value) + "\n";
  }
  for (const auto& [name, child] : node.children) {
    const std::string childPath = path.empty() ? name : path + '\\' + name;
    out += childPath + "\n";
    DescribeNode(*child, childPath, out);
  }
}

}  // namespace

SettingsNode::SettingsNode(const SettingsNode& other) : values(other.values) {
  for (const auto& [name, child] : other.children) children.emplace(name, std::make_unique<SettingsNode>(*child));
}

SettingsNode& SettingsNode::operator=(const SettingsNode& other) {
  if (this != &other) *this = SettingsNode(other);
  return *this;
}

bool SettingsNode::operator==(const SettingsNode& other) const {
  if (values != other.values || children.size() != other.children.size()) return false;
  for (auto mine = children.begin(), theirs = other.children.begin(); mine != children.end(); ++mine, ++theirs) {
    if (mine->first != theirs->first || !(*mine->second == *theirs->second)) return false;
  }
  return true;
}

std::string ParseError::Text() const { return "line " + std::to_string(line) + ": " + message; }

bool IsKnownValueType(std::uint32_t type) {
  return type == kStringValue || type == kBinaryValue || type == kDwordValue || type == kQwordValue;
}

bool IsValidValueName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameBytes) return false;
  for (char c : name)
    if (IsControl(static_cast<unsigned char>(c))) return false;
  return true;
}

bool IsValidNodeName(std::string_view name) {
  return IsValidValueName(name) && name.find('\\') == std::string_view::npos;
}

bool IsValidValueData(std::uint32_t type, std::size_t size) {
  switch (type) {
    case kDwordValue:
      return size == 4;
    case kQwordValue:
      return size == 8;
    case kStringValue:
      return size >= 1 && size <= kMaxValueBytes;
    case kBinaryValue:
      return size <= kMaxValueBytes;
    default:
      return false;
  }
}

oxa::ResultCode SplitNodePath(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  if (path.empty()) return oxa::rc::Ok;
  for (;;) {
    const std::size_t separator = path.find('\\');
    const std::string_view name = path.substr(0, separator);
    if (!IsValidNodeName(name) || names.size() == kMaxDepth) {
      names.clear();
      return oxa::rc::InvalidArgument;
    }
    names.emplace_back(name);
    if (separator == std::string_view::npos) return oxa::rc::Ok;
    path.remove_prefix(separator + 1);
  }
}

oxa::ResultCode ParseProfilesXml(std::string_view text, SettingsNode& root, ParseError* error) {
  ParseError ignored;
  ParseError& report = error ? *error : ignored;
  root = SettingsNode();
  XmlElement document;
  XmlReader reader(text, report);
  if (!reader.ReadDocument(document) || !ProfilesInterpreter(report).Root(document, root)) {
    root = SettingsNode();
    return oxa::rc::SyntaxError;
  }
  return oxa::rc::Ok;
}

oxa::ResultCode ParseStoreFile(std::string_view text, SettingsNode& root, ParseError* error) {
  ParseError ignored;
  ParseError& report = error ? *error : ignored;
  root = SettingsNode();
  std::size_t lineNumber = 0;
  auto fail = [&](oxa::ResultCode code, const char* message) {
    report.line = lineNumber;
    report.message = message;
    root = SettingsNode();
    return code;
  };

  SettingsNode* current = &root;
  std::set<const SettingsNode*> listed;
  std::string name;
  while (!text.empty()) {
    ++lineNumber;
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    if (lineNumber == 1) {
      if (line == kStoreHeader) continue;
      if (line.substr(0, 8) == "vtstore ") return fail(kInvalidVersion, "unsupported store version");
      return fail(oxa::rc::SyntaxError, "not a store file");
    }
    const std::vector<std::string_view> fields = Fields(line);
    if (fields[0] == "node" && fields.size() == 2) {
      std::vector<std::string> names;
      if (!Unescape(fields[1], name) || name.empty() || OXA_FAILED(SplitNodePath(name, names))) {
        return fail(oxa::rc::SyntaxError, "invalid node path");
      }
      current = &root;
      for (const std::string& part : names) {
        auto& child = current->children[part];
        if (!child) child = std::make_unique<SettingsNode>();
        current = child.get();
      }
      if (!listed.insert(current).second) return fail(oxa::rc::SyntaxError, "node listed twice");
    } else if (fields[0] == "value" && fields.size() == 4) {
      std::uint64_t type = 0;
      SettingsValue value;
      if (!Unescape(fields[1], name) || !IsValidValueName(name)) return fail(oxa::rc::SyntaxError, "invalid value name");
      if (fields[2].substr(0, 2) == "0x" || !ParseNumber(fields[2], 0xFFFFFFFFu, type) ||
          !IsKnownValueType(static_cast<std::uint32_t>(type))) {
        return fail(oxa::rc::SyntaxError, "invalid value type");
      }
      value.type = static_cast<std::uint32_t>(type);
      if (fields[3] != "-" && (fields[3].empty() || !ParseHexBytes(fields[3], false, value.data))) {
        return fail(oxa::rc::SyntaxError, "invalid value data");
      }
      if (!IsValidValueData(value.type, value.data.size())) return fail(oxa::rc::SyntaxError, "data does not fit its type");
      if (!current->values.try_emplace(name, std::move(value)).second) {
        return fail(oxa::rc::SyntaxError, "value listed twice");
      }
    } else {
      return fail(oxa::rc::SyntaxError, "malformed line");
    }
  }
  if (lineNumber == 0) return fail(oxa::rc::SyntaxError, "not a store file");
  return oxa::rc::Ok;
}

std::string SerializeStoreFile(const SettingsNode& root) {
  std::string out = std::string(kStoreHeader) + "\n";
  SerializeNode(root, "", out);
  return out;
}

void AddMissingNodes(SettingsNode& state, const SettingsNode& declared) {
  for (const auto& [name, child] : declared.children) {
    auto& mine = state.children[name];
    if (!mine) {
      mine = std::make_unique<SettingsNode>(*child);
    } else {
      AddMissingNodes(*mine, *child);
    }
  }
}

std::string DescribeTree(const SettingsNode& root) {
  std::string out;
  DescribeNode(root, "", out);
  return out;
}

}  // namespace vtcore
