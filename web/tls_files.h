// The administration server's TLS: the certificate and key files it serves with, read and tried
// the way the server will use them, and the protocols and ciphers it offers (TLS 1.2 and 1.3,
// forward-secret key exchange, authenticated encryption only).
#pragma once

#include <optional>
#include <string>

namespace vx {

// GnuTLS's words for what the server offers; older protocols, RSA key exchange and CBC ciphers
// are refused in the handshake.
inline constexpr const char* kAdminTlsPriorities =
    "SECURE:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-CIPHER-ALL:+AES-256-GCM:+AES-128-GCM:"
    "+CHACHA20-POLY1305:-MAC-ALL:+AEAD:-KX-ALL:+ECDHE-ECDSA:+ECDHE-RSA:%SERVER_PRECEDENCE";

// A year, as browsers expect of a site that means it.
inline constexpr const char* kStrictTransportSecurity = "max-age=31536000";

struct TlsFiles {
  std::string certificate;  // PEM text of the certificate (chain)
  std::string key;          // PEM text of its private key
};

struct TlsFilesReading {
  std::optional<TlsFiles> files;
  std::string problem;  // why they cannot be used, naming the file; "" when they can
};

// Reads both files and has GnuTLS take them as a certificate and the private key that belongs
// to it: a missing, empty, unreadable or oversized file, text that is not PEM, a key that
// belongs to another certificate or is encrypted each give a problem.
TlsFilesReading tls_files_read(const std::string& certificate_path, const std::string& key_path);

}  // namespace vx
