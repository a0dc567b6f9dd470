#include "web/tls_files.h"

#include <gnutls/gnutls.h>

#include <memory>

#include "platform/atomic_file.h"

namespace vx {
namespace {

// Certificate chains and keys are a few kilobytes; anything much larger is not one.
constexpr std::size_t kPemSizeLimit = 1u << 20;

struct CredentialsDeleter {
  void operator()(gnutls_certificate_credentials_st* credentials) const {
    gnutls_certificate_free_credentials(credentials);
  }
};

// The file's text, or the reason it gives none.
std::optional<std::string> read_pem(const char* what, const std::string& path,
                                    std::string& problem) {
  if (path.empty()) {
    problem = std::string("no ") + what + " file is set";
    return std::nullopt;
  }
  std::optional<std::string> text = file_read_whole(path, kPemSizeLimit);
  if (!text) {
    problem = std::string("the ") + what + " file " + path +
              " cannot be read (missing, not a regular file, unreadable or over 1 MiB)";
  } else if (text->empty() || text->find('\0') != std::string::npos) {
    problem = std::string("the ") + what + " file " + path + " holds no PEM text";
    text.reset();
  }
  return text;
}

gnutls_datum_t datum_of(const std::string& text) {
  return {reinterpret_cast<unsigned char*>(const_cast<char*>(text.data())),
          static_cast<unsigned>(text.size())};
}

}  // namespace

TlsFilesReading tls_files_read(const std::string& certificate_path, const std::string& key_path) {
  TlsFilesReading reading;
  std::optional<std::string> certificate =
      read_pem("certificate", certificate_path, reading.problem);
  if (!certificate) return reading;
  std::optional<std::string> key = read_pem("key", key_path, reading.problem);
  if (!key) return reading;

  gnutls_certificate_credentials_t raw = nullptr;
  if (gnutls_certificate_allocate_credentials(&raw) < 0) {
    reading.problem = "the TLS library cannot be used";
    return reading;
  }
  const std::unique_ptr<gnutls_certificate_credentials_st, CredentialsDeleter> credentials(raw);
  const gnutls_datum_t certificate_datum = datum_of(*certificate);
  const gnutls_datum_t key_datum = datum_of(*key);
  // The same call the server makes with them; it also refuses a key of another certificate.
  const int result = gnutls_certificate_set_x509_key_mem(credentials.get(), &certificate_datum,
                                                         &key_datum, GNUTLS_X509_FMT_PEM);
  if (result < 0) {
    reading.problem = "the certificate " + certificate_path + " and the key " + key_path +
                      " cannot be used together: " + gnutls_strerror(result);
    return reading;
  }
  reading.files = TlsFiles{std::move(*certificate), std::move(*key)};
  return reading;
}

}  // namespace vx
