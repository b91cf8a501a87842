#include "test_certificates.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace test_support {

namespace {

void Run(const std::string& command) {
  if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) {
    throw std::runtime_error("making test certificates failed: " + command);
  }
}

class Folder {
 public:
  Folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ntrip-tls-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path = pattern;
    const std::string key = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string ca = path + "/ca";
    try {
      Run("openssl req -x509" + key + " -days 2 -subj '/CN=NTRIP Test CA' -keyout " + ca +
          ".key -out " + ca + ".pem");
      Leaf("server", "/CN=127.0.0.1", "IP:127.0.0.1,DNS:localhost", key);
      Leaf("other", "/CN=other.example", "DNS:other.example", key);
    } catch (...) {
      std::error_code ignored;
      std::filesystem::remove_all(path, ignored);
      throw;
    }
    certificates = {ca + ".pem", path + "/server.pem", path + "/server.key", path + "/other.pem",
                    path + "/other.key"};
  }
  ~Folder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  TestCertificates certificates;

 private:
  void Leaf(const std::string& name, const std::string& subject, const std::string& names,
            const std::string& key) {
    const std::string base = path + "/" + name;
    std::ofstream(base + ".ext") << "subjectAltName=" << names << "\n";
    Run("openssl req" + key + " -subj '" + subject + "' -keyout " + base + ".key -out " + base +
        ".csr");
    Run("openssl x509 -req -days 2 -in " + base + ".csr -CA " + path + "/ca.pem -CAkey " + path +
        "/ca.key -CAcreateserial -extfile " + base + ".ext -out " + base + ".pem");
  }

  std::string path;
};

}  // namespace

const TestCertificates& Certificates() {
  static const Folder folder;
  return folder.certificates;
}

}  // namespace test_support
