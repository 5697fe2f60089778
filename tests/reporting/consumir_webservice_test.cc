// Consumir_WebService against the reference central service over loopback:
// every way the exchange can end, judged on the result, LastErrorText and
// the answer code.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "central_service_fixture.h"
#include "probe/probe_test_support.h"
#include "reporting/modulo.h"

namespace quorvex {
namespace {

using testing::CentralService;
using testing::TempDir;

constexpr char kTrap[] =
    "Funciones - Consumir_WebService(). NO FUE POSIBLE CONSUMIR EL WEBSERVICE. ";
constexpr char kUnchanged[] = "sin-cambio";

const std::string kDocument =
    "<Documento Tipo='TRANSACCION-USO' Usuario='' Password='' Empresa='' > \r\n"
    " <Transacciones>\r\n"
    "  <Transaccion Nombre=\"A\"  SID=\"7\"  Fecha=\"2026-12-04 07:05:09\"  Accesos=\"120\" />\r\n"
    "  </Transacciones>\r\n"
    " </Documento>";

struct CallOutcome {
  bool result;
  std::string last_error;
  std::string answer_code;
};

class ConsumirWebServiceTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new CentralService(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }

  CallOutcome Call(const std::string& document, const std::string& address,
                   const std::string& method = "RecibeDocumento") {
    RunState run;
    run.LastErrorText = "texto anterior";
    std::string code = kUnchanged;
    bool result = Consumir_WebService(run, document, address, method, code, ServiceNamespace);
    return {result, run.LastErrorText, code};
  }

  // The body the service gives in its current mode, fetched directly.
  std::string RawAnswer() {
    httplib::Client client("127.0.0.1", service_->port());
    httplib::Headers headers = {{"SOAPAction", std::string(ServiceNamespace) + "RecibeDocumento"}};
    auto res = client.Post("/update/update.asmx", headers, "<x/>", "text/xml");
    return res ? res->body : std::string();
  }

  static CentralService* service_;
};

CentralService* ConsumirWebServiceTest::service_ = nullptr;

struct ModeCase {
  const char* mode;
  bool result;
  // Expected LastErrorText; "{url}" stands for the address, "{raw}" for the
  // whole body of the answer, a text ending in "..." is a prefix.
  std::string last_error;
  std::string answer_code;
};

std::string Expand(std::string text, const std::string& url) {
  for (std::size_t at; (at = text.find("{url}")) != std::string::npos;) text.replace(at, 5, url);
  return text;
}

TEST_F(ConsumirWebServiceTest, JudgesEveryKindOfAnswer) {
  const std::string trap = kTrap;
  const ModeCase cases[] = {
      {"accept", true, "DOCUMENTO TRANSACCION-USO RECIBIDO CON 1 RENGLONES", "0"},
      {"status 404\n<html><body>No existe</body></html>", false, "NO SE ENCONTRO EL SITIO: {url}",
       kUnchanged},
      {"status 404", false, "NO SE ENCONTRO EL SITIO: {url}", kUnchanged},
      {"empty", false, "EL SERVIDOR {url}, NO RESPONDE", kUnchanged},
      {"blank", false, "EL SERVIDOR {url}, NO RESPONDE", kUnchanged},
      // Emptiness is judged before the 500 and 200 branches.
      {"status 500\n    ", false, "EL SERVIDOR {url}, NO RESPONDE", kUnchanged},
      // A line break is content: the 500 branch runs and finds no fault.
      {"status 500\n\r\n", false, trap + "...", kUnchanged},
      {"fault\nFalla interna & grave", false, "Internal Server Error. Falla interna & grave",
       kUnchanged},
      {"status 500\n<html>oops</html>", false, trap + "...", kUnchanged},
      {"status 503\nEN MANTENIMIENTO\r\n", false, "Service Unavailable. EN MANTENIMIENTO\r\n",
       kUnchanged},
      {"status 302\n<a href='/'>moved</a>", false, "Found. <a href='/'>moved</a>", kUnchanged},
      {"status 200\nno soy xml", false, trap + "...", kUnchanged},
      {"no-result", false, trap + "...", kUnchanged},
      {"empty-result", false, "EL WEBSERVICE {url}, NO REGRESO NINGUN TIPO DE RESPUESTA",
       kUnchanged},
      {"no-attributes", false, trap + "...", kUnchanged},
      {"result\n<Respuesta Estado=\"ACEPTADO\" />", false, trap + "...", kUnchanged},
      {"result\n<Respuesta Estado=\"ACEPTADO\"><Mensaje>sin codigo</Mensaje></Respuesta>", false,
       trap + "...", kUnchanged},
      {"result\n<Otra Estado=\"ACEPTADO\"><Mensaje Codigo=\"0\">x</Mensaje></Otra>", false,
       trap + "...", kUnchanged},
      // The status is the first attribute, whatever its name.
      {"code-first", true, "CODIGO PRIMERO", "7"},
      {"rechazado-lower", false, "EL WEBSERVICE HA RECHAZADO LA PETICION. MINUSCULAS", "3"},
      {"rechazado-blank", true, "CON BLANCO", "4"},
      {"result\n<Respuesta Estado=\"RecHazado\"><Mensaje Codigo=\"9\">no &amp; no</Mensaje>"
       "</Respuesta>",
       false, "EL WEBSERVICE HA RECHAZADO LA PETICION. no & no", "9"},
      {"result\n<Respuesta Estado=\"ACEPTADO\"><Mensaje Codigo=\"\"></Mensaje></Respuesta>", true,
       "", ""},
      // Blanks alone are text: not an empty result, message or fault.
      {"result\n   ", false, "EL WEBSERVICE {url}, RESPONDIO INCORRECTAMENTE. {raw}", kUnchanged},
      {"result\n<Respuesta Estado=\"ACEPTADO\"><Mensaje Codigo=\"5\">  </Mensaje></Respuesta>",
       true, "  ", "5"},
      {"fault\n ", false, "Internal Server Error.  ", kUnchanged},
      {"partial", false, "IMPOSIBLE ESTABLECER CONEXION CON LA URL: {url}", kUnchanged},
      {"refuse", false, trap + "...", kUnchanged},
  };
  const std::string url = service_->Url();
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.mode);
    service_->SetMode(c.mode);
    CallOutcome out = Call(kDocument, url);
    EXPECT_EQ(out.result, c.result);
    std::string expected = Expand(c.last_error, url);
    if (std::size_t at = expected.find("{raw}"); at != std::string::npos) {
      expected.replace(at, 5, RawAnswer());
    }
    if (expected.ends_with("...")) {
      expected.resize(expected.size() - 3);
      EXPECT_TRUE(out.last_error.starts_with(expected)) << out.last_error;
      EXPECT_GT(out.last_error.size(), expected.size()) << "no description after the trap text";
    } else {
      EXPECT_EQ(out.last_error, expected);
    }
    EXPECT_EQ(out.answer_code, c.answer_code);
  }
  service_->SetMode("accept");
}

TEST_F(ConsumirWebServiceTest, ResultThatIsNotXmlQuotesTheWholeBody) {
  const std::string url = service_->Url();
  service_->SetMode("not-xml");
  CallOutcome out = Call(kDocument, url);
  const std::string raw = RawAnswer();
  service_->SetMode("accept");
  ASSERT_NE(raw.find("ESTO NO ES XML"), std::string::npos);
  EXPECT_FALSE(out.result);
  EXPECT_EQ(out.last_error, "EL WEBSERVICE " + url + ", RESPONDIO INCORRECTAMENTE. " + raw);
  EXPECT_EQ(out.answer_code, kUnchanged);
}

TEST_F(ConsumirWebServiceTest, DocumentArrivesByteForByteWithTheSoapAction) {
  const int before = service_->Received();
  const std::string document =
      "<Documento Tipo='OPERADOR-INFO' Usuario='' Password='' Empresa='' > \r\n"
      " <Operadores>\r\n"
      "  <Operador  SID=\" 7 \"  Operador=\"A&B\"  Nombre=\"O'Neil \"el\" <jefe>\"  "
      "Email=\"a\tb\xC3\xB1\" />\r\n"
      "  </Operadores>\r\n"
      " </Documento>\r\n\r\n";
  CallOutcome out = Call(document, service_->Url());
  ASSERT_EQ(service_->Received(), before + 1);
  const int number = before + 1;
  EXPECT_EQ(service_->Document(number), document);
  EXPECT_EQ(service_->Record(number, ".soapaction"),
            std::string(ServiceNamespace) + "RecibeDocumento");
  const std::string request = service_->Record(number, ".request");
  EXPECT_EQ(request.find('\r'), std::string::npos) << "a raw CR would not survive the parse";
  EXPECT_NE(request.find("&#13;"), std::string::npos);
  EXPECT_TRUE(request.starts_with("<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope"));
  const std::string headers = service_->Record(number, ".headers");
  EXPECT_TRUE(headers.starts_with("POST /update/update.asmx HTTP/1.1\n")) << headers;
  EXPECT_NE(headers.find("\nContent-Type: text/xml; charset=utf-8\n"), std::string::npos);
  EXPECT_NE(headers.find("\nContent-Length: " + std::to_string(request.size()) + "\n"),
            std::string::npos);
  EXPECT_EQ(headers.find("Expect:"), std::string::npos) << headers;
  // The service parsed the document itself: the report is malformed XML on
  // purpose (quotes inside an attribute), so it is rejected for that.
  EXPECT_FALSE(out.result);
  EXPECT_TRUE(out.last_error.starts_with(
      "EL WEBSERVICE HA RECHAZADO LA PETICION. DOCUMENTO NO ES XML VALIDO"))
      << out.last_error;
  EXPECT_EQ(out.answer_code, "1");
}

TEST_F(ConsumirWebServiceTest, NothingIsSentForAnEmptyDocumentOrABadMethod) {
  const int before = service_->Received();
  struct Case {
    std::string document;
    std::string method;
    std::string message;
  } cases[] = {
      {"", "RecibeDocumento", "NO SE HA ENVIADO UN DOCUMENTO XML CORRECTO"},
      {"", "", "NO SE HA ENVIADO UN DOCUMENTO XML CORRECTO"},
      {kDocument, "", "IMPOSIBLE GENERAR XML PARA ENVIO"},
      {kDocument, "Recibe Documento", "IMPOSIBLE GENERAR XML PARA ENVIO"},
      {kDocument, "Recibe<Documento", "IMPOSIBLE GENERAR XML PARA ENVIO"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.method);
    CallOutcome out = Call(c.document, service_->Url(), c.method);
    EXPECT_FALSE(out.result);
    EXPECT_EQ(out.last_error, c.message);
    EXPECT_EQ(out.answer_code, kUnchanged);
  }
  EXPECT_EQ(service_->Received(), before);
}

TEST_F(ConsumirWebServiceTest, DocumentXmlCannotCarryEndsInTheTrapBeforeAnythingIsSent) {
  const int before = service_->Received();
  struct Case {
    std::string document;
    const char* description;
  } cases[] = {
      {std::string("<D a='1'>x\0y</D>", 15),
       "the report document holds a NUL character at offset 10, which XML cannot carry"},
      {"<D>\x1B[0m</D>",
       "the report document holds the control character U+001B at offset 3, which XML 1.0 "
       "cannot carry"},
      {"<D>\x0C</D>",
       "the report document holds the control character U+000C at offset 3, which XML 1.0 "
       "cannot carry"},
      {"<D>Jos\xE9</D>",
       "the report document is not UTF-8: the byte 0xE9 at offset 6 does not begin a valid "
       "sequence"},
      {"<D>\xC3\xA9\xC0\xAF</D>",  // an overlong '/'
       "the report document is not UTF-8: the byte 0xC0 at offset 5 does not begin a valid "
       "sequence"},
      {"<D>\xED\xA0\x80</D>",  // a UTF-16 surrogate
       "the report document is not UTF-8: the byte 0xED at offset 3 does not begin a valid "
       "sequence"},
      {"<D>\xEF\xBF\xBF</D>",
       "the report document holds the non-character U+FFFF at offset 3, which XML 1.0 cannot "
       "carry"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.description);
    CallOutcome out = Call(c.document, service_->Url());
    EXPECT_FALSE(out.result);
    EXPECT_EQ(out.last_error, std::string(kTrap) + c.description);
    EXPECT_EQ(out.answer_code, kUnchanged);
  }
  EXPECT_EQ(service_->Received(), before);
}

TEST_F(ConsumirWebServiceTest, AnswerPastTheDeadlineOrTheSizeCapEndsInTheTrap) {
  // The job's limits are 5 minutes and 64 MiB; the same checks with limits
  // a test can wait for.
  const HttpLimits limits{std::chrono::seconds(2), 100000};
  struct Case {
    const char* mode;
    const char* description;
  } cases[] = {
      {"drip 1000", "the exchange exceeded 2 seconds and was abandoned"},
      {"huge 1000000000", "the answer exceeded 100000 bytes and was abandoned"},
      {"huge-chunked 1000000000", "the answer exceeded 100000 bytes and was abandoned"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    service_->SetMode(c.mode);
    RunState run;
    std::string code = kUnchanged;
    const auto start = std::chrono::steady_clock::now();
    const bool result = Consumir_WebService(run, kDocument, service_->Url(), "RecibeDocumento",
                                            code, ServiceNamespace, limits);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
    EXPECT_FALSE(result);
    EXPECT_EQ(run.LastErrorText, std::string(kTrap) + c.description);
    EXPECT_EQ(code, kUnchanged);
  }
  service_->SetMode("accept");
}

TEST_F(ConsumirWebServiceTest, WrongPathIsNotFound) {
  const std::string url = "http://127.0.0.1:" + std::to_string(service_->port()) + "/otro.asmx";
  CallOutcome out = Call(kDocument, url);
  EXPECT_FALSE(out.result);
  EXPECT_EQ(out.last_error, "NO SE ENCONTRO EL SITIO: " + url);
}

TEST_F(ConsumirWebServiceTest, TransportFailuresEndInTheTrap) {
  struct Case {
    std::string url;
    std::string description;
  } cases[] = {
      {"http://127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort()) + "/update/update.asmx",
       "Couldn't connect to server"},
      {"http://quorvex-central.invalid/update/update.asmx", "Couldn't resolve host name"},
      {"no es una url", "URL using bad/illegal format"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    CallOutcome out = Call(kDocument, c.url);
    EXPECT_FALSE(out.result);
    EXPECT_TRUE(out.last_error.starts_with(std::string(kTrap) + c.description)) << out.last_error;
    EXPECT_EQ(out.answer_code, kUnchanged);
  }
}

TEST(ConsumirWebServiceHttpsTest, UntrustedCertificateEndsInTheTrapBeforeAnythingIsSent) {
  TempDir dir;
  const std::string cert = dir.path() + "/cert.pem";
  const std::string key = dir.path() + "/key.pem";
  const std::string command =
      "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1"
      " -addext subjectAltName=IP:127.0.0.1 -keyout " +
      key + " -out " + cert + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(command.c_str()), 0);
  CentralService service({"--cert", cert, "--key", key});

  RunState run;
  std::string code = kUnchanged;
  const bool result = Consumir_WebService(run, kDocument, service.Url("https"), "RecibeDocumento",
                                          code, ServiceNamespace);
  EXPECT_FALSE(result);
  EXPECT_TRUE(run.LastErrorText.starts_with(kTrap)) << run.LastErrorText;
  EXPECT_NE(run.LastErrorText.find("certificate"), std::string::npos) << run.LastErrorText;
  EXPECT_EQ(code, kUnchanged);
  EXPECT_EQ(service.Received(), 0);
}

}  // namespace
}  // namespace quorvex
