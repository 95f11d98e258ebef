// The on-disk layout of packs: what a new pack looks like byte for byte,
// what Open accepts and refuses, and the signature repair.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "pack/PackFile.h"
#include "platform/Error.h"
#include "support/PackTestUtil.h"

using namespace varntest;

namespace {

constexpr uint64_t kTreeOffset = 80034;
constexpr uint64_t kNewEndOfData = 0x1138A2;

std::string ToStoredForTest(std::string s) {
    for (char& c : s) {
        if (c == '/')
            c = '\\';
    }
    return s;
}

template <class T>
T At(const std::string& b, size_t off) {
    T v;
    std::memcpy(&v, b.data() + off, sizeof v);
    return v;
}

template <class T>
void Put(std::string& b, size_t off, T v) {
    std::memcpy(b.data() + off, &v, sizeof v);
}

class PackFormatTest : public ::testing::Test {
protected:
    // A pack holding bgm\title.wav (content "title music") and data\a.bin.
    std::string MakePack(const char* password = nullptr) {
        std::string pack = dir / "Sound.lpk";
        WriteBytes(dir / "title.wav", "title music");
        WriteBytes(dir / "a.bin", std::string(3000, 'a'));
        CPackFile p;
        EXPECT_TRUE(p.Open(pack.c_str(), password, 0xC));
        EXPECT_TRUE(p.AddFile((dir / "title.wav").c_str(), "bgm\\title.wav"));
        EXPECT_TRUE(p.AddFile((dir / "a.bin").c_str(), "data/a.bin"));
        EXPECT_TRUE(p.Close());
        return pack;
    }
    bool Opens(const std::string& pack) {
        CPackFile p;
        return p.Open(pack.c_str(), nullptr, 0xA) != 0;
    }
    PackTempDir dir;
};

TEST(PackDataKey, TakesOneBitOfEachPasswordCharacter) {
    struct Case {
        const char* password;
        uint8_t key;
    } cases[] = {
        {kPackDefaultPassword, 0x66},
        {"bbb0bBba", 0x00},  // every bit that counts is clear
        {"\x01\x04\x10\x40\x80\x20\x08\x02", 0xFF},
        {"\xFE\xFB\xEF\xBF\x7F\xDF\xF7\xFD", 0x00},
    };
    for (const Case& c : cases)
        EXPECT_EQ(CPackFile::DataKeyFromPassword(c.password), c.key);
}

TEST_F(PackFormatTest, NewPackWithOneFileHasTheDocumentedLayout) {
    std::string pack = dir / "One.lpk";
    WriteBytes(dir / "f", "0123456789");
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xC));
    ASSERT_TRUE(p.AddFile((dir / "f").c_str(), "f.txt"));
    ASSERT_TRUE(p.Close());

    std::string b = ReadBytes(pack);
    RawPackHeader h = RawPackHeader::Read(b);
    EXPECT_EQ(h.signature, 0x7C7C1DDFu);  // the default password's key byte is not 0
    EXPECT_EQ(h.version, 1990);
    EXPECT_EQ(h.busy, 0u);
    EXPECT_EQ(h.treeArea, 0x100000u);
    EXPECT_EQ(h.endOfData, kNewEndOfData + 10);
    EXPECT_EQ(b.substr(kTreeOffset, 4), "DT01");
    EXPECT_EQ(At<uint32_t>(b, kTreeOffset + 4), 0u);
    uint64_t stream = At<uint64_t>(b, kTreeOffset + 8);
    EXPECT_EQ(h.endOfTree, kTreeOffset + 16 + stream);
    // Root node "" + child "f.txt": two nodes, three absent links.
    EXPECT_EQ(stream, (36u + 0) + (36u + 5) + 3 * 4);
    EXPECT_EQ(b.find_first_not_of('\0', 34), kTreeOffset);  // both tables empty
    ASSERT_EQ(b.size(), kNewEndOfData + 10);
    std::string stored = b.substr(kNewEndOfData);
    for (char& c : stored)
        c = char(c ^ 0x66);
    EXPECT_EQ(stored, "0123456789");
}

TEST_F(PackFormatTest, PasswordWithZeroKeyByteUsesThePlainSignatureAndPlainContent) {
    std::string pack = MakePack("bbb0bBba");
    std::string b = ReadBytes(pack);
    EXPECT_EQ(RawPackHeader::Read(b).signature, 0x7F3E2DFFu);
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), "bbb0bBba", 0xA));
    uint64_t off, size;
    ASSERT_TRUE(p.GetFileInfo("bgm\\title.wav", &off, &size));
    EXPECT_EQ(b.substr(off, size), "title music");
}

TEST_F(PackFormatTest, ReadsBackWhatItWroteWithCaseInsensitiveLookup) {
    std::string pack = MakePack();
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    EXPECT_STREQ(p.GetPath(), (ToStoredForTest(pack)).c_str());
    for (const char* name : {"BGM\\Title.wav", "bgm/TITLE.WAV", "\\bgm\\\\title.wav"}) {
        PackSubFile* f = p.OpenFile(name, 1);
        ASSERT_NE(f, nullptr) << name;
        char buf[12] = {};
        EXPECT_TRUE(p.ReadFile(f, buf, 5));
        EXPECT_TRUE(p.ReadFile(f, buf + 5, 6));
        EXPECT_STREQ(buf, "title music");
        EXPECT_FALSE(p.ReadFile(f, buf, 1)) << "reading past the end fails";
        p.CloseFile(f);
    }
    PackSubFile* f = p.OpenFile("data\\a.bin", 1);
    ASSERT_NE(f, nullptr);
    std::string big(3001, '\0');
    EXPECT_FALSE(p.ReadFile(f, big.data(), 3001)) << "a read past the end reads nothing";
    EXPECT_TRUE(p.ReadFile(f, big.data(), 3000));
    EXPECT_EQ(big.substr(0, 3000), std::string(3000, 'a'));
    p.CloseFile(f);
    EXPECT_EQ(p.OpenFile("bgm", 1), nullptr) << "a directory is not a file";
    EXPECT_EQ(p.OpenFile("bgm\\missing.wav", 1), nullptr);
}

TEST_F(PackFormatTest, OpenFollowsTheModeAndStateRules) {
    std::string pack = MakePack();
    CPackFile p;
    EXPECT_EQ(p.Close(), 1) << "closing an empty object does nothing";
    for (int mode : {0, 3, 5, 6, 7, 0x10})
        EXPECT_FALSE(p.Open(pack.c_str(), nullptr, mode)) << mode;
    EXPECT_FALSE(p.IsFileOpen());
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 1));
    EXPECT_FALSE(p.Open(pack.c_str(), nullptr, 1)) << "the caller must Close first";
    EXPECT_FALSE(p.IsFileOpen()) << "and the failed Open closed it";
    EXPECT_STREQ(p.GetPath(), "");
    EXPECT_FALSE(p.Open((dir / "missing.lpk").c_str(), nullptr, 0xA));
    EXPECT_EQ(plat::GetLastError(), 2u);
}

TEST_F(PackFormatTest, APackHeldByAnotherObjectIsASharingViolation) {
    std::string pack = MakePack();
    CPackFile first, second;
    ASSERT_TRUE(first.Open(pack.c_str(), nullptr, 0xA));
    EXPECT_FALSE(second.Open(pack.c_str(), nullptr, 0xA));
    EXPECT_EQ(plat::GetLastError(), 32u);
    first.Close();
    EXPECT_TRUE(second.Open(pack.c_str(), nullptr, 0xA));
}

TEST_F(PackFormatTest, HeaderFieldsAreCheckedOnOpen) {
    std::string pack = MakePack();
    const std::string good = ReadBytes(pack);
    struct Case {
        const char* what;
        std::function<void(RawPackHeader&)> edit;
        bool opens;
    } cases[] = {
        {"busy mark set", [](RawPackHeader& h) { h.busy = 1; }, false},
        {"other busy values are not the mark", [](RawPackHeader& h) { h.busy = 2; }, true},
        {"unknown signature", [](RawPackHeader& h) { h.signature = 0x12345678; }, false},
        {"older layout", [](RawPackHeader& h) { h.version = 1989; }, false},
        {"absurd tree area", [](RawPackHeader& h) { h.treeArea = uint64_t(1) << 50; }, false},
        {"the other signature value", [](RawPackHeader& h) { h.signature = 0x7F3E2DFF; }, true},
    };
    for (const Case& c : cases) {
        std::string b = good;
        RawPackHeader h = RawPackHeader::Read(b);
        c.edit(h);
        h.WriteInto(b);
        WriteBytes(pack, b);
        EXPECT_EQ(Opens(pack), c.opens) << c.what;
        EXPECT_EQ(*CPackFile::LastRefusal() == '\0', c.opens) << c.what;
    }
    RawPackHeader h = RawPackHeader::Read(good);
    h.version = 1800;
    std::string old = good;
    h.WriteInto(old);
    WriteBytes(pack, old);
    EXPECT_FALSE(Opens(pack));
    EXPECT_NE(std::string(CPackFile::LastRefusal()).find("older than 1990"), std::string::npos);
}

TEST_F(PackFormatTest, ASmallStoredTreeAreaIsReadAsOneMebibyte) {
    std::string pack = MakePack();
    std::string b = ReadBytes(pack);
    RawPackHeader h = RawPackHeader::Read(b);
    h.treeArea = 4096;
    h.WriteInto(b);
    WriteBytes(pack, b);
    CPackFile p;
    ASSERT_TRUE(p.Open(pack.c_str(), nullptr, 0xA));
    EXPECT_EQ(p.GetTreeAreaSize(), 0x100000u);
    EXPECT_EQ(PackContents(p).at("bgm\\title.wav"), "title music");
}

TEST_F(PackFormatTest, MalformedTreesAndOffsetsAreRefused) {
    std::string pack = MakePack();
    const std::string good = ReadBytes(pack);
    const uint64_t streamLen = At<uint64_t>(good, kTreeOffset + 8);
    const size_t rootName = kTreeOffset + 16;
    struct Case {
        const char* what;
        std::function<void(std::string&)> edit;
    } cases[] = {
        {"stream announced one byte short",
         [&](std::string& b) { Put(b, kTreeOffset + 8, streamLen - 1); }},
        {"stream announced one byte long",
         [&](std::string& b) { Put(b, kTreeOffset + 8, streamLen + 1); }},
        {"stream longer than the file",
         [&](std::string& b) { Put<uint64_t>(b, kTreeOffset + 8, 0xFFFFFFF0); }},
        {"bad tree magic", [&](std::string& b) { b[kTreeOffset] = 'X'; }},
        {"nonzero tree word", [&](std::string& b) { b[kTreeOffset + 4] = 1; }},
        {"absurd name length", [&](std::string& b) { Put<uint32_t>(b, rootName, 0x7FFFFFFF); }},
        {"truncated inside the metadata", [&](std::string& b) { b.resize(50000); }},
        {"truncated inside the content", [&](std::string& b) { b.resize(b.size() - 1); }},
        {"free block before the data region",
         [&](std::string& b) {
             Put<uint64_t>(b, 34, 100);
             Put<uint64_t>(b, 40034, 4096);
         }},
        {"free block past the end of data",
         [&](std::string& b) {
             Put<uint64_t>(b, 34, 100);
             Put<uint64_t>(b, 40034, kNewEndOfData + 1000000);
         }},
    };
    for (const Case& c : cases) {
        std::string b = good;
        c.edit(b);
        WriteBytes(pack, b);
        EXPECT_FALSE(Opens(pack)) << c.what;
    }
    WriteBytes(pack, good);
    EXPECT_TRUE(Opens(pack));
}

TEST_F(PackFormatTest, RepairSignatureBringsOldSignaturesUpToDate) {
    uint32_t key;
    std::memcpy(&key, kPackKey, 4);
    struct Case {
        uint32_t before, after;
    } cases[] = {
        {0x3C3C46E6, 0x7F3E2DFF ^ key},        // old plain, unscrambled
        {0x3C3C4DA3, 0x7C7C1DDF ^ key},        // old keyed, unscrambled
        {0x3C3C46E6 ^ key, 0x7F3E2DFF ^ key},  // old plain, scrambled
        {0x3C3C4DA3 ^ key, 0x7C7C1DDF ^ key},  // old keyed, scrambled
        {0x7F3E2DFF ^ key, 0x7F3E2DFF ^ key},  // current: untouched
        {0x7C7C1DDF ^ key, 0x7C7C1DDF ^ key},  // current: untouched
        {0x01020304, 0x01020304},              // unknown: rewritten as it was
    };
    std::string path = dir / "sig.lpk";
    for (const Case& c : cases) {
        std::string b = "1234rest of the file";
        Put(b, 0, c.before);
        WriteBytes(path, b);
        EXPECT_EQ(CPackFile::RepairSignature(path.c_str()), 1);
        std::string after = ReadBytes(path);
        EXPECT_EQ(At<uint32_t>(after, 0), c.after) << std::hex << c.before;
        EXPECT_EQ(after.substr(4), "rest of the file");
    }
    EXPECT_EQ(CPackFile::RepairSignature((dir / "none.lpk").c_str()), 0);
}

}  // namespace
