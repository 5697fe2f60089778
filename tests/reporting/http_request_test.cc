// The HTTP request of the SOAP call against the reference service: how each
// way an exchange can end shows in the ready state, and the status line's
// reason phrase.
#include "platform/http_request.h"

#include <gtest/gtest.h>

#include <string>

#include "central_service_fixture.h"
#include "job/run_state.h"

namespace quorvex {
namespace {

using testing::CentralService;

class HttpRequestTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { service_ = new CentralService(); }
  static void TearDownTestSuite() {
    delete service_;
    service_ = nullptr;
  }
  static CentralService* service_;
};

CentralService* HttpRequestTest::service_ = nullptr;

void Post(HttpRequest& http, const std::string& url) {
  http.Open("POST", url);
  http.SetRequestHeader("Content-Type", "text/xml; charset=utf-8");
  http.SetRequestHeader("SOAPAction", std::string(ServiceNamespace) + "RecibeDocumento");
  http.Send("<x/>");
}

TEST_F(HttpRequestTest, CompletedExchangesGiveStatusReasonAndBody) {
  struct Case {
    const char* mode;
    long status;
    const char* reason;
    const char* body;
  } cases[] = {
      {"status 503\nfuera de servicio", 503, "Service Unavailable", "fuera de servicio"},
      {"status 404", 404, "Not Found", ""},
      {"status 200\n\r\n", 200, "OK", "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    service_->SetMode(c.mode);
    HttpRequest http;
    Post(http, service_->Url());
    EXPECT_EQ(http.ReadyState(), HttpRequest::kCompleted);
    EXPECT_EQ(http.Status(), c.status);
    EXPECT_EQ(http.StatusText(), c.reason);
    EXPECT_EQ(http.ResponseText(), c.body);
  }
  service_->SetMode("accept");
}

TEST_F(HttpRequestTest, ResponseThatStartedButDidNotCompleteIsNotAnError) {
  // Closed in the middle of the body, and stalled after half the body for
  // longer than the stall limit (libcurl notices a few seconds after the
  // limit, as it averages the speed).
  for (const char* mode : {"partial", "stall 10000"}) {
    SCOPED_TRACE(mode);
    service_->SetMode(mode);
    HttpRequest http;
    http.Open("POST", service_->Url());
    http.SetStallTimeout(std::chrono::seconds(1));
    http.SetRequestHeader("SOAPAction", std::string(ServiceNamespace) + "RecibeDocumento");
    http.Send("<x/>");
    EXPECT_EQ(http.ReadyState(), HttpRequest::kReceiving);
    EXPECT_EQ(http.Status(), 200);
    EXPECT_FALSE(http.ResponseText().empty());
  }
  service_->SetMode("accept");
}

TEST_F(HttpRequestTest, NoResponseAtAllThrows) {
  service_->SetMode("refuse");
  HttpRequest http;
  try {
    Post(http, service_->Url());
    ADD_FAILURE() << "no error";
  } catch (const HttpError& e) {
    EXPECT_TRUE(std::string(e.what()).starts_with("Server returned nothing")) << e.what();
  }
  EXPECT_EQ(http.Status(), 0);
  service_->SetMode("accept");
}

}  // namespace
}  // namespace quorvex
