// The half of the SOAP document call that reads what the central web
// service answered: the HTTP status, the answer's envelope, the result text
// in it and the Respuesta document that text holds.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

#include "text/xml_document.h"

namespace quorvex {

// An error of the call itself (a node that is not there, an element
// without the attribute it must carry, an envelope that is not XML); the
// call's trap reports it like any error of the XML and HTTP layers.
class SoapCallError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The first element at path in doc. Throws SoapCallError "no node matches
// <path> in <what>" when there is none.
XmlNode RequireNode(const XmlDocument& doc, const std::string& path, std::string_view what);

// Judges a completed exchange with the central web service at address: the
// status code and reason phrase of the answer and its body (bytes as
// received; taken over, and released as soon as it is no longer needed, so
// that a large answer is not held twice).
//
// Returns true when the answer is the result element of method holding a
// Respuesta document whose status (its first attribute) is not
// "RECHAZADO" in any letter case; last_error then holds the text of
// Respuesta/Mensaje and answer_code its first attribute. Returns false
// with the Spanish description of the answer in last_error otherwise
// (answer_code is set once the Respuesta document has been read). Throws
// SoapCallError for an answer without a node or attribute the call reads
// and std::bad_alloc when memory runs out; nothing else.
//
// No shape of answer can exhaust the stack: elements nested as deep as an
// answer's size allows are read in loops. A document that is not
// well-formed XML (an attribute written twice on one element included) is
// a wrong answer.
bool ReadSoapAnswer(long status, const std::string& status_text, std::string body,
                    const std::string& address, const std::string& method, std::string& last_error,
                    std::string& answer_code);

}  // namespace quorvex
