// Writes the archive reader's seed corpus: small archives of every shape the writer produces.
// Usage: archive_make_corpus DIR
#include <cstdio>
#include <string>
#include <vector>

#include "archive/archive_format.h"
#include "archive/zlib_stream.h"

using namespace nimbrel::archive;

namespace {

struct Member {
    std::string name, content;
};

std::string Build(const std::vector<Member>& members, bool plainRegistry) {
    std::string data;
    std::vector<RegistryEntry> entries;
    for (const Member& m : members) {
        RegistryEntry e;
        e.FileName = m.name;
        e.OriginalSize = static_cast<std::int32_t>(m.content.size());
        e.Crc = Crc32(m.content);
        e.DataOffset = static_cast<std::int32_t>(data.size());
        std::string z = CompressBytes(m.content, fcMaximum);
        bool compressed = z.size() < m.content.size();
        e.Stored = compressed ? 0 : 1;
        e.Level = compressed ? fcMaximum : 0;
        data += compressed ? z : m.content;
        e.StoredSize = static_cast<std::int32_t>(compressed ? z.size() : m.content.size());
        entries.push_back(e);
    }
    ArchiveTrailer t;
    t.EntryCount = static_cast<std::int32_t>(entries.size());
    t.AlwaysOne = 1;
    t.RegistryOffset = static_cast<std::int32_t>(data.size());
    std::string registry = EncodeRegistry(entries);
    if (!plainRegistry) {
        registry = CompressBytes(registry, fcMaximum);
        t.RegistrySize = static_cast<std::int32_t>(registry.size());
        t.RegistryCompressed = 1;
    }
    std::string archive = data + registry;
    t.ArchiveCrc = Crc32(archive);
    TrailerBytes bytes = EncodeTrailer(t);
    return archive + std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size());
}

void Save(const std::string& dir, const std::string& name, const std::string& bytes) {
    std::string path = dir + "/" + name;
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
        return 2;
    }
    std::string dir = argv[1];
    std::string noise;
    for (unsigned i = 0, x = 12345; i < 300; ++i)
        noise += static_cast<char>((x = x * 1103515245u + 12345u) >> 24);
    std::vector<Member> show = {{"Options.ini", "[Header]\r\nNumber=1\r\n[Options]\r\nCenter=1\r\n"},
                                {"About.cfg", "Lake\r\nHello\r\n"},
                                {"photo.jpg", noise},
                                {"empty.bmp", ""}};
    Save(dir, "empty", Build({}, false));
    Save(dir, "show", Build(show, false));
    Save(dir, "plain_registry", Build(show, true));
    Save(dir, "screensaver", std::string("MZ") + std::string(200, '\x90') + Build(show, false));
    Save(dir, "same_names", Build({{"a.jpg", "one"}, {"a.jpg", "two"}, {"../x", "three"}}, false));
    return 0;
}
