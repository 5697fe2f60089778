#include "reporting/soap_answer.h"

#include <utility>

#include "util/string_util.h"

namespace quorvex {
namespace {

std::string FirstAttribute(const XmlNode& node, const std::string& path) {
  if (node.AttributeCount() == 0) throw SoapCallError("element " + path + " has no attributes");
  return node.AttributeValue(0);
}

// Parses an envelope; one that is not XML ends in the call's trap.
void LoadEnvelope(XmlDocument& doc, const std::string& body) {
  if (!doc.LoadXml(body)) {
    throw SoapCallError("the response is not well-formed XML: " + doc.ParseError());
  }
}

}  // namespace

XmlNode RequireNode(const XmlDocument& doc, const std::string& path, std::string_view what) {
  XmlNode node = doc.SelectSingleNode(path);
  if (!node) {
    std::string description = "no node matches ";
    description += path;
    description += " in ";
    description += what;
    throw SoapCallError(description);
  }
  return node;
}

bool ReadSoapAnswer(long status, const std::string& status_text, std::string body,
                    const std::string& address, const std::string& method, std::string& last_error,
                    std::string& answer_code) {
  if (status == 404) {
    last_error = "NO SE ENCONTRO EL SITIO: " + address;
    return false;
  }
  if (body.find_first_not_of(' ') == std::string::npos) {
    last_error = "EL SERVIDOR " + address + ", NO RESPONDE";
    return false;
  }
  if (status == 500) {
    XmlDocument fault;
    LoadEnvelope(fault, body);
    std::string().swap(body);
    XmlNode faultstring =
        RequireNode(fault, "/soap:Envelope/soap:Body/soap:Fault/faultstring", "the response");
    last_error = status_text + ". " + faultstring.Text();
    return false;
  }
  if (status != 200) {
    last_error = status_text + ". " + body;
    return false;
  }

  std::string estado;
  bool answered = true;
  {
    XmlDocument response;
    LoadEnvelope(response, body);
    const std::string path = "/soap:Envelope/soap:Body/" + method + "Response/" + method + "Result";
    const XmlNode result = RequireNode(response, path, "the response");
    if (result.TextSize() == 0) {
      last_error = "EL WEBSERVICE " + address + ", NO REGRESO NINGUN TIPO DE RESPUESTA";
      return false;
    }
    // The result text is read where the envelope holds it; the body is
    // needed afterwards only to describe a result that is not XML.
    XmlDocument answer;
    answered = answer.LoadXmlOfText(result);
    if (answered) {
      std::string().swap(body);
      estado =
          FirstAttribute(RequireNode(answer, "/Respuesta", "the answer document"), "/Respuesta");
      XmlNode mensaje = RequireNode(answer, "/Respuesta/Mensaje", "the answer document");
      answer_code = FirstAttribute(mensaje, "/Respuesta/Mensaje");
      last_error = mensaje.Text();
    }
  }
  if (!answered) {
    // Both documents are gone by now: the description is the body's one
    // other copy.
    last_error = "EL WEBSERVICE " + address + ", RESPONDIO INCORRECTAMENTE" + ". " + body;
    return false;
  }
  if (AsciiUpperCase(estado) == "RECHAZADO") {
    last_error = "EL WEBSERVICE HA RECHAZADO LA PETICION" + std::string(". ") + last_error;
    return false;
  }
  return true;
}

}  // namespace quorvex
