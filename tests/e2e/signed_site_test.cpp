// What the vendor signs about a site, read back as the program reads it: the
// signed version.txt and manifest.txt of a built site, signing it again, and
// the chain of keys from one key to the next.

#include "platform/error.h"
#include "support/fake_screen.h"
#include "support/temp_folder.h"
#include "support/test_vendor_key.h"
#include "support/tree_snapshot.h"
#include "vendorkit/signed_site.h"
#include "vendorkit/site_builder.h"
#include "vendorkit/site_description.h"
#include "vendorkit/site_server.h"
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
    std::vector<std::string> build(const SigningKey& signer, std::int64_t expires = 0, const std::string& chain = "") {
        return buildSite(loadSiteDescription(folder_ / "site.txt"), site_, "127.0.0.1:9123",
                         SiteSigning{&signer, expires, chain});
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

}  // namespace
}  // namespace quill::vendorkit
