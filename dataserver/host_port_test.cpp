#include "dataserver/host_port.h"

#include <gtest/gtest.h>

#include <string>

namespace dataserver {
namespace {

// The outcome as one line: "host port" or "error: <fault>".
std::string parse(std::string_view text, PortZero portZero = PortZero::Refused) {
  HostPort address;
  std::string err;
  if (!parseHostPort(text, portZero, &address, &err)) return "error: " + err;
  return address.host + " " + std::to_string(address.port);
}

TEST(HostPortTest, ReadsAddressesNamesAndBracketedIPv6) {
  EXPECT_EQ(parse("127.0.0.1:7415"), "127.0.0.1 7415");
  EXPECT_EQ(parse("ds.example:1"), "ds.example 1");
  EXPECT_EQ(parse("[::1]:65535"), "::1 65535");
  EXPECT_EQ(parse("[fe80::1%eth0]:80"), "fe80::1%eth0 80");
  EXPECT_EQ(parse("0.0.0.0:0", PortZero::Allowed), "0.0.0.0 0");
  EXPECT_EQ(parse("[::]:0", PortZero::Allowed), ":: 0");
}

TEST(HostPortTest, BareIPv6WithAPortIsRefused) {
  for (const char* text : {"::1:7415", "::1:80", "fe80::1:443", "a:b:1"}) {
    EXPECT_EQ(parse(text), "error: an IPv6 address needs brackets, as in [::1]:7415") << text;
  }
}

TEST(HostPortTest, FaultsAreNamed) {
  EXPECT_EQ(parse("localhost"), "error: no port");
  EXPECT_EQ(parse(""), "error: no port");
  EXPECT_EQ(parse(":7415"), "error: no host");
  EXPECT_EQ(parse("[]:7415"), "error: no host");
  EXPECT_EQ(parse("[::1:7415"), "error: a bracketed address must be followed by ]:PORT");
  EXPECT_EQ(parse("[::1]7415"), "error: a bracketed address must be followed by ]:PORT");
  EXPECT_EQ(parse("[::1]"), "error: a bracketed address must be followed by ]:PORT");
  EXPECT_EQ(parse("a b:1"), "error: the host holds a space or a bracket");
  EXPECT_EQ(parse("a]:1"), "error: the host holds a space or a bracket");
  for (const char* text : {"h:0", "h:65536", "h:", "h:x", "h:+80", "h:-1", "h: 80", "h:80 ",
                           "h:000080", "h:99999999999999999999"}) {
    EXPECT_EQ(parse(text), "error: the port is not a number from 1 to 65535") << text;
  }
  EXPECT_EQ(parse("h:65536", PortZero::Allowed), "error: the port is not a number from 0 to 65535");
}

}  // namespace
}  // namespace dataserver
