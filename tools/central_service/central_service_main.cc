// quorvex-central-ref: a reference central update service for Quorvex
// Server, for demonstrations and for the tests of the usage reports.
//
// It serves the SOAP 1.1 method RecibeDocumento with POST at
// /update/update.asmx on a loopback address. For every request it checks the
// SOAPAction header (the namespace immediately followed by
// "RecibeDocumento") and the envelope
// (soap:Envelope/soap:Body/RecibeDocumento/DOCUMENTO, in the SOAP 1.1 and
// service namespaces), takes the text of DOCUMENTO and records it byte for
// byte. It then judges the document like a real receiver: a well-formed XML
// document whose root Documento has the Tipo TRANSACCION-USO or
// OPERADOR-INFO is accepted with
//   <Respuesta Estado="ACEPTADO"><Mensaje Codigo="0">...</Mensaje></Respuesta>
// and anything else is answered with Estado="RECHAZADO", Codigo="1" and a
// Mensaje that says why. A request whose SOAPAction or envelope is wrong gets
// a SOAP fault (500). The answer document travels as the escaped text of
// soap:Envelope/soap:Body/RecibeDocumentoResponse/RecibeDocumentoResult.
//
// Recording: with --record-dir DIR, request number N (from 1) leaves
//   DIR/NNNN.xml         the text of DOCUMENTO exactly as parsed (empty when
//                        the envelope could not be read)
//   DIR/NNNN.soapaction  the SOAPAction header as received
//   DIR/NNNN.request     the whole request body as received
//   DIR/NNNN.headers     the request line and the headers (in name order;
//                        the order on the wire is not kept by the server)
// Each file is complete (written and renamed into place) before the answer
// goes out.
//
// Answer modes. The service answers otherwise when told so, by --mode at
// start or at any time by POST /__control (GET /__control shows the current
// mode). A mode is one line, "NAME [ARG...] [delay=MS] [location=URL]
// [once]", optionally followed by a line break and a payload (the rest of
// the text, verbatim):
//   accept               judge as described above (the default)
//   status CODE          answer CODE with the payload as body, verbatim
//   fault                500 with a SOAP fault whose faultstring is the
//                        payload (a default text when empty)
//   empty                200 with an empty body
//   blank                200 with a body of three blanks
//   result               200, the payload as the result text (escaped)
//   no-result            200, a response envelope without the result element
//   empty-result         200, an empty result element
//   not-xml              200, a result text that is not XML
//   no-attributes        200, <Respuesta> without attributes
//   code-first           200, <Respuesta Codigo="7" Estado="RECHAZADO">
//   rechazado-lower      200, Estado="rechazado"
//   rechazado-blank      200, Estado=" RECHAZADO" (a leading blank)
//   partial              200 whose Content-Length announces more than is
//                        sent: half the answer goes out, then the connection
//                        is closed
//   stall MS             like partial, but after half the answer nothing more
//                        is sent for MS milliseconds before the close
//   refuse               the connection is closed without any response
//   drip [MS]            200 whose body (a valid answer) goes out one byte
//                        every MS milliseconds (default 1000), chunked
//   huge BYTES           200 with a body of BYTES bytes (an envelope padded
//                        with blanks) announced in Content-Length, made up
//                        as it is sent so the service never holds it
//   huge-chunked BYTES   the same without Content-Length (chunked)
// delay=MS waits MS milliseconds before answering (after recording);
// location=URL adds a Location header to the answer (with status 3xx, a
// redirect); once makes the mode apply to the next request only, after
// which the service goes back to accept. Every request is recorded whatever
// the mode, and so is a GET of the service's path (answered 405), which is
// what a client that follows a redirect from POST to GET sends.
//
// A usage report (TRANSACCION-USO) whose rows carry the same (SID, Nombre,
// Fecha) as a report accepted before is the same report sent again: it is
// accepted again ("DOCUMENTO TRANSACCION-USO YA RECIBIDO EN LA PETICION M")
// but not counted twice, and the service's log (standard error) says so.
// With --record-dir, a usage report that is counted leaves DIR/NNNN.billed
// (empty), and one recognised as sent again DIR/NNNN.repeat holding M.
//
// With --on-accept FILE, every answer that accepts a document (Estado
// ACEPTADO in mode accept) appends the request's number and a line break
// to FILE once the whole answer has been handed to the connection: a test
// can then stop the client right after acceptance.
//
// Options:
//   --port N          port to listen on (0, the default, picks a free one)
//   --port-file PATH  write the port number there once listening
//   --bind ADDR       address to listen on (default 127.0.0.1)
//   --record-dir DIR  where received documents are recorded (none if absent)
//   --namespace URI   service namespace (default the job's ServiceNamespace)
//   --mode LINE       initial answer mode (see above; payload after "\n")
//   --on-accept FILE  note each accepting answer there once it is sent
//   --cert PEM --key PEM  serve https with this certificate and key
//   --help            print this text
// The service runs until it receives SIGINT or SIGTERM.
#include <httplib.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "job/run_state.h"

namespace {

constexpr char kUsage[] =
    "usage: quorvex-central-ref [--port N] [--port-file PATH] [--bind ADDR]\n"
    "                           [--record-dir DIR] [--namespace URI] [--mode LINE]\n"
    "                           [--on-accept FILE] [--cert PEM --key PEM]\n"
    "Reference central update service: serves RecibeDocumento (SOAP 1.1) with\n"
    "POST at /update/update.asmx, records every received document in\n"
    "--record-dir as NNNN.xml (plus NNNN.soapaction, .request, .headers), and\n"
    "accepts well-formed report documents of Tipo TRANSACCION-USO or\n"
    "OPERADOR-INFO; anything else is answered RECHAZADO with the reason.\n"
    "\n"
    "Answer modes, set by --mode or by POST /__control (GET shows it):\n"
    "  \"NAME [ARG] [delay=MS] [location=URL] [once]\" then optionally a line break\n"
    "  and a payload\n"
    "  accept | status CODE | fault | empty | blank | result | no-result |\n"
    "  empty-result | not-xml | no-attributes | code-first | rechazado-lower |\n"
    "  rechazado-blank | partial | stall MS | refuse | drip [MS] | huge BYTES |\n"
    "  huge-chunked BYTES\n"
    "  status CODE answers with the payload as body; fault puts the payload in\n"
    "  faultstring; result sends the payload as the result text; partial\n"
    "  closes the connection in the middle of the body; refuse closes it\n"
    "  without any response; drip sends one byte every MS ms (default 1000);\n"
    "  huge streams a body of BYTES bytes without holding it (huge-chunked\n"
    "  without Content-Length); delay=MS waits before answering; location=URL\n"
    "  adds a Location header (a redirect with status 3xx); once applies\n"
    "  the mode to the next request only.\n"
    "--on-accept FILE appends the request number to FILE after each answer\n"
    "that accepts a document has been sent.\n";

constexpr char kSoapNamespace[] = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr char kMethod[] = "RecibeDocumento";
constexpr char kPath[] = "/update/update.asmx";
constexpr char kXml[] = "text/xml; charset=utf-8";

struct Mode {
  std::string name = "accept";
  std::string argument;
  std::string payload;
  int delay_ms = 0;
  bool once = false;
  std::string location;
  std::string text = "accept";
};

// Parses "NAME [ARG] [delay=MS] [location=URL] [once]\nPAYLOAD". Returns
// false with a reason for an unknown name or a malformed option.
bool ParseMode(const std::string& text, Mode& mode, std::string& error) {
  static const std::vector<std::string> kNames = {
      "accept",          "status",       "fault",
      "empty",           "blank",        "result",
      "no-result",       "empty-result", "not-xml",
      "no-attributes",   "code-first",   "rechazado-lower",
      "rechazado-blank", "partial",      "stall",
      "refuse",          "drip",         "huge",
      "huge-chunked"};
  Mode parsed;
  std::size_t newline = text.find('\n');
  std::string line = text.substr(0, newline);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (newline != std::string::npos) parsed.payload = text.substr(newline + 1);
  std::istringstream words(line);
  std::string word;
  if (!(words >> parsed.name)) {
    error = "empty mode";
    return false;
  }
  bool known = false;
  for (const auto& name : kNames) known = known || name == parsed.name;
  if (!known) {
    error = "unknown mode: " + parsed.name;
    return false;
  }
  while (words >> word) {
    if (word == "once") {
      parsed.once = true;
    } else if (word.rfind("delay=", 0) == 0) {
      parsed.delay_ms = std::atoi(word.c_str() + 6);
    } else if (word.rfind("location=", 0) == 0) {
      parsed.location = word.substr(9);
    } else if (parsed.argument.empty()) {
      parsed.argument = word;
    } else {
      error = "unexpected word: " + word;
      return false;
    }
  }
  if (parsed.name == "status") {
    int code = std::atoi(parsed.argument.c_str());
    if (code < 100 || code > 599) {
      error = "status needs a code between 100 and 599";
      return false;
    }
  }
  if ((parsed.name == "huge" || parsed.name == "huge-chunked") &&
      std::atoll(parsed.argument.c_str()) <= 0) {
    error = parsed.name + " needs a size in bytes";
    return false;
  }
  parsed.text = text;
  mode = parsed;
  return true;
}

std::string Escape(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 8);
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\r':
        out += "&#13;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Envelope(const std::string& body_content) {
  return std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>") +
         "<soap:Envelope xmlns:soap=\"" + kSoapNamespace +
         "\" xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
         " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\"><soap:Body>" +
         body_content + "</soap:Body></soap:Envelope>";
}

std::string ResultEnvelope(const std::string& ns, const std::string& result_text) {
  return Envelope(std::string("<") + kMethod + "Response xmlns=\"" + ns + "\"><" + kMethod +
                  "Result>" + Escape(result_text) + "</" + kMethod + "Result></" + kMethod +
                  "Response>");
}

std::string FaultEnvelope(const std::string& faultstring) {
  return Envelope("<soap:Fault><faultcode>soap:Server</faultcode><faultstring>" +
                  Escape(faultstring) + "</faultstring><detail /></soap:Fault>");
}

std::string Answer(const std::string& estado, const std::string& codigo,
                   const std::string& mensaje) {
  return "<Respuesta Estado=\"" + estado + "\"><Mensaje Codigo=\"" + codigo + "\">" +
         Escape(mensaje) + "</Mensaje></Respuesta>";
}

// Judges a received report document; returns the answer document.
std::string Judge(const std::string& document, pugi::xml_document& doc) {
  if (document.empty()) return Answer("RECHAZADO", "1", "DOCUMENTO VACIO");
  pugi::xml_parse_result parsed = doc.load_buffer(document.data(), document.size());
  if (!parsed) {
    return Answer("RECHAZADO", "1",
                  std::string("DOCUMENTO NO ES XML VALIDO: ") + parsed.description() +
                      " EN LA POSICION " + std::to_string(parsed.offset));
  }
  pugi::xml_node root = doc.document_element();
  if (std::strcmp(root.name(), "Documento") != 0) {
    return Answer("RECHAZADO", "1", std::string("RAIZ DESCONOCIDA: ") + root.name());
  }
  std::string tipo = root.attribute("Tipo").value();
  const char* list = tipo == "TRANSACCION-USO" ? "Transacciones"
                     : tipo == "OPERADOR-INFO" ? "Operadores"
                                               : nullptr;
  if (list == nullptr) return Answer("RECHAZADO", "1", "TIPO DE DOCUMENTO DESCONOCIDO: " + tipo);
  pugi::xml_node rows = root.child(list);
  if (!rows) return Answer("RECHAZADO", "1", std::string("FALTA LA LISTA ") + list);
  std::size_t count = 0;
  for (pugi::xml_node row = rows.first_child(); row; row = row.next_sibling()) ++count;
  return Answer("ACEPTADO", "0",
                "DOCUMENTO " + tipo + " RECIBIDO CON " + std::to_string(count) + " RENGLONES");
}

// Closes the server side of the connection a request came in on, so the
// client sees the connection end without any response.
void CloseConnectionOf(const httplib::Request& req) {
  for (int fd = 3; fd < 65536; ++fd) {
    sockaddr_storage peer{};
    socklen_t peer_len = sizeof peer;
    sockaddr_storage local{};
    socklen_t local_len = sizeof local;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peer_len) != 0) continue;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &local_len) != 0) continue;
    auto port_of = [](const sockaddr_storage& a) -> int {
      if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<const sockaddr_in&>(a).sin_port);
      if (a.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6&>(a).sin6_port);
      }
      return -1;
    };
    if (port_of(peer) == req.remote_port && port_of(local) == req.local_port) {
      shutdown(fd, SHUT_RDWR);
      return;
    }
  }
}

class Service {
 public:
  Service(std::string ns, std::string record_dir, Mode mode, std::string on_accept)
      : ns_(std::move(ns)),
        record_dir_(std::move(record_dir)),
        on_accept_(std::move(on_accept)),
        mode_(std::move(mode)) {}

  void Install(httplib::Server& server) {
    server.Post(kPath,
                [this](const httplib::Request& req, httplib::Response& res) { Handle(req, res); });
    server.Get(kPath, [this](const httplib::Request& req, httplib::Response& res) {
      Record("", req);
      res.status = 405;
      res.set_header("Allow", "POST");
      res.set_content("Method Not Allowed\n", "text/plain");
    });
    server.Post("/__control", [this](const httplib::Request& req, httplib::Response& res) {
      Mode mode;
      std::string error;
      if (!ParseMode(req.body, mode, error)) {
        res.status = 400;
        res.set_content(error + "\n", "text/plain");
        return;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      mode_ = mode;
      res.set_content("ok\n", "text/plain");
    });
    server.Get("/__control", [this](const httplib::Request&, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex_);
      res.set_content(mode_.text + "\n", "text/plain");
    });
  }

 private:
  Mode TakeMode() {
    std::lock_guard<std::mutex> lock(mutex_);
    Mode mode = mode_;
    if (mode_.once) mode_ = Mode();
    return mode;
  }

  void WriteFile(const std::string& name, const std::string& bytes) {
    std::string path = record_dir_ + "/" + name;
    std::string temp = path + ".tmp";
    {
      std::ofstream out(temp, std::ios::binary | std::ios::trunc);
      out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::rename(temp.c_str(), path.c_str());
  }

  // Judges a received report document and returns the answer document;
  // counts a usage report once (see the head of this file).
  std::string JudgeOnce(const std::string& document, int number) {
    pugi::xml_document doc;
    std::string verdict = Judge(document, doc);
    pugi::xml_node root = doc.document_element();
    if (!verdict.starts_with("<Respuesta Estado=\"ACEPTADO\"") ||
        std::string(root.attribute("Tipo").value()) != "TRANSACCION-USO") {
      return verdict;
    }
    std::vector<std::string> rows;
    for (pugi::xml_node row = root.child("Transacciones").first_child(); row;
         row = row.next_sibling()) {
      rows.push_back(std::string(row.attribute("SID").value()) + '\t' +
                     row.attribute("Nombre").value() + '\t' + row.attribute("Fecha").value());
    }
    std::sort(rows.begin(), rows.end());
    std::string key;
    for (const std::string& row : rows) key += row + '\n';
    int first = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto [at, inserted] = billed_.emplace(key, number);
      if (!inserted) first = at->second;
    }
    char stem[16];
    std::snprintf(stem, sizeof stem, "%04d", number);
    if (first == 0) {
      if (!record_dir_.empty()) WriteFile(std::string(stem) + ".billed", "");
      return verdict;
    }
    std::cerr << "request " << number << " repeats the usage report of request " << first
              << " (the same SID, Nombre and Fecha rows): accepted again, not counted again\n";
    if (!record_dir_.empty()) WriteFile(std::string(stem) + ".repeat", std::to_string(first));
    return Answer("ACEPTADO", "0",
                  "DOCUMENTO TRANSACCION-USO YA RECIBIDO EN LA PETICION " + std::to_string(first));
  }

  // Returns the request's number.
  int Record(const std::string& document, const httplib::Request& req) {
    int number;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      number = ++received_;
    }
    if (record_dir_.empty()) return number;
    char stem[16];
    std::snprintf(stem, sizeof stem, "%04d", number);
    std::string head = req.method + " " + req.target + " " + req.version + "\n";
    for (const auto& [name, value] : req.headers) {
      // httplib adds the peer's address as a header of its own.
      if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
          name == "LOCAL_PORT") {
        continue;
      }
      head += name + ": " + value + "\n";
    }
    WriteFile(std::string(stem) + ".headers", head);
    WriteFile(std::string(stem) + ".request", req.body);
    WriteFile(std::string(stem) + ".soapaction", req.get_header_value("SOAPAction"));
    WriteFile(std::string(stem) + ".xml", document);
    return number;
  }

  // The answer as a body whose end, once handed to the connection, is
  // noted in the --on-accept file.
  void AnswerNoted(httplib::Response& res, const std::string& body, int number) const {
    auto text = std::make_shared<std::string>(body);
    res.set_content_provider(
        text->size(), kXml,
        [text](size_t offset, size_t length, httplib::DataSink& sink) {
          return sink.write(text->data() + offset, std::min(length, text->size() - offset));
        },
        [this, number](bool sent) {
          if (sent) std::ofstream(on_accept_, std::ios::app) << number << "\n";
        });
  }

  // Checks header and envelope; on success document holds DOCUMENTO's text.
  bool ReadRequest(const httplib::Request& req, std::string& document, std::string& fault) {
    std::string action = req.get_header_value("SOAPAction");
    if (action != ns_ + kMethod) {
      fault = "Server did not recognize the value of HTTP Header SOAPAction: " + action + ".";
      return false;
    }
    pugi::xml_document doc;
    if (!doc.load_buffer(req.body.data(), req.body.size())) {
      fault = "The request is not well-formed XML.";
      return false;
    }
    pugi::xml_node envelope = doc.document_element();
    if (std::strcmp(envelope.name(), "soap:Envelope") != 0 ||
        std::strcmp(envelope.attribute("xmlns:soap").value(), kSoapNamespace) != 0) {
      fault = "The request is not a SOAP 1.1 envelope.";
      return false;
    }
    pugi::xml_node method = envelope.child("soap:Body").child(kMethod);
    if (!method || method.attribute("xmlns").value() != ns_) {
      fault = std::string("The request holds no ") + kMethod + " element in namespace " + ns_ + ".";
      return false;
    }
    pugi::xml_node documento = method.child("DOCUMENTO");
    if (!documento) {
      fault = "The request holds no DOCUMENTO element.";
      return false;
    }
    for (pugi::xml_node text = documento.first_child(); text; text = text.next_sibling()) {
      if (text.type() == pugi::node_pcdata || text.type() == pugi::node_cdata) {
        document += text.value();
      }
    }
    return true;
  }

  void Handle(const httplib::Request& req, httplib::Response& res) {
    Mode mode = TakeMode();
    std::string document;
    std::string fault;
    bool understood = ReadRequest(req, document, fault);
    const int number = Record(document, req);
    if (mode.delay_ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(mode.delay_ms));
    if (!mode.location.empty()) res.set_header("Location", mode.location);

    if (mode.name == "refuse") {
      CloseConnectionOf(req);
    } else if (mode.name == "huge" || mode.name == "huge-chunked") {
      AnswerHuge(mode, res);
    } else if (!AnswerWhole(mode, understood, fault, document, number, res)) {
      AnswerInPieces(mode, document, number, res);
    }
  }

  // The modes that answer with a whole body at once (number: the request's,
  // for --on-accept). False for any other.
  bool AnswerWhole(const Mode& mode, bool understood, const std::string& fault,
                   const std::string& document, int number, httplib::Response& res) {
    const std::string& m = mode.name;
    if (m == "accept") {
      if (!understood) {
        res.status = 500;
        res.set_content(FaultEnvelope(fault), kXml);
      } else if (std::string verdict = JudgeOnce(document, number);
                 !on_accept_.empty() && verdict.starts_with("<Respuesta Estado=\"ACEPTADO\"")) {
        AnswerNoted(res, ResultEnvelope(ns_, verdict), number);
      } else {
        res.set_content(ResultEnvelope(ns_, verdict), kXml);
      }
    } else if (m == "status") {
      res.status = std::atoi(mode.argument.c_str());
      res.set_content(mode.payload, "text/html; charset=utf-8");
    } else if (m == "fault") {
      res.status = 500;
      res.set_content(FaultEnvelope(mode.payload.empty() ? "Server was unable to process request."
                                                         : mode.payload),
                      kXml);
    } else if (m == "empty") {
      res.set_content("", kXml);
    } else if (m == "blank") {
      res.set_content("   ", kXml);
    } else if (m == "result") {
      res.set_content(ResultEnvelope(ns_, mode.payload), kXml);
    } else if (m == "no-result") {
      res.set_content(Envelope(std::string("<") + kMethod + "Response xmlns=\"" + ns_ + "\" />"),
                      kXml);
    } else if (m == "empty-result") {
      res.set_content(ResultEnvelope(ns_, ""), kXml);
    } else if (m == "not-xml") {
      res.set_content(ResultEnvelope(ns_, "ESTO NO ES XML"), kXml);
    } else if (m == "no-attributes") {
      res.set_content(
          ResultEnvelope(ns_, "<Respuesta><Mensaje Codigo=\"0\">SIN ESTADO</Mensaje></Respuesta>"),
          kXml);
    } else if (m == "code-first") {
      res.set_content(ResultEnvelope(ns_,
                                     "<Respuesta Codigo=\"7\" Estado=\"RECHAZADO\"><Mensaje "
                                     "Codigo=\"7\">CODIGO PRIMERO</Mensaje></Respuesta>"),
                      kXml);
    } else if (m == "rechazado-lower") {
      res.set_content(ResultEnvelope(ns_, Answer("rechazado", "3", "MINUSCULAS")), kXml);
    } else if (m == "rechazado-blank") {
      res.set_content(ResultEnvelope(ns_, Answer(" RECHAZADO", "4", "CON BLANCO")), kXml);
    } else {
      return false;
    }
    return true;
  }

  // The judged answer sent in pieces that break off (partial), stop
  // (stall MS) or come one byte at a time (drip MS).
  void AnswerInPieces(const Mode& mode, const std::string& document, int number,
                      httplib::Response& res) {
    auto full = std::make_shared<std::string>(ResultEnvelope(ns_, JudgeOnce(document, number)));
    if (mode.name == "partial") {
      res.set_content_provider(full->size() * 2, kXml,
                               [full](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0) {
                                   sink.write(full->data(), full->size() / 2);
                                   return true;
                                 }
                                 return false;
                               });
    } else if (mode.name == "stall") {
      const int stall_ms = std::atoi(mode.argument.c_str());
      res.set_content_provider(full->size(), kXml,
                               [full, stall_ms](size_t offset, size_t, httplib::DataSink& sink) {
                                 if (offset == 0) {
                                   sink.write(full->data(), full->size() / 2);
                                   return true;
                                 }
                                 std::this_thread::sleep_for(std::chrono::milliseconds(stall_ms));
                                 return false;
                               });
    } else if (mode.name == "drip") {
      const int interval_ms = mode.argument.empty() ? 1000 : std::atoi(mode.argument.c_str());
      res.set_chunked_content_provider(
          kXml, [full, interval_ms](size_t offset, httplib::DataSink& sink) {
            if (offset >= full->size()) {
              sink.done();
              return true;
            }
            if (offset > 0) std::this_thread::sleep_for(std::chrono::milliseconds(interval_ms));
            return sink.write(full->data() + offset, 1);
          });
    }
  }

  // huge BYTES and huge-chunked BYTES: the answer envelope with blanks
  // between its start and the result element, produced piece by piece, with
  // or without a Content-Length.
  void AnswerHuge(const Mode& mode, httplib::Response& res) const {
    const std::string full = ResultEnvelope(ns_, Answer("ACEPTADO", "0", "GRANDE"));
    const std::size_t split = full.find("<soap:Body>") + std::strlen("<soap:Body>");
    auto head = std::make_shared<std::string>(full.substr(0, split));
    auto tail = std::make_shared<std::string>(full.substr(split));
    const std::size_t total = std::max<std::size_t>(
        std::strtoull(mode.argument.c_str(), nullptr, 10), head->size() + tail->size());
    auto provide = [head, tail, total](size_t offset, httplib::DataSink& sink) {
      static const std::string kBlanks(64 * 1024, ' ');
      if (offset >= total) {
        sink.done();
        return true;
      }
      if (offset < head->size()) return sink.write(head->data() + offset, head->size() - offset);
      const std::size_t tail_start = total - tail->size();
      if (offset >= tail_start) {
        return sink.write(tail->data() + (offset - tail_start), total - offset);
      }
      return sink.write(kBlanks.data(), std::min(kBlanks.size(), tail_start - offset));
    };
    if (mode.name == "huge") {
      res.set_content_provider(total, kXml,
                               [provide](size_t offset, size_t, httplib::DataSink& sink) {
                                 return provide(offset, sink);
                               });
    } else {
      res.set_chunked_content_provider(kXml, provide);
    }
  }

  std::string ns_;
  std::string record_dir_;
  std::string on_accept_;
  std::mutex mutex_;
  Mode mode_;
  int received_ = 0;
  std::map<std::string, int> billed_;  // usage reports counted: rows -> request
};

// Blocks SIGINT and SIGTERM in every thread (call before any other thread
// starts) and stops the server from a thread of its own when one of them
// arrives. A signal may come before the server has begun listening, when a
// stop would be lost, so the stop is repeated until listening has ended.
class StopOnSignal {
 public:
  explicit StopOnSignal(httplib::Server& server) {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    waiter_ = std::thread([this, &server, set] {
      int signal_number = 0;
      sigwait(&set, &signal_number);
      while (!listening_ended_) {
        server.stop();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
    });
  }
  ~StopOnSignal() { ListeningEnded(); }
  StopOnSignal(const StopOnSignal&) = delete;
  StopOnSignal& operator=(const StopOnSignal&) = delete;

  // Called once listening has ended (for any reason); ends the waiting
  // thread with a signal of our own if none came from outside.
  void ListeningEnded() {
    if (!waiter_.joinable()) return;
    listening_ended_ = true;
    kill(getpid(), SIGTERM);
    waiter_.join();
  }

 private:
  std::atomic<bool> listening_ended_{false};
  std::thread waiter_;
};

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  std::string port_file;
  std::string bind = "127.0.0.1";
  std::string record_dir;
  std::string ns = quorvex::ServiceNamespace;
  std::string mode_text = "accept";
  std::string on_accept;
  std::string cert;
  std::string key;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << arg << " needs a value\n" << kUsage;
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--port") {
      port = std::atoi(value().c_str());
    } else if (arg == "--port-file") {
      port_file = value();
    } else if (arg == "--bind") {
      bind = value();
    } else if (arg == "--record-dir") {
      record_dir = value();
    } else if (arg == "--namespace") {
      ns = value();
    } else if (arg == "--mode") {
      mode_text = value();
    } else if (arg == "--on-accept") {
      on_accept = value();
    } else if (arg == "--cert") {
      cert = value();
    } else if (arg == "--key") {
      key = value();
    } else {
      std::cerr << "unknown option " << arg << "\n" << kUsage;
      return 2;
    }
  }
  Mode mode;
  std::string error;
  if (!ParseMode(mode_text, mode, error)) {
    std::cerr << "--mode: " << error << "\n";
    return 2;
  }

  std::unique_ptr<httplib::Server> server;
  if (!cert.empty() || !key.empty()) {
    server = std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str());
  } else {
    server = std::make_unique<httplib::Server>();
  }
  if (!server->is_valid()) {
    std::cerr << "cannot set up the server (certificate or key unusable)\n";
    return 1;
  }
  StopOnSignal stopper(*server);
  Service service(ns, record_dir, mode, on_accept);
  service.Install(*server);

  int bound =
      port == 0 ? server->bind_to_any_port(bind) : (server->bind_to_port(bind, port) ? port : -1);
  if (bound <= 0) {
    std::cerr << "cannot listen on " << bind << ":" << port << "\n";
    return 1;
  }
  if (!port_file.empty()) {
    std::string temp = port_file + ".tmp";
    {
      std::ofstream out(temp, std::ios::trunc);
      out << bound << "\n";
    }
    std::rename(temp.c_str(), port_file.c_str());
  }
  std::cerr << "quorvex-central-ref listening on " << (cert.empty() ? "http" : "https") << "://"
            << bind << ":" << bound << kPath << "\n";
  server->listen_after_bind();
  stopper.ListeningEnded();
  return 0;
}
