#include "AddressResolver.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

namespace {

TEST(AddressResolverTest, NumericHostsResolveToTheirFamilyAndPort) {
    ResolvedAddress v4;
    ASSERT_EQ(ResolveAddress({"127.0.0.1", 4001, AF_UNSPEC, SOCK_STREAM, IPPROTO_TCP}, v4), 0);
    EXPECT_EQ(v4.family, AF_INET);
    EXPECT_EQ(v4.length, sizeof(sockaddr_in));
    EXPECT_EQ(FormatRemoteAddress(v4.Address()), "127.0.0.1:4001");

    ResolvedAddress v6;
    ASSERT_EQ(ResolveAddress({"::1", 4001, AF_UNSPEC, SOCK_DGRAM, IPPROTO_UDP}, v6), 0);
    EXPECT_EQ(v6.family, AF_INET6);
    EXPECT_EQ(v6.socketType, SOCK_DGRAM);
    EXPECT_EQ(FormatRemoteAddress(v6.Address()), "[::1]:4001");
}

TEST(AddressResolverTest, PassiveQueryGivesTheAnyAddressOfTheFamily) {
    ResolvedAddress local;
    ASSERT_EQ(
        ResolveAddress({"", 1470, AF_INET6, SOCK_STREAM, IPPROTO_TCP, AI_PASSIVE | AI_NUMERICHOST}, local),
        0);
    EXPECT_EQ(FormatRemoteAddress(local.Address()), "[::]:1470");
}

TEST(AddressResolverTest, FailuresAreResolverCodes) {
    ResolvedAddress unused;
    EXPECT_EQ(ResolveAddress({"127.0.0.1", 70000, AF_UNSPEC, SOCK_STREAM, IPPROTO_TCP}, unused), EAI_SERVICE);
    EXPECT_EQ(ResolveAddress({"::1", 1, AF_INET, SOCK_STREAM, IPPROTO_TCP, AI_NUMERICHOST}, unused),
              EAI_ADDRFAMILY);
}

TEST(AddressResolverTest, RemoteAddressTexts) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(4001);
    inet_pton(AF_INET, "192.168.0.10", &v4.sin_addr);
    EXPECT_EQ(FormatRemoteAddress(reinterpret_cast<sockaddr*>(&v4)), "192.168.0.10:4001");

    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(4001);
    inet_pton(AF_INET6, "fe80::1", &v6.sin6_addr);
    EXPECT_EQ(FormatRemoteAddress(reinterpret_cast<sockaddr*>(&v6)), "[fe80::1]:4001");
}

} // namespace
