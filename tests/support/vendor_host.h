// The built-in vendor host, served on loopback: the program's catalogue and
// template addresses name it, so tests answer on its very port.
#pragma once

#include "vendorkit/http_server.h"

#include <memory>

namespace quill::testing {

// One server for the whole test program, started on first use and kept to the
// end: the port is shared with other test programs, and giving it up between
// tests would let them take it. Waits up to five minutes for the port.
vendorkit::HttpServer& vendorHostServer();

// A server of its own on the built-in host, for a fixture that wants fresh
// routes each test; waits up to five minutes for the port as well.
std::unique_ptr<vendorkit::HttpServer> serveVendorHost();

}  // namespace quill::testing
