// vendor_site: builds a Quillary vendor site from its description, signs it
// with the vendor's release key, signs it again before it expires, refreshes
// its timestamps with the online key, moves to a new key, serves it on the
// loopback address, and makes a demo application folder to try it with.

#include "platform/error.h"
#include "vendorkit/signed_site.h"
#include "vendorkit/site_builder.h"
#include "vendorkit/site_demo_app.h"
#include "vendorkit/site_description.h"
#include "vendorkit/site_server.h"
#include "vendorkit/site_timestamps.h"
#include "vendorkit/signing.h"
#include "workspace/app/names.h"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace quill;
using namespace quill::vendorkit;

const char* const kUsage =
    "Usage: vendor_site COMMAND ...\n"
    "\n"
    "  keygen <key-file>\n"
    "        Makes the vendor's signing key pair and prints its public key.\n"
    "  build <description-file> <site-folder> [--host H:P] [--sign KEY-FILE]\n"
    "        [--expires YYYY-MM-DD] [--keys CHAIN-FOLDER] [--online KEY-FILE] [--fresh-for HOURS]\n"
    "        Builds the whole site from its description.\n"
    "  resign <site-folder> --sign KEY-FILE [--expires YYYY-MM-DD] [--keys CHAIN-FOLDER]\n"
    "        [--online KEY-FILE] [--fresh-for HOURS]\n"
    "        Signs a built site again before its signatures expire.\n"
    "  refresh <site-folder> --online KEY-FILE [--fresh-for HOURS]\n"
    "        Renews the timestamps with the online key alone.\n"
    "  rotate <old-key-file> <new-key-file> <chain-folder> [--online KEY-FILE]\n"
    "        Adds the new key (and online key) to the chain that leads from the old one.\n"
    "  serve <site-folder> [--listen 127.0.0.1:PORT] [--log] [--throttle KIB/S]\n"
    "        Serves a built site over HTTP until Ctrl+C.\n"
    "  demo-app <app-folder> [--host H:P]\n"
    "        Makes an application folder as the organizer's setup leaves it.\n"
    "\n"
    "Run \"vendor_site COMMAND --help\" for the details of one command.\n";

const char* const kKeygenHelp =
    "Usage: vendor_site keygen <key-file>\n"
    "\n"
    "Makes a new Ed25519 key pair. The private key is written to <key-file>\n"
    "(PEM), readable by you only; an existing file is never overwritten. The\n"
    "public key is printed in base64 on its own line: build final_inst with it,\n"
    "  cmake ... -DUPDATE_PUBLIC_KEY=<public key>\n"
    "and sign every site with \"vendor_site build ... --sign <key-file>\".\n"
    "To move to a new key later, make it with keygen and see \"vendor_site rotate\".\n"
    "Whoever holds the private key can sign updates that every installed\n"
    "final_inst accepts: keep it off the web host, and keep a copy offline.\n";

const char* const kBuildHelp =
    "Usage: vendor_site build <description-file> <site-folder> [--host H:P] [--sign KEY-FILE]\n"
    "                         [--expires YYYY-MM-DD] [--keys CHAIN-FOLDER]\n"
    "                         [--online KEY-FILE] [--fresh-for HOURS]\n"
    "\n"
    "Reads the site description (see demo/site.txt for the format) and writes\n"
    "  <site-folder>/quillary-web-templates/temp.zip        the catalogue (temp.fdb)\n"
    "  <site-folder>/quillary-web-templates/<file>          one archive per template\n"
    "  <site-folder>/quillary-web-templates/preview/*.html  the preview pages\n"
    "  <site-folder>/quillary-web/update/version.txt        the offered version\n"
    "  <site-folder>/quillary-web/update/<file>             the update archive\n"
    "The folder must be new, empty, or built by vendor_site before (it is then\n"
    "rebuilt from scratch).\n"
    "\n"
    "  --host H:P       the web host the catalogue's preview addresses name; it must\n"
    "                   be the host final_inst was built for (VENDOR_HOST).\n"
    "  --sign KEY-FILE  signs the site with the private key that \"keygen\" made:\n"
    "                   version.txt names the update archive's size and SHA-256,\n"
    "                   quillary-web-templates/manifest.txt those of every archive\n"
    "                   there, and each is signed whole beside it (version.txt.sig,\n"
    "                   manifest.txt.sig). The serial rises with every signing.\n"
    "  --expires DATE   the day (UTC, from 00:00:00) the program stops taking the\n"
    "                   signatures; the default is 30 days after today (365 with an\n"
    "                   online key). Sign again before then with \"vendor_site resign\".\n"
    "  --keys FOLDER    publishes the key chain that \"rotate\" keeps in FOLDER as\n"
    "                   keys/ under both base folders. KEY-FILE must be its last key.\n"
    "  --online KEY     the online key that the chain's last link names; required\n"
    "                   when it names one. Writes timestamp.txt (and .sig) beside\n"
    "                   version.txt and manifest.txt: final_inst takes them only\n"
    "                   while a timestamp signed by it says they are current.\n"
    "  --fresh-for H    how many hours the timestamps hold (default 24); renew\n"
    "                   them before then with \"vendor_site refresh\".\n";

const char* const kResignHelp =
    "Usage: vendor_site resign <site-folder> --sign KEY-FILE [--expires YYYY-MM-DD]\n"
    "                          [--keys CHAIN-FOLDER]\n"
    "\n"
    "Signs version.txt and manifest.txt of a site that \"build --sign\" made again,\n"
    "with a higher serial and a new expiry (the default is 30 days after today);\n"
    "every other line and every archive stay as they are. It refuses a site whose\n"
    "archives are no longer the ones its metadata describes. Run it on a schedule,\n"
    "well within the expiry, and publish the two files with their .sig files.\n"
    "\n"
    "  --keys FOLDER    publishes the key chain in FOLDER as keys/ under both base\n"
    "                   folders too; KEY-FILE must be its last key.\n"
    "  --online KEY     for a site whose chain names an online key: renews the\n"
    "                   timestamps too, as \"refresh\" does. Without it the old\n"
    "                   timestamps no longer describe the files: run \"refresh\"\n"
    "                   before publishing. The default expiry is then 365 days.\n"
    "  --fresh-for H    how many hours the timestamps hold (default 24).\n";

const char* const kRefreshHelp =
    "Usage: vendor_site refresh <site-folder> --online KEY-FILE [--fresh-for HOURS]\n"
    "\n"
    "Writes timestamp.txt and timestamp.txt.sig again under both base folders\n"
    "with a higher serial, saying that the site's version.txt and manifest.txt,\n"
    "as they are, are still the current ones; nothing else changes. KEY-FILE is\n"
    "the online key that the last link of the site's key chain names; the release\n"
    "key is not needed, and should not be on this machine. It refuses a site whose\n"
    "version.txt or manifest.txt the release key has not signed, or whose own\n"
    "expiry has passed. Run it on a schedule, well within --fresh-for, e.g. daily.\n"
    "\n"
    "  --fresh-for H    how many hours the timestamps hold (default 24).\n";

const char* const kRotateHelp =
    "Usage: vendor_site rotate <old-key-file> <new-key-file> <chain-folder> [--online KEY-FILE]\n"
    "\n"
    "Adds the next link N.txt (N = 2 for the first) to the chain folder, made\n"
    "when missing: the new key's public half, signed by the old key and by the\n"
    "new one (N.txt.sig). The old key must be the chain's last key; for an empty\n"
    "chain it is the key final_inst was built with. Make the new key with\n"
    "\"keygen\", then publish the chain with \"build ... --sign <new-key-file>\n"
    "--keys <chain-folder>\": programs built with the old key follow it to the new.\n"
    "Keep the chain folder: every later rotation adds to it.\n"
    "\n"
    "  --online KEY     the link names this key, made with \"keygen\", as the online\n"
    "                   key: it signs the timestamps (\"build --online\", \"refresh\")\n"
    "                   and nothing that is installed. To add or replace the online\n"
    "                   key alone, give the same key as old and new key.\n";

const char* const kServeHelp =
    "Usage: vendor_site serve <site-folder> [--listen 127.0.0.1:PORT] [--log] [--throttle KIB/S]\n"
    "\n"
    "Serves the folder over plain HTTP (GET) until Ctrl+C or SIGTERM, then stops\n"
    "cleanly. It listens on the loopback address only.\n"
    "\n"
    "  --listen A   127.0.0.1:PORT, localhost:PORT or PORT; the default is the\n"
    "               built-in vendor host's port on 127.0.0.1.\n"
    "  --log        prints one line per request received (\"GET /path\").\n"
    "  --throttle N sends every file at no more than N KiB a second, as a slow\n"
    "               line would, to watch a download's progress and cancel it.\n";

const char* const kDemoHelp =
    "Usage: vendor_site demo-app <app-folder> [--host H:P]\n"
    "\n"
    "Makes an application folder as the organizer's setup leaves it: db.ini,\n"
    "upg_info.txt (update address on the host), quillary.exe (version 1.0.0.0),\n"
    "readme.txt and the empty folders db and data. Copy final_inst into it and\n"
    "start it from there. The folder must be new, empty, or made by demo-app\n"
    "before (it is then emptied first).\n"
    "\n"
    "  --host H:P   the vendor web host; the default is the built-in one.\n";

struct Arguments {
    std::vector<std::string> positional;
    std::optional<std::string> host;
    std::optional<std::string> listen;
    std::optional<std::string> sign;
    std::optional<std::string> throttle;
    std::optional<std::string> expires;
    std::optional<std::string> keys;
    std::optional<std::string> online;
    std::optional<std::string> freshFor;
    bool help = false;
    bool log = false;
};

Arguments readArguments(int argc, char** argv, const std::vector<std::string>& options) {
    Arguments args;
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            args.help = true;
        } else if (arg == "--log" && std::find(options.begin(), options.end(), arg) != options.end()) {
            args.log = true;
        } else if (arg.rfind("--", 0) == 0) {
            std::string name = arg, value;
            const auto eq = arg.find('=');
            if (eq != std::string::npos) {
                name = arg.substr(0, eq);
                value = arg.substr(eq + 1);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                throw AppError(arg + " needs a value");
            }
            bool known = false;
            for (const auto& option : options) known = known || option == name;
            if (!known) throw AppError("unknown option " + name);
            if (name == "--host") args.host = value;
            if (name == "--listen") args.listen = value;
            if (name == "--sign") args.sign = value;
            if (name == "--throttle") args.throttle = value;
            if (name == "--expires") args.expires = value;
            if (name == "--keys") args.keys = value;
            if (name == "--online") args.online = value;
            if (name == "--fresh-for") args.freshFor = value;
        } else {
            args.positional.push_back(arg);
        }
    }
    return args;
}

int keygen(const Arguments& args) {
    if (args.positional.size() != 1) throw AppError("keygen needs <key-file>");
    const std::string publicKey = generateSigningKey(args.positional[0]);
    // The key alone on standard output, so a script can take it as it is.
    std::cout << publicKey << std::endl;
    std::cerr << "vendor_site: wrote the private key to " << args.positional[0]
              << " (readable by you only); the line above is the public key for -DUPDATE_PUBLIC_KEY\n";
    return 0;
}

// The expiry the options ask for, with a warning when it has passed already.
std::int64_t expiryOf(const Arguments& args, bool withOnlineKey) {
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t expires = args.expires ? expiryOfDate(*args.expires)
                                              : defaultExpiry(now, withOnlineKey ? kOnlineValidDays : kDefaultValidDays);
    if (expires <= now)
        std::cerr << "vendor_site: warning: " << formatUtcTime(expires)
                  << " has passed: final_inst refuses the site until it is signed again\n";
    return expires;
}

// When the timestamps that --fresh-for asks for expire. 0 hours is taken, with
// a warning, as a date that has passed is: to try a site that is refused.
std::int64_t freshUntilOf(const Arguments& args) {
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    if (!args.freshFor) return now + kDefaultFreshHours * 3600;
    const std::string& text = *args.freshFor;
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(text) > 366 * 24)
        throw AppError("--fresh-for needs a number of hours from 0 to " + std::to_string(366 * 24));
    if (std::stoi(text) == 0)
        std::cerr << "vendor_site: warning: timestamps fresh for 0 hours have expired as they are written: "
                     "final_inst refuses the site until \"refresh\" runs\n";
    return now + std::int64_t{std::stoi(text)} * 3600;
}

std::string signedText(const SigningStamp& stamp, const SigningKey& signer) {
    return "serial " + std::to_string(stamp.serial) + ", expires " + formatUtcTime(stamp.expires) + ", signed by " +
           signer.publicKeyBase64();
}

int build(const Arguments& args) {
    if (args.positional.size() != 2) throw AppError("build needs <description-file> <site-folder>");
    if (!args.sign && (args.expires || args.keys || args.online)) throw AppError("--expires, --keys and --online need --sign");
    if (args.freshFor && !args.online) throw AppError("--fresh-for needs --online");
    const std::string host = args.host.value_or(vendorHost());
    const SiteDescription site = loadSiteDescription(args.positional[0]);
    std::optional<SigningKey> signer, online;
    SiteSigning signing;
    if (args.sign) {
        signer.emplace(*args.sign);
        if (args.online) online.emplace(*args.online);
        signing = {&*signer, expiryOf(args, online.has_value()), args.keys.value_or(""),
                   online ? &*online : nullptr, online ? freshUntilOf(args) : 0};
    }
    const auto written = buildSite(site, args.positional[1], host, signing);
    std::cout << "vendor_site: built " << site.templates.size() << " templates"
              << (site.version ? " and version " + site.version->version : std::string()) << " for http://" << host
              << "/ into " << args.positional[1] << " (" << written.size() << " files"
              // The highest serial the site carries is the one just signed.
              << (signer ? ", " + signedText({highestSerial(args.positional[1]).value_or(0), signing.expires}, *signer)
                         : std::string(", unsigned"))
              << (args.keys ? ", with the key chain of " + *args.keys : std::string())
              << (online ? "; timestamps fresh until " + formatUtcTime(signing.freshUntil) + ", signed by " +
                               online->publicKeyBase64()
                         : std::string())
              << ")\n";
    return 0;
}

std::string timestampsText(const Refreshed& refreshed, const SigningKey& online) {
    return "timestamps " + signedText(refreshed.stamp, online) + "; version.txt and manifest.txt expire " +
           formatUtcTime(refreshed.metadataExpires);
}

// Cron mails what a scheduled refresh prints: the release key's turn comes.
void warnOfMetadataExpiry(const Refreshed& refreshed) {
    const auto now = static_cast<std::int64_t>(std::time(nullptr));
    if (refreshed.metadataExpires - now < kDefaultValidDays * 24 * 3600)
        std::cerr << "vendor_site: warning: version.txt and manifest.txt expire at "
                  << formatUtcTime(refreshed.metadataExpires)
                  << ": sign them again with the release key (\"vendor_site resign\") before then\n";
}

int resign(const Arguments& args) {
    if (args.positional.size() != 1) throw AppError("resign needs <site-folder>");
    if (!args.sign) throw AppError("resign needs --sign KEY-FILE");
    if (args.freshFor && !args.online) throw AppError("--fresh-for needs --online");
    const std::string& site = args.positional[0];
    const SigningKey signer(*args.sign);
    std::optional<SigningKey> online;
    if (args.online) online.emplace(*args.online);
    // The chain the site will publish decides which keys sign; all checked before anything is written.
    const std::string chainName =
        args.keys ? "the chain in \"" + *args.keys + "\"" : std::string("the chain the site publishes");
    const auto chain = readKeyChain(args.keys ? *args.keys : site + "/" + kTemplatesFolder + kKeysFolder);
    requireLastKey(chain, signer, chainName);
    const bool namesOnlineKey = !chain.empty() && !chain.back().onlineKey.empty();
    if (online || !namesOnlineKey) requireOnlineKey(chain, online ? &*online : nullptr, chainName);
    const std::int64_t expires = expiryOf(args, namesOnlineKey);
    const std::int64_t freshUntil = online ? freshUntilOf(args) : 0;

    // The chain first: the new metadata is signed by its last key.
    if (args.keys) publishKeyChain(*args.keys, site);
    const SigningStamp stamp = resignSite(site, signer, expires);
    std::cout << "vendor_site: signed " << site << " again (" << signedText(stamp, signer)
              << (args.keys ? ", with the key chain of " + *args.keys : std::string()) << ")\n";
    if (online) {
        const Refreshed refreshed = refreshTimestamps(site, *online, freshUntil);
        std::cout << "vendor_site: refreshed " << site << " (" << timestampsText(refreshed, *online) << ")\n";
    } else if (namesOnlineKey) {
        std::cerr << "vendor_site: warning: the timestamps still describe the old version.txt and manifest.txt, "
                     "and final_inst refuses the site until they are renewed: run \"vendor_site refresh "
                  << site << " --online ONLINE-KEY\" before publishing\n";
    }
    return 0;
}

int refresh(const Arguments& args) {
    if (args.positional.size() != 1) throw AppError("refresh needs <site-folder>");
    if (!args.online) throw AppError("refresh needs --online KEY-FILE");
    const SigningKey online(*args.online);
    const Refreshed refreshed = refreshTimestamps(args.positional[0], online, freshUntilOf(args));
    std::cout << "vendor_site: refreshed " << args.positional[0] << " (" << timestampsText(refreshed, online) << ")\n";
    warnOfMetadataExpiry(refreshed);
    return 0;
}

int rotate(const Arguments& args) {
    if (args.positional.size() != 3) throw AppError("rotate needs <old-key-file> <new-key-file> <chain-folder>");
    const SigningKey oldKey(args.positional[0]);
    const SigningKey newKey(args.positional[1]);
    std::optional<SigningKey> online;
    if (args.online) online.emplace(*args.online);
    const KeyLink link = addKeyLink(args.positional[2], oldKey, newKey, online ? &*online : nullptr);
    const std::string file = args.positional[2] + "/" + std::to_string(link.number) + ".txt";
    std::cout << "vendor_site: wrote " << file << " and " << file << ".sig: key " << link.number << " is "
              << link.publicKey << (link.onlineKey.empty() ? "" : " with the online key " + link.onlineKey)
              << ", following " << oldKey.publicKeyBase64() << "\n"
              << "vendor_site: publish it with \"vendor_site build ... --sign " << args.positional[1] << " --keys "
              << args.positional[2] << (online ? " --online " + *args.online : std::string())
              << "\" (or resign with --keys" << (online ? " --online" : "") << ")\n";
    return 0;
}

int serve(const Arguments& args) {
    if (args.positional.size() != 1) throw AppError("serve needs <site-folder>");
    std::string defaultPort = vendorHost();
    const auto colon = defaultPort.rfind(':');
    defaultPort = colon == std::string::npos ? "80" : defaultPort.substr(colon + 1);
    const ListenAddress address = parseListenAddress(args.listen.value_or(defaultPort));

    // Block the stop signals before the server's threads start, so they all
    // inherit the mask and only sigwait below sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::size_t kibPerSecond = 0;
    if (args.throttle) {
        const std::string& text = *args.throttle;
        if (text.empty() || text.size() > 7 || text.find_first_not_of("0123456789") != std::string::npos ||
            std::stoul(text) == 0)
            throw AppError("--throttle needs a number of KiB a second from 1");
        kibPerSecond = std::stoul(text);
    }

    SiteServer server(args.positional[0], address.port);
    server.http().throttle(kibPerSecond * 1024);
    std::cout << "vendor_site: serving " << args.positional[0] << " at " << server.baseUrl()
              << (kibPerSecond ? "/ at " + std::to_string(kibPerSecond) + " KiB/s" : std::string("/"))
              << " (Ctrl+C stops)" << std::endl;
    if (args.log) {
        // Wake up now and then to print what arrived; requests are recorded by the server.
        std::size_t printed = 0;
        const timespec tick{0, 100 * 1000 * 1000};
        while (sigtimedwait(&stopSignals, nullptr, &tick) < 0) {
            const auto requests = server.http().requests();
            for (; printed < requests.size(); ++printed)
                std::cout << requests[printed].method << " " << requests[printed].target << std::endl;
        }
    } else {
        int received = 0;
        sigwait(&stopSignals, &received);
    }
    server.http().stop();
    std::cout << "vendor_site: stopped" << std::endl;
    return 0;
}

int demoApp(const Arguments& args) {
    if (args.positional.size() != 1) throw AppError("demo-app needs <app-folder>");
    const std::string host = args.host.value_or(vendorHost());
    createDemoApp(args.positional[0], host);
    std::cout << "vendor_site: made the application folder " << args.positional[0] << " for http://" << host
              << "/\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    try {
        if (command == "--help" || command == "-h" || command == "help") {
            std::cout << kUsage;
            return 0;
        }
        if (command == "keygen") {
            const Arguments args = readArguments(argc, argv, {});
            if (args.help) return std::cout << kKeygenHelp, 0;
            return keygen(args);
        }
        if (command == "build") {
            const Arguments args =
                readArguments(argc, argv, {"--host", "--sign", "--expires", "--keys", "--online", "--fresh-for"});
            if (args.help) return std::cout << kBuildHelp, 0;
            return build(args);
        }
        if (command == "resign") {
            const Arguments args =
                readArguments(argc, argv, {"--sign", "--expires", "--keys", "--online", "--fresh-for"});
            if (args.help) return std::cout << kResignHelp, 0;
            return resign(args);
        }
        if (command == "refresh") {
            const Arguments args = readArguments(argc, argv, {"--online", "--fresh-for"});
            if (args.help) return std::cout << kRefreshHelp, 0;
            return refresh(args);
        }
        if (command == "rotate") {
            const Arguments args = readArguments(argc, argv, {"--online"});
            if (args.help) return std::cout << kRotateHelp, 0;
            return rotate(args);
        }
        if (command == "serve") {
            const Arguments args = readArguments(argc, argv, {"--listen", "--log", "--throttle"});
            if (args.help) return std::cout << kServeHelp, 0;
            return serve(args);
        }
        if (command == "demo-app") {
            const Arguments args = readArguments(argc, argv, {"--host"});
            if (args.help) return std::cout << kDemoHelp, 0;
            return demoApp(args);
        }
        std::cerr << (command.empty() ? std::string() : "vendor_site: unknown command \"" + command + "\"\n\n")
                  << kUsage;
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "vendor_site " << command << ": " << e.what() << "\n";
        return 1;
    }
}
