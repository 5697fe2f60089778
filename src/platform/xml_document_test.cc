#include "platform/xml_document.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvex {
namespace {

TEST(XmlDocumentTest, AcceptsOnlyOneRootWithMarkupAround) {
  XmlDocument doc;
  for (const char* good : {"<a/>", "<?xml version=\"1.0\"?>\n<a/>\n", "<!-- c --><a>t</a><?p?>"}) {
    EXPECT_TRUE(doc.LoadXml(good)) << good;
  }
  for (const char* bad : {"", "   ", "ESTO NO ES XML", "abc<a/>", "<a/>abc", "<a/><b/>", "<a>",
                          "<a><b></a>", "<![CDATA[x]]><a/>", "<?xml version=\"1.0\"?>"}) {
    EXPECT_FALSE(doc.LoadXml(bad)) << bad;
    EXPECT_FALSE(doc.ParseError().empty()) << bad;
    EXPECT_FALSE(doc.DocumentElement()) << bad;
  }
}

TEST(XmlDocumentTest, SelectsByNamesAsWritten) {
  XmlDocument doc;
  ASSERT_TRUE(
      doc.LoadXml("<soap:Envelope xmlns:soap=\"urn:s\" xmlns:x=\"urn:s\">"
                  "<soap:Body><M xmlns=\"urn:m\"><DOCUMENTO>uno</DOCUMENTO></M></soap:Body>"
                  "<x:Body><M><DOCUMENTO>otro</DOCUMENTO></M></x:Body>"
                  "<soap:Body><N/><N><Hoja>segundo</Hoja></N></soap:Body>"
                  "</soap:Envelope>"));
  // The default namespace plays no part; the prefix is matched as written.
  EXPECT_EQ(doc.SelectSingleNode("/soap:Envelope/soap:Body/M/DOCUMENTO").Text(), "uno");
  EXPECT_EQ(doc.SelectSingleNode("/soap:Envelope/x:Body/M/DOCUMENTO").Text(), "otro");
  EXPECT_FALSE(doc.SelectSingleNode("/soap:Envelope/Body/M/DOCUMENTO"));
  EXPECT_FALSE(doc.SelectSingleNode("/Envelope"));
  EXPECT_FALSE(doc.SelectSingleNode("soap:Envelope"));
  // The first match in document order, also below a later sibling.
  EXPECT_EQ(doc.SelectSingleNode("/soap:Envelope/soap:Body/N/Hoja").Text(), "segundo");
  EXPECT_EQ(doc.SelectSingleNode("/soap:Envelope").Name(), "soap:Envelope");
}

TEST(XmlDocumentTest, ReadsTextAndAttributesByPosition) {
  XmlDocument doc;
  ASSERT_TRUE(
      doc.LoadXml("<R Codigo=\"7\" Estado=\" RECHAZADO\" xmlns=\"urn:x\">"
                  "a&amp;b<i>c</i><![CDATA[<d>]]>&#13;</R>"));
  XmlNode r = doc.SelectSingleNode("/R");
  ASSERT_EQ(r.AttributeCount(), 3u);
  EXPECT_EQ(r.AttributeValue(0), "7");
  EXPECT_EQ(r.AttributeValue(1), " RECHAZADO");
  EXPECT_EQ(r.AttributeValue(2), "urn:x");
  EXPECT_EQ(r.Text(), "a&bc<d>\r");
}

TEST(XmlDocumentTest, SerializedTextSurvivesAParseByteForByte) {
  const std::string text =
      "<Documento Tipo='X' > \r\n <L>\r\n  <F a=\"\"&<\" />\r\n </Documento>\r";
  XmlDocument doc;
  ASSERT_TRUE(doc.LoadXml("<?xml version=\"1.0\" encoding=\"utf-8\"?><E><D>0</D></E>"));
  ASSERT_TRUE(doc.SelectSingleNode("/E/D").SetText(text));
  const std::string xml = doc.Xml();
  EXPECT_EQ(xml.find('\r'), std::string::npos);
  EXPECT_TRUE(xml.starts_with("<?xml version=\"1.0\" encoding=\"utf-8\"?><E><D>&lt;Documento"))
      << xml;

  XmlDocument back;
  ASSERT_TRUE(back.LoadXml(xml));
  EXPECT_EQ(back.SelectSingleNode("/E/D").Text(), text);
}

}  // namespace
}  // namespace quorvex
