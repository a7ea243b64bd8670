#pragma once
// Authenticode signatures of Windows programs: a screensaver or installer is signed as a whole
// (the player and the archive after it) with a certificate from a PKCS#12 file, and a signature
// is checked against the bytes it covers. Built with OpenSSL; a build without it (the Windows
// cross-build) has SigningAvailable() false and raises Error from the rest.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/error.h"

namespace nimbrel::signing {

// Whether this build can sign and check signatures.
bool SigningAvailable();

struct SigningRequest {
    std::string certificatePath;  // a PKCS#12 file (.pfx, .p12): key, certificate and its chain
    std::string password;         // kept in memory only
    std::string timestampUrl;     // an RFC 3161 time-stamping service, or empty
};

// Bytes hashed so far and the total; may be called often.
using SignProgress = std::function<void(std::uint64_t done, std::uint64_t total)>;

struct SignResult {
    std::string signer;  // the signer certificate's common name (or its whole subject)
    bool timestamped = false;
};

// Signs the program at `path` in place: SHA-256 image hash, a PKCS#7 SignedData over it with
// the certificate chain, the certificate table appended on an 8-byte boundary, the security
// entry and the PE checksum set. An earlier signature is replaced. Raises Error naming the file
// (or the certificate file) and what is wrong; on failure the program is left as it was.
SignResult SignFile(const std::string& path, const SigningRequest& request, const SignProgress& progress = {});

// The signer's name in a PKCS#12 file, for showing before a build. Raises Error.
std::string CertificateSigner(const std::string& certificatePath, const std::string& password);

struct SignatureReport {
    bool present = false;  // the file has a certificate table with a signature
    std::string signer;    // the signer certificate's common name
    std::string digest;    // "SHA-256", "SHA-1", ...
    bool matches = false;  // the image hash and the signature both check out
    std::string problem;   // why it does not match, or why it cannot be read
};

// Reads and checks the signature of the program at `path`. The certificate chain is not
// judged (test and private certificates are fine); only that the signature is the signer's and
// covers these very bytes. Raises Error only when the file cannot be read.
SignatureReport CheckSignature(const std::string& path);

// The DER-encoded RFC 3161 TimeStampReq for a signature value: SHA-256 message imprint, a
// nonce, the service's certificate asked for.
std::string TimestampRequest(const std::string& signatureValue);

// The password in a file: its first line, without the line break.
std::string ReadPasswordFile(const std::string& path);

}  // namespace nimbrel::signing
