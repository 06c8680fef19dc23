#pragma once

#include <string>

// Writes a new self-signed certificate for 127.0.0.1 (and "localhost"), valid for an hour, and its
// private key, as PEM files: a stand-in https server uses both, and a client trusts it only when it
// is given the certificate. False when OpenSSL cannot make or write them.
bool WriteSelfSignedCertificate(const std::string& certPath, const std::string& keyPath);
