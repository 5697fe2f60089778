#include "reporting/modulo.h"

#include <cstdio>
#include <ctime>
#include <exception>
#include <stdexcept>
#include <string_view>

#include "platform/http_request.h"
#include "reporting/soap_answer.h"
#include "text/xml_document.h"

namespace quorvex {

namespace {

std::string BuildEnvelope(const std::string& method, const std::string& service_namespace) {
  std::string envelope;
  envelope += "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
  envelope +=
      "<soap:Envelope"
      " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
      " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
      " xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"> ";
  envelope += "  <soap:Body>";
  envelope += "    <";
  envelope += method;
  envelope += " xmlns=\"";
  envelope += service_namespace;
  envelope += "\">";
  envelope += "    <DOCUMENTO>0</DOCUMENTO>";
  envelope += "    </";
  envelope += method;
  envelope += ">";
  envelope += "  </soap:Body>";
  envelope += "</soap:Envelope>";
  return envelope;
}

// The call up to its verdict. Expected outcomes set LastErrorText and return;
// anything else throws and ends in the trap of Consumir_WebService.
bool Exchange(RunState& run, const std::string& report_document, const std::string& address,
              const std::string& method, std::string& answer_code,
              const std::string& service_namespace, const HttpLimits& limits, CallReach& reach) {
  reach = CallReach::kNotSent;
  if (report_document.empty()) {
    run.LastErrorText = "NO SE HA ENVIADO UN DOCUMENTO XML CORRECTO";
    return false;
  }

  std::string body;
  {
    XmlDocument request;
    if (!request.LoadXml(BuildEnvelope(method, service_namespace))) {
      run.LastErrorText = "IMPOSIBLE GENERAR XML PARA ENVIO";
      return false;
    }
    // A character XML cannot carry would leave the document cut short or
    // malformed on the wire; it is refused before anything is sent.
    if (std::string problem = XmlTextProblem(report_document); !problem.empty()) {
      throw SoapCallError("the report document " + problem);
    }
    const std::string path = "/soap:Envelope/soap:Body/" + method + "/DOCUMENTO";
    XmlNode documento = RequireNode(request, path, "the request envelope");
    body = request.XmlWithText(documento, report_document);
  }

  HttpRequest http;
  http.Open("POST", address);
  http.SetLimits(limits);
  http.SetRequestHeader("Content-Type", "text/xml; charset=utf-8");
  http.SetRequestHeader("SOAPAction", service_namespace + method);
  reach = CallReach::kUnknown;
  try {
    http.Send(body);
  } catch (const HttpError&) {
    if (!http.RequestMayHaveArrived()) reach = CallReach::kNotSent;
    throw;
  }

  if (http.ReadyState() != HttpRequest::kCompleted) {
    run.LastErrorText = "IMPOSIBLE ESTABLECER CONEXION CON LA URL: " + address;
    return false;
  }
  const bool accepted = ReadSoapAnswer(http.Status(), http.StatusText(), http.TakeResponseText(),
                                       address, method, run.LastErrorText, answer_code);
  if (accepted) {
    reach = CallReach::kAnswered;
  } else if (run.LastErrorText.starts_with("EL WEBSERVICE HA RECHAZADO LA PETICION")) {
    reach = CallReach::kRefused;
  }
  return accepted;
}

FechaHora LocalToday() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  FechaHora today;
  today.year = local.tm_year + 1900;
  today.month = local.tm_mon + 1;
  today.day = local.tm_mday;
  return today;
}

bool ReadNumber(const std::string& text, std::size_t& pos, std::size_t digits, int& out) {
  if (pos + digits > text.size()) return false;
  int value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    char c = text[pos + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  pos += digits;
  out = value;
  return true;
}

bool Expect(const std::string& text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool Consumir_WebService(RunState& run, const std::string& report_document,
                         const std::string& address, const std::string& method,
                         std::string& answer_code, const std::string& service_namespace,
                         const HttpLimits& limits, CallReach* reach) {
  run.LastErrorText.clear();
  CallReach reached = CallReach::kNotSent;
  bool accepted = false;
  try {
    accepted = Exchange(run, report_document, address, method, answer_code, service_namespace,
                        limits, reached);
  } catch (const std::exception& error) {
    run.LastErrorText = std::string("Funciones - Consumir_WebService()") + ". " +
                        "NO FUE POSIBLE CONSUMIR EL WEBSERVICE" + ". " + error.what();
  } catch (...) {
    run.LastErrorText = std::string("Funciones - Consumir_WebService()") + ". " +
                        "NO FUE POSIBLE CONSUMIR EL WEBSERVICE" + ". " + "unknown error";
  }
  if (reach) *reach = reached;
  return accepted;
}

bool ParseFechaHora(const std::string& text, FechaHora& out) {
  FechaHora f;
  std::size_t pos = 0;
  if (!ReadNumber(text, pos, 4, f.year) || !Expect(text, pos, '-') ||
      !ReadNumber(text, pos, 2, f.month) || !Expect(text, pos, '-') ||
      !ReadNumber(text, pos, 2, f.day)) {
    return false;
  }
  if (pos < text.size()) {
    if (text[pos] != ' ' && text[pos] != 'T') return false;
    ++pos;
    if (!ReadNumber(text, pos, 2, f.hour) || !Expect(text, pos, ':') ||
        !ReadNumber(text, pos, 2, f.minute) || !Expect(text, pos, ':') ||
        !ReadNumber(text, pos, 2, f.second)) {
      return false;
    }
    if (pos < text.size()) {
      if (text[pos] != '.' || pos + 1 == text.size()) return false;
      for (++pos; pos < text.size(); ++pos) {
        if (text[pos] < '0' || text[pos] > '9') return false;
      }
    }
  }
  if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > DaysInMonth(f.year, f.month) ||
      f.hour > 23 || f.minute > 59 || f.second > 59) {
    return false;
  }
  out = f;
  return true;
}

std::optional<FechaHora> FechaServidor(RunState& run) {
  try {
    if (run.DbConnection) {
      const std::string sql = "SELECT GetDate() as Fecha";
      RowSet rows = run.DbConnection->Execute(sql);
      if (!rows.Eof()) {
        const FieldValue& value = rows.Field("Fecha");
        FechaHora fecha;
        if (value && ParseFechaHora(*value, fecha)) return fecha;
      }
    }
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

FechaHora Get_FechaServidor(RunState& run) {
  // Without the server's clock the cut-off is the start of today, which
  // can only hold back records, never mark uncounted ones.
  return FechaServidor(run).value_or(LocalToday());
}

FechaHora SecondBefore(FechaHora f) {
  if (--f.second >= 0) return f;
  f.second = 59;
  if (--f.minute >= 0) return f;
  f.minute = 59;
  if (--f.hour >= 0) return f;
  f.hour = 23;
  if (--f.day >= 1) return f;
  if (--f.month < 1) f.month = 12, --f.year;
  f.day = DaysInMonth(f.year, f.month);
  return f;
}

std::string Formato_Fecha(const FechaHora& fecha) {
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", fecha.year, fecha.month,
                fecha.day, fecha.hour, fecha.minute, fecha.second);
  return text;
}

}  // namespace quorvex
