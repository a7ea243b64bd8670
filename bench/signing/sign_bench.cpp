// Time to sign a large screensaver against sha256sum hashing the same file (both from the page
// cache, best of three). Prints figures; asserts nothing.
// Usage: sign_bench STUB.bin [MEGABYTES]   (default 300)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/temp.h"
#include "signing/authenticode.h"

using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point from) {
    return std::chrono::duration<double>(Clock::now() - from).count();
}

bool Copy(const std::string& from, std::FILE* to) {
    std::FILE* in = std::fopen(from.c_str(), "rb");
    if (!in) return false;
    std::vector<char> buffer(1 << 20);
    std::size_t got;
    while ((got = std::fread(buffer.data(), 1, buffer.size(), in)) > 0) std::fwrite(buffer.data(), 1, got, to);
    std::fclose(in);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: sign_bench STUB.bin [MEGABYTES]\n");
        return 2;
    }
    const long megabytes = argc > 2 ? std::atol(argv[2]) : 300;
    nimbrel::platform::TempDirectory work("nimbrel-sign-bench");
    const std::string scr = work.File("big.scr");
    std::FILE* out = std::fopen(scr.c_str(), "wb");
    if (!out || !Copy(argv[1], out)) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    // Incompressible bytes, as photos are.
    std::vector<unsigned char> piece(1 << 20);
    std::uint64_t state = 88172645463325252ull;
    for (long i = 0; i < megabytes; ++i) {
        for (std::size_t k = 0; k < piece.size(); k += 8) {
            state ^= state << 13, state ^= state >> 7, state ^= state << 17;
            std::memcpy(&piece[k], &state, 8);
        }
        std::fwrite(piece.data(), 1, piece.size(), out);
    }
    std::fclose(out);
    const std::string cert = work.File("cert.pem"), key = work.File("key.pem"), pfx = work.File("bench.pfx");
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=Bench -keyout '" + key +
                             "' -out '" + cert + "' >/dev/null 2>&1 && openssl pkcs12 -export -inkey '" + key +
                             "' -in '" + cert + "' -out '" + pfx + "' -passout pass: >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) {
        std::fprintf(stderr, "openssl could not make a test certificate\n");
        return 1;
    }
    const std::string hash = "sha256sum '" + scr + "' >/dev/null";
    std::system(hash.c_str());  // into the page cache

    double sha = 1e9, sign = 1e9;
    for (int round = 0; round < 3; ++round) {
        Clock::time_point start = Clock::now();
        if (std::system(hash.c_str()) != 0) return 1;
        sha = std::min(sha, Seconds(start));
        start = Clock::now();
        nimbrel::signing::SignFile(scr, {pfx, "", ""});  // replaces the signature of the round before
        sign = std::min(sign, Seconds(start));
    }
    std::printf("file: %ld MB of incompressible data after the stub\n", megabytes);
    std::printf("sha256sum: %.3f s (%.0f MB/s)\n", sha, megabytes / sha);
    std::printf("sign:      %.3f s (%.0f MB/s)\n", sign, megabytes / sign);
    std::printf("ratio sign / sha256sum: %.2f (target < 1.5)\n", sign / sha);
    return 0;
}
