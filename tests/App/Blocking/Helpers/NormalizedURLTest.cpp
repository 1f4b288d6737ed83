#include <gtest/gtest.h>

#include <string>

#include "App/Blocking/Helpers/NormalizedURL.h"

namespace zelto {
namespace {

struct Parsed {
  std::string input;
  std::string host;
  int port;
  bool ipLiteral;
  std::string target;
  std::string decision;
};

void expectParsed(const Result<NormalizedURL>& url, const Parsed& want) {
  ASSERT_TRUE(url.ok()) << want.input << ": " << url.status().message();
  EXPECT_EQ(url->host(), want.host) << want.input;
  EXPECT_EQ(url->port(), want.port) << want.input;
  EXPECT_EQ(url->isIpLiteral(), want.ipLiteral) << want.input;
  EXPECT_EQ(url->requestTarget(), want.target) << want.input;
  EXPECT_EQ(url->decisionURL(), want.decision) << want.input;
  // The decision URL is scheme, "://", authority(), path: its authority is the Host field's.
  EXPECT_EQ(url->decisionURL().substr(0, url->decisionURL().find('/', url->scheme().size() + 3)),
            url->scheme() + "://" + url->authority())
      << want.input;
}

TEST(NormalizedURLTest, SpellingsOfOneAddressDecideAlike) {
  const Parsed cases[] = {
      {"HTTP://User:pw@Bücher.Test.:80//a/./b/%66oo?x#f", "xn--bcher-kva.test", 80, false,
       "//a/./b/%66oo?x", "http://xn--bcher-kva.test/a/b/foo?x"},
      // Userinfo is dropped: the host after "@" is the one connected to and decided.
      {"http://allowed.test@blocked.test/", "blocked.test", 80, false, "/", "http://blocked.test/"},
      {"http://Blocked.TEST../a", "blocked.test", 80, false, "/a", "http://blocked.test/a"},
      {"http://blocked%2Etest/", "blocked.test", 80, false, "/", "http://blocked.test/"},
      // Paths: repeated slashes, dot segments (escaped too), backslashes.
      {"http://blocked.test//forbidden", "blocked.test", 80, false, "//forbidden",
       "http://blocked.test/forbidden"},
      {"http://blocked.test/./forbidden", "blocked.test", 80, false, "/./forbidden",
       "http://blocked.test/forbidden"},
      {"http://b.test/a/../../forbidden", "b.test", 80, false, "/a/../../forbidden",
       "http://b.test/forbidden"},
      {"http://b.test/a/%2e%2E/x/.", "b.test", 80, false, "/a/%2e%2E/x/.", "http://b.test/x/"},
      {"http://b.test/a//b/..//", "b.test", 80, false, "/a//b/..//", "http://b.test/a/"},
      {"http://b.test/a/..", "b.test", 80, false, "/a/..", "http://b.test/"},
      {"http://b.test/x\\..\\forbidden", "b.test", 80, false, "/x\\..\\forbidden",
       "http://b.test/forbidden"},
      // Escapes: unreserved characters decoded, others kept with upper-case digits.
      {"http://b.test/%66orbidden%7e%41", "b.test", 80, false, "/%66orbidden%7e%41",
       "http://b.test/forbidden~A"},
      {"http://b.test/a%2fb/%2F../c%3f", "b.test", 80, false, "/a%2fb/%2F../c%3f",
       "http://b.test/a%2Fb/%2F../c%3F"},
      {"http://b.test/100%/%zz", "b.test", 80, false, "/100%/%zz", "http://b.test/100%/%zz"},
      {"http://b.test/über", "b.test", 80, false, "/über", "http://b.test/%C3%BCber"},
      // The query as sent, the fragment never; an empty path is "/".
      {"http://b.test/a/./b?q=./%41ü#f?x", "b.test", 80, false, "/a/./b?q=./%41ü",
       "http://b.test/a/b?q=./%41ü"},
      {"http://b.test?q", "b.test", 80, false, "/?q", "http://b.test/?q"},
      {"http://b.test#f", "b.test", 80, false, "/", "http://b.test/"},
      {"http://b.test/?", "b.test", 80, false, "/?", "http://b.test/?"},
      {"http://b.test/a|b[1]?c={x}^`", "b.test", 80, false, "/a|b[1]?c={x}^`",
       "http://b.test/a|b[1]?c={x}^`"},
      // Ports: the default one left out, however written; websockets read as http(s).
      {"https://b.test:443/", "b.test", 443, false, "/", "https://b.test/"},
      {"http://b.test:0080/", "b.test", 80, false, "/", "http://b.test/"},
      {"http://b.test:/", "b.test", 80, false, "/", "http://b.test/"},
      {"http://b.test:443/", "b.test", 443, false, "/", "http://b.test:443/"},
      {"https://b.test:65535/", "b.test", 65535, false, "/", "https://b.test:65535/"},
      {"WS://b.test/s", "b.test", 80, false, "/s", "http://b.test/s"},
      {"wss://b.test:443/s", "b.test", 443, false, "/s", "https://b.test/s"},
      // International names: UTS #46 non-transitional ("ß" stays, as "xn--fa-hia").
      {"http://faß.de/", "xn--fa-hia.de", 80, false, "/", "http://xn--fa-hia.de/"},
      {"http://b%C3%BCcher.test/", "xn--bcher-kva.test", 80, false, "/",
       "http://xn--bcher-kva.test/"},
      {"http://XN--BCHER-KVA.test/", "xn--bcher-kva.test", 80, false, "/",
       "http://xn--bcher-kva.test/"},
      {"http://ｂｌｏｃｋｅｄ。test/", "blocked.test", 80, false, "/", "http://blocked.test/"},
      {"http://a-.-b.test/", "a-.-b.test", 80, false, "/", "http://a-.-b.test/"},
      // IPv4 addresses in every form browsers read.
      {"http://192.0.2.2/", "192.0.2.2", 80, true, "/", "http://192.0.2.2/"},
      {"http://3221225986/", "192.0.2.2", 80, true, "/", "http://192.0.2.2/"},
      {"http://0xc0.0.2.2/", "192.0.2.2", 80, true, "/", "http://192.0.2.2/"},
      {"http://0300.0.2.2/", "192.0.2.2", 80, true, "/", "http://192.0.2.2/"},
      {"http://192.0.514/", "192.0.2.2", 80, true, "/", "http://192.0.2.2/"},
      {"http://192.11010306:8080/", "192.168.1.2", 8080, true, "/", "http://192.168.1.2:8080/"},
      {"http://0XC0000202./", "192.0.2.2", 80, true, "/", "http://192.0.2.2/"},
      {"http://0x/", "0.0.0.0", 80, true, "/", "http://0.0.0.0/"},
      {"http://１９２．０．２．２/", "192.0.2.2", 80, true, "/", "http://192.0.2.2/"},
      {"http://0x1g.test/", "0x1g.test", 80, false, "/", "http://0x1g.test/"},
      // IPv6: canonical text, the first longest run of zeros compressed, brackets only in
      // the authority.
      {"http://[2001:DB8:0:0:0:0:0:1]/", "2001:db8::1", 80, true, "/", "http://[2001:db8::1]/"},
      {"http://[::ffff:192.0.2.1]:8080/p", "192.0.2.1", 8080, true, "/p",
       "http://192.0.2.1:8080/p"},
      {"http://[1:0:0:2:0:0:3:4]/", "1::2:0:0:3:4", 80, true, "/", "http://[1::2:0:0:3:4]/"},
      {"http://[1:0:0:0:0:0:0:0]/", "1::", 80, true, "/", "http://[1::]/"},
      {"http://[0:0:0:0:0:0:0:0]/", "::", 80, true, "/", "http://[::]/"},
      {"http://[1:2:3:4:5:6:0:8]/", "1:2:3:4:5:6:0:8", 80, true, "/", "http://[1:2:3:4:5:6:0:8]/"},
  };
  for (const Parsed& c : cases) expectParsed(NormalizedURL::parse(c.input), c);
}

struct Rejected {
  std::string input;
  std::string message;  // what the reason begins with; the input follows, quoted
};

void expectRejected(const Result<NormalizedURL>& url, const Rejected& want) {
  ASSERT_FALSE(url.ok()) << want.input << " gave " << url->decisionURL();
  EXPECT_TRUE(url.status().message().starts_with(want.message))
      << want.input << ": " << url.status().message();
}

TEST(NormalizedURLTest, BadInputFailsNamingItAndTheCause) {
  const Rejected cases[] = {
      {"ftp://b.test/", "not an http or https URL: \"ftp://b.test/\""},
      {"http:/b.test/", "not an http or https URL: \"http:/b.test/\""},
      {"b.test/x", "not an http or https URL: \"b.test/x\""},
      {"", "not an http or https URL: \"\""},
      {"http://b.test/a b", "space or control byte at byte 15 of URL: \"http://b.test/a b\""},
      {"http://b.test/\x7f", "space or control byte at byte 14 of URL: \"http://b.test/\\x7F\""},
      {std::string("http://b.test/\0", 15), "space or control byte at byte 14 of URL"},
      {"http://b.test/\r\nHost: evil", "space or control byte at byte 14"},
      {"http://b.test:0/", "bad port \"0\" in \"http://b.test:0/\": not from 1 to 65535"},
      {"http://b.test:65536/", "bad port \"65536\" in"},
      {"http://b.test:99999999999999999999/", "bad port \"99999999999999999999\" in"},
      {"http://b.test:8x/", "bad port in \"http://b.test:8x/\": \":8x\" after the host"},
      {"http://[::1]x/", "bad port in"},
      {"http:///x", "invalid host \"\" in \"http:///x\": empty host"},
      {"http://user@/", "invalid host \"\" in"},
      {"http://:80/", "invalid host \"\" in"},
      {"http://../", "invalid host \"..\" in \"http://../\": empty host"},
      {"http://blocked.test\\@allowed.test/",
       "invalid host in \"http://blocked.test\\\\@allowed.test/\": a backslash in the authority"},
      {"http://a@b@c.test/", "invalid host in \"http://a@b@c.test/\": malformed authority"},
      {"http://[v1.x]/", "invalid host in \"http://[v1.x]/\": an address of an unknown IP"},
      {"http://[::1/", "invalid host in"},
      {"http://[1:2:3:4:5:6:7:8:9]/", "invalid host in"},
      {"http://[fe80::1%25eth0]/", "invalid host in"},
      {"http://1.2.3.256/",
       "invalid host \"1.2.3.256\" in \"http://1.2.3.256/\": not a valid IPv4"},
      {"http://1.2.3.4.5/", "invalid host \"1.2.3.4.5\" in"},
      {"http://256.1.1/", "invalid host \"256.1.1\" in"},
      {"http://0x100000000/", "invalid host \"0x100000000\" in"},
      {"http://4294967296/", "invalid host \"4294967296\" in"},
      {"http://1..2/", "invalid host \"1..2\" in"},
      {"http://08.1/", "invalid host \"08.1\" in"},
      {"http://b.test.09/", "invalid host \"b.test.09\" in"},
      {"http://b.0x/", "invalid host \"b.0x\" in"},
      {"http://a%2Fb.test/", "invalid host \"a/b.test\" in"},
      {"http://a%25b.test/", "invalid host \"a%b.test\" in"},
      {"http://a<b.test/", "invalid host \"a<b.test\" in"},
      {"http://%FF.test/", "invalid host \"\xff.test\" in"},
      {"http://xn--a.test/", "invalid host \"xn--a.test\" in"},
      {"http://a\u200Db.test/", "invalid host \"a\u200Db.test\" in"},
      {"http://b.test/" + std::string(NormalizedURL::kMaxLength, 'a'), "URL too long ("},
  };
  for (const Rejected& c : cases) expectRejected(NormalizedURL::parse(c.input), c);
}

TEST(NormalizedURLTest, ConnectAuthoritiesAreDecidedAsHttps) {
  const Parsed cases[] = {
      {"blocked.test:443", "blocked.test", 443, false, "/", "https://blocked.test/"},
      {"Blocked.Test.:8443", "blocked.test", 8443, false, "/", "https://blocked.test:8443/"},
      {"blocked.test:80", "blocked.test", 80, false, "/", "https://blocked.test:80/"},
      {"bücher.test:443", "xn--bcher-kva.test", 443, false, "/", "https://xn--bcher-kva.test/"},
      {"3221225986:443", "192.0.2.2", 443, true, "/", "https://192.0.2.2/"},
      {"[2001:db8::0:1]:443", "2001:db8::1", 443, true, "/", "https://[2001:db8::1]/"},
  };
  for (const Parsed& c : cases) expectParsed(NormalizedURL::parseAuthority(c.input), c);

  const Rejected rejected[] = {
      {"blocked.test", "bad port in \"blocked.test\": a port is required"},
      {"blocked.test:", "bad port in \"blocked.test:\": a port is required"},
      {"[::1]", "bad port in"},
      {"blocked.test:0", "bad port \"0\" in"},
      {"blocked.test:http", "bad port in"},
      {"user@blocked.test:443", "invalid host in \"user@blocked.test:443\": user information"},
      {"blocked.test:443/x", "invalid host in \"blocked.test:443/x\": a path, query or fragment"},
      {"a.test:443#", "invalid host in"},
      {"", "invalid host: empty CONNECT authority"},
      {":443", "invalid host \"\" in"},
      {"b.test :443", "space or control byte at byte 6 of CONNECT authority"},
      {"1.2.3.999:443", "invalid host \"1.2.3.999\" in"},
  };
  for (const Rejected& c : rejected) expectRejected(NormalizedURL::parseAuthority(c.input), c);
}

TEST(NormalizedURLTest, WithHostNamesAnAddressByItsNames) {
  Result<NormalizedURL> address = NormalizedURL::parse("http://192.0.2.2:8080/a/../b?q#f");
  ASSERT_TRUE(address.ok());
  EXPECT_TRUE(address->isIpLiteral());

  struct Case {
    std::string host;
    std::string decision;
    bool ipLiteral;
  };
  const Case cases[] = {
      {"Blocked.Test.", "http://blocked.test:8080/b?q", false},
      {"bücher.test", "http://xn--bcher-kva.test:8080/b?q", false},
      {"2001:db8::1", "http://[2001:db8::1]:8080/b?q", true},
      {"[2001:db8::1]", "http://[2001:db8::1]:8080/b?q", true},
      {"0xc0.0.2.3", "http://192.0.2.3:8080/b?q", true},
      // Not a host (names may come from the network): the address stays.
      {"", "http://192.0.2.2:8080/b?q", true},
      {"a/b.test", "http://192.0.2.2:8080/b?q", true},
      {"a b.test", "http://192.0.2.2:8080/b?q", true},
      {"evil.test:80", "http://192.0.2.2:8080/b?q", true},
      {"user@evil.test", "http://192.0.2.2:8080/b?q", true},
      {"1.2.3.999", "http://192.0.2.2:8080/b?q", true},
  };
  for (const Case& c : cases) {
    NormalizedURL named = address->withHost(c.host);
    EXPECT_EQ(named.decisionURL(), c.decision) << c.host;
    EXPECT_EQ(named.isIpLiteral(), c.ipLiteral) << c.host;
    EXPECT_EQ(named.requestTarget(), "/a/../b?q") << c.host;
    EXPECT_EQ(named.port(), 8080) << c.host;
  }
}

TEST(NormalizedURLTest, DomainsToASCII) {
  EXPECT_EQ(NormalizedURL::domainToASCII("Bücher.Test").valueOr("-"), "xn--bcher-kva.test");
  EXPECT_EQ(NormalizedURL::domainToASCII("bücher").valueOr("-"), "xn--bcher-kva");
  // Labels as they are: empty ones and trailing dots kept, numbers not read as addresses.
  EXPECT_EQ(NormalizedURL::domainToASCII("a..b.").valueOr("-"), "a..b.");
  EXPECT_EQ(NormalizedURL::domainToASCII("１２").valueOr("-"), "12");
  for (std::string bad : {"a/b", "a:b", "a%b", "xn--a", "a\xff", "a b"}) {
    EXPECT_FALSE(NormalizedURL::domainToASCII(bad).ok()) << bad;
  }
}

TEST(NormalizedURLTest, LargeHostileInputsStayBounded) {
  // At the length limit, many segments, labels and escapes: each is one linear pass (no
  // recursion on the input's depth, which a deep stack would show).
  auto filled = [](std::string text, const std::string& part, const std::string& end = "") {
    while (text.size() + part.size() + end.size() <= NormalizedURL::kMaxLength) text += part;
    return text + end;
  };
  const std::string segments = filled("http://b.test", "/a");
  const std::string labels = filled("http://", "a.", "b/");
  const std::string escapes = filled("http://b.test/", "%C3");
  const std::pair<std::string, std::string> cases[] = {
      {filled("http://b.test", "/.."), "http://b.test/"},
      {segments, segments},
      {labels, labels},
      {"http://" + std::string(NormalizedURL::kMaxLength - 20, 'u') + "@b.test/", "http://b.test/"},
      {escapes, escapes},
  };
  for (const auto& [input, decision] : cases) {
    Result<NormalizedURL> url = NormalizedURL::parse(input);
    ASSERT_TRUE(url.ok()) << url.status().message();
    EXPECT_EQ(url->decisionURL(), decision) << "..." << input.substr(input.size() - 30);
  }
}

}  // namespace
}  // namespace zelto
