#include "system_trust_store.h"

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

namespace tarno {

#ifdef _WIN32

bool LoadSystemTrustStore(ssl_ctx_st* context, std::string& reason) {
  HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
  if (store == nullptr) {
    reason = "the ROOT certificate store cannot be opened (error " +
             std::to_string(GetLastError()) + ")";
    return false;
  }
  X509_STORE* trusted = SSL_CTX_get_cert_store(context);
  int added = 0;
  PCCERT_CONTEXT entry = nullptr;
  while ((entry = CertEnumCertificatesInStore(store, entry)) != nullptr) {
    const unsigned char* der = entry->pbCertEncoded;
    X509* certificate = d2i_X509(nullptr, &der, static_cast<long>(entry->cbCertEncoded));
    if (certificate == nullptr) continue;  // one the OpenSSL parser does not take: skipped
    if (X509_STORE_add_cert(trusted, certificate) == 1) ++added;
    X509_free(certificate);
  }
  CertCloseStore(store, 0);
  ERR_clear_error();  // duplicates and skipped entries leave errors nobody asked about
  if (added == 0) {
    reason = "the ROOT certificate store holds no usable certificate";
    return false;
  }
  return true;
}

#else

bool LoadSystemTrustStore(ssl_ctx_st* context, std::string& reason) {
  if (SSL_CTX_set_default_verify_paths(context) == 1) return true;
  char text[256];
  ERR_error_string_n(ERR_get_error(), text, sizeof text);
  reason = text;
  return false;
}

#endif

}  // namespace tarno
