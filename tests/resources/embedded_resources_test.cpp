// The host's resource table: what the program carries, read byte for byte as
// the Windows loader would see it.
#include "platform/winsim/embedded_resources.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr unsigned kRtIcon = 3, kRtString = 6, kRtGroupIcon = 14, kRtVersion = 16, kRtManifest = 24;
constexpr unsigned kEnglishUs = 1033, kEnglishCanada = 4105;

struct Key {
    const wchar_t* type_name;
    unsigned type_id;
    unsigned id;
    unsigned language;
};

std::string describe(const Key& k) {
    std::ostringstream s;
    if (k.type_name) {
        s << '"';
        for (const wchar_t* p = k.type_name; *p; ++p) s << static_cast<char>(*p);
        s << '"';
    } else {
        s << "type " << k.type_id;
    }
    s << " id " << k.id << " language " << k.language;
    return s.str();
}

bool same_type(const winsim::EmbeddedResource& r, const wchar_t* name, unsigned id) {
    if (name) return r.type_name && std::wcscmp(r.type_name, name) == 0;
    return !r.type_name && r.type_id == id;
}

std::vector<winsim::EmbeddedResource> table() {
    std::size_t count = 0;
    const winsim::EmbeddedResource* t = winsim::program_resources(&count);
    return std::vector<winsim::EmbeddedResource>(t, t + count);
}

// The one resource of that type and id, whatever its language.
const winsim::EmbeddedResource* find(const wchar_t* type_name, unsigned type_id, unsigned id) {
    std::size_t count = 0;
    const winsim::EmbeddedResource* t = winsim::program_resources(&count);
    for (std::size_t i = 0; i < count; ++i)
        if (same_type(t[i], type_name, type_id) && t[i].id == id) return &t[i];
    return nullptr;
}

std::string bytes_of(const winsim::EmbeddedResource& r) {
    return std::string(reinterpret_cast<const char*>(r.data), r.size);
}

std::uint16_t u16_at(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }
std::uint32_t u32_at(const unsigned char* p) { return std::uint32_t(u16_at(p)) | std::uint32_t(u16_at(p + 2)) << 16; }

std::string file_bytes(const std::string& relative) {
    std::ifstream in(std::string(SABLEWICK_SOURCE_DIR) + "/" + relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    if (start != text.size()) lines.push_back(text.substr(start));  // an unterminated tail
    return lines;
}

TEST(EmbeddedResources, TableHoldsExactlyTheProgramsResources) {
    const Key expected[] = {
        {L"MSI", 0, 102, kEnglishUs},
        {L"CFG", 0, 104, kEnglishCanada},
        {L"DAT", 0, 107, kEnglishCanada},
        {nullptr, kRtString, 105 / 16 + 1, kEnglishUs},  // strings 105 and 106
        {nullptr, kRtGroupIcon, 101, kEnglishCanada},
        {nullptr, kRtIcon, 1, kEnglishCanada},
        {nullptr, kRtIcon, 2, kEnglishCanada},
        {nullptr, kRtIcon, 3, kEnglishCanada},
        {nullptr, kRtIcon, 4, kEnglishCanada},
        {nullptr, kRtVersion, 1, kEnglishUs},
        {nullptr, kRtManifest, 1, kEnglishUs},
    };
    const auto resources = table();
    for (const Key& k : expected) {
        int found = 0;
        for (const auto& r : resources)
            if (same_type(r, k.type_name, k.type_id) && r.id == k.id) {
                ++found;
                EXPECT_EQ(r.language, k.language) << describe(k);
                EXPECT_NE(r.data, nullptr) << describe(k);
                EXPECT_GT(r.size, 0u) << describe(k);
            }
        EXPECT_EQ(found, 1) << describe(k);
    }
    for (const auto& r : resources) {
        bool known = false;
        for (const Key& k : expected) known |= same_type(r, k.type_name, k.type_id) && r.id == k.id;
        EXPECT_TRUE(known) << "unexpected resource " << describe({r.type_name, r.type_id, r.id, r.language});
    }
    EXPECT_EQ(find(L"ONETIME", 0, 108), nullptr) << "the program carries no one-time record";
}

TEST(EmbeddedResources, ConfigurationTemplateIsTheFortySixCrlfLines) {
    const auto* cfg = find(L"CFG", 0, 104);
    ASSERT_NE(cfg, nullptr);
    const std::string text = bytes_of(*cfg);
    EXPECT_EQ(text, file_bytes("resources/SablewickRemote.cfg"));

    ASSERT_GE(text.size(), 2u);
    EXPECT_NE(text.substr(0, 3), "\xEF\xBB\xBF") << "no byte-order mark";
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "the last line is ended too";
    EXPECT_EQ(text.find("tray-port"), std::string::npos);

    const auto lines = crlf_lines(text);
    ASSERT_EQ(lines.size(), 46u);
    std::vector<std::string> sections;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        SCOPED_TRACE("line " + std::to_string(i + 1) + ": " + l);
        EXPECT_EQ(l.find_first_of("\r\n"), std::string::npos) << "a bare CR or LF";
        for (unsigned char c : l) EXPECT_TRUE(c >= 0x20 && c < 0x7F) << "not printable ASCII";
        if (l.empty() || l[0] == '#') continue;
        if (l.front() == '[' && l.back() == ']') {
            sections.push_back(l);
            continue;
        }
        const auto eq = l.find(" = ");
        ASSERT_NE(eq, std::string::npos) << "neither comment, section nor key = value";
        EXPECT_EQ(l.find(' '), eq) << "the key holds a blank";
        EXPECT_FALSE(l.substr(eq + 3).empty()) << "empty value";
    }
    EXPECT_EQ(sections, (std::vector<std::string>{"[SablewickClient]", "[SablewickServer]", "[MessageBroker]"}));

    const struct { std::size_t line; const char* text; } fixed[] = {
        {1, "# This file is being used to configure client and server and shows correct spelling."},
        {2, "# The file must have \".cfg\" extension and name similar to executible i.e. \"SablewickAgent.cfg\","},
        {4, ""},
        {10, "server-port = 22043"},
        {11, "company-id = 7D3A90C4-5B21-4E8F-9A6C-0F12B3E4D5A6"},
        {26, "sign-executables = 0"},
        {33, "azure-certificate-thumbprint = ABC123DEF456..."},
        {39, "bitlocker-encryption-key = MistralBay2031#x"},
        {41, "#Example for message broker"},
        {44, "front-end-port = 91100"},
        {46, "back-end-port = 91101"},
    };
    for (const auto& f : fixed) EXPECT_EQ(lines[f.line - 1], f.text) << "line " << f.line;
    // One private address serves the HTTP server, the broker and both ends.
    const std::string address = lines[15].substr(lines[15].find(" = ") + 3);
    EXPECT_EQ(address.rfind("192.168.", 0), 0u) << lines[15];
    for (std::size_t line : {21, 43, 45})
        EXPECT_EQ(lines[line - 1].substr(lines[line - 1].find(" = ") + 3), address) << "line " << line;
    EXPECT_EQ(lines[29].back(), '/') << "the key vault's address ends in a slash";
}

TEST(EmbeddedResources, SettingsRecordIsTheDefaultArchive) {
    const auto* dat = find(L"DAT", 0, 107);
    ASSERT_NE(dat, nullptr);
    const std::string expected =
        "22 serialization::archive 13 0 2 00000000-0000-0000-0000-000000000000 "
        "00000000-0000-0000-0000-000000000000 1 00000000-0000-0000-0000-000000000000\r\n";
    ASSERT_EQ(expected.size(), 147u);
    EXPECT_EQ(bytes_of(*dat), expected);
    EXPECT_EQ(file_bytes("resources/SablewickRemote.dat"), expected);
}

TEST(EmbeddedResources, StringBlockHoldsTheMessageBoxTexts) {
    const auto* block = find(nullptr, kRtString, 7);
    ASSERT_NE(block, nullptr);
    // Sixteen counted UTF-16LE strings, ids 96 to 111; every slot but 105
    // and 106 is empty.
    std::vector<std::u16string> slots;
    std::size_t at = 0;
    for (int i = 0; i < 16; ++i) {
        ASSERT_LE(at + 2, block->size) << "slot " << i;
        const std::size_t n = u16_at(block->data + at);
        at += 2;
        ASSERT_LE(at + 2 * n, block->size) << "slot " << i;
        std::u16string s;
        for (std::size_t k = 0; k < n; ++k) s.push_back(static_cast<char16_t>(u16_at(block->data + at + 2 * k)));
        at += 2 * n;
        slots.push_back(s);
    }
    EXPECT_EQ(at, block->size) << "bytes after the sixteenth string";

    const std::u16string text105 =
        u"The installation image is corrupted, please try to download installation again."
        u"\r\n\r\nAdditional error details: %1%";
    ASSERT_EQ(text105.size(), 112u);
    for (int i = 0; i < 16; ++i) {
        const unsigned id = 96 + i;
        if (id == 105)
            EXPECT_TRUE(slots[i] == text105) << "string 105";
        else if (id == 106)
            EXPECT_TRUE(slots[i] == u"SablewickAgentSetup") << "string 106";
        else
            EXPECT_TRUE(slots[i].empty()) << "string " << id;
    }
}

TEST(EmbeddedResources, ShellResourcesAreWellFormed) {
    const auto* package = find(L"MSI", 0, 102);
    ASSERT_NE(package, nullptr);
    ASSERT_GE(package->size, 8u);
    EXPECT_EQ(std::memcmp(package->data, "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8), 0)
        << "the package is an OLE2 compound file";

    // Group icon: GRPICONDIR, then one 14-byte entry per image in the order
    // 16, 256 (stored as 0), 32, 48 with the icon ids 1 to 4.
    const auto* group = find(nullptr, kRtGroupIcon, 101);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->size, 6u + 4 * 14);
    EXPECT_EQ(u16_at(group->data + 2), 1) << "type icon";
    ASSERT_EQ(u16_at(group->data + 4), 4);
    const unsigned sizes[] = {16, 256, 32, 48};
    for (unsigned i = 0; i < 4; ++i) {
        const unsigned char* e = group->data + 6 + 14 * i;
        SCOPED_TRACE("image " + std::to_string(i + 1));
        EXPECT_EQ(e[0], sizes[i] % 256);
        EXPECT_EQ(e[1], sizes[i] % 256);
        EXPECT_EQ(u16_at(e + 6), 32) << "bits per pixel";
        EXPECT_EQ(u16_at(e + 12), i + 1) << "icon id";
        const auto* image = find(nullptr, kRtIcon, i + 1);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(u32_at(e + 8), image->size);
        if (sizes[i] == 256) {
            EXPECT_EQ(std::memcmp(image->data, "\x89PNG\r\n\x1A\n", 8), 0);
        } else {
            EXPECT_EQ(u32_at(image->data), 40u) << "BITMAPINFOHEADER";
            EXPECT_EQ(u32_at(image->data + 4), sizes[i]);
            EXPECT_EQ(u16_at(image->data + 14), 32) << "bits per pixel";
        }
    }

    // Version block: VS_VERSIONINFO's key, then VS_FIXEDFILEINFO at offset 40.
    const auto* version = find(nullptr, kRtVersion, 1);
    ASSERT_NE(version, nullptr);
    ASSERT_GE(version->size, 40u + 52);
    std::u16string block;
    for (std::size_t i = 0; i + 1 < version->size; i += 2) block.push_back(static_cast<char16_t>(u16_at(version->data + i)));
    EXPECT_EQ(block.substr(3, 16), std::u16string(u"VS_VERSION_INFO", 16));
    const unsigned char* fixed = version->data + 40;
    EXPECT_EQ(u32_at(fixed), 0xFEEF04BDu) << "signature";
    EXPECT_EQ(u32_at(fixed + 8), 0x00010000u) << "file version 1.0";
    EXPECT_EQ(u32_at(fixed + 12), (45u << 16) | 1871u) << "file version .45.1871";
    EXPECT_EQ(u32_at(fixed + 16), 0x00010000u) << "product version 1.0";
    EXPECT_EQ(u32_at(fixed + 20), 0u) << "product version .0.0";
    EXPECT_EQ(u32_at(fixed + 28), 0u) << "file flags";
    EXPECT_EQ(u32_at(fixed + 32), 0x00000004u) << "VOS__WINDOWS32";
    EXPECT_EQ(u32_at(fixed + 36), 1u) << "VFT_APP";
    // A string's value follows its NUL-terminated key after alignment padding.
    auto value_of = [&](const std::u16string& key) {
        const auto k = block.find(key + u'\0');
        if (k == std::u16string::npos) return std::u16string(u"<missing>");
        auto v = block.find_first_not_of(u'\0', k + key.size());
        return block.substr(v, block.find(u'\0', v) - v);
    };
    EXPECT_TRUE(value_of(u"CompanyName") == u"Sablewick");
    EXPECT_TRUE(value_of(u"FileDescription") == u"Sablewick Remote Setup 64-bit");
    EXPECT_TRUE(value_of(u"FileVersion") == u"1.0.45.1871");
    EXPECT_TRUE(value_of(u"ProductName") == u"SablewickAgentSetup");
    EXPECT_TRUE(value_of(u"ProductVersion") == u"1.0.45.1871");
    EXPECT_NE(block.find(u"040904b0"), std::u16string::npos) << "string table for 0x0409, Unicode";

    const auto* manifest = find(nullptr, kRtManifest, 1);
    ASSERT_NE(manifest, nullptr);
    const std::string xml = bytes_of(*manifest);
    EXPECT_EQ(xml.rfind("<?xml", 0), 0u);
    EXPECT_NE(xml.find("level=\"asInvoker\""), std::string::npos);
    EXPECT_NE(xml.find("uiAccess=\"false\""), std::string::npos);
}

}  // namespace
