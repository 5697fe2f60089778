// An XML document: our stand-in for the MSXML document object of the SOAP
// call, built on pugixml.
//
// What it offers is what the call needs and no more: parse from text
// without raising, select one element by an absolute path, read and set an
// element's text content, read an element's attributes by position, and
// serialize the whole document.
//
// Paths are matched on element names exactly as they are written: the step
// "soap:Body" matches an element written with the prefix "soap" and the
// local name "Body", the step "DOCUMENTO" matches an element written without
// a prefix whatever default namespace is in force for it. No namespace
// bindings take part in the selection.
//
// Serialization carries text content byte for byte through any XML parser:
// besides '<', '>' and '&', a carriage return is written as "&#13;" (a
// parser turns a raw CR LF into LF). A document owns its nodes; an XmlNode
// is a handle that is valid while its document lives and is not reparsed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace pugi {
class xml_document;
struct xml_node_struct;
}  // namespace pugi

namespace quorvex {

class XmlNode {
 public:
  XmlNode() = default;

  // False for the node of a selection that matched nothing.
  explicit operator bool() const { return node_ != nullptr; }

  // Name as written, prefix included. REQUIRES: *this.
  std::string Name() const;

  // Concatenated character data (text and CDATA) of the element and all its
  // descendants, in document order, however deep they lie (the walk is a
  // loop: nesting costs no stack). REQUIRES: *this.
  std::string Text() const;

  // Byte length of Text(), without building it. REQUIRES: *this.
  std::size_t TextSize() const;

  // Replaces every child of the element with one text node holding text.
  // Returns false only when memory runs out. REQUIRES: *this.
  bool SetText(std::string_view text);

  // Number of attributes of the element, and the value of the one at
  // position index (0 is the first as written). REQUIRES: *this and
  // index < AttributeCount().
  std::size_t AttributeCount() const;
  std::string AttributeValue(std::size_t index) const;

 private:
  friend class XmlDocument;
  explicit XmlNode(pugi::xml_node_struct* node) : node_(node) {}
  pugi::xml_node_struct* node_ = nullptr;
};

// Empty when text, taken as UTF-8, can be the character data of an XML 1.0
// document. Otherwise a description of the first thing that stands in the
// way and where it stands (a byte offset from 0): a NUL, another control
// character than tab, line feed and carriage return, U+FFFE or U+FFFF, or
// bytes that are not UTF-8 (surrogates and overlong forms included).
// pugixml would serialize such text as it is, giving a cut or malformed
// document, so a caller checks before SetText.
std::string XmlTextProblem(std::string_view text);

class XmlDocument {
 public:
  XmlDocument();
  ~XmlDocument();
  XmlDocument(const XmlDocument&) = delete;
  XmlDocument& operator=(const XmlDocument&) = delete;

  // Replaces the content with the parse of text. Returns false, leaving the
  // document empty and a description in ParseError(), when text is not
  // well-formed XML with one root element; an element that carries the same
  // attribute name twice makes it not well-formed too. Never throws.
  bool LoadXml(std::string_view text);
  const std::string& ParseError() const { return parse_error_; }

  // As LoadXml(element.Text()), element being of another document. When
  // the element's content is one text, that text is parsed where it lies,
  // without a copy, and is garbled by it: element's document must outlive
  // this one and its text is not read again.
  bool LoadXmlOfText(const XmlNode& element);

  // The first element, in document order, reached by an absolute path of
  // element names ("/a/b/c"). A null node when none matches or path does
  // not start with '/'.
  XmlNode SelectSingleNode(std::string_view path) const;

  // The root element; a null node for an empty document.
  XmlNode DocumentElement() const;

  // The whole document as text, without added indentation or line breaks,
  // the declaration kept as parsed. Throws std::bad_alloc when memory runs
  // out.
  std::string Xml() const;

  // What Xml() gives once element.SetText(text) has run, built without
  // putting text into the document: the request body of a large report is
  // then the only copy made of it. Leaves element holding one empty text.
  // REQUIRES: element is of this document; XmlTextProblem(text) is empty.
  // Throws std::bad_alloc when memory runs out.
  std::string XmlWithText(XmlNode element, std::string_view text);

 private:
  bool Parsed(bool parsed, const char* description, std::ptrdiff_t offset);

  std::unique_ptr<pugi::xml_document> doc_;
  std::string parse_error_;
};

}  // namespace quorvex
