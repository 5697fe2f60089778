#include "text/xml_document.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "util/utf8.h"

namespace quorvex {

namespace {

pugi::xml_node Wrap(pugi::xml_node_struct* node) { return pugi::xml_node(node); }

// The node after node in document order, not leaving the subtree of root
// (a null node past its end). A loop, not recursion: an answer may nest
// elements as deep as its size allows.
pugi::xml_node NextInSubtree(pugi::xml_node node, const pugi::xml_node& root) {
  if (node.first_child()) return node.first_child();
  while (node != root && !node.next_sibling()) node = node.parent();
  return node == root ? pugi::xml_node() : node.next_sibling();
}

bool IsText(const pugi::xml_node& node) {
  return node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata;
}

// "attribute NAME of element ELEMENT at offset N" for the first element in
// document order that carries an attribute name twice, or "". pugixml
// takes such a document; XML does not.
std::string RepeatedAttribute(const pugi::xml_document& doc) {
  std::vector<std::string_view> names;
  for (pugi::xml_node node = doc.first_child(); node; node = NextInSubtree(node, doc)) {
    names.clear();
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
      names.emplace_back(a.name());
    }
    if (names.size() < 2) continue;
    std::sort(names.begin(), names.end());
    const auto twice = std::adjacent_find(names.begin(), names.end());
    if (twice == names.end()) continue;
    return "attribute " + std::string(*twice) + " repeated in element " + node.name() +
           " at offset " + std::to_string(static_cast<long long>(node.offset_debug()));
  }
  return "";
}

// Depth-first search for the first element reached by steps[index...] below
// parent, backtracking over siblings of the same name.
pugi::xml_node FindPath(const pugi::xml_node& parent, const std::vector<std::string_view>& steps,
                        std::size_t index) {
  if (index == steps.size()) return parent;
  for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
    if (child.type() != pugi::node_element || steps[index] != child.name()) continue;
    pugi::xml_node found = FindPath(child, steps, index + 1);
    if (found) return found;
  }
  return pugi::xml_node();
}

// Collects the serialization and writes every carriage return as "&#13;".
// The documents handled here are parsed with end-of-line normalization, so a
// CR in the tree can only stand in text or attribute values, where the
// character reference is the right spelling; pugixml already escapes CR in
// attribute values, so any raw CR in the output is text content.
class CrEscapingWriter final : public pugi::xml_writer {
 public:
  explicit CrEscapingWriter(std::string* out) : out_(out) {}
  void write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    const char* end = p + size;
    while (p < end) {
      const char* cr = static_cast<const char*>(memchr(p, '\r', static_cast<size_t>(end - p)));
      if (cr == nullptr) {
        Emit(p, static_cast<size_t>(end - p));
        break;
      }
      Emit(p, static_cast<size_t>(cr - p));
      Emit("&#13;", 5);
      p = cr + 1;
    }
  }
  std::size_t size() const { return size_; }

 private:
  void Emit(const char* p, size_t n) {
    if (out_ != nullptr) out_->append(p, n);
    size_ += n;
  }
  std::string* out_;
  std::size_t size_ = 0;
};

// Parsed as a fragment so that text beside the root stays visible and can be
// refused (pugixml drops it otherwise). An element whose only content is
// blanks keeps them: a result, message or fault string of blanks is text,
// not emptiness. Blanks between elements are layout and are dropped.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration |
                                   pugi::parse_fragment | pugi::parse_ws_pcdata_single;
constexpr unsigned kFormatOptions = pugi::format_raw;

std::string Hex(unsigned value, int digits) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, value >>= 4)
    out[static_cast<std::size_t>(i)] = kDigits[value & 0xF];
  return out;
}

}  // namespace

std::string XmlTextProblem(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    const Utf8Char c = DecodeUtf8(text, i);
    const auto where = [i] { return " at offset " + std::to_string(i); };
    if (c.length == 0) {
      return "is not UTF-8: the byte 0x" + Hex(static_cast<unsigned char>(text[i]), 2) + where() +
             " does not begin a valid sequence";
    }
    if (c.code == 0) return "holds a NUL character" + where() + ", which XML cannot carry";
    if (c.code < 0x20 && c.code != '\t' && c.code != '\n' && c.code != '\r') {
      return "holds the control character U+" + Hex(c.code, 4) + where() +
             ", which XML 1.0 cannot carry";
    }
    if (c.code == 0xFFFE || c.code == 0xFFFF) {
      return "holds the non-character U+" + Hex(c.code, 4) + where() +
             ", which XML 1.0 cannot carry";
    }
    i += c.length;
  }
  return "";
}

std::string XmlNode::Name() const { return Wrap(node_).name(); }

std::string XmlNode::Text() const {
  const pugi::xml_node root = Wrap(node_);
  std::string out;
  out.reserve(TextSize());  // even a text of many megabytes is allocated once
  for (pugi::xml_node n = root.first_child(); n; n = NextInSubtree(n, root)) {
    if (IsText(n)) out += n.value();
  }
  return out;
}

std::size_t XmlNode::TextSize() const {
  const pugi::xml_node root = Wrap(node_);
  std::size_t size = 0;
  for (pugi::xml_node n = root.first_child(); n; n = NextInSubtree(n, root)) {
    if (IsText(n)) size += std::strlen(n.value());
  }
  return size;
}

bool XmlNode::SetText(std::string_view text) {
  pugi::xml_node node = Wrap(node_);
  while (node.first_child()) node.remove_child(node.first_child());
  pugi::xml_node data = node.append_child(pugi::node_pcdata);
  if (!data) return false;
  return data.set_value(text.data(), text.size());
}

std::size_t XmlNode::AttributeCount() const {
  std::size_t count = 0;
  for (pugi::xml_attribute a = Wrap(node_).first_attribute(); a; a = a.next_attribute()) ++count;
  return count;
}

std::string XmlNode::AttributeValue(std::size_t index) const {
  pugi::xml_attribute a = Wrap(node_).first_attribute();
  for (std::size_t i = 0; i < index && a; ++i) a = a.next_attribute();
  return a ? a.value() : "";
}

XmlDocument::XmlDocument() : doc_(std::make_unique<pugi::xml_document>()) {}
XmlDocument::~XmlDocument() = default;

bool XmlDocument::LoadXml(std::string_view text) {
  pugi::xml_parse_result result =
      doc_->load_buffer(text.data(), text.size(), kParseOptions, pugi::encoding_utf8);
  return Parsed(result, result.description(), result.offset);
}

bool XmlDocument::LoadXmlOfText(const XmlNode& element) {
  const pugi::xml_node first = Wrap(element.node_).first_child();
  if (!first || first.next_sibling() || !IsText(first) || *first.value() == '\0') {
    return LoadXml(element.Text());
  }
  // A parsed text lies in its document's own writable buffer.
  char* text = const_cast<char*>(first.value());
  pugi::xml_parse_result result =
      doc_->load_buffer_inplace(text, std::strlen(text), kParseOptions, pugi::encoding_utf8);
  return Parsed(result, result.description(), result.offset);
}

bool XmlDocument::Parsed(bool parsed, const char* description, std::ptrdiff_t offset) {
  parse_error_.clear();
  if (parsed) {
    // pugixml tolerates text beside the root and several roots; an XML
    // document has exactly one root element and nothing but markup around
    // it.
    int elements = 0;
    for (pugi::xml_node node = doc_->first_child(); node; node = node.next_sibling()) {
      if (node.type() == pugi::node_element) {
        ++elements;
      } else if (node.type() == pugi::node_pcdata || node.type() == pugi::node_cdata) {
        parse_error_ = "text outside the root element";
      }
    }
    if (elements == 0) parse_error_ = "no root element";
    if (elements > 1) parse_error_ = "more than one root element";
    if (parse_error_.empty()) parse_error_ = RepeatedAttribute(*doc_);
  } else {
    parse_error_ =
        std::string(description) + " at offset " + std::to_string(static_cast<long long>(offset));
  }
  if (!parse_error_.empty()) {
    doc_->reset();
    return false;
  }
  return true;
}

XmlNode XmlDocument::SelectSingleNode(std::string_view path) const {
  if (path.empty() || path.front() != '/') return XmlNode();
  std::vector<std::string_view> steps;
  std::size_t start = 1;
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string_view::npos) slash = path.size();
    steps.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  pugi::xml_node found = FindPath(*doc_, steps, 0);
  return XmlNode(found.internal_object());
}

XmlNode XmlDocument::DocumentElement() const {
  return XmlNode(doc_->document_element().internal_object());
}

std::string XmlDocument::Xml() const {
  // Measure first so the text is allocated once at its final size: the
  // request body of a large report must not be copied while it grows.
  CrEscapingWriter counter(nullptr);
  doc_->save(counter, "", kFormatOptions, pugi::encoding_utf8);
  std::string out;
  out.reserve(counter.size());
  CrEscapingWriter writer(&out);
  doc_->save(writer, "", kFormatOptions, pugi::encoding_utf8);
  return out;
}

std::string XmlDocument::XmlWithText(XmlNode element, std::string_view text) {
  // Where the text goes: the first byte in which the document differs with
  // an empty text and with a one-letter text.
  if (!element.SetText("x")) throw std::bad_alloc();
  const std::string marked = Xml();
  if (!element.SetText("")) throw std::bad_alloc();
  const std::string empty = Xml();
  const std::size_t at = static_cast<std::size_t>(
      std::mismatch(empty.begin(), empty.end(), marked.begin()).first - empty.begin());
  // The text escaped as pugixml writes character data, carriage returns as
  // the writer above writes them.
  const auto escaped = [](char c) -> std::string_view {
    switch (c) {
      case '&':
        return "&amp;";
      case '<':
        return "&lt;";
      case '>':
        return "&gt;";
      case '\r':
        return "&#13;";
      default:
        return {};
    }
  };
  std::size_t size = empty.size();
  for (char c : text) size += escaped(c).empty() ? 1 : escaped(c).size();
  std::string out;
  out.reserve(size);
  out.append(empty, 0, at);
  std::size_t plain = 0;  // start of the run of bytes written as they are
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::string_view entity = escaped(text[i]);
    if (entity.empty()) continue;
    out.append(text.substr(plain, i - plain));
    out.append(entity);
    plain = i + 1;
  }
  out.append(text.substr(plain));
  out.append(empty, at);
  return out;
}

}  // namespace quorvex
