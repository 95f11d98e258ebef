// varn-patch on the integrity of a game: signed patch roots, and checking
// and repairing an installation against the root's manifest.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "VarnPatchFixture.h"
#include "support/VersionFileWriter.h"

namespace {

uint32_t Crc32(const char* p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= static_cast<uint8_t>(p[i]);
        for (int b = 0; b < 8; ++b)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

// Changes five bytes of a stored zip entry that the sampled fingerprint
// does not read, so that the entry keeps its CRC (the last four undo the
// first one's effect on it): a valid zip with the same GUID and other
// bytes. false when the entry or such bytes are missing.
bool ChangeUnsampledBytes(const std::string& path, const std::string& entry) {
    std::string z = ReadText(path);
    const auto u32 = [&z](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, z.data() + at, 4);
        return v;
    };
    const auto u16 = [&z](size_t at) {
        uint16_t v = 0;
        std::memcpy(&v, z.data() + at, 2);
        return v;
    };
    const size_t step = z.size() / 10;
    const auto sampled = [&](size_t at) { return z.size() >= 88000 && at % step < 8000; };
    for (size_t at = z.find("PK\x01\x02"); at != std::string::npos;
         at = z.find("PK\x01\x02", at + 4)) {
        if (u16(at + 28) != entry.size() || z.compare(at + 46, entry.size(), entry) != 0)
            continue;
        const size_t local = u32(at + 42), size = u32(at + 20);
        const size_t data = local + 30 + u16(local + 26) + u16(local + 28);
        for (size_t q = data; q + 5 <= data + size; ++q) {
            bool clear = true;
            for (size_t i = 0; i < 5; ++i)
                clear = clear && !sampled(q + i);
            if (!clear)
                continue;
            const uint32_t base = Crc32(z.data() + data, size);
            const auto effect = [&](size_t pos, uint8_t x) {
                z[pos] = static_cast<char>(z[pos] ^ x);
                const uint32_t e = Crc32(z.data() + data, size) ^ base;
                z[pos] = static_cast<char>(z[pos] ^ x);
                return e;
            };
            // Gaussian elimination over the 32 bits of bytes q+1..q+4.
            uint32_t basis[32] = {}, combo[32] = {};
            for (int i = 0; i < 32; ++i) {
                uint32_t v = effect(q + 1 + size_t(i / 8), uint8_t(1u << (i % 8)));
                uint32_t c = 1u << i;
                for (int bit = 31; bit >= 0 && v != 0; --bit) {
                    if (!(v >> bit & 1u))
                        continue;
                    if (basis[bit] == 0) {
                        basis[bit] = v, combo[bit] = c;
                        break;
                    }
                    v ^= basis[bit], c ^= combo[bit];
                }
            }
            uint32_t target = effect(q, 0x5A), bits = 0;
            for (int bit = 31; bit >= 0; --bit) {
                if (!(target >> bit & 1u))
                    continue;
                if (basis[bit] == 0)
                    return false;
                target ^= basis[bit], bits ^= combo[bit];
            }
            z[q] = static_cast<char>(z[q] ^ 0x5A);
            for (size_t k = 0; k < 4; ++k)
                z[q + 1 + k] = static_cast<char>(z[q + 1 + k] ^ (bits >> (8 * k)));
            if (Crc32(z.data() + data, size) != base)
                return false;
            varntest::TempDir::WriteFile(path, z);
            return true;
        }
    }
    return false;
}

}  // namespace

// With the publisher's public key in Update/ the game patches only from
// what the publisher signed; without it, as before.
TEST_F(VarnPatchTest, SignedRootIsEnforcedOnlyWhenTheGameHasTheKey) {
    CPublishFixture fixture(2);
    const std::string priv = fixture.Root() + "/k.pem", pub = fixture.Root() + "/k.pub";
    ASSERT_EQ(fixture.Run({"keygen", priv, pub}), 0);
    ASSERT_EQ(fixture.Publish({"--store", "--sign-key", priv}), 0);
    varntest::HttpServer server(fixture.Root());
    const auto fresh = [&](const std::string& key) {
        fs::remove_all(game);
        ASSERT_EQ(fixture.Install(0, game), 0);
        PlaceHost(server.url() + "/patch");
        if (!key.empty())
            varntest::TempDir::WriteFile(game + "/Update/publisher.key", key);
    };
    const auto untouched = [&] {
        EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 0));
    };
    const std::string key = ReadText(pub);
    const std::string out = fixture.OutDir() + "/";

    fresh(key);
    ASSERT_EQ(Run(), PATCH_EXIT_OK) << output;
    EXPECT_EQ(ReadText(game + "/Data/big.bin"), CPublishFixture::Content("Data/big.bin", 1));

    // Bytes between the fingerprint's samples changed: same GUID, other
    // bytes. A game without an installation record takes the full archive.
    const std::string archive = out + "Full_Varn_1.0.0.2.lbc", good = ReadText(archive);
    ASSERT_TRUE(ChangeUnsampledBytes(archive, "Data/common.dat"));
    const auto bare = [&](const std::string& key) {
        fs::remove_all(game);
        PlaceHost(server.url() + "/patch");
        if (!key.empty())
            varntest::TempDir::WriteFile(game + "/Update/publisher.key", key);
    };
    bare(key);
    EXPECT_EQ(Wait(Start("", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("is not the one the game's publisher signed"), std::string::npos)
        << output;
    EXPECT_FALSE(fs::exists(game + "/Data/common.dat")) << "nothing applied";
    EXPECT_FALSE(fs::exists(game + "/Update/Full_Varn_1.0.0.2.lbc"));
    bare("");
    EXPECT_EQ(Run(), PATCH_EXIT_OK) << output;
    EXPECT_NE(ReadText(game + "/Data/common.dat"), CPublishFixture::Content("Data/common.dat", 1));
    varntest::TempDir::WriteFile(archive, good);

    // A missing signature, a wrong one, a key file that is no key.
    const std::string listSig = ReadText(out + "versionlist.uvf.sig");
    fs::remove(out + "versionlist.uvf.sig");
    fresh(key);
    EXPECT_EQ(Wait(Start("", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("versionlist.uvf is not signed by the game's publisher"),
              std::string::npos)
        << output;
    untouched();
    varntest::TempDir::WriteFile(out + "versionlist.uvf.sig", listSig);
    varntest::TempDir::WriteFile(out + "update.uvf.sig", std::string(128, '0'));
    fresh(key);
    EXPECT_EQ(Wait(Start("", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("update.uvf is not signed"), std::string::npos) << output;
    untouched();
    fresh("not a key");
    EXPECT_EQ(Run(), PATCH_EXIT_FAILED) << output;
    untouched();
}

// Damage of several kinds: --verify lists exactly it and changes nothing;
// --repair puts back exactly the missing and damaged files (the player's
// configuration stays), asking the server only for parts of the archive.
TEST_F(VarnPatchTest, VerifyListsAndRepairPutsBackExactlyTheDamage) {
    CPublishFixture fixture(2);
    const std::string pack = "Data/Sound.lpk", wav = std::string(4000, 'w') + "tail";
    for (int v = 0; v < 2; ++v) {
        fixture.WriteFile(fixture.VersionDir(v) + "/" + pack + "/bgm/a.wav", wav);
        fixture.WriteFile(fixture.VersionDir(v) + "/" + pack + "/bgm/b.wav", "other");
        fixture.WriteFile(fixture.VersionDir(v) + "/Data/movie.bin", std::string(6 << 20, 'm'));
    }
    ASSERT_EQ(fixture.Publish({"--store", "--config", "*.ini", "--pack-dir", pack}), 0);
    ASSERT_EQ(fixture.Run({"install", "--version", CPublishFixture::Version(1), "--update-name",
                           "Varn", "--pack-dir", pack, fixture.VersionDir(1), game}),
              0);
    varntest::HttpServer server(fixture.Root());
    PlaceHost(server.url() + "/patch");

    const std::string common = CPublishFixture::Content("Data/common.dat", 1);
    varntest::TempDir::WriteFile(game + "/Data/common.dat", common.substr(0, 1000));
    std::string big = ReadText(game + "/Data/big.bin");
    big[big.size() / 2] ^= 1;
    varntest::TempDir::WriteFile(game + "/Data/big.bin", big);
    fs::remove(game + "/Data/Map/level1.map");
    varntest::TempDir::WriteFile(game + "/settings.ini", "[mine]\n");
    // The entry's bytes are stored XORed with one key byte.
    std::string packBytes = ReadText(game + "/" + pack);
    size_t at = std::string::npos;
    for (int k = 0; k < 256 && at == std::string::npos; ++k) {
        std::string stored = wav;
        for (char& c : stored)
            c = static_cast<char>(c ^ k);
        at = packBytes.find(stored);
    }
    ASSERT_NE(at, std::string::npos);
    packBytes[at + 2000] ^= 0x40;
    varntest::TempDir::WriteFile(game + "/" + pack, packBytes);
    const std::string damagedPack = packBytes;

    const std::vector<std::string> expected = {
        "damaged  Data\\big.bin", "damaged  Data\\common.dat", "missing  Data\\Map\\level1.map",
        "damaged  Data\\Sound.lpk\\bgm\\a.wav",
        "changed  settings.ini  (configuration file, left as it is)"};
    const auto listed = [this, &expected](const std::string& suffix) {
        std::vector<std::string> lines;
        for (size_t from = 0, to; from < output.size(); from = to + 1) {
            to = std::min(output.find('\n', from), output.size());
            const std::string line = output.substr(from, to - from);
            for (const char* kind : {"missing  ", "damaged  ", "changed  "})
                if (line.rfind(kind, 0) == 0)
                    lines.push_back(line);
        }
        std::vector<std::string> want;
        for (const std::string& e : expected)
            want.push_back(e.rfind("changed", 0) == 0 ? e : e + suffix);
        std::sort(lines.begin(), lines.end());
        std::sort(want.begin(), want.end());
        return lines == want;
    };
    EXPECT_EQ(Wait(Start("--verify")), PATCH_EXIT_DAMAGED) << output;
    EXPECT_TRUE(listed("")) << output;
    EXPECT_EQ(ReadText(game + "/" + pack), damagedPack) << "a check changes nothing";
    EXPECT_FALSE(fs::exists(game + "/Data/Map/level1.map"));
    const size_t before = server.DetailLog().size();

    EXPECT_EQ(Wait(Start("--repair")), PATCH_EXIT_OK) << output;
    EXPECT_TRUE(listed(", repaired")) << output;
    for (const std::string& name : CPublishFixture::FileNames(1))
        if (name != "settings.ini")
            EXPECT_EQ(ReadText(game + "/" + name), CPublishFixture::Content(name, 1)) << name;
    EXPECT_EQ(ReadText(game + "/settings.ini"), "[mine]\n");
    // Only parts of the full archive were asked for, and little of it.
    const std::string full = "Full_Varn_1.0.0.2.lbc";
    const uint64_t fullSize = fs::file_size(fixture.OutDir() + "/" + full);
    uint64_t sent = 0;
    int parts = 0;
    const std::vector<std::string> log = server.DetailLog();
    for (size_t i = before; i < log.size(); ++i) {
        if (log[i].find(full) == std::string::npos)
            continue;
        EXPECT_EQ(log[i].rfind("206 ", 0), 0u) << log[i];
        EXPECT_NE(log[i].find("[bytes="), std::string::npos) << log[i];
        sent += std::stoull(log[i].substr(4));
        ++parts;
    }
    EXPECT_GE(parts, 2);
    EXPECT_LT(sent, fullSize / 4) << sent << " of " << fullSize;

    EXPECT_EQ(Wait(Start("--verify")), PATCH_EXIT_OK) << output;
    EXPECT_NE(output.find("changed  settings.ini"), std::string::npos) << output;
    EXPECT_EQ(output.find("damaged"), std::string::npos) << output;
}

// A server that does not serve ranges sends the archive whole, once; a
// root without a manifest cannot be checked, and says so.
TEST_F(VarnPatchTest, RepairWithoutRangesTakesTheArchiveWholeAndNeedsAManifest) {
    CPublishFixture fixture(2);
    ASSERT_EQ(fixture.Publish(), 0);
    ASSERT_EQ(fixture.Install(1, game), 0);
    varntest::HttpServer server(fixture.Root(), "max_ranges 0;");
    PlaceHost(server.url() + "/patch");
    fs::remove(game + "/Varngame.exe");

    EXPECT_EQ(Wait(Start("--repair")), PATCH_EXIT_OK) << output;
    EXPECT_EQ(ReadText(game + "/Varngame.exe"), CPublishFixture::Content("Varngame.exe", 1));
    EXPECT_EQ(server.Requests("Full_Varn_1.0.0.2.lbc", 2), 2) << "the refused part, then whole";
    EXPECT_FALSE(fs::exists(game + "/Update/Full_Varn_1.0.0.2.lbc"));

    // A minor version on top of the listed one: its files are not the list's.
    const std::string record = game + "/Update/version.uvf";
    const std::string published = ReadText(record);
    varntest::CVersionFileWriter minor;
    minor.updateName = "Varn";
    minor.updateVersion = minor.latestVersion = CPublishFixture::Version(1);
    minor.minorVersion = "7";
    ASSERT_TRUE(minor.Write(record));
    EXPECT_EQ(Wait(Start("--verify", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("The game is at version 1.0.0.2 (minor 7)"), std::string::npos) << output;
    varntest::TempDir::WriteFile(record, published);

    fs::remove(fixture.OutDir() + "/manifest.uvf");
    EXPECT_EQ(Wait(Start("--verify", "en_US.UTF-8")), PATCH_EXIT_FAILED) << output;
    EXPECT_NE(output.find("offers no list of the game's files"), std::string::npos) << output;
}
