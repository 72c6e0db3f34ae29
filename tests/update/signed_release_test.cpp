// With the vendor's key built in, the update check takes version.txt only as
// signed, current, not older than before, and signed by the key at the end of
// the chain from the built-in one; the archive only with the size and hash it
// signs. Each refusal leaves the whole folder as it was and says why.
#include "update_site.h"

#include "support/signed_site.h"
#include "support/test_vendor_key.h"
#include "support/tree_snapshot.h"
#include "vendorkit/signed_site.h"
#include "workspace/app/names.h"
#include "workspace/trust/vendor_metadata.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

using namespace quill;
using namespace quill::testing;

namespace {

using Events = std::vector<std::string>;

class SignedRelease : public ::testing::Test {
protected:
    SignedRelease() {
        forgetFollowedKeyChains();
        CurrentVersion = "1.0";
        writeFile(AppDir + "a.txt", "old a");
        site.serveArchive("upd.zip", {{"a.txt", "new a"}, {"help/b.txt", "new b"}});
        archive = readFile(site.siteFiles.path() + "upd.zip");
    }
    ~SignedRelease() override { forgetFollowedKeyChains(); }

    SignedVersionFile release(std::uint64_t serial = 1) const {
        SignedVersionFile version;
        version.archive = archive;
        version.serial = serial;
        return version;
    }

    void publish(const std::string& text, const vendorkit::SigningKey& by) {
        serveSigned(site.server, "/update/version.txt", text, by);
    }
    void publish(const SignedVersionFile& version) { publish(versionFileText(version), vendor.key(1)); }

    // One update check, as a new start of the program makes it.
    void check() {
        forgetFollowedKeyChains();
        site.screen.events.clear();
        site.screen.closed = false;
        site.update = ProgramUpdate{};
        site.update.fetchOfferedVersion(site.screen, site.http);
    }

    void expectInstalled() {
        EXPECT_EQ(readFile(AppDir + "a.txt"), "new a");
        EXPECT_EQ(readFile(AppDir + "help/b.txt"), "new b");
        EXPECT_TRUE(site.screen.closed);
    }

    // The check leaves every file as it was but for `changes`, and tells the
    // user in a box that says `says`.
    void expectRefused(const std::string& says, const TreeSnapshot& changes = {}) {
        TreeSnapshot expected = snapshotTree(AppDir);
        for (const auto& [path, bytes] : changes) expected[path] = bytes;
        check();
        EXPECT_EQ(treeDifferences(expected, snapshotTree(AppDir)), "");
        ASSERT_EQ(site.screen.boxes().size(), 1u);
        EXPECT_EQ(site.screen.boxes()[0].rfind("error:", 0), 0u) << site.screen.boxes()[0];
        EXPECT_NE(site.screen.boxes()[0].find(says), std::string::npos) << site.screen.boxes()[0];
        EXPECT_FALSE(site.screen.closed);
    }

    // signing.ini's record of the chain followed up to key n.
    std::string keysSeen(int n) const {
        return "[keys]\r\nkey=" + vendor.key(n).publicKeyBase64() + "\r\nlink=" + std::to_string(n) + "\r\n";
    }
    // signing.ini's record of a version.txt taken, signed by the key of link n.
    static std::string versionSeen(const SignedVersionFile& version, int n = 1) {
        return "[version.txt]\r\nexpires=" + version.expires + "\r\nlink=" + std::to_string(n) +
               "\r\nserial=" + std::to_string(version.serial) + "\r\n";
    }

    UpdateSite site;
    TestVendorKey vendor;  // after the site, which starts without a key
    std::string archive;
};

}  // namespace

TEST_F(SignedRelease, ASiteSignedWithTheBuiltInKeyIsTakenEndToEnd) {
    const SignedVersionFile version = release(7);
    const std::string text = versionFileText(version);
    publish(text, vendor.key(1));
    check();
    expectInstalled();
    EXPECT_EQ(readFile(AppDir + "version.ini"), text);
    EXPECT_EQ(readFile(AppDir + "signing.ini"), versionSeen(version));
}

TEST_F(SignedRelease, AnOlderReleasesVersionFileWithOnlyItsVersionRaisedIsRefused) {
    std::string text = versionFileText(release());
    publish(text, vendor.key(1));
    text.replace(text.find("version=1.1"), 11, "version=99");
    site.serveVersionFile(text);  // the signature is still the old one's
    expectRefused("The update information's signature is missing or not valid.");
}

TEST_F(SignedRelease, ASiteWithoutSignaturesIsRefused) {
    site.serveVersionFile(versionFileText(release()));
    expectRefused("The update information's signature is missing or not valid.");
}

TEST_F(SignedRelease, ExpiredInformationIsRefusedAndSaidToBeExpired) {
    SignedVersionFile version = release();
    version.expires = utcDaysFromNow(-1);
    publish(version);
    expectRefused("expired on " + version.expires);
}

TEST_F(SignedRelease, AnOlderSigningAfterANewerOneIsRefused) {
    publish(release(5));
    check();
    expectInstalled();
    // The next release is out, but someone serves the signing of the one before.
    writeFile(AppDir + "a.txt", "old a");
    publish(release(4));
    expectRefused("older than what was seen before (serial 4, where 5 was seen)");
}

TEST_F(SignedRelease, AnArchiveOfAnotherKindOrOtherBytesIsRefused) {
    // The manifest of the template site, signed by the same key, is no update information.
    SignedVersionFile version = release();
    version.kind = "templates";
    publish(version);
    expectRefused("The update information is not of the kind it should be.");

    // A genuine, signed template archive offered in the update's place. The
    // information itself is the vendor's, so it is kept and its serial seen.
    version = release();
    version.archive = std::string(archive.size(), 't');
    publish(version);
    expectRefused("The archive \"upd.zip\" is not the one the vendor signed.",
                  {{"version.ini", versionFileText(version)}, {"signing.ini", versionSeen(version)}});
}

TEST_F(SignedRelease, AnArchiveThatNeverEndsIsStoppedAtItsSignedSize) {
    const SignedVersionFile version = release();
    const std::string text = versionFileText(version);
    publish(text, vendor.key(1));
    vendorkit::HttpResponse endless;
    endless.framing = vendorkit::BodyFraming::UntilClose;
    endless.endless = true;
    site.server.route("/update/upd.zip", endless);
    expectRefused("The archive \"upd.zip\" is larger than the vendor signed it.",
                  {{"version.ini", text}, {"signing.ini", versionSeen(version)}});
}

TEST_F(SignedRelease, AnotherKeyWithoutAChainFromTheBuiltInKeyIsRefused) {
    publish(versionFileText(release()), vendor.key(2));
    expectRefused("The update information's signature is missing or not valid.");
}

TEST_F(SignedRelease, AChainForgedFromAnotherKeyOrOutOfOrderIsRefused) {
    serveKeyLink(site.server, "/update/", 2, vendor.stranger(), vendor.key(2));
    publish(versionFileText(release()), vendor.key(2));
    expectRefused("The vendor's key chain is broken at");

    // Whoever holds the built-in key forks the chain after the vendor moved
    // on: his own second link, once the vendor's has been seen, is refused.
    serveKeyLink(site.server, "/update/", 2, vendor.key(1), vendor.key(2));
    publish(versionFileText(release()), vendor.key(2));
    check();
    expectInstalled();
    writeFile(AppDir + "a.txt", "old a");
    serveKeyLink(site.server, "/update/", 2, vendor.key(1), vendor.key(3));
    publish(versionFileText(release(2)), vendor.key(3));
    expectRefused("it names another key than the one this program accepted there.");

    // A genuine later link served in an earlier one's place.
    const std::string body = vendorkit::keyLinkText(3, vendor.key(2).publicKeyBase64());
    site.server.serveBytes("/update/keys/2.txt", body);
    site.server.serveBytes("/update/keys/2.txt.sig", vendor.key(1).sign(body) + vendor.key(2).sign(body));
    expectRefused("it is not key 2.");
}

TEST_F(SignedRelease, AKeyAtTheEndOfAChainOfThreeLinksIsFollowedAndThenRequired) {
    // Key 2 follows the built-in key, key 3 follows key 2: only key 3 signs now.
    serveKeyLink(site.server, "/update/", 2, vendor.key(1), vendor.key(2));
    const SignedVersionFile first = release();
    publish(versionFileText(first), vendor.key(2));
    check();
    expectInstalled();
    EXPECT_EQ(readFile(AppDir + "signing.ini"), keysSeen(2) + versionSeen(first, 2));

    writeFile(AppDir + "a.txt", "old a");
    serveKeyLink(site.server, "/update/", 3, vendor.key(2), vendor.key(3));
    publish(versionFileText(release(2)), vendor.key(2));
    expectRefused("The update information's signature is missing or not valid.",
                  {{"signing.ini", keysSeen(3) + versionSeen(first, 2)}});
    publish(versionFileText(release(2)), vendor.key(3));
    check();
    expectInstalled();

    // A site that hides the chain again, signed by the old key, is refused.
    writeFile(AppDir + "a.txt", "old a");
    for (const char* link : {"/update/keys/2.txt", "/update/keys/3.txt"}) {
        site.server.route(link, vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
    }
    publish(versionFileText(release(3)), vendor.key(1));
    expectRefused("ends at key 1, before key 3 that this program has seen");
}

TEST_F(SignedRelease, ASiteThatHidesOnlyTheLastLinkIsRefused) {
    serveKeyLink(site.server, "/update/", 2, vendor.key(1), vendor.key(2));
    serveKeyLink(site.server, "/update/", 3, vendor.key(2), vendor.key(3));
    publish(versionFileText(release()), vendor.key(3));
    check();
    expectInstalled();

    // Key 2, retired and perhaps stolen, signs again where key 3 is hidden.
    writeFile(AppDir + "a.txt", "old a");
    site.server.route("/update/keys/3.txt", vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found"));
    publish(versionFileText(release(2)), vendor.key(2));
    expectRefused("ends at key 2, before key 3 that this program has seen");
}

// Holding back newer information must not be silent for ever: once what was
// taken last has expired, every way the check can fail says so.
TEST_F(SignedRelease, AFailedCheckSaysExpiredOnceWhatWasTakenLastHasExpired) {
    SignedVersionFile version = release();
    version.expires = utcSecondsFromNow(4);
    publish(version);
    check();
    expectInstalled();
    writeFile(AppDir + "a.txt", "old a");

    const auto notFound = vendorkit::HttpResponse::status("HTTP/1.1 404 Not Found");
    site.server.route("/update/version.txt", notFound);
    TreeSnapshot before = snapshotTree(AppDir);
    check();
    EXPECT_TRUE(site.screen.boxes().empty()) << "silent while what was taken is current";
    EXPECT_EQ(treeDifferences(before, snapshotTree(AppDir)), "");

    while (utcSecondsFromNow(0) <= version.expires) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::string says = "The update information expired on " + version.expires;
    expectRefused(says);

    site.server.route("/update/version.txt", vendorkit::HttpResponse::status("HTTP/1.1 503 Service Unavailable"));
    expectRefused(says);
    vendorkit::HttpResponse cut;
    cut.closeBeforeStatus = true;
    site.server.route("/update/version.txt", cut);
    expectRefused(says);

    // A broken chain, and a site that cannot be reached at all.
    publish(release(2));
    site.server.route("/update/keys/2.txt", vendorkit::HttpResponse::status("HTTP/1.1 500 Internal Server Error"));
    expectRefused(says);
    const std::string reachable = UpdateUrl;
    {
        vendorkit::HttpServer gone;
        UpdateUrl = gone.url("/update/");
    }
    expectRefused(says);
    UpdateUrl = reachable;

    // Newer information ends it.
    site.server.route("/update/keys/2.txt", notFound);
    check();
    expectInstalled();
}

// A thief's serial signed with a key the vendor has since rotated away from
// does not lock the vendor out; within one key, serials still only rise.
TEST_F(SignedRelease, ASerialSignedByAKeyTheChainHasMovedPastHoldsNothingBack) {
    const SignedVersionFile stolen = release(9999999999999999999ULL);
    publish(stolen);
    check();
    expectInstalled();
    EXPECT_EQ(readFile(AppDir + "signing.ini"), versionSeen(stolen));

    writeFile(AppDir + "a.txt", "old a");
    serveKeyLink(site.server, "/update/", 2, vendor.key(1), vendor.key(2));
    const SignedVersionFile rotated = release(static_cast<std::uint64_t>(std::time(nullptr)));
    publish(versionFileText(rotated), vendor.key(2));
    check();
    expectInstalled();
    EXPECT_EQ(readFile(AppDir + "signing.ini"), versionSeen(rotated, 2) + keysSeen(2));
    writeFile(AppDir + "a.txt", "old a");
    publish(versionFileText(release(rotated.serial - 1)), vendor.key(2));
    expectRefused("older than what was seen before (serial " + std::to_string(rotated.serial - 1));
}

// What an editor adds to signing.ini leaves what it records as it was; what
// cannot be read is never taken for nothing seen.
TEST_F(SignedRelease, AStateFileAnEditorTouchedStillHoldsAnOlderSigningBack) {
    const SignedVersionFile fifth = release(5);
    publish(fifth);
    check();
    expectInstalled();
    writeFile(AppDir + "a.txt", "old a");
    writeFile(AppDir + "signing.ini",
              "\xEF\xBB\xBF[version.txt]\nexpires = " + fifth.expires + "\n link= 1\t\nserial =5\n\n");
    publish(release(1));
    expectRefused("older than what was seen before (serial 1, where 5 was seen)");
}

TEST_F(SignedRelease, AStateFileThatCannotBeReadRefusesEverythingAndSaysHowToStartAgain) {
    publish(release(1));
    const std::string path = AppDir + "signing.ini";
    const std::string says = "delete " + path + " to start again";
    for (const std::string& text : {std::string("serial=5\r\n"), std::string("[version.txt]\r\nserial=five\r\n"),
                                    std::string("[version.txt]\r\nserial=5\r\nserial=6\r\n"),
                                    std::string("[keys]\r\nlink=2\r\nkey=not a key\r\n"),
                                    std::string("[version.txt]\r\nexpires=tomorrow\r\n"),
                                    std::string("\xFF\xFE[\0v\0]\0", 8)}) {
        writeFile(path, text);
        expectRefused(says);
    }
    std::filesystem::remove_all(path);
    makeFolders(path);  // there, and no file to read at all
    expectRefused(says);

    std::filesystem::remove_all(path);
    check();
    expectInstalled();
}

// signing.ini as the program before keys were kept with each serial wrote
// it: its serials belong to the link its [keys] section records.
TEST_F(SignedRelease, AnEarlierStateFilesSerialsBelongToTheLinkItRecords) {
    // The same signing taken again records what the earlier program did not keep.
    writeFile(AppDir + "signing.ini", "[version.txt]\r\nserial=1\r\n");
    const SignedVersionFile same = release(1);
    publish(same);
    check();
    expectInstalled();
    EXPECT_EQ(readFile(AppDir + "signing.ini"), versionSeen(same));

    writeFile(AppDir + "a.txt", "old a");
    serveKeyLink(site.server, "/update/", 2, vendor.key(1), vendor.key(2));
    writeFile(AppDir + "signing.ini", keysSeen(2) + "[version.txt]\r\nserial=50\r\n");
    publish(versionFileText(release(49)), vendor.key(2));
    expectRefused("older than what was seen before (serial 49, where 50 was seen)");

    serveKeyLink(site.server, "/update/", 3, vendor.key(2), vendor.key(3));
    const SignedVersionFile next = release(1);
    publish(versionFileText(next), vendor.key(3));
    check();
    expectInstalled();
    EXPECT_EQ(readFile(AppDir + "signing.ini"), keysSeen(3) + versionSeen(next, 3));
}

// A chain whose last link names an online key: version.txt is taken only as
// the online key's current, unexpired timestamp describes it, and still only
// as the release key signs it.
class OnlineRelease : public SignedRelease {
protected:
    OnlineRelease() { serveKeyLink(site.server, "/update/", 2, vendor.key(1), vendor.key(1), &online); }

    // version.txt signed by the release key, vouched for by `by`.
    SignedTimestamp vouch(const SignedVersionFile& version, std::uint64_t serial,
                          const vendorkit::SigningKey& by) {
        const std::string text = versionFileText(version);
        publish(text, vendor.key(1));
        SignedTimestamp timestamp;
        timestamp.described = text;
        timestamp.serial = serial;
        serveTimestamp(timestamp, by);
        return timestamp;
    }
    void serveTimestamp(const SignedTimestamp& timestamp, const vendorkit::SigningKey& by) {
        serveSigned(site.server, "/update/timestamp.txt", timestampText(timestamp), by);
    }

    // Refused, with nothing kept but the chain followed up to link 2, which both its keys signed.
    void expectRefusedWithTheChainKept(const std::string& says) {
        expectRefused(says, {{"signing.ini", chainSeen(2)}});
    }
    std::string chainSeen(int n) const {
        return "[keys]\r\nkey=" + vendor.key(1).publicKeyBase64() + "\r\nlink=" + std::to_string(n) + "\r\n";
    }

    static std::string timestampSeen(const SignedTimestamp& timestamp, int n = 2) {
        return "[version.txt timestamp]\r\nexpires=" + timestamp.expires + "\r\nlink=" + std::to_string(n) +
               "\r\nserial=" + std::to_string(timestamp.serial) + "\r\n";
    }

    vendorkit::SigningKey online = vendorkit::SigningKey::generate();
};

TEST_F(OnlineRelease, AReleaseVouchedForByTheOnlineKeyOfALinkNamingTheSameReleaseKeyIsInstalled) {
    const SignedVersionFile version = release(4);
    const SignedTimestamp timestamp = vouch(version, 9, online);
    check();
    expectInstalled();
    EXPECT_EQ(readFile(AppDir + "signing.ini"), chainSeen(2) + versionSeen(version, 2) + timestampSeen(timestamp));
}

TEST_F(OnlineRelease, ASiteWithoutItsTimestampIsRefused) {
    publish(release());
    expectRefusedWithTheChainKept("The timestamp of the update information is missing from the vendor's site");
}

TEST_F(OnlineRelease, AnExpiredTimestampIsRefusedAndSaidToBeExpired) {
    const std::string text = versionFileText(release());
    publish(text, vendor.key(1));
    SignedTimestamp timestamp;
    timestamp.described = text;
    timestamp.expires = utcSecondsFromNow(-1);
    serveTimestamp(timestamp, online);
    expectRefusedWithTheChainKept("The timestamp of the update information expired on " + timestamp.expires);
}

TEST_F(OnlineRelease, ATimestampSignedByAnotherKeyThanTheOnlineOneIsRefused) {
    // The release key itself vouches for nothing's freshness.
    vouch(release(), 1, vendor.key(1));
    expectRefusedWithTheChainKept("The timestamp of the update information's signature is missing or not valid.");
    vouch(release(), 1, vendor.stranger());
    expectRefusedWithTheChainKept("The timestamp of the update information's signature is missing or not valid.");
}

TEST_F(OnlineRelease, ATimestampThatDescribesOtherBytesIsRefused) {
    // The vendor's own earlier release, signed by the release key, served
    // under a timestamp that vouches for the current one.
    const SignedVersionFile current = release(2);
    vouch(current, 1, online);
    publish(release(1));
    expectRefusedWithTheChainKept("The update information is not the one its timestamp describes.");

    // The described bytes followed by one more: stopped at the described size.
    const std::string text = versionFileText(current);
    site.serveVersionFile(text + "\n");
    expectRefusedWithTheChainKept("The update information is not the one its timestamp describes.");
    // One byte short.
    SignedTimestamp timestamp;
    timestamp.described = text + "\n";
    serveTimestamp(timestamp, online);
    site.serveVersionFile(text);
    expectRefusedWithTheChainKept("The update information is not the one its timestamp describes.");
}

TEST_F(OnlineRelease, ATimestampOfAnotherKindIsRefused) {
    const std::string text = versionFileText(release());
    publish(text, vendor.key(1));
    SignedTimestamp timestamp;
    timestamp.described = text;
    timestamp.kind = "update";
    serveTimestamp(timestamp, online);
    expectRefusedWithTheChainKept("The timestamp of the update information is not of the kind it should be.");
}

TEST_F(OnlineRelease, AVersionFileThatNeverEndsIsStoppedAtTheSizeItsTimestampGives) {
    vouch(release(), 1, online);
    vendorkit::HttpResponse endless;
    endless.framing = vendorkit::BodyFraming::UntilClose;
    endless.endless = true;
    site.server.route("/update/version.txt", endless);
    expectRefusedWithTheChainKept("The update information is not the one its timestamp describes.");
}

// A vendor may drop the online key again with a link that names none: the
// timestamp kept from before then says nothing of what is current.
TEST_F(OnlineRelease, ATimestampKeptUnderAnEarlierLinkLeavesALaterSilentFailureSilent) {
    const SignedVersionFile version = release(4);
    SignedTimestamp timestamp;
    timestamp.described = versionFileText(version);
    timestamp.serial = 9;
    timestamp.expires = utcSecondsFromNow(2);
    publish(version);
    serveTimestamp(timestamp, online);
    check();
    expectInstalled();
    writeFile(AppDir + "a.txt", "old a");
    serveKeyLink(site.server, "/update/", 3, vendor.key(1), vendor.key(2));
    publish(versionFileText(release(5)), vendor.key(2));
    check();
    expectInstalled();
    site.server.route("/update/version.txt", vendorkit::HttpResponse::status("HTTP/1.1 503 Service Unavailable"));
    while (utcSecondsFromNow(0) <= timestamp.expires) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    check();
    EXPECT_TRUE(site.screen.boxes().empty());
}

TEST_F(OnlineRelease, AReleaseSignedByTheOnlineKeyAloneIsRefused) {
    // A stolen online key vouches for what it signed itself: still no release.
    const std::string text = versionFileText(release());
    publish(text, online);
    SignedTimestamp timestamp;
    timestamp.described = text;
    serveTimestamp(timestamp, online);
    expectRefusedWithTheChainKept("The update information's signature is missing or not valid.");
}

TEST_F(OnlineRelease, AnOlderTimestampAfterANewerOneIsRefused) {
    const SignedVersionFile version = release(4);
    vouch(version, 9, online);
    check();
    expectInstalled();
    writeFile(AppDir + "a.txt", "old a");
    vouch(version, 8, online);
    expectRefused("The timestamp of the update information is older than what was seen before (serial 8, where 9 was "
                  "seen)");
}

TEST_F(OnlineRelease, ALinkNamingANewOnlineKeyRefusesTheOldOnesAndItsSerialsHoldNothingBack) {
    const SignedVersionFile first = release(4);
    const SignedTimestamp taken = vouch(first, 9, online);
    check();
    expectInstalled();
    writeFile(AppDir + "a.txt", "old a");

    const vendorkit::SigningKey replacement = vendorkit::SigningKey::generate();
    serveKeyLink(site.server, "/update/", 3, vendor.key(1), vendor.key(1), &replacement);
    vouch(release(5), 10, online);
    expectRefused("The timestamp of the update information's signature is missing or not valid.",
                  {{"signing.ini", chainSeen(3) + versionSeen(first, 2) + timestampSeen(taken)}});

    const SignedVersionFile version = release(5);
    const SignedTimestamp timestamp = vouch(version, 1, replacement);
    check();
    expectInstalled();
    EXPECT_EQ(readFile(AppDir + "signing.ini"), chainSeen(3) + versionSeen(version, 3) + timestampSeen(timestamp, 3));
}

TEST_F(OnlineRelease, AFailedCheckSaysExpiredOnceTheTimestampTakenLastHasExpired) {
    const SignedVersionFile version = release(4);
    const std::string text = versionFileText(version);
    publish(text, vendor.key(1));
    SignedTimestamp timestamp;
    timestamp.described = text;
    timestamp.expires = utcSecondsFromNow(3);
    serveTimestamp(timestamp, online);
    check();
    expectInstalled();
    writeFile(AppDir + "a.txt", "old a");
    // Before the timestamp's expiry a site that cannot be reached stays unmentioned.
    site.server.route("/update/timestamp.txt", vendorkit::HttpResponse::status("HTTP/1.1 503 Service Unavailable"));
    check();
    EXPECT_TRUE(site.screen.boxes().empty());
    while (utcSecondsFromNow(0) <= timestamp.expires) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    expectRefused("The update information expired on " + timestamp.expires);
}
