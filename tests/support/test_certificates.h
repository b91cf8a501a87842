#pragma once
// Throw-away TLS certificates for loopback tests, made with the openssl command in a temporary
// folder the first time a test asks, and removed when the test program ends. No key is ever
// kept in the repository.
#include <string>

namespace test_support {

struct TestCertificates {
  std::string authority;                // the test CA's certificate (PEM)
  std::string server_cert, server_key;  // for IP 127.0.0.1 and localhost, signed by the test CA
  std::string other_cert, other_key;    // for other.example only, signed by the test CA
};

// Throws std::runtime_error when the certificates cannot be made.
const TestCertificates& Certificates();

}  // namespace test_support
