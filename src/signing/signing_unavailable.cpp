// This build has no OpenSSL: it cannot sign or check signatures, and says so.
#include "signing/authenticode.h"

namespace nimbrel::signing {

namespace {
[[noreturn]] void Unavailable() {
    throw Error("This build of Nimbrel cannot sign programs (it was built without OpenSSL)");
}
}  // namespace

bool SigningAvailable() { return false; }
SignResult SignFile(const std::string&, const SigningRequest&, const SignProgress&) { Unavailable(); }
std::string CertificateSigner(const std::string&, const std::string&) { Unavailable(); }
SignatureReport CheckSignature(const std::string&) { Unavailable(); }
std::string TimestampRequest(const std::string&) { Unavailable(); }

}  // namespace nimbrel::signing
