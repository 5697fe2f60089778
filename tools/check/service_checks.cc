// The central service, one step at a time: the address in effect, its
// name, a TCP connection, and an HTTP request that changes nothing. The
// job's report goes by POST; the check sends one GET, whose answer, of any
// status, shows the way is open.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <exception>
#include <string>

#include "configuration_check.h"
#include "job/principal.h"
#include "platform/http_request.h"
#include "platform/tcp_connection.h"
#include "util/string_util.h"

namespace quorvex {
namespace {

struct ServiceUrl {
  std::string scheme;  // lower case
  std::string host;    // without the brackets of an IPv6 address
  std::string port;
};

// The scheme, host and port of an absolute URL; the port is the scheme's
// own (80, 443) when the URL names none.
ServiceUrl SplitUrl(const std::string& url) {
  ServiceUrl parts;
  const std::size_t colon = url.find("://");
  if (colon == std::string::npos) return parts;
  for (char c : url.substr(0, colon)) parts.scheme += static_cast<char>(std::tolower(c));
  std::string authority = url.substr(colon + 3, url.find_first_of("/?#", colon + 3) - colon - 3);
  authority.erase(0, authority.rfind('@') + 1);  // user information, if any
  std::size_t port_at = authority.rfind(':');
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    parts.host = authority.substr(1, close - 1);
    port_at =
        close != std::string::npos && close + 1 < authority.size() ? close + 1 : std::string::npos;
  } else {
    parts.host = authority.substr(0, port_at);
  }
  parts.port = port_at != std::string::npos ? authority.substr(port_at + 1) : "";
  if (parts.port.empty()) parts.port = parts.scheme == "https" ? "443" : "80";
  return parts;
}

std::string Joined(const std::vector<std::string>& items) {
  std::string text;
  for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
  return text;
}

}  // namespace

void ConfigurationCheck::CheckService() {
  if (!run_.DbConnection) {
    findings_.Warn("central service",
                   "not checked: its address is read from the database, which did not open",
                   "Fix the failures above, then run the check again.");
    return;
  }
  // A row that is there is corrected; a second one would only add to it.
  const std::string address = "'<the service's http:// or https:// address>'";
  const std::string fix_address =
      ServiceAddressRows() > 0
          ? "Correct the installation's service address in Configuracion: UPDATE Configuracion "
            "SET Cf_Valor = " +
                address + " WHERE Cf_Variable = 'GEN_WEBSERVICE_UPDATE_URL'."
          : "Name the installation's service in Configuracion: INSERT INTO Configuracion "
            "(Cf_Variable, Cf_Valor) VALUES ('GEN_WEBSERVICE_UPDATE_URL', " +
                address + ").";
  try {
    LocateWebService(run_);
  } catch (const std::exception& e) {
    findings_.Fail("service address", std::string("cannot be read from Configuracion: ") + e.what(),
                   fix_address);
    return;
  }
  const std::string& url = run_.WebServiceUrl;
  const std::string source = url == kDefaultWebServiceUrl
                                 ? " (the default: Configuracion names none)"
                                 : " (from Configuracion)";
  const ServiceUrl parts = SplitUrl(url);
  if (parts.scheme != "http" && parts.scheme != "https") {
    findings_.Fail("service address",
                   url + source + " is neither http:// nor https://, so the job sends nothing",
                   fix_address);
    return;
  }
  // A name under .example is reserved never to resolve; nobody is asked.
  const std::string host = AsciiUpperCase(parts.host);
  if (host == "EXAMPLE" || (host.size() > 8 && host.ends_with(".EXAMPLE"))) {
    findings_.Fail("service address",
                   url + source + ": its .example host never resolves, so no report can arrive",
                   fix_address);
    return;
  }
  findings_.Ok("service address", url + source);

  try {
    findings_.Ok("service name",
                 parts.host + " resolves to " + Joined(ResolveTcpHost(parts.host, parts.port)));
  } catch (const std::exception& e) {
    findings_.Fail("service name", parts.host + " does not resolve: " + e.what(),
                   "Correct the host in GEN_WEBSERVICE_UPDATE_URL, or this machine's name "
                   "resolution (DNS, hosts file).");
    return;
  }

  const auto left = run_.Deadline.Left();
  try {
    const std::string address =
        ConnectTcp(parts.host, parts.port,
                   std::min<std::chrono::milliseconds>(HttpRequest::kConnectTimeout, left));
    findings_.Ok("service connection",
                 "a TCP connection to " + address + " port " + parts.port + " opened");
  } catch (const std::exception& e) {
    findings_.Fail("service connection",
                   "no TCP connection to " + parts.host + " port " + parts.port + ": " + e.what(),
                   "Check that the service listens there and that no firewall blocks the way.");
    return;
  }

  const bool tls = parts.scheme == "https";
  try {
    HttpRequest request;
    request.Open("GET", url);
    HttpLimits limits;
    limits.deadline = std::max(
        std::chrono::seconds(1),
        std::min(limits.deadline, std::chrono::floor<std::chrono::seconds>(run_.Deadline.Left())));
    request.SetLimits(limits);
    request.Send({});
    if (tls) findings_.Ok("service TLS", "the handshake succeeded and the certificate is trusted");
    findings_.Ok("service answer", "GET " + url + " was answered with HTTP " +
                                       std::to_string(request.Status()) + " " +
                                       request.StatusText() + ": the service can be reached");
  } catch (const std::exception& e) {
    if (tls) {
      findings_.Fail("service TLS",
                     std::string("the handshake or the exchange after it failed: ") + e.what(),
                     "Check that the service answers HTTPS there with a certificate for " +
                         parts.host + " from an authority this machine trusts.");
    } else {
      findings_.Fail("service answer", "GET " + url + " got no answer: " + e.what(),
                     "Check that an HTTP service answers at that address.");
    }
  }
}

}  // namespace quorvex
