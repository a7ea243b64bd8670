#include "signing/authenticode.h"

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/http.h>
#include <openssl/objects.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/rand.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "archive/archive_format.h"
#include "archive/archive_reader.h"
#include "archive/file_stream.h"
#include "archive/pe_layout.h"
#include "platform/files.h"
#include "signing/pe_checksum.h"

namespace nimbrel::signing {

namespace {

using archive::FileStream;
using archive::PeLayout;

// Object identifiers of Authenticode.
constexpr const char* kSpcIndirectData = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kSpcPeImageData = "1.3.6.1.4.1.311.2.1.15";
constexpr const char* kSpcStatementType = "1.3.6.1.4.1.311.2.1.11";
constexpr const char* kSpcIndividualCodeSigning = "1.3.6.1.4.1.311.2.1.21";
constexpr const char* kSpcOpusInfo = "1.3.6.1.4.1.311.2.1.12";
constexpr const char* kRfc3161Timestamp = "1.3.6.1.4.1.311.3.3.1";

constexpr std::uint16_t kCertRevision2 = 0x0200;
constexpr std::uint16_t kCertTypePkcsSignedData = 0x0002;
constexpr std::size_t kChunk = 1 << 20;

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

void FreeBio(BIO* b) { BIO_free_all(b); }
void FreeX509Stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }
void FreeObject(ASN1_OBJECT* o) { ASN1_OBJECT_free(o); }

using BioPtr = Owned<BIO, FreeBio>;
using Pkcs7Ptr = Owned<PKCS7, PKCS7_free>;
using Pkcs12Ptr = Owned<PKCS12, PKCS12_free>;
using KeyPtr = Owned<EVP_PKEY, EVP_PKEY_free>;
using X509Ptr = Owned<X509, X509_free>;
using ChainPtr = Owned<STACK_OF(X509), FreeX509Stack>;
using MdCtxPtr = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using ObjectPtr = Owned<ASN1_OBJECT, FreeObject>;
using StorePtr = Owned<X509_STORE, X509_STORE_free>;
using TsReqPtr = Owned<TS_REQ, TS_REQ_free>;
using TsRespPtr = Owned<TS_RESP, TS_RESP_free>;

// The first error OpenSSL queued, as text, and the queue emptied.
std::string OpenSslError() {
    unsigned long code = ERR_get_error();
    std::string text;
    if (code != 0) {
        char buffer[256];
        ERR_error_string_n(code, buffer, sizeof buffer);
        const char* reason = ERR_reason_error_string(code);
        text = reason ? reason : buffer;
    }
    ERR_clear_error();
    return text.empty() ? "unknown OpenSSL error" : text;
}

[[noreturn]] void Fail(const std::string& what) {
    throw Error(what + " (" + OpenSslError() + ")");
}

int Nid(const char* oid, const char* shortName) {
    int nid = OBJ_txt2nid(oid);
    if (nid == NID_undef) nid = OBJ_create(oid, shortName, shortName);
    return nid;
}

// --- DER, as far as Authenticode's own structures need it ----------------------------------

std::string DerLength(std::size_t length) {
    if (length < 0x80) return std::string(1, static_cast<char>(length));
    std::string bytes;
    for (std::size_t v = length; v > 0; v >>= 8) bytes.insert(bytes.begin(), static_cast<char>(v & 0xFF));
    return static_cast<char>(0x80 | bytes.size()) + bytes;
}

std::string Tlv(unsigned char tag, const std::string& content) {
    return static_cast<char>(tag) + DerLength(content.size()) + content;
}

std::string OidDer(const char* oid) {
    ObjectPtr object(OBJ_txt2obj(oid, 1));
    if (!object) Fail(std::string("Cannot encode the object identifier ") + oid);
    int size = i2d_ASN1_OBJECT(object.get(), nullptr);
    std::string der(static_cast<std::size_t>(size), '\0');
    auto* p = reinterpret_cast<unsigned char*>(der.data());
    i2d_ASN1_OBJECT(object.get(), &p);
    return der;
}

// One element of DER: its tag, where its content starts and how long the content is.
struct DerItem {
    unsigned char tag = 0;
    std::size_t contentAt = 0;
    std::size_t contentSize = 0;
    std::size_t End() const { return contentAt + contentSize; }
};

std::optional<DerItem> ReadDer(const std::string& der, std::size_t at, std::size_t end) {
    if (at + 2 > end) return std::nullopt;
    DerItem item;
    item.tag = static_cast<unsigned char>(der[at]);
    std::size_t length = static_cast<unsigned char>(der[at + 1]);
    at += 2;
    if (length & 0x80) {
        std::size_t count = length & 0x7F;
        if (count == 0 || count > 4 || at + count > end) return std::nullopt;
        length = 0;
        for (std::size_t i = 0; i < count; ++i) length = length << 8 | static_cast<unsigned char>(der[at++]);
    }
    if (length > end - at) return std::nullopt;
    item.contentAt = at;
    item.contentSize = length;
    return item;
}

// SpcIndirectDataContent: the PE image data object (empty flags, the customary "obsolete" file
// link) and the digest of the image.
std::string IndirectDataContent(const EVP_MD* md, const std::string& digest) {
    std::string obsolete;
    for (char c : std::string("<<<Obsolete>>>")) obsolete += std::string{'\0', c};  // BMPString
    std::string peImageData = Tlv(0x30, Tlv(0x03, std::string(1, '\0')) +
                                            Tlv(0xA0, Tlv(0xA2, Tlv(0x80, obsolete))));
    std::string data = Tlv(0x30, OidDer(kSpcPeImageData) + peImageData);
    ObjectPtr mdObject(OBJ_dup(OBJ_nid2obj(EVP_MD_get_type(md))));
    int size = i2d_ASN1_OBJECT(mdObject.get(), nullptr);
    std::string mdOid(static_cast<std::size_t>(size), '\0');
    auto* p = reinterpret_cast<unsigned char*>(mdOid.data());
    i2d_ASN1_OBJECT(mdObject.get(), &p);
    std::string digestInfo = Tlv(0x30, Tlv(0x30, mdOid + Tlv(0x05, "")) + Tlv(0x04, digest));
    return Tlv(0x30, data + digestInfo);
}

// --- The image hash ------------------------------------------------------------------------

struct ImageHash {
    std::string digest;
    PeChecksum checksum;  // every byte hashed or skipped, but for CheckSum and the security entry
};

// Hashes [0, end) but for the CheckSum field and the security entry, then `padding` zero bytes.
ImageHash HashImage(FileStream& file, const PeLayout& layout, std::uint64_t end, std::uint64_t padding,
                    const EVP_MD* md, const SignProgress& progress) {
    MdCtxPtr ctx(EVP_MD_CTX_new());
    if (!ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) Fail("Cannot start the image hash");
    ImageHash result;
    const std::array<std::pair<std::uint64_t, std::uint64_t>, 2> skipped = {{
        {layout.checksumOffset, layout.checksumOffset + 4},
        {layout.securityEntryOffset, layout.securityEntryOffset + 8},
    }};
    std::vector<unsigned char> buffer(kChunk);
    file.Seek(0);
    for (std::uint64_t at = 0; at < end;) {
        auto size = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, end - at));
        file.ReadExact(buffer.data(), size);
        // The piece without the skipped fields (they lie in the headers, in order).
        std::uint64_t from = at;
        const std::uint64_t to = at + size;
        for (const auto& [skipFrom, skipTo] : skipped) {
            if (skipTo <= from || skipFrom >= to) continue;
            if (skipFrom > from) {
                const unsigned char* p = buffer.data() + (from - at);
                EVP_DigestUpdate(ctx.get(), p, skipFrom - from);
                result.checksum.Add(from, p, skipFrom - from);
            }
            from = std::max(from, std::min(skipTo, to));
        }
        if (from < to) {
            const unsigned char* p = buffer.data() + (from - at);
            EVP_DigestUpdate(ctx.get(), p, to - from);
            result.checksum.Add(from, p, to - from);
        }
        at = to;
        if (progress) progress(at, end);
    }
    const unsigned char zeros[archive::kCertTableAlignment] = {};
    EVP_DigestUpdate(ctx.get(), zeros, static_cast<std::size_t>(padding));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (EVP_DigestFinal_ex(ctx.get(), digest, &digestSize) != 1) Fail("Cannot finish the image hash");
    result.digest.assign(reinterpret_cast<const char*>(digest), digestSize);
    return result;
}

// --- Certificates --------------------------------------------------------------------------

struct SigningMaterial {
    KeyPtr key;
    X509Ptr certificate;
    ChainPtr chain;
};

SigningMaterial LoadPkcs12(const std::string& path, const std::string& password) {
    std::string bytes;
    try {
        bytes = platform::ReadWholeFile(path);
    } catch (const Error& e) {
        throw Error("Cannot read the certificate file " + path + ": " + e.what());
    }
    BioPtr bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())));
    Pkcs12Ptr p12(d2i_PKCS12_bio(bio.get(), nullptr));
    if (!p12) {
        ERR_clear_error();
        throw Error("The certificate file " + path + " is not a PKCS#12 (.pfx) file");
    }
    if (PKCS12_mac_present(p12.get()) && PKCS12_verify_mac(p12.get(), password.c_str(), -1) != 1) {
        ERR_clear_error();
        throw Error("The password of the certificate file " + path + " is wrong");
    }
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (PKCS12_parse(p12.get(), password.c_str(), &key, &certificate, &chain) != 1)
        Fail("Cannot read the key and certificate in " + path);
    SigningMaterial m{KeyPtr(key), X509Ptr(certificate), ChainPtr(chain)};
    if (!m.key || !m.certificate)
        throw Error("The certificate file " + path + " holds no private key with its certificate");
    return m;
}

std::string CommonName(X509* certificate) {
    X509_NAME* name = X509_get_subject_name(certificate);
    int index = X509_NAME_get_index_by_NID(name, NID_commonName, -1);
    if (index >= 0) {
        ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index));
        unsigned char* utf8 = nullptr;
        int size = ASN1_STRING_to_UTF8(&utf8, value);
        if (size >= 0) {
            std::string text(reinterpret_cast<char*>(utf8), static_cast<std::size_t>(size));
            OPENSSL_free(utf8);
            return text;
        }
    }
    char* line = X509_NAME_oneline(name, nullptr, 0);
    std::string text = line ? line : "";
    OPENSSL_free(line);
    return text;
}

std::string Der(PKCS7* p7) {
    int size = i2d_PKCS7(p7, nullptr);
    if (size <= 0) Fail("Cannot encode the signature");
    std::string der(static_cast<std::size_t>(size), '\0');
    auto* p = reinterpret_cast<unsigned char*>(der.data());
    i2d_PKCS7(p7, &p);
    return der;
}

ASN1_STRING* SequenceString(const std::string& der) {
    ASN1_STRING* s = ASN1_STRING_type_new(V_ASN1_SEQUENCE);
    if (!s || ASN1_STRING_set(s, der.data(), static_cast<int>(der.size())) != 1) Fail("Out of memory");
    return s;
}

// The content of a DER element without its tag and length: what the signed digest covers.
std::string ContentOf(const std::string& der) {
    auto item = ReadDer(der, 0, der.size());
    if (!item) throw Error("The signed content is not valid DER");
    return der.substr(item->contentAt, item->contentSize);
}

Pkcs7Ptr SignContent(const SigningMaterial& m, const std::string& indirectData) {
    Pkcs7Ptr p7(PKCS7_new());
    if (!p7 || PKCS7_set_type(p7.get(), NID_pkcs7_signed) != 1) Fail("Cannot make the signature");
    PKCS7_SIGNER_INFO* si = PKCS7_add_signature(p7.get(), m.certificate.get(), m.key.get(), EVP_sha256());
    if (!si) Fail("Cannot sign with this key");
    PKCS7_add_signed_attribute(si, NID_pkcs9_contentType, V_ASN1_OBJECT, OBJ_txt2obj(kSpcIndirectData, 1));
    PKCS7_add_signed_attribute(si, Nid(kSpcStatementType, "spcStatementType"), V_ASN1_SEQUENCE,
                               SequenceString(Tlv(0x30, OidDer(kSpcIndividualCodeSigning))));
    PKCS7_add_signed_attribute(si, Nid(kSpcOpusInfo, "spcSpOpusInfo"), V_ASN1_SEQUENCE,
                               SequenceString(Tlv(0x30, "")));
    PKCS7_add_certificate(p7.get(), m.certificate.get());
    for (int i = 0; m.chain && i < sk_X509_num(m.chain.get()); ++i)
        PKCS7_add_certificate(p7.get(), sk_X509_value(m.chain.get(), i));
    if (PKCS7_content_new(p7.get(), NID_pkcs7_data) != 1) Fail("Cannot make the signature");

    const std::string content = ContentOf(indirectData);
    BIO* bio = PKCS7_dataInit(p7.get(), nullptr);
    if (!bio) Fail("Cannot make the signature");
    BioPtr chain(bio);
    BIO_write(bio, content.data(), static_cast<int>(content.size()));
    (void)BIO_flush(bio);
    if (PKCS7_dataFinal(p7.get(), bio) != 1) Fail("Cannot sign with this key");

    // The signed content is the SpcIndirectDataContent, not plain data.
    PKCS7* inner = PKCS7_new();
    inner->type = OBJ_txt2obj(kSpcIndirectData, 1);
    inner->d.other = ASN1_TYPE_new();
    ASN1_TYPE_set(inner->d.other, V_ASN1_SEQUENCE, SequenceString(indirectData));
    if (PKCS7_set_content(p7.get(), inner) != 1) {
        PKCS7_free(inner);
        Fail("Cannot make the signature");
    }
    return p7;
}

std::string SignatureValue(PKCS7* p7) {
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0);
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(si->enc_digest)),
                       static_cast<std::size_t>(ASN1_STRING_length(si->enc_digest)));
}

// Asks the time-stamping service for a token over the signature and adds it to the signer's
// unsigned attributes.
void AddTimestamp(PKCS7* p7, const std::string& url) {
    char* host = nullptr;
    char* port = nullptr;
    char* path = nullptr;
    int ssl = 0;
    if (OSSL_HTTP_parse_url(url.c_str(), &ssl, nullptr, &host, &port, nullptr, &path, nullptr, nullptr) != 1)
        Fail("The time-stamping address " + url + " is not a URL");
    std::unique_ptr<char, void (*)(void*)> hostOwner(host, [](void* p) { OPENSSL_free(p); });
    std::unique_ptr<char, void (*)(void*)> portOwner(port, [](void* p) { OPENSSL_free(p); });
    std::unique_ptr<char, void (*)(void*)> pathOwner(path, [](void* p) { OPENSSL_free(p); });
    if (ssl) throw Error("The time-stamping address " + url + " uses https; give its http address");
    const std::string request = TimestampRequest(SignatureValue(p7));
    BioPtr requestBio(BIO_new_mem_buf(request.data(), static_cast<int>(request.size())));
    BioPtr reply(OSSL_HTTP_transfer(nullptr, host, port, path, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                    nullptr, 0, nullptr, "application/timestamp-query", requestBio.get(),
                                    "application/timestamp-reply", 0, 1 << 20, 60, 0));
    if (!reply) Fail("The time-stamping service " + url + " did not answer");
    TsRespPtr response(d2i_TS_RESP_bio(reply.get(), nullptr));
    if (!response) Fail("The time-stamping service " + url + " sent no time-stamp");
    const ASN1_INTEGER* status = TS_STATUS_INFO_get0_status(TS_RESP_get_status_info(response.get()));
    if (ASN1_INTEGER_get(status) > 1)  // granted (0) or granted with modifications (1)
        throw Error("The time-stamping service " + url + " refused to time-stamp the signature");
    PKCS7* token = TS_RESP_get_token(response.get());
    if (!token) throw Error("The time-stamping service " + url + " sent no time-stamp");
    PKCS7_SIGNER_INFO* si = sk_PKCS7_SIGNER_INFO_value(PKCS7_get_signer_info(p7), 0);
    PKCS7_add_attribute(si, Nid(kRfc3161Timestamp, "spcRfc3161Timestamp"), V_ASN1_SEQUENCE,
                        SequenceString(Der(token)));
}

std::string Le16(std::uint16_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}
std::string Le32(std::uint32_t v) {
    return Le16(static_cast<std::uint16_t>(v)) + Le16(static_cast<std::uint16_t>(v >> 16));
}

std::string DigestName(const EVP_MD* md) {
    switch (EVP_MD_get_type(md)) {
        case NID_sha1: return "SHA-1";
        case NID_sha256: return "SHA-256";
        case NID_sha384: return "SHA-384";
        case NID_sha512: return "SHA-512";
        case NID_md5: return "MD5";
        default: return EVP_MD_get0_name(md);
    }
}

}  // namespace

bool SigningAvailable() { return true; }

std::string CertificateSigner(const std::string& certificatePath, const std::string& password) {
    return CommonName(LoadPkcs12(certificatePath, password).certificate.get());
}

SignResult SignFile(const std::string& path, const SigningRequest& request, const SignProgress& progress) {
    SigningMaterial material = LoadPkcs12(request.certificatePath, request.password);
    std::optional<PeLayout> layout = archive::ReadPeLayout(*archive::FileByteSource(path));
    if (!layout) throw Error(path + ": not a Windows program (no PE headers), so it cannot be signed");
    FileStream file(path, FileStream::Mode::ReadWrite);
    const auto size = static_cast<std::uint64_t>(file.Size());
    std::uint64_t end = size;
    if (layout->HasCertTable()) {
        // An earlier signature is replaced; one with data after it is not ours to cut off.
        if (static_cast<std::uint64_t>(layout->certTableOffset) + layout->certTableSize + archive::kCertTableAlignment <=
            size)
            throw Error(path + ": its signature is followed by other data, so it cannot be signed again");
        end = layout->certTableOffset;
    }
    if (layout->securityEntryOffset + 8 > end || layout->checksumOffset + 4 > end)
        throw Error(path + ": its headers are damaged, so it cannot be signed");
    const std::uint64_t padding = (archive::kCertTableAlignment - end % archive::kCertTableAlignment) %
                                  archive::kCertTableAlignment;
    ImageHash hash = HashImage(file, *layout, end, padding, EVP_sha256(), progress);

    Pkcs7Ptr p7 = SignContent(material, IndirectDataContent(EVP_sha256(), hash.digest));
    SignResult result;
    result.signer = CommonName(material.certificate.get());
    if (!request.timestampUrl.empty()) {
        AddTimestamp(p7.get(), request.timestampUrl);
        result.timestamped = true;
    }
    const std::string signature = Der(p7.get());
    std::string table = Le32(0) + Le16(kCertRevision2) + Le16(kCertTypePkcsSignedData) + signature;
    table.resize((table.size() + archive::kCertTableAlignment - 1) / archive::kCertTableAlignment *
                 archive::kCertTableAlignment);
    const std::string length = Le32(static_cast<std::uint32_t>(table.size()));
    table.replace(0, 4, length);
    const std::uint64_t tableAt = end + padding;
    const std::string entry = Le32(static_cast<std::uint32_t>(tableAt)) + length;
    if (tableAt + table.size() > 0xFFFFFFFFull) throw Error(path + ": too large to be signed (4 GiB at most)");
    auto bytes = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
    hash.checksum.Add(layout->securityEntryOffset, bytes(entry), entry.size());
    hash.checksum.Add(tableAt, bytes(table), table.size());
    const std::string checksum = Le32(hash.checksum.Finish(tableAt + table.size()));

    // What is overwritten is kept, so that a failed write leaves the program as it was.
    std::string oldTail(static_cast<std::size_t>(size - end), '\0'), oldEntry(8, '\0'), oldChecksum(4, '\0');
    file.Seek(static_cast<std::int64_t>(end));
    file.ReadExact(oldTail.data(), oldTail.size());
    file.Seek(static_cast<std::int64_t>(layout->securityEntryOffset));
    file.ReadExact(oldEntry.data(), 8);
    file.Seek(static_cast<std::int64_t>(layout->checksumOffset));
    file.ReadExact(oldChecksum.data(), 4);
    try {
        file.Truncate(static_cast<std::int64_t>(end));
        file.Write(std::string(static_cast<std::size_t>(padding), '\0').data(), static_cast<std::size_t>(padding));
        file.Write(table.data(), table.size());
        file.Seek(static_cast<std::int64_t>(layout->securityEntryOffset));
        file.Write(entry.data(), entry.size());
        file.Seek(static_cast<std::int64_t>(layout->checksumOffset));
        file.Write(checksum.data(), checksum.size());
        file.Close();
    } catch (const Error& e) {
        try {
            FileStream undo(path, FileStream::Mode::ReadWrite);
            undo.Truncate(static_cast<std::int64_t>(end));
            undo.Write(oldTail.data(), oldTail.size());
            undo.Seek(static_cast<std::int64_t>(layout->securityEntryOffset));
            undo.Write(oldEntry.data(), 8);
            undo.Seek(static_cast<std::int64_t>(layout->checksumOffset));
            undo.Write(oldChecksum.data(), 4);
            undo.Close();
        } catch (const Error&) {
        }
        throw Error("Cannot write the signature into " + path + ": " + e.what());
    }
    return result;
}

SignatureReport CheckSignature(const std::string& path) {
    SignatureReport report;
    std::optional<PeLayout> layout = archive::ReadPeLayout(*archive::FileByteSource(path));
    if (!layout) {
        report.problem = "not a Windows program";
        return report;
    }
    if (!layout->HasCertTable()) {
        report.problem = "not signed";
        return report;
    }
    FileStream file(path, FileStream::Mode::Read);
    std::string table(layout->certTableSize, '\0');
    file.Seek(layout->certTableOffset);
    file.ReadExact(table.data(), table.size());
    report.present = true;
    const auto* t = reinterpret_cast<const unsigned char*>(table.data());
    const std::uint32_t length = table.size() >= 8 ? archive::ReadU32(t) : 0;
    if (length < 8 || length > table.size() || (t[4] | t[5] << 8) != kCertRevision2 ||
        (t[6] | t[7] << 8) != kCertTypePkcsSignedData) {
        report.problem = "its certificate table holds no signature that can be read";
        return report;
    }
    const unsigned char* p = t + 8;
    Pkcs7Ptr p7(d2i_PKCS7(nullptr, &p, static_cast<long>(length - 8)));
    ERR_clear_error();
    if (!p7 || !PKCS7_type_is_signed(p7.get()) || !p7->d.sign->contents ||
        OBJ_obj2nid(p7->d.sign->contents->type) != OBJ_txt2nid(kSpcIndirectData) ||
        !p7->d.sign->contents->d.other || p7->d.sign->contents->d.other->type != V_ASN1_SEQUENCE) {
        report.problem = "its signature is damaged or no Authenticode signature";
        return report;
    }
    STACK_OF(X509)* signers = PKCS7_get0_signers(p7.get(), nullptr, 0);
    if (signers && sk_X509_num(signers) > 0) report.signer = CommonName(sk_X509_value(signers, 0));
    sk_X509_free(signers);
    ERR_clear_error();

    // The digest the signature holds: SpcIndirectDataContent's DigestInfo.
    const ASN1_STRING* sequence = p7->d.sign->contents->d.other->value.sequence;
    const std::string indirect(reinterpret_cast<const char*>(ASN1_STRING_get0_data(sequence)),
                               static_cast<std::size_t>(ASN1_STRING_length(sequence)));
    const EVP_MD* md = nullptr;
    std::string signedDigest;
    if (auto outer = ReadDer(indirect, 0, indirect.size())) {
        if (auto data = ReadDer(indirect, outer->contentAt, outer->End())) {
            if (auto info = ReadDer(indirect, data->End(), outer->End())) {
                auto algorithm = ReadDer(indirect, info->contentAt, info->End());
                auto digest = algorithm ? ReadDer(indirect, algorithm->End(), info->End()) : std::nullopt;
                auto oid = algorithm ? ReadDer(indirect, algorithm->contentAt, algorithm->End()) : std::nullopt;
                if (digest && oid && oid->tag == 0x06 && digest->tag == 0x04) {
                    const auto* o = reinterpret_cast<const unsigned char*>(indirect.data()) + oid->contentAt - 2;
                    ObjectPtr object(d2i_ASN1_OBJECT(nullptr, &o, static_cast<long>(oid->contentSize + 2)));
                    if (object) md = EVP_get_digestbynid(OBJ_obj2nid(object.get()));
                    signedDigest = indirect.substr(digest->contentAt, digest->contentSize);
                }
            }
        }
    }
    ERR_clear_error();
    if (!md) {
        report.problem = "its signature names no digest this program knows";
        return report;
    }
    report.digest = DigestName(md);

    // The signature over the content, by the certificate it names (the chain is not judged).
    const std::string content = ContentOf(indirect);
    BioPtr contentBio(BIO_new_mem_buf(content.data(), static_cast<int>(content.size())));
    StorePtr store(X509_STORE_new());
    const bool signatureOk =
        PKCS7_verify(p7.get(), nullptr, store.get(), contentBio.get(), nullptr, PKCS7_NOVERIFY) == 1;
    ERR_clear_error();

    const std::uint64_t end = layout->certTableOffset;
    ImageHash hash = HashImage(file, *layout, end, 0, md, {});
    if (hash.digest != signedDigest) {
        report.problem = "the file was changed after it was signed: its contents no longer match the signature";
    } else if (!signatureOk) {
        report.problem = "the signature does not match the signed content (it was altered or made with another key)";
    } else {
        report.matches = true;
    }
    return report;
}

std::string TimestampRequest(const std::string& signatureValue) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestSize = 0;
    if (EVP_Digest(signatureValue.data(), signatureValue.size(), digest, &digestSize, EVP_sha256(), nullptr) != 1)
        Fail("Cannot hash the signature");
    TsReqPtr request(TS_REQ_new());
    TS_MSG_IMPRINT* imprint = TS_MSG_IMPRINT_new();
    X509_ALGOR* algorithm = X509_ALGOR_new();
    X509_ALGOR_set0(algorithm, OBJ_nid2obj(NID_sha256), V_ASN1_NULL, nullptr);
    TS_MSG_IMPRINT_set_algo(imprint, algorithm);
    TS_MSG_IMPRINT_set_msg(imprint, digest, static_cast<int>(digestSize));
    TS_REQ_set_version(request.get(), 1);
    TS_REQ_set_msg_imprint(request.get(), imprint);
    X509_ALGOR_free(algorithm);
    TS_MSG_IMPRINT_free(imprint);
    unsigned char nonceBytes[8];
    if (RAND_bytes(nonceBytes, sizeof nonceBytes) != 1) Fail("No random bytes for the nonce");
    nonceBytes[0] &= 0x7F;
    BIGNUM* number = BN_bin2bn(nonceBytes, sizeof nonceBytes, nullptr);
    ASN1_INTEGER* nonce = BN_to_ASN1_INTEGER(number, nullptr);
    BN_free(number);
    TS_REQ_set_nonce(request.get(), nonce);
    ASN1_INTEGER_free(nonce);
    TS_REQ_set_cert_req(request.get(), 1);
    int size = i2d_TS_REQ(request.get(), nullptr);
    if (size <= 0) Fail("Cannot encode the time-stamp request");
    std::string der(static_cast<std::size_t>(size), '\0');
    auto* out = reinterpret_cast<unsigned char*>(der.data());
    i2d_TS_REQ(request.get(), &out);
    return der;
}

}  // namespace nimbrel::signing
