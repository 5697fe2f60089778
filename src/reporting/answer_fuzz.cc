// Fuzz target for the reading of the central web service's answers: the
// envelope, the result text in it and the Respuesta document that text
// holds, each input read as the body of a 200 and of a 500 answer. Also the
// request body: for a text XML can carry, XmlWithText gives exactly the
// bytes SetText and Xml give.
//
// Checked for every input: no crash, no other exception than the call's own
// errors and running out of memory, and only a 200 answer is accepted.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>

#include "text/xml_document.h"
#include "reporting/soap_answer.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  for (const long status : {200L, 500L}) {
    std::string last_error, answer_code;
    try {
      const bool accepted = quorvex::ReadSoapAnswer(status, "Status", input, "http://x/", "M",
                                                    last_error, answer_code);
      Check(!accepted || status == 200);
    } catch (const quorvex::SoapCallError&) {
    } catch (const std::bad_alloc&) {
    }
  }

  if (quorvex::XmlTextProblem(input).empty()) {
    quorvex::XmlDocument request;
    Check(request.LoadXml("<a><b>0</b></a>"));
    quorvex::XmlNode b = request.SelectSingleNode("/a/b");
    const std::string spliced = request.XmlWithText(b, input);
    Check(b.SetText(input));
    Check(spliced == request.Xml());
  }
  return 0;
}
