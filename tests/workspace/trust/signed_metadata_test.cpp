#include "workspace/trust/signed_metadata.h"

#include "platform/error.h"
#include "support/error_of.h"
#include "workspace/transfer/byte_sink.h"
#include "workspace/trust/signed_download.h"

#include <gtest/gtest.h>

namespace quill {
namespace {

// A signed file is read one way only: what two readers could take differently
// (a key or a section twice, a line that is neither) is no metadata at all.
TEST(SignedMetadata, IsReadOneWayOrNotAtAll) {
    const auto parsed = parseMetadata("; vendor's note\r\n[manifest]\r\nkind = templates\r\n\r\n[temp.zip]\nsize=3\n");
    ASSERT_TRUE(parsed);
    EXPECT_EQ(parsed->sections.at("manifest").at("kind"), "templates");
    EXPECT_EQ(parsed->sections.at("temp.zip").at("size"), "3");
    EXPECT_EQ(parsed->order, (std::vector<std::string>{"manifest", "temp.zip"}));
    for (const char* text : {"[a]\nserial=1\nserial=2\n", "[a]\nx=1\n[a]\ny=2\n", "serial=1\n[a]\n", "[a]\nserial\n",
                             "[a]\n=1\n", "[a\nx=1\n", "[a]b]\nx=1\n"}) {
        EXPECT_FALSE(parseMetadata(text)) << text;
    }
}

TEST(SignedMetadata, TakesOneFormOfMomentsSerialsSizesAndHashes) {
    EXPECT_EQ(parseUtcTime("1970-01-02T00:00:01Z"), 86401);
    EXPECT_EQ(formatUtcTime(*parseUtcTime("2026-12-10T20:00:00Z")), "2026-12-10T20:00:00Z");
    for (const char* text : {"2026-02-30T00:00:00Z", "2026-12-10T24:00:00Z", "2026-12-10 20:00:00Z",
                             "2026-12-10T20:00:00z", "2026-12-10T20:00:00", "2026-12-10"}) {
        EXPECT_FALSE(parseUtcTime(text)) << text;
    }
    const std::string hash(64, 'a');
    EXPECT_TRUE(metadataHeaderOf({{"kind", "update"}, {"serial", "7"}, {"expires", "2026-12-10T20:00:00Z"}}));
    EXPECT_FALSE(metadataHeaderOf({{"kind", "update"}, {"serial", "-7"}, {"expires", "2026-12-10T20:00:00Z"}}));
    EXPECT_FALSE(metadataHeaderOf({{"kind", "update"}, {"serial", "7"}}));
    // Nineteen digits at the most: the vendor's tool never goes past them.
    const std::string moment = "2026-12-10T20:00:00Z";
    EXPECT_EQ(metadataHeaderOf({{"kind", "update"}, {"serial", "9999999999999999999"}, {"expires", moment}})->serial,
              9999999999999999999ULL);
    EXPECT_FALSE(metadataHeaderOf({{"kind", "update"}, {"serial", "10000000000000000000"}, {"expires", moment}}));
    EXPECT_TRUE(signedArchiveOf({{"size", "12"}, {"sha256", hash}}));
    EXPECT_FALSE(signedArchiveOf({{"size", "12"}, {"sha256", std::string(64, 'A')}}));
    EXPECT_FALSE(signedArchiveOf({{"size", "12"}, {"sha256", hash.substr(1)}}));
    EXPECT_FALSE(signedArchiveOf({{"size", "0x12"}, {"sha256", hash}}));
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

// A link names one key in one text: the same key with the unused bits of its
// last letter set is no key (found by the fuzzer).
TEST(SignedMetadata, AKeyLinkNamesItsKeyInOneTextOnly) {
    const std::string canonical = "FDdbGTs+T+AZ56H3bNdIpx+Xn+zlc2vKHfsoUar0LnY=";
    const auto link = [](const std::string& key) { return "[key]\r\nkind=key\r\nnumber=2\r\nkey=" + key + "\r\n"; };
    ASSERT_TRUE(keyOfLink(link(canonical), 2));
    EXPECT_EQ(publicKeyToBase64(*keyOfLink(link(canonical), 2)), canonical);
    EXPECT_FALSE(keyOfLink(link(canonical), 3));
    EXPECT_FALSE(keyOfLink(link("FDdbGTs+T+AZ56H3bNdIpx+Xn+zlc2vKHfsoUar0LnX="), 2));
}

// A link's online key is one more line; one that cannot be read leaves no
// link at all, never one that asks for no timestamps.
TEST(SignedMetadata, AKeyLinksOnlineKeyIsAKeyOrTheLinkIsNone) {
    const std::string key = "FDdbGTs+T+AZ56H3bNdIpx+Xn+zlc2vKHfsoUar0LnY=";
    const std::string link = "[key]\r\nkind=key\r\nnumber=2\r\nkey=" + key + "\r\n";
    ASSERT_TRUE(chainLinkOf(link, 2));
    EXPECT_FALSE(chainLinkOf(link, 2)->online);
    const auto online = chainLinkOf(link + "online=" + key + "\r\n", 2);
    ASSERT_TRUE(online && online->online);
    EXPECT_EQ(publicKeyToBase64(*online->online), key);
    EXPECT_FALSE(chainLinkOf(link + "online=FDdbGTs+T+AZ56H3bNdIpx+Xn+zlc2vKHfsoUar0LnX=\r\n", 2));
    EXPECT_FALSE(chainLinkOf(link + "online=\r\n", 2));
}

// Past the signed size nothing more is written, announced or not.
TEST(SignedDownload, PassesOnExactlyTheSignedBytesAndStopsAtTheFirstOneMore) {
    const SignedArchive entry{6, sha256Hex("signed")};
    MemorySink target;
    SignedDownloadSink exact(target, entry, "a.zip");
    exact.begin(6);
    exact.write("sig", 3);
    exact.write("ned", 3);
    EXPECT_NO_THROW(exact.checkComplete());
    EXPECT_EQ(target.bytes, "signed");

    MemorySink announced;
    SignedDownloadSink tooLong(announced, entry, "a.zip");
    EXPECT_EQ(testing::errorOf([&] { tooLong.begin(7); }), "The archive \"a.zip\" is larger than the vendor signed it.");

    MemorySink unannounced;
    SignedDownloadSink endless(unannounced, entry, "a.zip");
    endless.begin(-1);
    endless.write("signed", 6);
    EXPECT_EQ(testing::errorOf([&] { endless.write("!", 1); }), "The archive \"a.zip\" is larger than the vendor signed it.");
    EXPECT_EQ(unannounced.bytes, "signed");

    for (const std::string& other : {std::string("signe"), std::string("Signed")}) {
        MemorySink sink;
        SignedDownloadSink check(sink, entry, "a.zip");
        check.write(other.data(), other.size());
        EXPECT_EQ(testing::errorOf([&] { check.checkComplete(); }), "The archive \"a.zip\" is not the one the vendor signed.")
            << other;
    }

    // All 256 bits count: a hash that differs in its last hex digit only is another.
    std::string lastDigitOff = entry.sha256;
    lastDigitOff.back() = lastDigitOff.back() == '0' ? '1' : '0';
    MemorySink sink;
    SignedDownloadSink check(sink, SignedArchive{6, lastDigitOff}, "a.zip");
    check.write("signed", 6);
    EXPECT_EQ(testing::errorOf([&] { check.checkComplete(); }),
              "The archive \"a.zip\" is not the one the vendor signed.");
}

}  // namespace
}  // namespace quill
