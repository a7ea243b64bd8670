// Signed screensavers: the archive is found before the certificate table whoever signed the
// file, our signatures satisfy osslsigncode, and a byte changed after signing is caught by both.
// The test certificate is made here with the openssl tool; no key is kept in the sources.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/ts.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "archive/archive_reader.h"
#include "archive/pe_layout.h"
#include "cli/cli.h"
#include "package_writer.h"
#include "signing/authenticode.h"
#include "signing/pe_checksum.h"

namespace nimbrel::testing {
namespace {

namespace fs = std::filesystem;

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// CTest runs each case as a process of its own, several at once: each process makes its own
// certificate in a folder of its own, so that no case verifies against another's certificate.
const std::string kWork = std::string(NIMBREL_SIGNING_WORK_DIR) + "/" + std::to_string(getpid());

// Runs a shell command, its output into `output`; the exit status.
int Shell(const std::string& command, std::string* output = nullptr) {
    const std::string log = kWork + "/command.log";
    int status = std::system((command + " >'" + log + "' 2>&1").c_str());
    if (output) *output = ReadFile(log);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& name) {
    return Shell("command -v " + name) == 0;
}

class Signing : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::create_directories(kWork);
        if (!HaveTool("openssl")) return;
        // A throw-away self-signed code signing certificate, in a password-protected PKCS#12.
        Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Nimbrel Test Signer' "
            "-addext extendedKeyUsage=codeSigning -keyout '" + kWork + "/key.pem' -out '" + kWork + "/cert.pem'");
        Shell("openssl pkcs12 -export -inkey '" + kWork + "/key.pem' -in '" + kWork + "/cert.pem' -out '" + kWork +
            "/test.pfx' -passout pass:s3cret");
        WriteFile(kWork + "/password.txt", "s3cret\n");
    }

    static void TearDownTestSuite() {
        std::error_code ignored;
        fs::remove_all(kWork, ignored);
    }

    void SetUp() override {
        stub_ = ReadFile(std::string(NIMBREL_BIN_DIR) + "/stub.bin");
        if (stub_.empty()) GTEST_SKIP() << "stub.bin was not built";
        if (ReadFile(kWork + "/test.pfx").empty()) GTEST_SKIP() << "openssl could not make a test certificate";
    }

    // A screensaver of the stub and a small show; `extra` bytes of the archive's first member
    // make the file's length odd or even.
    std::string MakeScreenSaver(const std::string& name, std::size_t extra = 0) {
        const std::string path = kWork + "/" + name;
        std::vector<TestMember> members = {{"Options.ini", MakeSlideShowProject({"C:\\red.bmp"}, {})},
                                           {"About.cfg", MakeAboutFile("Lake", "Hello")},
                                           {"red.bmp", MakeSolidBmp(30 + static_cast<int>(extra), 20, 255, 0, 0)}};
        WriteFile(path, stub_ + MakeTestArchive(members, true, false));
        return path;
    }

    static signing::SigningRequest Request() {
        return {kWork + "/test.pfx", "s3cret", ""};
    }

    static std::vector<std::string> MemberNames(const std::string& path) {
        std::vector<std::string> names;
        archive::ArchiveReader reader = archive::ArchiveReader::FromFile(path);
        EXPECT_TRUE(reader.VerifyArchiveCrc());
        for (const auto& m : reader.Members()) names.push_back(m.name);
        return names;
    }

    std::string stub_;
};

const std::vector<std::string> kNames = {"Options.ini", "About.cfg", "red.bmp"};

TEST_F(Signing, ArchiveIsFoundBeforeATableOsslsigncodeAppended) {
    if (!HaveTool("osslsigncode")) GTEST_SKIP() << "osslsigncode is not installed";
    for (std::size_t extra : {0, 1, 3}) {  // file lengths that need different padding
        const std::string plain = MakeScreenSaver("plain.scr", extra);
        const std::string archiveStart = std::to_string(archive::ArchiveReader::FromFile(plain).ArchiveStart());
        const std::string signedPath = kWork + "/by-osslsigncode.scr";
        fs::remove(signedPath);
        std::string log;
        ASSERT_EQ(Shell("osslsigncode sign -pkcs12 '" + kWork + "/test.pfx' -pass s3cret -h sha256 -in '" + plain +
                          "' -out '" + signedPath + "'",
                      &log),
                  0)
            << log;
        EXPECT_EQ(MemberNames(signedPath), kNames) << extra;
        EXPECT_EQ(std::to_string(archive::ArchiveReader::FromFile(signedPath).ArchiveStart()), archiveStart);

        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCli({"verify", signedPath}, out, err), 0) << err.str();
        EXPECT_NE(out.str().find("signature OK: signed by Nimbrel Test Signer, SHA-256"), std::string::npos)
            << out.str();
    }
}

TEST_F(Signing, OurSignatureSatisfiesOsslsigncodeAndKeepsTheArchive) {
    for (std::size_t extra : {0, 1}) {
        const std::string path = MakeScreenSaver("ours.scr", extra);
        signing::SignResult result = signing::SignFile(path, Request());
        EXPECT_EQ(result.signer, "Nimbrel Test Signer");
        EXPECT_EQ(MemberNames(path), kNames);

        const signing::SignatureReport report = signing::CheckSignature(path);
        EXPECT_TRUE(report.present);
        EXPECT_TRUE(report.matches) << report.problem;
        EXPECT_EQ(report.digest, "SHA-256");
        EXPECT_EQ(report.signer, "Nimbrel Test Signer");

        // The certificate table on an 8-byte boundary, ending the file.
        auto pe = archive::ReadPeLayout(*archive::FileByteSource(path));
        ASSERT_TRUE(pe && pe->HasCertTable());
        EXPECT_EQ(pe->certTableOffset % 8, 0u);
        EXPECT_EQ(pe->certTableOffset + pe->certTableSize, fs::file_size(path));

        if (!HaveTool("osslsigncode")) continue;
        std::string log;
        EXPECT_EQ(Shell("osslsigncode verify -CAfile '" + kWork + "/cert.pem' -in '" + path + "'", &log), 0) << log;
        // osslsigncode computes the PE checksum on its own and warns when it differs from ours.
        EXPECT_NE(log.find("PE checksum"), std::string::npos) << log;
        EXPECT_EQ(log.find("invalid PE checksum"), std::string::npos) << log;
    }
}

TEST_F(Signing, SigningAgainReplacesTheSignature) {
    const std::string path = MakeScreenSaver("twice.scr");
    signing::SignFile(path, Request());
    const auto once = fs::file_size(path);
    signing::SignFile(path, Request());
    EXPECT_EQ(fs::file_size(path), once);
    EXPECT_TRUE(signing::CheckSignature(path).matches);
    EXPECT_EQ(MemberNames(path), kNames);
}

TEST_F(Signing, AByteChangedAfterSigningFailsBothCheckers) {
    const std::string path = MakeScreenSaver("changed.scr");
    signing::SignFile(path, Request());
    const std::uint64_t archiveStart = archive::ArchiveReader::FromFile(path).ArchiveStart();
    // One byte in the player, one in the archive's data.
    for (std::uint64_t at : {std::uint64_t{1000}, archiveStart + 700}) {
        std::string bytes = ReadFile(path);
        const std::string original = bytes;
        bytes[at] = static_cast<char>(bytes[at] ^ 0x20);
        WriteFile(path, bytes);

        const signing::SignatureReport report = signing::CheckSignature(path);
        EXPECT_TRUE(report.present);
        EXPECT_FALSE(report.matches);
        EXPECT_NE(report.problem.find("changed after it was signed"), std::string::npos) << report.problem;

        std::ostringstream out, err;
        EXPECT_EQ(cli::RunCli({"verify", path}, out, err), 1);
        EXPECT_NE(err.str().find("signature FAILED (signed by Nimbrel Test Signer): the file was changed after it "
                                 "was signed"),
                  std::string::npos)
            << err.str();
        if (HaveTool("osslsigncode")) {
            std::string log;
            EXPECT_NE(Shell("osslsigncode verify -CAfile '" + kWork + "/cert.pem' -in '" + path + "'", &log), 0) << log;
        }
        WriteFile(path, original);
    }
}

TEST_F(Signing, WrongPasswordOrNoCertificateIsRefusedAndTheFileIsLeftAlone) {
    const std::string path = MakeScreenSaver("refused.scr");
    const std::string before = ReadFile(path);
    try {
        signing::SignFile(path, {kWork + "/test.pfx", "wrong", ""});
        FAIL() << "a wrong password signed";
    } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("password"), std::string::npos) << e.what();
        EXPECT_NE(std::string(e.what()).find("test.pfx"), std::string::npos) << e.what();
    }
    EXPECT_THROW(signing::SignFile(path, {kWork + "/cert.pem", "", ""}), Error);
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_FALSE(signing::CheckSignature(path).present);
}

TEST_F(Signing, TimestampRequestAsksForTheSignaturesSha256) {
    const std::string signature = "the bytes of a signature value";
    const std::string der = signing::TimestampRequest(signature);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(der.data());
    TS_REQ* request = d2i_TS_REQ(nullptr, &p, static_cast<long>(der.size()));
    ASSERT_NE(request, nullptr);
    EXPECT_EQ(TS_REQ_get_version(request), 1);
    EXPECT_EQ(TS_REQ_get_cert_req(request), 1);
    EXPECT_NE(TS_REQ_get_nonce(request), nullptr);
    TS_MSG_IMPRINT* imprint = TS_REQ_get_msg_imprint(request);
    const ASN1_OBJECT* algorithm = nullptr;
    X509_ALGOR_get0(&algorithm, nullptr, nullptr, TS_MSG_IMPRINT_get_algo(imprint));
    EXPECT_EQ(OBJ_obj2nid(algorithm), NID_sha256);
    unsigned char expected[32];
    unsigned int size = 0;
    EVP_Digest(signature.data(), signature.size(), expected, &size, EVP_sha256(), nullptr);
    ASN1_OCTET_STRING* message = TS_MSG_IMPRINT_get_msg(imprint);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(message)),
                          static_cast<std::size_t>(ASN1_STRING_length(message))),
              std::string(reinterpret_cast<const char*>(expected), size));
    TS_REQ_free(request);
}

TEST_F(Signing, CompileSignsWithThePasswordFromAFileAndSaysWhoSigned) {
    // The command line's own checks first: the companions of --sign need it.
    std::ostringstream out, err;
    EXPECT_EQ(cli::RunCli({"compile", "--timestamp", "http://ts.example", "x.nssp"}, out, err), 2);
    EXPECT_NE(err.str().find("--timestamp needs --sign"), std::string::npos) << err.str();

    const std::string folder = kWork + "/project";
    fs::create_directories(folder);
    WriteFile(folder + "/red.bmp", MakeSolidBmp(20, 20, 255, 0, 0));
    WriteFile(folder + "/show.nssp", MakeSlideShowProject({folder + "/red.bmp"}, {}));
    out.str("");
    err.str("");
    const int code = cli::RunCli({"compile", "--quiet", "--stub-dir", NIMBREL_BIN_DIR, "--sign", kWork + "/test.pfx",
                                  "--sign-password-file", kWork + "/password.txt", folder + "/show.nssp"},
                                 out, err);
    ASSERT_EQ(code, 0) << err.str();
    const signing::SignatureReport report = signing::CheckSignature(folder + "/show.scr");
    EXPECT_TRUE(report.matches) << report.problem;
    EXPECT_EQ(report.signer, "Nimbrel Test Signer");
    EXPECT_EQ(ReadFile(folder + "/show.nssp").find("s3cret"), std::string::npos);

    out.str("");
    err.str("");
    EXPECT_EQ(cli::RunCli({"compile", "--quiet", "--stub-dir", NIMBREL_BIN_DIR, "--sign", kWork + "/test.pfx",
                           folder + "/show.nssp"},
                          out, err),
              1);
    EXPECT_NE(err.str().find("password of the certificate file"), std::string::npos) << err.str();
}

TEST_F(Signing, InstallerCarriesTheShowItsIconAndBothAreSigned) {
    if (ReadFile(std::string(NIMBREL_BIN_DIR) + "/setup.bin").empty()) GTEST_SKIP() << "setup.bin was not built";
    const std::string folder = kWork + "/installer";
    fs::create_directories(folder);
    WriteFile(folder + "/red.bmp", MakeSolidBmp(20, 20, 255, 0, 0));
    const std::string icon = MakeSolidIco(32, 10, 200, 30);
    WriteFile(folder + "/show.ico", icon);
    std::string project = MakeSlideShowProject({folder + "/red.bmp"}, {"ChangeIcon=1", "IconFile=show.ico"});
    project.replace(project.find("ShowName=Test Show"), 18, "ShowName=Lake: North");
    WriteFile(folder + "/show.nssp", project);
    std::ostringstream out, err;
    ASSERT_EQ(cli::RunCli({"installer", "--quiet", "--stub-dir", NIMBREL_BIN_DIR, "--sign", kWork + "/test.pfx",
                           "--sign-password-file", kWork + "/password.txt", folder + "/show.nssp"},
                          out, err),
              0)
        << err.str();
    const std::string setup = folder + "/Lake_ North Setup.exe";
    ASSERT_TRUE(fs::exists(setup)) << "no installer beside the screensaver";
    EXPECT_TRUE(signing::CheckSignature(setup).matches);
    EXPECT_TRUE(signing::CheckSignature(folder + "/show.scr").matches);

    archive::ArchiveReader reader = archive::ArchiveReader::FromFile(setup);
    ASSERT_EQ(MemberNames(setup), (std::vector<std::string>{"Setup.ini", "About.cfg", "show.scr"}));
    EXPECT_EQ(reader.Extract(0), "Name=Lake: North\r\nPublisher=Nimbrel Test Signer\r\nFile=show.scr\r\n");
    EXPECT_EQ(reader.Extract(2), ReadFile(folder + "/show.scr"));
    // The show's icon replaced setup's own in the program before the archive.
    const std::string program = ReadFile(setup).substr(0, reader.ArchiveStart());
    EXPECT_NE(program.find(icon.substr(icon.size() - 256)), std::string::npos);
}

TEST(PeChecksum, PiecesInAnyOrderAndAtOddOffsetsGiveOneSum) {
    std::string bytes(1001, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + 7);
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    signing::PeChecksum whole, pieces;
    whole.Add(0, p, bytes.size());
    pieces.Add(501, p + 501, 500);
    pieces.Add(0, p, 3);
    pieces.Add(3, p + 3, 498);
    EXPECT_EQ(whole.Finish(bytes.size()), pieces.Finish(bytes.size()));
    // Plain arithmetic for a short input: words 0x0201 + 0x0003, folded, plus the length.
    const unsigned char three[] = {1, 2, 3};
    signing::PeChecksum small;
    small.Add(0, three, 3);
    EXPECT_EQ(small.Finish(3), 0x0201u + 0x0003u + 3u);
}

}  // namespace
}  // namespace nimbrel::testing
