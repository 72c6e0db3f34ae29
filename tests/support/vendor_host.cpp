#include "support/vendor_host.h"

#include "platform/error.h"
#include "workspace/app/names.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

namespace quill::testing {

namespace {

int vendorPort() {
    const std::string& host = vendorHost();
    const auto colon = host.rfind(':');
    return colon == std::string::npos ? 80 : std::stoi(host.substr(colon + 1));
}

}  // namespace

std::unique_ptr<vendorkit::HttpServer> serveVendorHost() {
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::minutes(5);
    for (;;) {
        try {
            return std::make_unique<vendorkit::HttpServer>(vendorPort());
        } catch (const AppError&) {
            if (std::chrono::steady_clock::now() > giveUp) throw;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
}

vendorkit::HttpServer& vendorHostServer() {
    static std::unique_ptr<vendorkit::HttpServer> server = serveVendorHost();
    return *server;
}

}  // namespace quill::testing
