// The on-disk layout of packs: what a new pack looks like byte for byte,
// what Open accepts and refuses, and the signature repair.
#include <gtest/gtest.h>

#include <functional>

#include "platform/Error.h"
#include "support/PackTestUtil.h"

using namespace varntest;

namespace {

constexpr uint64_t kTreeOffset = 80034;
constexpr uint64_t kNewEndOfData = 0x1138A2;

template <class T>
void Put(std::string& b, size_t off, T v) {
    std::memcpy(b.data() + off, &v, sizeof v);
}

class PackFormatTest : public ::testing::Test {
protected:
    void SetUp() override {
        WritePack(pack,
                  {{"bgm\\title.wav", "title music"}, {"data/a.bin", std::string(3000, 'a')}});
    }
    TempDir dir;
    const std::string pack = dir / "Sound.lpk";
};

TEST_F(PackFormatTest, NewPackWithOneFileHasTheDocumentedLayout) {
    // One bit of each password character makes the content key; a zero key
    // stores the content plain under the other signature.
    const std::tuple<const char*, uint32_t, uint8_t> cases[] = {
        {nullptr, 0x7C7C1DDF, 0x66},
        {"bbb0bBba", 0x7F3E2DFF, 0x00},
        {"\x01\x04\x10\x40\x80\x20\x08\x02", 0x7C7C1DDF, 0xFF},
        {"\xFE\xFB\xEF\xBF\x7F\xDF\xF7\xFD", 0x7F3E2DFF, 0x00},
    };
    for (auto [password, signature, key] : cases) {
        SCOPED_TRACE(password ? password : "default");
        WritePack(pack, {{"f.txt", "0123456789"}}, password);

        std::string b = TempDir::ReadFile(pack), h = b;
        FlipPackHeader(
            h);  // signature 0, version 4, busy 6, tree area 10, data end 18, tree end 26
        EXPECT_EQ(
            std::tuple(At<uint32_t>(h, 0), At<uint16_t>(h, 4), At<uint32_t>(h, 6),
                       At<uint64_t>(h, 10), At<uint64_t>(h, 18)),
            std::tuple(signature, uint16_t(1990), 0u, uint64_t(0x100000), kNewEndOfData + 10));
        EXPECT_EQ(b.substr(kTreeOffset, 4), "DT01");
        EXPECT_EQ(At<uint32_t>(b, kTreeOffset + 4), 0u);
        uint64_t stream = At<uint64_t>(b, kTreeOffset + 8);
        EXPECT_EQ(At<uint64_t>(h, 26), kTreeOffset + 16 + stream);
        // Root node "" + child "f.txt": two nodes, three absent links.
        EXPECT_EQ(stream, (36u + 0) + (36u + 5) + 3 * 4);
        EXPECT_EQ(b.find_first_not_of('\0', 34), kTreeOffset);  // both tables empty
        ASSERT_EQ(b.size(), kNewEndOfData + 10);
        std::string stored = b.substr(kNewEndOfData);
        for (char& ch : stored)
            ch = char(ch ^ key);
        EXPECT_EQ(stored, "0123456789");
        CPackFile p;
        ASSERT_TRUE(p.Open(pack.c_str(), password, 0xA));
        EXPECT_EQ(PackContents(p).at("f.txt"), "0123456789");
    }
}

TEST_F(PackFormatTest, ReadsBackCaseInsensitivelyAndRefusesBadModesAndSecondHolders) {
    CPackFile p, other;
    EXPECT_FALSE(p.Open(pack.c_str(), nullptr, 0x10)) << "unknown mode";
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    for (const char* name : {"BGM\\Title.wav", "bgm/TITLE.WAV", "\\bgm\\\\title.wav"}) {
        PackSubFile* f = p.OpenFile(name, 1);
        ASSERT_NE(f, nullptr) << name;
        char buf[12] = {};
        EXPECT_TRUE(p.ReadFile(f, buf, 5) && p.ReadFile(f, buf + 5, 6) && !p.ReadFile(f, buf, 1));
        EXPECT_STREQ(buf, "title music");
        p.CloseFile(f);
    }
    PackSubFile* f = p.OpenFile("data\\a.bin", 1);
    std::string big(3001, '\0');
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(p.ReadFile(f, big.data(), 3001)) << "a read past the end reads nothing";
    EXPECT_TRUE(p.ReadFile(f, big.data(), 3000) && big == std::string(3000, 'a') + '\0');
    p.CloseFile(f);
    EXPECT_EQ(p.OpenFile("bgm", 1), nullptr) << "a directory is not a file";
    EXPECT_EQ(p.OpenFile("bgm\\missing.wav", 1), nullptr);

    EXPECT_FALSE(other.Open(pack.c_str(), nullptr, 0xA));
    EXPECT_EQ(plat::GetLastError(), 32u) << "held by another object: sharing violation";
    EXPECT_FALSE(p.Open(pack.c_str(), nullptr, 1)) << "the caller must Close first";
    EXPECT_FALSE(p.IsFileOpen()) << "and the failed Open closed it";
    EXPECT_TRUE(other.Open(pack.c_str(), nullptr, 0xA));
    EXPECT_FALSE(p.Open((dir / "missing.lpk").c_str(), nullptr, 0xA));
    EXPECT_EQ(plat::GetLastError(), 2u);
}

TEST_F(PackFormatTest, MalformedHeadersTreesAndOffsetsAreRefused) {
    const std::string good = TempDir::ReadFile(pack);
    const uint64_t streamLen = At<uint64_t>(good, kTreeOffset + 8);
    using Edit = std::function<void(std::string&)>;
    auto set = [](size_t off, auto v) -> Edit { return [=](std::string& b) { Put(b, off, v); }; };
    auto header = [](size_t off, auto v) -> Edit {
        return [=](std::string& b) { FlipPackHeader(b), Put(b, off, v), FlipPackHeader(b); };
    };
    const std::tuple<const char*, Edit, bool> cases[] = {
        // what, edit, opens
        {"busy mark set", header(6, uint32_t(1)), false},
        {"other busy values are not the mark", header(6, uint32_t(2)), true},
        {"unknown signature", header(0, uint32_t(0x12345678)), false},
        {"older layout", header(4, uint16_t(1989)), false},
        {"absurd tree area", header(10, uint64_t(1) << 50), false},
        {"small tree area: read as 1 MiB", header(10, uint64_t(4096)), true},
        {"stream one byte short", set(kTreeOffset + 8, streamLen - 1), false},
        {"bad tree magic", set(kTreeOffset, 'X'), false},
        {"nonzero tree word", set(kTreeOffset + 4, char(1)), false},
        {"absurd name length", set(kTreeOffset + 16, uint32_t(0x7FFFFFFF)), false},
        {"truncated inside the metadata", [](std::string& b) { b.resize(50000); }, false},
        {"truncated inside the content", [](std::string& b) { b.pop_back(); }, false},
        // One free block (size table at 34, offsets at 40034) outside the data.
        {"free block before the data region",
         [&](std::string& b) { set(34, uint64_t(100))(b), set(40034, uint64_t(4096))(b); }, false},
        {"free block past the end of data",
         [&](std::string& b) { set(34, uint64_t(100))(b), set(40034, kNewEndOfData + 1000000)(b); },
         false},
    };
    for (const auto& [what, edit, opens] : cases) {
        SCOPED_TRACE(what);
        std::string b = good;
        edit(b);
        TempDir::WriteFile(pack, b);
        CPackFile p;
        EXPECT_EQ(p.Open(pack.c_str(), nullptr, 0xA) != 0, opens);
        EXPECT_EQ(*CPackFile::LastRefusal() == '\0', opens);
        if (p.IsFileOpen()) {
            EXPECT_EQ(p.GetTreeAreaSize(), 0x100000u);
            EXPECT_EQ(PackContents(p).size(), 2u);
        }
    }
}

TEST_F(PackFormatTest, RepairSignatureBringsOldSignaturesUpToDate) {
    uint32_t key;
    std::memcpy(&key, kPackKey, 4);
    // Old signatures, unscrambled or scrambled, become the current ones;
    // current and unknown ones are rewritten as they were.
    const uint32_t oldPlain = 0x3C3C46E6, oldKeyed = 0x3C3C4DA3;
    const uint32_t plain = 0x7F3E2DFF ^ key, keyed = 0x7C7C1DDF ^ key;
    const std::pair<uint32_t, uint32_t> cases[] = {
        {oldPlain, plain}, {oldKeyed, keyed}, {oldPlain ^ key, plain}, {oldKeyed ^ key, keyed},
        {plain, plain},    {keyed, keyed},    {0x01020304, 0x01020304}};
    std::string path = dir / "sig.lpk";
    for (auto [before, after] : cases) {
        std::string b = "1234rest of the file";
        Put(b, 0, before);
        TempDir::WriteFile(path, b);
        EXPECT_EQ(CPackFile::RepairSignature(path.c_str()), 1);
        b = TempDir::ReadFile(path);
        EXPECT_EQ(At<uint32_t>(b, 0), after) << std::hex << before;
        EXPECT_EQ(b.substr(4), "rest of the file");
    }
    EXPECT_EQ(CPackFile::RepairSignature((dir / "none.lpk").c_str()), 0);
}

}  // namespace
