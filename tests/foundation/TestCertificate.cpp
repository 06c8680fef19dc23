#include "tests/foundation/TestCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>

namespace {

struct PkeyDeleter {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct X509Deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ExtensionDeleter {
    void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

bool AddExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    std::unique_ptr<X509_EXTENSION, ExtensionDeleter> extension(
        X509V3_EXT_conf_nid(nullptr, &context, nid, value));
    return extension && X509_add_ext(certificate, extension.get(), -1) == 1;
}

} // namespace

bool WriteSelfSignedCertificate(const std::string& certPath, const std::string& keyPath)
{
    std::unique_ptr<EVP_PKEY, PkeyDeleter> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, X509Deleter> certificate(X509_new());
    if (!key || !certificate)
        return false;
    unsigned char serial[8];
    if (RAND_bytes(serial, sizeof(serial)) != 1)
        return false;
    serial[0] &= 0x7F; // a positive number
    BIGNUM* number = BN_bin2bn(serial, sizeof(serial), nullptr);
    bool ok = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(certificate.get())) != nullptr;
    BN_free(number);
    X509_NAME* name = X509_get_subject_name(certificate.get());
    ok = ok && X509_set_version(certificate.get(), 2) == 1 &&
         X509_gmtime_adj(X509_getm_notBefore(certificate.get()), -60) != nullptr &&
         X509_gmtime_adj(X509_getm_notAfter(certificate.get()), 3600) != nullptr &&
         X509_set_pubkey(certificate.get(), key.get()) == 1 &&
         X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0) == 1 &&
         X509_set_issuer_name(certificate.get(), name) == 1 &&
         AddExtension(certificate.get(), NID_basic_constraints, "critical,CA:TRUE") &&
         AddExtension(certificate.get(), NID_key_usage, "critical,digitalSignature,keyCertSign") &&
         AddExtension(certificate.get(), NID_subject_key_identifier, "hash") &&
         AddExtension(certificate.get(), NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") &&
         X509_sign(certificate.get(), key.get(), EVP_sha256()) > 0;
    if (!ok)
        return false;

    std::unique_ptr<FILE, FileCloser> certFile(std::fopen(certPath.c_str(), "wb"));
    std::unique_ptr<FILE, FileCloser> keyFile(std::fopen(keyPath.c_str(), "wb"));
    if (!certFile || !keyFile)
        return false;
    return PEM_write_X509(certFile.get(), certificate.get()) == 1 &&
           PEM_write_PrivateKey(keyFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1 &&
           std::fclose(certFile.release()) == 0 && std::fclose(keyFile.release()) == 0;
}
