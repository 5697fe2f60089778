// Module Modulo: the SOAP document call to the central web service and the
// two date helpers of the transaction usage report.
#pragma once

#include <optional>
#include <string>

#include "job/run_state.h"
#include "platform/http_request.h"

namespace quorvex {

// Delivers one report document to the central web service in a single SOAP
// 1.1 call and judges the answer.
//
// The document travels as the text of DOCUMENTO inside the request element
// named method (default namespace service_namespace), posted to address
// with the headers "Content-Type: text/xml; charset=utf-8" and
// "SOAPAction: <service_namespace><method>". The answer's result element
// holds a Respuesta document: its first attribute (by position) is the
// status, "RECHAZADO" in any letter case meaning rejection; the first
// attribute of Respuesta/Mensaje is the answer code; the text of Mensaje is
// the service's message.
//
// Returns true when the service answered and did not reject the document;
// run.LastErrorText then holds the Mensaje text. Returns false in every
// other case with the Spanish description of the failure in
// run.LastErrorText. answer_code is set once the answer document has been
// read and left as the caller had it on every earlier way out. Touches no
// other part of run, writes nothing to the event log, and never throws.
// Its only bounds are the HTTP layer's limits (platform/http_request.h).
// Going past the deadline or the size cap of limits ends in the trap
// message with a description naming the limit; the job always passes the
// default HttpLimits, a test shortens them.
//
// A report document that XML cannot carry (a NUL, a control character
// other than tab, line feed and carriage return, bytes that are not UTF-8),
// or an address that is not http:// or https://, ends in the trap message
// naming the problem, and nothing is sent. The answer is read by
// ReadSoapAnswer (reporting/soap_answer.h).
//
// reach, when given, tells a caller that must know whether the service may
// hold the document how far a failed call got (on true it is kAnswered).
enum class CallReach {
  kNotSent,   // nothing reached the service: refused before sending, or no
              // connection was made
  kRefused,   // the service answered and its Respuesta rejected the document
  kAnswered,  // the service answered and did not reject it
  kUnknown,   // the request may have reached the service, but no verdict
              // came back (time-out, broken connection, an answer cut at a
              // limit, an answer that is not a Respuesta)
};
bool Consumir_WebService(RunState& run, const std::string& report_document,
                         const std::string& address, const std::string& method,
                         std::string& answer_code, const std::string& service_namespace,
                         const HttpLimits& limits = HttpLimits(), CallReach* reach = nullptr);

// A date and time of the database server's clock, to the second.
struct FechaHora {
  int year = 1899;
  int month = 12;
  int day = 30;
  int hour = 0;
  int minute = 0;
  int second = 0;

  bool operator==(const FechaHora&) const = default;
};

// The database server's current date and time, from "SELECT GetDate() as
// Fecha" on run.DbConnection (fractions of a second are dropped). When the
// statement, the reading or the conversion fails (also when there is no
// DbConnection), the local machine's date of today at 00:00:00. Never
// throws, logs nothing, does not touch run.SqlText.
FechaHora Get_FechaServidor(RunState& run);

// The same clock without the fallback: std::nullopt when it cannot be read.
std::optional<FechaHora> FechaServidor(RunState& run);

// The second before fecha (a minute, day, month or year back when needed).
FechaHora SecondBefore(FechaHora fecha);

// "YYYY-MM-DD hh:mm:ss" on the 24-hour clock, every field zero-padded.
std::string Formato_Fecha(const FechaHora& fecha);

// Reads a date text of the database session ("YYYY-MM-DD hh:mm:ss" with an
// optional fraction of a second, or the date alone, 'T' accepted in place of
// the blank). Returns false for anything else, including an impossible date.
bool ParseFechaHora(const std::string& text, FechaHora& out);

}  // namespace quorvex
