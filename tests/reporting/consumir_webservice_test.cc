// Consumir_WebService against the reference central service over loopback:
// the request as the service receives it, and every way the call can end.
#include <gtest/gtest.h>

#include <string>

#include "central_service_fixture.h"
#include "reporting/modulo.h"

namespace quorvex {
namespace {

constexpr char kNamespace[] = "http://central.quorvex.example/";
constexpr char kTrap[] =
    "Funciones - Consumir_WebService(). NO FUE POSIBLE CONSUMIR EL WEBSERVICE. ";
constexpr char kKept[] = "sin-cambio";
const std::string kDocument =
    "<Documento Tipo='TRANSACCION-USO'><Transacciones><T/></Transacciones></Documento>";

class ConsumirWebServiceTest : public ::testing::Test {
 protected:
  testing::CentralService service_;
};

TEST_F(ConsumirWebServiceTest, ServiceReceivesTheEnvelopeHeadersAndDocumentExactly) {
  const std::string document =
      "<Documento Tipo='X' > \r\n  <O  N=\"O'Neil \"el\" <j> & a\tb\xC3\xB1\" "
      "/>\r\n</Documento>\r\n";
  std::string code = kKept;
  RunState run;
  Consumir_WebService(run, document, service_.Url(), "RecibeDocumento", code, kNamespace);
  EXPECT_EQ(service_.Record(1, ".xml"), document);
  EXPECT_EQ(service_.Record(1, ".request"),
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><soap:Envelope"
            " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
            " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
            " xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\"><soap:Body>"
            "<RecibeDocumento xmlns=\"http://central.quorvex.example/\"><DOCUMENTO>"
            "&lt;Documento Tipo='X' &gt; &#13;\n  &lt;O  N=\"O'Neil \"el\" &lt;j&gt; &amp; "
            "a\tb\xC3\xB1\" "
            "/&gt;&#13;\n&lt;/Documento&gt;&#13;\n</DOCUMENTO></RecibeDocumento></soap:Body></"
            "soap:Envelope>");
  const std::string headers = service_.Record(1, ".headers");
  EXPECT_TRUE(headers.starts_with("POST /update/update.asmx HTTP/1.1\n")) << headers;
  EXPECT_NE(headers.find("\nContent-Type: text/xml; charset=utf-8\n"), std::string::npos);
  EXPECT_NE(headers.find("\nSOAPAction: http://central.quorvex.example/RecibeDocumento\n"),
            std::string::npos)
      << headers;
}

// Each row: the answer mode ("" when nothing may be sent), what the call
// must leave and return, what it sends and where (the service when no
// address is given). "{raw}" stands for the whole body of the answer; a
// last_error ending in "..." is followed by a description.
struct Case {
  std::string mode;
  std::string last_error;
  std::string code = kKept;
  bool ok = false;
  std::string document = kDocument;
  std::string method = "RecibeDocumento";
  std::string address = "";
};

// text inside depth nested elements.
std::string Nested(int depth, const std::string& text) {
  std::string out;
  for (int i = 0; i < depth; ++i) out += "<a>";
  out += text;
  for (int i = 0; i < depth; ++i) out += "</a>";
  return out;
}

TEST_F(ConsumirWebServiceTest, JudgesEveryWayTheCallEnds) {
  const std::string trap = kTrap, url = service_.Url();
  const std::string envelope =
      "status 200\n<soap:Envelope xmlns:soap=\"http://schemas.xmlsoap.org/soap/envelope/\">"
      "<soap:Body><RecibeDocumentoResponse><RecibeDocumentoResult>";
  const std::string envelope_end =
      "</RecibeDocumentoResult></RecibeDocumentoResponse></soap:Body>"
      "</soap:Envelope>";
  const Case cases[] = {
      // clang-format off
      {"accept", "DOCUMENTO TRANSACCION-USO RECIBIDO CON 1 RENGLONES", "0", true},
      {"", "NO SE HA ENVIADO UN DOCUMENTO XML CORRECTO", kKept, false, ""},
      {"", "IMPOSIBLE GENERAR XML PARA ENVIO", kKept, false, kDocument, ""},
      {"", "IMPOSIBLE GENERAR XML PARA ENVIO", kKept, false, kDocument, "Recibe Documento"},
      {"status 404\n<html>No existe</html>", "NO SE ENCONTRO EL SITIO: " + url},
      {"empty", "EL SERVIDOR " + url + ", NO RESPONDE"},
      {"blank", "EL SERVIDOR " + url + ", NO RESPONDE"},
      {"status 500\n    ", "EL SERVIDOR " + url + ", NO RESPONDE"},
      {"status 500\n\r\n", trap + "..."},  // a line break is content
      {"status 500\n\t", trap + "..."},     // and so is a tab
      {"fault\nFalla & grave", "Internal Server Error. Falla & grave"},
      {"fault\n ", "Internal Server Error.  "},
      {"status 503\nEN MANTENIMIENTO\r\n", "Service Unavailable. EN MANTENIMIENTO\r\n"},
      // A redirect is an answer, not followed (a GET of the path is recorded too).
      {"status 302 location=/update/update.asmx\n<p>movido</p>", "Found. <p>movido</p>"},
      {"status 307 location=/update/update.asmx once\nx", "Temporary Redirect. x"},
      {"no-result", trap + "..."},
      {"empty-result", "EL WEBSERVICE " + url + ", NO REGRESO NINGUN TIPO DE RESPUESTA"},
      {"not-xml", "EL WEBSERVICE " + url + ", RESPONDIO INCORRECTAMENTE. {raw}"},
      {"result\n   ", "EL WEBSERVICE " + url + ", RESPONDIO INCORRECTAMENTE. {raw}"},
      {"no-attributes", trap + "..."},
      {"result\n<Respuesta E=\"A\"><Mensaje>sin codigo</Mensaje></Respuesta>", trap + "..."},
      {"code-first", "CODIGO PRIMERO", "7", true},
      {"rechazado-lower", "EL WEBSERVICE HA RECHAZADO LA PETICION. MINUSCULAS", "3"},
      {"rechazado-blank", "CON BLANCO", "4", true},
      {"result\n<Respuesta E=\"RecHazado\"><Mensaje C=\"9\">no &amp; no</Mensaje></Respuesta>",
       "EL WEBSERVICE HA RECHAZADO LA PETICION. no & no", "9"},
      {"result\n<Respuesta E=\"A\"><Mensaje C=\"5\">  </Mensaje></Respuesta>", "  ", "5", true},
      {"partial", "IMPOSIBLE ESTABLECER CONEXION CON LA URL: " + url},
      {"refuse", trap + "..."},
      // The test's limits are 2 seconds and 4000000 bytes.
      {"drip 1000", trap + "the exchange exceeded 2 seconds and was abandoned"},
      {"huge 1000000000", trap + "the answer exceeded 4000000 bytes and was abandoned"},
      {"huge-chunked 1000000000", trap + "the answer exceeded 4000000 bytes and was abandoned"},
      {"huge-chunked 3999999", "GRANDE", "0", true},  // just within it, in blocks
      // Documents XML cannot carry: nothing is sent.
      {"", trap + "the report document holds a NUL character at offset 4, which XML cannot "
       "carry", kKept, false, std::string("<D>x\0</D>", 9)},
      {"", trap + "the report document holds the control character U+001B at offset 3, which "
       "XML 1.0 cannot carry", kKept, false, "<D>\x1B[0m</D>"},
      {"", trap + "the report document is not UTF-8: the byte 0xE9 at offset 6 does not begin "
       "a valid sequence", kKept, false, "<D>Jos\xE9</D>"},
      // About 1 MB of answer, 150,000 elements deep: in the envelope, then in
      // the answer document. Text before and after the deepest element, and
      // an attribute written twice after it: a walk must climb all the way.
      {envelope + "&lt;Respuesta E='A'&gt;" + Nested(150000, "&lt;Mensaje C='6'&gt;hondo&lt;/"
       "Mensaje&gt;") + "&lt;/Respuesta&gt;" + envelope_end, "hondo", "6", true},
      {"result\n<Respuesta E=\"A\"><Mensaje C=\"5\">muy" + Nested(150000, " hondo") +
       " y de vuelta</Mensaje></Respuesta>", "muy hondo y de vuelta", "5", true},
      {"result\n<Respuesta E=\"A\"><Mensaje C=\"5\">" + Nested(150000, "hondo") +
       "<b c='1' c='2'/></Mensaje></Respuesta>", "EL WEBSERVICE " + url +
       ", RESPONDIO INCORRECTAMENTE. {raw}"},
      // An attribute written twice makes a document that is not XML.
      {"result\n<Respuesta Estado=\"ACEPTADO\" Estado=\"RECHAZADO\"><Mensaje Codigo=\"0\">"
       "OK</Mensaje></Respuesta>", "EL WEBSERVICE " + url + ", RESPONDIO INCORRECTAMENTE. {raw}"},
      {envelope + "&lt;Respuesta E='A'&gt;&lt;Mensaje C='1' C='2'&gt;OK&lt;/Mensaje&gt;"
       "&lt;/Respuesta&gt;" + envelope_end,
       "EL WEBSERVICE " + url + ", RESPONDIO INCORRECTAMENTE. {raw}"},
      {"status 200\n<soap:Envelope xmlns:soap='x' xmlns:soap='y'/>", trap + "the response is not "
       "well-formed XML: attribute xmlns:soap repeated in element soap:Envelope at offset 1"},
      // Addresses of other schemes: nothing is sent.
      {"", trap + "the address file:///some/fifo is neither http:// nor https://; nothing was sent",
       kKept, false, kDocument, "RecibeDocumento", "file:///some/fifo"},
      {"", trap + "the address ftp://127.0.0.1/x is neither http:// nor https://; nothing was sent",
       kKept, false, kDocument, "RecibeDocumento", "ftp://127.0.0.1/x"},
      {"", trap + "the address gopher://127.0.0.1/ is neither http:// nor https://; nothing was "
       "sent", kKept, false, kDocument, "RecibeDocumento", "gopher://127.0.0.1/"},
      // The same usage report as earlier rows: accepted, and not counted again.
      {"accept", "DOCUMENTO TRANSACCION-USO YA RECIBIDO EN LA PETICION ...", "0", true, kDocument,
       "RecibeDocumento", "HTTP://127.0.0.1:" + std::to_string(service_.port()) +
       "/update/update.asmx"},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode.substr(0, 80) + " " + c.last_error);
    if (!c.mode.empty()) service_.SetMode(c.mode);
    const int before = service_.Received();
    RunState run;
    std::string code = kKept;
    const bool ok =
        Consumir_WebService(run, c.document, c.address.empty() ? url : c.address, c.method, code,
                            kNamespace, HttpLimits{std::chrono::seconds(2), 4000000});
    EXPECT_EQ(service_.Received() - before, c.mode.empty() ? 0 : 1);
    std::string expected = c.last_error;
    if (std::size_t at = expected.find("{raw}"); at != std::string::npos) {
      expected.replace(at, 5,
                       httplib::Client("127.0.0.1", service_.port())
                           .Post("/update/update.asmx", {{"SOAPAction", "x"}}, "", "text/xml")
                           ->body);
    }
    const bool prefix = expected.ends_with("...");
    if (prefix) expected.resize(expected.size() - 3);
    EXPECT_EQ(prefix ? run.LastErrorText.substr(0, expected.size()) : run.LastErrorText, expected);
    EXPECT_EQ(ok, c.ok);
    EXPECT_EQ(code, c.code);
    service_.SetMode("accept");
  }
}

}  // namespace
}  // namespace quorvex
