// What the vendor signs about a site, read back as the program reads it: the
// signed version.txt and manifest.txt of a built site, signing it again, the
// chain of keys from one key to the next, and the timestamps that the online
// key renews without the release key.

#include "platform/error.h"
#include "support/fake_screen.h"
#include "support/temp_folder.h"
#include "support/test_vendor_key.h"
#include "support/tree_snapshot.h"
#include "vendorkit/signed_site.h"
#include "vendorkit/site_builder.h"
#include "vendorkit/site_description.h"
#include "vendorkit/site_server.h"
#include "vendorkit/site_timestamps.h"
#include "vendorkit/signing.h"
#include "workspace/transfer/http_client.h"
#include "workspace/app/names.h"
#include "workspace/trust/signature.h"
#include "workspace/trust/signed_metadata.h"
#include "workspace/trust/vendor_metadata.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>

namespace quill::vendorkit {
namespace {

using testing::makeFolders;
using testing::readFile;
using testing::snapshotTree;
using testing::TempFolder;
using testing::writeFile;

const char* const kSite = R"([template Recipe Box]
file = recipe-box.zip
[template Project Tasks]
file = project-tasks.zip
[version]
version = 1.1
file = quillary-1.1.zip
put readme.txt = Quillary 1.1
)";

// A key pair, with its public half as the program takes it.
struct Key {
    SigningKey signer = SigningKey::generate();
    PublicKey publicKey = *publicKeyFromBase64(signer.publicKeyBase64());
};

MetadataText parsed(const std::string& text) {
    auto metadata = parseMetadata(text);
    if (!metadata) ADD_FAILURE() << "not metadata:\n" << text;
    return metadata.value_or(MetadataText{});
}

// The file's text, after checking that the signature beside it is key's over exactly its bytes.
std::string signedBy(const PublicKey& key, const std::string& path) {
    const std::string text = readFile(path);
    EXPECT_TRUE(signatureMatches(key, text, readFile(path + ".sig"))) << path;
    EXPECT_EQ(readFile(path + ".sig").size(), kSignatureSize) << path;
    return text;
}

// Every line but the serial and the expiry, which a new signing changes.
std::string withoutStamp(const std::string& text) {
    std::string kept, line;
    for (char c : text) {
        line += c;
        if (c != '\n') continue;
        if (line.rfind("serial=", 0) != 0 && line.rfind("expires=", 0) != 0) kept += line;
        line.clear();
    }
    return kept + line;
}

class SignedSite : public ::testing::Test {
protected:
    SignedSite() { writeFile(folder_ / "site.txt", kSite); }
    std::vector<std::string> build(const SigningKey& signer, std::int64_t expires = 0, const std::string& chain = "",
                                   const SigningKey* online = nullptr, std::int64_t freshUntil = 0) {
        return buildSite(loadSiteDescription(folder_ / "site.txt"), site_, "127.0.0.1:9123",
                         SiteSigning{&signer, expires, chain, online, freshUntil});
    }
    std::string templates() const { return site_ + kTemplatesFolder; }
    std::string update() const { return site_ + kUpdateFolder; }

    TempFolder folder_;
    const std::string site_ = folder_ / "site/";
    Key vendor_;
};

TEST_F(SignedSite, VersionAndManifestAreSignedWholeAndDescribeEveryArchive) {
    const auto before = static_cast<std::int64_t>(std::time(nullptr));
    const auto written = build(vendor_.signer);

    const std::string versionText = signedBy(vendor_.publicKey, update() + "version.txt");
    EXPECT_EQ(versionText.find('\n'), versionText.find("\r\n") + 1) << "CR LF lines, as every text of the site";
    const MetadataText version = parsed(versionText);
    ASSERT_EQ(version.order, std::vector<std::string>{"Quillary"});
    const MetadataSection& offer = version.sections.at("Quillary");
    EXPECT_EQ(offer.at("version"), "1.1");
    EXPECT_EQ(offer.at("file"), "quillary-1.1.zip");
    EXPECT_FALSE(offer.count("signature"));
    const auto offered = signedArchiveOf(offer);
    const std::string archive = readFile(update() + "quillary-1.1.zip");
    ASSERT_TRUE(offered.has_value());
    EXPECT_EQ(offered->size, archive.size());
    EXPECT_EQ(offered->sha256, sha256Hex(archive));
    const auto versionHeader = metadataHeaderOf(offer);
    ASSERT_TRUE(versionHeader.has_value());
    EXPECT_EQ(versionHeader->kind, "update");
    EXPECT_GE(versionHeader->serial, static_cast<std::uint64_t>(before));
    EXPECT_EQ(versionHeader->expires, defaultExpiry(before));

    const MetadataText manifest = parsed(signedBy(vendor_.publicKey, templates() + "manifest.txt"));
    ASSERT_EQ(manifest.order, (std::vector<std::string>{"manifest", "temp.zip", "recipe-box.zip",
                                                        "project-tasks.zip"}));
    const auto manifestHeader = metadataHeaderOf(manifest.sections.at("manifest"));
    ASSERT_TRUE(manifestHeader.has_value());
    EXPECT_EQ(manifestHeader->kind, "templates");
    EXPECT_EQ(manifestHeader->serial, versionHeader->serial) << "one signing, one serial";
    for (std::size_t i = 1; i < manifest.order.size(); ++i) {
        const std::string bytes = readFile(templates() + manifest.order[i]);
        const auto listed = signedArchiveOf(manifest.sections.at(manifest.order[i]));
        ASSERT_TRUE(listed.has_value()) << manifest.order[i];
        EXPECT_EQ(listed->size, bytes.size()) << manifest.order[i];
        EXPECT_EQ(listed->sha256, sha256Hex(bytes)) << manifest.order[i];
    }

    // The signatures beside the two texts are all there is: no archive carries one of its own.
    for (const auto& [path, bytes] : snapshotTree(site_)) {
        if (!path.ends_with(".sig")) continue;
        EXPECT_TRUE(path == kUpdateFolder + "version.txt.sig" || path == kTemplatesFolder + "manifest.txt.sig") << path;
    }
    for (const std::string& file : {kTemplatesFolder + "manifest.txt.sig", kUpdateFolder + "version.txt.sig"})
        EXPECT_NE(std::find(written.begin(), written.end(), file), written.end()) << file;

    // Built again within the same second, the site still gets a higher serial.
    build(vendor_.signer);
    EXPECT_GT(metadataHeaderOf(parsed(readFile(update() + "version.txt")).sections.at("Quillary"))->serial,
              versionHeader->serial);
}

TEST_F(SignedSite, ResignRaisesTheSerialAndTouchesNothingButTheStamp) {
    build(vendor_.signer, expiryOfDate("2020-01-01"));
    const std::string oldVersion = readFile(update() + "version.txt");
    const std::string oldManifest = readFile(templates() + "manifest.txt");
    auto before = snapshotTree(site_);

    const SigningStamp stamp = resignSite(site_, vendor_.signer, expiryOfDate("2031-06-30"));
    const std::string version = signedBy(vendor_.publicKey, update() + "version.txt");
    const std::string manifest = signedBy(vendor_.publicKey, templates() + "manifest.txt");
    EXPECT_EQ(withoutStamp(version), withoutStamp(oldVersion));
    EXPECT_EQ(withoutStamp(manifest), withoutStamp(oldManifest));
    const auto header = metadataHeaderOf(parsed(manifest).sections.at("manifest"));
    ASSERT_TRUE(header.has_value());
    EXPECT_GT(header->serial, metadataHeaderOf(parsed(oldManifest).sections.at("manifest"))->serial);
    EXPECT_EQ(header->serial, stamp.serial);
    EXPECT_EQ(formatUtcTime(header->expires), "2031-06-30T00:00:00Z");
    auto after = snapshotTree(site_);
    for (const std::string& changed : {kUpdateFolder + "version.txt", kUpdateFolder + "version.txt.sig",
                                       kTemplatesFolder + "manifest.txt", kTemplatesFolder + "manifest.txt.sig"}) {
        before.erase(changed);
        after.erase(changed);
    }
    EXPECT_EQ(testing::treeDifferences(before, after), "") << "archives and pages stay byte for byte";

    // Signing again vouches anew: not for an archive changed since the build.
    writeFile(templates() + "recipe-box.zip", "not the archive that was built");
    EXPECT_THROW(resignSite(site_, vendor_.signer, expiryOfDate("2031-07-01")), AppError);
    EXPECT_EQ(readFile(templates() + "manifest.txt"), manifest);
    EXPECT_EQ(readFile(update() + "version.txt"), version);

    TempFolder unsigned_;
    buildSite(loadSiteDescription(folder_ / "site.txt"), unsigned_ / "site/", "127.0.0.1:9123");
    EXPECT_THROW(resignSite(unsigned_ / "site/", vendor_.signer, expiryOfDate("2031-07-01")), AppError);
}

// The tool never signs a serial the program refuses: at the highest there
// can be, only a new key goes on, and its serials start again from now.
TEST_F(SignedSite, AtTheHighestSerialOnlyANewKeySignsAndItStartsFromNow) {
    build(vendor_.signer);
    const std::string version = readFile(update() + "version.txt");
    const std::string highest = std::to_string(kMostWholeNumber);
    const auto at = version.find("serial=") + 7;
    writeFile(update() + "version.txt", version.substr(0, at) + highest + version.substr(version.find('\r', at)));
    writeFile(update() + "version.txt.sig", vendor_.signer.sign(readFile(update() + "version.txt")));
    ASSERT_EQ(metadataHeaderOf(parsed(readFile(update() + "version.txt")).sections.at("Quillary"))->serial,
              kMostWholeNumber);
    const auto before = snapshotTree(site_);

    EXPECT_THROW(resignSite(site_, vendor_.signer, expiryOfDate("2031-07-01")), AppError);
    EXPECT_THROW(build(vendor_.signer), AppError);
    EXPECT_EQ(testing::treeDifferences(before, snapshotTree(site_)), "");

    const Key next;
    const std::string chain = folder_ / "chain";
    addKeyLink(chain, vendor_.signer, next.signer);
    publishKeyChain(chain, site_);
    const auto now = static_cast<std::uint64_t>(std::time(nullptr));
    const SigningStamp stamp = resignSite(site_, next.signer, expiryOfDate("2031-07-01"));
    EXPECT_GE(stamp.serial, now);
    EXPECT_LE(stamp.serial, now + 60);
    const MetadataText resigned = parsed(signedBy(next.publicKey, update() + "version.txt"));
    EXPECT_EQ(metadataHeaderOf(resigned.sections.at("Quillary"))->serial, stamp.serial);
}

TEST(KeyChain, EachLinkIsSignedByTheKeyBeforeAndByItsOwn) {
    TempFolder folder;
    const Key first, second, third;
    const std::string chain = folder / "chain";

    EXPECT_EQ(addKeyLink(chain, first.signer, second.signer).number, 2);
    EXPECT_THROW(addKeyLink(chain, first.signer, third.signer), AppError) << "key 1 is no longer the last";
    EXPECT_FALSE(std::filesystem::exists(chain + "/3.txt"));
    EXPECT_EQ(addKeyLink(chain, second.signer, third.signer).number, 3);

    const Key* keys[] = {&first, &second, &third};
    for (int n = 2; n <= 3; ++n) {
        const std::string link = chain + "/" + std::to_string(n) + ".txt";
        const std::string text = readFile(link);
        EXPECT_EQ(text, "[key]\r\nkind=key\r\nnumber=" + std::to_string(n) + "\r\nkey=" +
                            keys[n - 1]->signer.publicKeyBase64() + "\r\n");
        const std::string signatures = readFile(link + ".sig");
        ASSERT_EQ(signatures.size(), 2 * kSignatureSize) << link;
        EXPECT_TRUE(signatureMatches(keys[n - 2]->publicKey, text, signatures.substr(0, kSignatureSize))) << link;
        EXPECT_TRUE(signatureMatches(keys[n - 1]->publicKey, text, signatures.substr(kSignatureSize))) << link;
    }
    EXPECT_THROW(addKeyLink(chain, third.signer, second.signer), AppError) << "a key twice makes a loop";

    // A chain spoiled on disk is refused before anything more is built on it.
    writeFile(chain + "/3.txt", readFile(chain + "/3.txt") + "\r\n");
    EXPECT_THROW(readKeyChain(chain), AppError);
}

TEST_F(SignedSite, BuildPublishesTheChainUnderBothBasesSignedByItsLastKey) {
    const Key next;
    const std::string chain = folder_ / "chain";
    addKeyLink(chain, vendor_.signer, next.signer);

    EXPECT_THROW(build(vendor_.signer, 0, chain), AppError) << "key 1 has been retired";
    EXPECT_FALSE(std::filesystem::exists(site_)) << "refused before anything was built";

    build(next.signer, 0, chain);
    signedBy(next.publicKey, templates() + "manifest.txt");
    for (const std::string& base : {templates(), update()})
        for (const char* file : {"2.txt", "2.txt.sig"})
            EXPECT_EQ(readFile(base + "keys/" + file), readFile(chain + "/" + file)) << base << file;
    EXPECT_THROW(resignSite(site_, vendor_.signer, expiryOfDate("2031-07-01")), AppError)
        << "the site publishes the chain: only its last key signs";
}

// The program's own check, over HTTP, of a site the tool built with a moved
// key and then signed again: the one fact the vendor cares about.
TEST(SignedSiteServed, IsTakenByTheProgramAlongTheChainAndAfterResigning) {
    TempFolder folder;
    writeFile(folder / "site.txt", kSite);
    AppDir = folder / "app/";
    makeFolders(AppDir);
    const testing::TestVendorKey vendor;  // built in as key 1
    const std::string site = folder / "site/";
    addKeyLink(folder / "chain", vendor.key(1), vendor.key(2));
    buildSite(loadSiteDescription(folder / "site.txt"), site, "127.0.0.1:9123",
              SiteSigning{&vendor.key(2), 0, folder / "chain"});

    SiteServer server(site, 0);
    HttpClient http;
    testing::FakeScreen screen;
    auto take = [&](const std::string& base, const std::string& name, const std::string& header, const char* kind) {
        forgetFollowedKeyChains();  // as at a new start of the program
        return fetchSignedMetadata(screen, http, {server.baseUrl() + "/" + base, name, header, kind, "The metadata"});
    };
    const auto manifest = take(kTemplatesFolder, kManifestFileName, "manifest", kTemplatesKind);
    EXPECT_EQ(manifest.text.order.size(), 4u);
    const auto version = take(kUpdateFolder, "version.txt", "Quillary", kUpdateKind);
    EXPECT_EQ(version.text.sections.at("Quillary").at("file"), "quillary-1.1.zip");

    resignSite(site, vendor.key(2), expiryOfDate("2031-06-30"));
    EXPECT_GT(take(kTemplatesFolder, kManifestFileName, "manifest", kTemplatesKind).header.serial,
              manifest.header.serial);
    EXPECT_GT(take(kUpdateFolder, "version.txt", "Quillary", kUpdateKind).header.serial, version.header.serial);
    forgetFollowedKeyChains();
}

TEST(SigningExpiry, IsAWholeDayInUtc) {
    EXPECT_EQ(formatUtcTime(defaultExpiry(*parseUtcTime("2027-01-31T23:59:59Z"))), "2027-03-02T00:00:00Z");
    EXPECT_EQ(formatUtcTime(expiryOfDate("2028-02-29")), "2028-02-29T00:00:00Z");
    for (const char* bad : {"2027-02-29", "2027-1-31", "2027-01-31T00:00:00Z", "31.01.2027", ""})
        EXPECT_THROW(expiryOfDate(bad), AppError) << bad;
}

// A link that keeps its release key and names an online key: how a vendor
// splits the duties without moving programs to a new release key.
TEST(KeyChain, ALinkMayKeepItsKeyAndNameAnOnlineKey) {
    TempFolder folder;
    const Key release, online, nextOnline;
    const std::string chain = folder / "chain";

    EXPECT_THROW(addKeyLink(chain, release.signer, release.signer), AppError) << "a link that changes nothing";
    EXPECT_THROW(addKeyLink(chain, release.signer, release.signer, &release.signer), AppError)
        << "the release key cannot be its own online key";
    EXPECT_FALSE(std::filesystem::exists(chain + "/2.txt"));

    EXPECT_EQ(addKeyLink(chain, release.signer, release.signer, &online.signer).number, 2);
    const std::string text = readFile(chain + "/2.txt");
    EXPECT_EQ(text, "[key]\r\nkind=key\r\nnumber=2\r\nkey=" + release.signer.publicKeyBase64() +
                        "\r\nonline=" + online.signer.publicKeyBase64() + "\r\n");
    // As the program reads a link: the release key, the online key beside it,
    // and the two signatures of the release key, before and in the link.
    const auto key = keyOfLink(text, 2);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->bytes, release.publicKey.bytes);
    const auto onlineKey = publicKeyFromBase64(parsed(text).sections["key"]["online"]);
    ASSERT_TRUE(onlineKey.has_value());
    EXPECT_EQ(onlineKey->bytes, online.publicKey.bytes);
    const std::string signatures = readFile(chain + "/2.txt.sig");
    ASSERT_EQ(signatures.size(), 2 * kSignatureSize);
    EXPECT_TRUE(signatureMatches(release.publicKey, text, signatures.substr(0, kSignatureSize)));
    EXPECT_TRUE(signatureMatches(release.publicKey, text, signatures.substr(kSignatureSize)));

    EXPECT_THROW(addKeyLink(chain, release.signer, release.signer, &online.signer), AppError)
        << "the same online key again says nothing new";
    EXPECT_EQ(addKeyLink(chain, release.signer, release.signer, &nextOnline.signer).number, 3);
    const auto links = readKeyChain(chain);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].onlineKey, online.signer.publicKeyBase64());
    EXPECT_EQ(links[1].publicKey, release.signer.publicKeyBase64());
    EXPECT_EQ(links[1].onlineKey, nextOnline.signer.publicKeyBase64());

    // An online key written into a link after it was signed is not the vendor's.
    const std::string third = readFile(chain + "/3.txt");
    const auto at = third.find("online=") + 7;
    writeFile(chain + "/3.txt", third.substr(0, at) + online.signer.publicKeyBase64() + "\r\n");
    EXPECT_THROW(readKeyChain(chain), AppError);
}

class OnlineSignedSite : public SignedSite {
protected:
    OnlineSignedSite() { addKeyLink(chain_, vendor_.signer, vendor_.signer, &online_.signer); }

    // The timestamp under base, after checking that online signed it whole,
    // and that it describes exactly the bytes of the file beside it.
    MetadataHeader timestampOf(const std::string& base, const std::string& described, const Key& online) {
        const MetadataText text = parsed(signedBy(online.publicKey, base + "timestamp.txt"));
        EXPECT_EQ(text.order, (std::vector<std::string>{"timestamp", described}));
        const auto header = metadataHeaderOf(text.sections.at("timestamp"));
        const auto describes = signedArchiveOf(text.sections.at(described));
        if (!header || !describes) {
            ADD_FAILURE() << "not a timestamp: " << base;
            return {};
        }
        EXPECT_EQ(header->kind, "timestamp");
        const std::string bytes = readFile(base + described);
        EXPECT_EQ(describes->size, bytes.size()) << base;
        EXPECT_EQ(describes->sha256, sha256Hex(bytes)) << base;
        return *header;
    }

    const std::string chain_ = folder_ / "chain";
    Key online_;
};

TEST_F(OnlineSignedSite, BuildStampsBothFilesWithTheOnlineKeyAndTheReleaseKeySignsForAYear) {
    const Key stranger;
    EXPECT_THROW(build(vendor_.signer, 0, chain_), AppError) << "the chain names an online key";
    EXPECT_THROW(build(vendor_.signer, 0, chain_, &stranger.signer), AppError) << "not the one the chain names";
    EXPECT_THROW(build(vendor_.signer, 0, "", &online_.signer), AppError) << "no chain tells the program of it";
    EXPECT_FALSE(std::filesystem::exists(site_)) << "refused before anything was built";

    const auto before = static_cast<std::int64_t>(std::time(nullptr));
    const auto written = build(vendor_.signer, 0, chain_, &online_.signer);
    const auto after = static_cast<std::int64_t>(std::time(nullptr));
    for (const std::string& file : {kUpdateFolder + "timestamp.txt", kUpdateFolder + "timestamp.txt.sig",
                                    kTemplatesFolder + "timestamp.txt", kTemplatesFolder + "timestamp.txt.sig"})
        EXPECT_NE(std::find(written.begin(), written.end(), file), written.end()) << file;

    const MetadataHeader update = timestampOf(this->update(), "version.txt", online_);
    const MetadataHeader templates = timestampOf(this->templates(), "manifest.txt", online_);
    EXPECT_EQ(update.serial, templates.serial) << "one refresh, one serial";
    EXPECT_GE(update.serial, static_cast<std::uint64_t>(before));
    EXPECT_GE(update.expires, before + 24 * 3600);
    EXPECT_LE(update.expires, after + 24 * 3600);

    // What is installed stays the release key's alone, and holds for a year.
    const auto version = metadataHeaderOf(parsed(signedBy(vendor_.publicKey, this->update() + "version.txt")).sections.at("Quillary"));
    ASSERT_TRUE(version.has_value());
    EXPECT_EQ(version->expires, (before / 86400 + 365) * 86400);
    signedBy(vendor_.publicKey, this->templates() + "manifest.txt");
}

TEST_F(OnlineSignedSite, RefreshNeedsOnlyTheOnlineKeyAndRenewsOnlyTheTimestamps) {
    build(vendor_.signer, 0, chain_, &online_.signer, expiryOfDate("2020-01-01"));
    const std::uint64_t built = timestampOf(update(), "version.txt", online_).serial;
    auto before = snapshotTree(site_);

    // SigningKey holds online_'s key only: nothing here can sign a release.
    const Refreshed refreshed = refreshTimestamps(site_, online_.signer, expiryOfDate("2031-06-30"));
    const MetadataHeader update = timestampOf(this->update(), "version.txt", online_);
    const MetadataHeader templates = timestampOf(this->templates(), "manifest.txt", online_);
    EXPECT_GT(update.serial, built);
    EXPECT_EQ(templates.serial, update.serial);
    EXPECT_EQ(refreshed.stamp.serial, update.serial);
    EXPECT_EQ(formatUtcTime(update.expires), "2031-06-30T00:00:00Z");
    EXPECT_EQ(formatUtcTime(templates.expires), "2031-06-30T00:00:00Z");
    auto after = snapshotTree(site_);
    for (const std::string& base : {kUpdateFolder, kTemplatesFolder})
        for (const char* changed : {"timestamp.txt", "timestamp.txt.sig"}) {
            before.erase(base + changed);
            after.erase(base + changed);
        }
    EXPECT_EQ(testing::treeDifferences(before, after), "") << "everything the release key signed stays byte for byte";

    // Refreshed again within the same second, the serial still rises.
    EXPECT_GT(refreshTimestamps(site_, online_.signer, expiryOfDate("2031-07-01")).stamp.serial, update.serial);
}

// A refresh vouches only for what the release key signed, with the key the
// site's chain names; each refusal leaves the site as it was.
TEST_F(OnlineSignedSite, RefreshRefusesWhatTheReleaseKeyDidNotSign) {
    build(vendor_.signer, 0, chain_, &online_.signer);
    const auto site = snapshotTree(site_);
    const auto unchanged = [&](const char* why) {
        EXPECT_EQ(testing::treeDifferences(site, snapshotTree(site_)), "") << why;
    };

    const Key stranger;
    EXPECT_THROW(refreshTimestamps(site_, stranger.signer, expiryOfDate("2031-07-01")), AppError);
    unchanged("another online key");

    const std::string version = readFile(update() + "version.txt");
    const std::string offered = version.substr(0, version.find("version=1.1")) + "version=9.9" +
                                version.substr(version.find("version=1.1") + 11);
    writeFile(update() + "version.txt", offered);
    writeFile(update() + "version.txt.sig", online_.signer.sign(offered));
    const auto forged = snapshotTree(site_);
    EXPECT_THROW(refreshTimestamps(site_, online_.signer, expiryOfDate("2031-07-01")), AppError);
    EXPECT_EQ(testing::treeDifferences(forged, snapshotTree(site_)), "") << "a version.txt signed by the online key";
    writeFile(update() + "version.txt", version);
    writeFile(update() + "version.txt.sig", site.at(kUpdateFolder + "version.txt.sig"));

    std::filesystem::remove_all(templates() + "keys");
    EXPECT_THROW(refreshTimestamps(site_, online_.signer, expiryOfDate("2031-07-01")), AppError);
    EXPECT_EQ(readFile(update() + "timestamp.txt"), site.at(kUpdateFolder + "timestamp.txt"))
        << "no chain under one base: neither base is refreshed";

    build(vendor_.signer, expiryOfDate("2020-01-01"), chain_, &online_.signer);
    const auto expired = snapshotTree(site_);
    EXPECT_THROW(refreshTimestamps(site_, online_.signer, expiryOfDate("2031-07-01")), AppError);
    EXPECT_EQ(testing::treeDifferences(expired, snapshotTree(site_)), "") << "metadata past its own expiry";

    TempFolder plain;
    const std::string plainSite = plain / "site/";
    SiteSigning withoutOnlineKey;
    withoutOnlineKey.signer = &vendor_.signer;
    buildSite(loadSiteDescription(folder_ / "site.txt"), plainSite, "127.0.0.1:9123", withoutOnlineKey);
    EXPECT_THROW(refreshTimestamps(plainSite, online_.signer, expiryOfDate("2031-07-01")), AppError)
        << "a chain without an online key";
}

// The program keeps timestamp serials per link: at the highest there can be,
// a link with a new online key goes on from now.
TEST_F(OnlineSignedSite, AtTheHighestTimestampSerialANewOnlineKeyStartsFromNow) {
    build(vendor_.signer, 0, chain_, &online_.signer);
    const SigningStamp highest{kMostWholeNumber, expiryOfDate("2031-07-01")};
    writeFile(update() + "timestamp.txt", timestampText("version.txt", readFile(update() + "version.txt"), highest));
    writeFile(update() + "timestamp.txt.sig", online_.signer.sign(readFile(update() + "timestamp.txt")));
    ASSERT_EQ(timestampOf(update(), "version.txt", online_).serial, kMostWholeNumber);
    const auto before = snapshotTree(site_);
    EXPECT_THROW(refreshTimestamps(site_, online_.signer, expiryOfDate("2031-07-01")), AppError);
    EXPECT_EQ(testing::treeDifferences(before, snapshotTree(site_)), "");

    const Key nextOnline;
    addKeyLink(chain_, vendor_.signer, vendor_.signer, &nextOnline.signer);
    publishKeyChain(chain_, site_);
    EXPECT_THROW(refreshTimestamps(site_, online_.signer, expiryOfDate("2031-07-01")), AppError)
        << "the old online key is no longer the chain's";
    const auto now = static_cast<std::uint64_t>(std::time(nullptr));
    const Refreshed refreshed = refreshTimestamps(site_, nextOnline.signer, expiryOfDate("2031-07-01"));
    EXPECT_GE(refreshed.stamp.serial, now);
    EXPECT_LE(refreshed.stamp.serial, now + 60);
    EXPECT_EQ(timestampOf(update(), "version.txt", nextOnline).serial, refreshed.stamp.serial);
}

// The program's own check, over HTTP, of a site built with an online key and
// then refreshed by it alone.
TEST(SignedSiteServed, IsTakenByTheProgramWithAnOnlineKeyAfterARefresh) {
    TempFolder folder;
    writeFile(folder / "site.txt", kSite);
    AppDir = folder / "app/";
    makeFolders(AppDir);
    const testing::TestVendorKey vendor;  // built in as key 1
    const Key online;
    const std::string site = folder / "site/";
    addKeyLink(folder / "chain", vendor.key(1), vendor.key(1), &online.signer);
    buildSite(loadSiteDescription(folder / "site.txt"), site, "127.0.0.1:9123",
              SiteSigning{&vendor.key(1), 0, folder / "chain", &online.signer});
    refreshTimestamps(site, online.signer, static_cast<std::int64_t>(std::time(nullptr)) + 3600);

    SiteServer server(site, 0);
    HttpClient http;
    testing::FakeScreen screen;
    forgetFollowedKeyChains();
    const auto manifest = fetchSignedMetadata(
        screen, http, {server.baseUrl() + "/" + kTemplatesFolder, kManifestFileName, "manifest", kTemplatesKind, "The metadata"});
    EXPECT_EQ(manifest.text.order.size(), 4u);
    const auto version = fetchSignedMetadata(
        screen, http, {server.baseUrl() + "/" + kUpdateFolder, "version.txt", "Quillary", kUpdateKind, "The metadata"});
    EXPECT_EQ(version.text.sections.at("Quillary").at("file"), "quillary-1.1.zip");
    forgetFollowedKeyChains();
}

}  // namespace
}  // namespace quill::vendorkit
