#include "platform/Registry.h"
#include "platform/CodePage.h"
#include "platform/RegFile.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <optional>

using namespace platform;
using testsupport::ChildProcess;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr std::u16string_view kUninstall =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The export's text as UTF-8, after checking that it is UTF-16LE with a byte order mark.
std::string ExportText(const std::string& bytes)
{
    EXPECT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\xFF\xFE");
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<uint8_t>(bytes[i]) |
                                             (static_cast<uint8_t>(bytes[i + 1]) << 8)));
    return Utf16ToUtf8(text);
}

std::string Utf16File(const std::string& utf8)
{
    std::u16string text = *Utf8ToUtf16(utf8);
    std::string bytes = "\xFF\xFE";
    for (char16_t c : text) {
        bytes.push_back(static_cast<char>(c & 0xFF));
        bytes.push_back(static_cast<char>(c >> 8));
    }
    return bytes;
}

Bytes Utf16Data(std::u16string_view text, bool terminate = true)
{
    Bytes data;
    for (char16_t c : text) {
        data.push_back(static_cast<uint8_t>(c & 0xFF));
        data.push_back(static_cast<uint8_t>(c >> 8));
    }
    if (terminate)
        data.insert(data.end(), {0, 0});
    return data;
}

// Puts the process code page back when the test ends.
class ScopedCodePage {
public:
    explicit ScopedCodePage(const std::string& name) : m_old(ProcessCodePage()) { SetProcessCodePage(name); }
    ~ScopedCodePage() { SetProcessCodePage(m_old); }

private:
    std::string m_old;
};

class RegistryTest : public ::testing::Test {
protected:
    std::string Folder() const { return m_temp.Path() + "windows/"; }
    std::string StoreBytes() const { return ReadFile(m_registry.FilePath()); }

    TempDir m_temp;
    Registry m_registry{m_temp.Path() + "windows/"};
};

} // namespace

TEST(RegistryFolderTest, FollowsXdgDataHome)
{
    TempDir temp;
    const char* oldData = std::getenv("XDG_DATA_HOME");
    const std::string saved = oldData ? oldData : "";
    ::setenv("XDG_DATA_HOME", (temp.Path() + "data").c_str(), 1);
    EXPECT_EQ(WindowsFolder(), temp.Path() + "data/quokka/windows/");
    EXPECT_EQ(SystemFolder(), temp.Path() + "data/quokka/windows/system32/");
    EXPECT_EQ(Registry().FilePath(), temp.Path() + "data/quokka/windows/registry.reg");
    ASSERT_TRUE(Registry().SetString(u"HKEY_CURRENT_USER\\Software\\X", u"v", u"1"));
    EXPECT_TRUE(std::filesystem::is_directory(SystemFolder())) << "system32/ sits beside the registry file";
    ::setenv("XDG_DATA_HOME", "relative/path", 1);
    EXPECT_EQ(WindowsFolder().find("relative"), std::string::npos) << "a relative XDG_DATA_HOME is ignored";
    if (oldData)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

// Names are found without regard to case and keep the case they were made with, also when set again
// in another case; an uninstall entry reads the same through every view.
TEST_F(RegistryTest, NamesIgnoreCaseAndKeepIt)
{
    const std::u16string entry = std::u16string(kUninstall) + u"\\{VC2010-x64}";
    ASSERT_TRUE(
        m_registry.SetString(entry, u"DisplayName", u"Microsoft Visual C++ 2010 x64 Redistributable"));
    ASSERT_TRUE(m_registry.SetString(u"hkey_local_machine\\software\\MICROSOFT\\windows\\currentversion\\"
                                     u"UNINSTALL\\{vc2010-X64}",
                                     u"DISPLAYNAME", u"Renamed"));
    ASSERT_TRUE(m_registry.SetDword(entry, u"ÉTAT", 1));
    ASSERT_TRUE(m_registry.SetDword(entry, u"état", 2));

    auto names = m_registry.SubkeyNames(kUninstall, RegView::Bits64);
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, std::vector<std::u16string>{u"{VC2010-x64}"});
    EXPECT_EQ(m_registry.SubkeyNames(kUninstall, RegView::Bits32), names) << "one view";
    auto tree = m_registry.Load();
    ASSERT_TRUE(tree);
    const RegistryKey* key = tree->Find(entry);
    ASSERT_NE(key, nullptr);
    ASSERT_EQ(key->Values().size(), 2u);
    EXPECT_EQ(key->Values()[0].Name, u"DisplayName");
    EXPECT_EQ(key->Values()[1].Name, u"ÉTAT");
    EXPECT_EQ(m_registry.QueryString(entry, u"displayname"), u"Renamed");
    EXPECT_EQ(m_registry.QueryValue(entry, u"État")->Data, (Bytes{2, 0, 0, 0}));
    EXPECT_FALSE(m_registry.QueryString(entry, u"État")) << "a dword is not a string";
    EXPECT_FALSE(m_registry.QueryString(entry, u"Missing"));
    EXPECT_FALSE(m_registry.SubkeyNames(u"HKEY_LOCAL_MACHINE\\NoSuchKey"));
    EXPECT_FALSE(m_registry.SubkeyNames(u"HKLM\\SOFTWARE")) << "root keys by full name only";

    EXPECT_FALSE(m_registry.SetString(entry, u"two\nlines", u"x"));
    EXPECT_FALSE(m_registry.CreateKey(u"HKEY_CURRENT_USER\\a\\\\b")) << "an empty key name";
    EXPECT_FALSE(m_registry.DeleteKey(u"HKEY_LOCAL_MACHINE")) << "a root key stays";
    ASSERT_TRUE(m_registry.DeleteKey(std::u16string(kUninstall) + u"\\{VC2010-X64}"));
    EXPECT_EQ(m_registry.SubkeyNames(kUninstall)->size(), 0u);
}

// The export is what regedit writes: header and blank line, each key then its values then a blank
// line, subkeys by name without case, values in creation order, dwords in eight lower-case digits,
// long byte lists broken before column 80 and continued after two spaces.
TEST_F(RegistryTest, ExportIsInRegeditsLayout)
{
    const std::u16string base = u"HKEY_CURRENT_USER\\Software\\Quokka";
    ASSERT_TRUE(m_registry.Modify([&](RegistryTree& tree) {
        RegistryKey* key = tree.Create(base);
        key->SetValue(u"Zeta", kRegDword, {0xEF, 0xBE, 0xAD, 0x0B});
        key->SetValue(u"", kRegSz, Utf16Data(u"默认"));
        key->SetValue(u"Path", kRegSz, Utf16Data(u"C:\\Games\\\"q\""));
        Bytes blob(40);
        for (size_t i = 0; i < blob.size(); ++i)
            blob[i] = static_cast<uint8_t>(i * 7);
        key->SetValue(u"Blob", kRegBinary, blob);
        key->SetValue(u"Big", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8});
        tree.Create(base + u"\\b");
        tree.Create(base + u"\\A");
        tree.Create(base + u"\\c")->SetValue(u"x", kRegNone, {});
        return true;
    }));
    std::string error;
    ASSERT_TRUE(
        m_registry.ExportFile(m_temp.Path() + "out.reg", u"hkey_current_user\\software\\QUOKKA", &error))
        << error;
    const std::string expected =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Quokka]\r\n"
        "\"Zeta\"=dword:0badbeef\r\n"
        "@=\"默认\"\r\n"
        "\"Path\"=\"C:\\\\Games\\\\\\\"q\\\"\"\r\n"
        "\"Blob\"=hex:00,07,0e,15,1c,23,2a,31,38,3f,46,4d,54,5b,62,69,70,77,7e,85,8c,93,\\\r\n"
        "  9a,a1,a8,af,b6,bd,c4,cb,d2,d9,e0,e7,ee,f5,fc,03,0a,11\r\n"
        "\"Big\"=hex(b):01,02,03,04,05,06,07,08\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Quokka\\A]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Quokka\\b]\r\n"
        "\r\n"
        "[HKEY_CURRENT_USER\\Software\\Quokka\\c]\r\n"
        "\"x\"=hex(0):\r\n"
        "\r\n";
    EXPECT_EQ(ExportText(ReadFile(m_temp.Path() + "out.reg")), expected);

    EXPECT_FALSE(m_registry.ExportFile(m_temp.Path() + "none.reg", u"HKEY_CURRENT_USER\\Missing", &error));
    EXPECT_FALSE(std::filesystem::exists(m_temp.Path() + "none.reg"));
}

// export -> import into an empty registry -> export gives the same bytes, for every type, Chinese
// names and data, wrapped binaries, default values, strings the text form cannot carry, and a tree
// that deletions have shaped.
TEST_F(RegistryTest, ExportImportExportIsByteIdentical)
{
    const std::string seed = "Windows Registry Editor Version 5.00\r\n\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\r\n\"v\"=\"1\"\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"drop\"=\"x\"\r\n\"keep\"=\"y\"\r\n"
                             "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\Gone]\r\n\"ignored\"=\"after a removal\"\r\n"
                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kept]\r\n\"drop\"=-\r\n";
    std::string error;
    ASSERT_TRUE(m_registry.ImportText(seed, &error)) << error;
    ASSERT_TRUE(m_registry.Modify([](RegistryTree& tree) {
        RegistryKey* key = tree.Create(u"HKEY_CURRENT_USER\\Software\\模拟器\\设置");
        key->SetValue(u"", kRegSz, Utf16Data(u"默认值"));
        key->SetValue(u"名字", kRegSz, Utf16Data(u"中文 \"quoted\" back\\slash"));
        key->SetValue(u"Expand", kRegExpandSz, Utf16Data(u"%SystemRoot%\\system32"));
        key->SetValue(u"Multi", kRegMultiSz, Utf16Data(std::u16string(u"a\0bc\0\0", 6), false));
        key->SetValue(u"Dword", kRegDword, {1, 0, 0, 0});
        key->SetValue(u"ShortDword", kRegDword, {1, 2});
        key->SetValue(u"BigEndian", kRegDwordBigEndian, {0, 0, 0, 1});
        key->SetValue(u"Qword", kRegQword, {1, 2, 3, 4, 5, 6, 7, 8});
        key->SetValue(u"Link", kRegLink, Utf16Data(u"\\Registry\\Machine", false));
        key->SetValue(u"Unknown", 0x12345, {9, 8, 7});
        key->SetValue(u"NoNul", kRegSz, Utf16Data(u"abc", false));
        key->SetValue(u"Lines", kRegSz, Utf16Data(u"one\r\ntwo"));
        key->SetValue(u"Odd", kRegSz, {0x41});
        key->SetValue(u"Empty", kRegBinary, {});
        Bytes big(1000);
        for (size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<uint8_t>(i);
        key->SetValue(u"Wrapped", kRegBinary, big);
        key->SetValue(std::u16string(70, u'n'), kRegBinary, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
        tree.Create(u"HKEY_USERS\\S-1-5-21\\Empty key");
        return true;
    }));

    ASSERT_TRUE(m_registry.ExportFile(m_temp.Path() + "first.reg", {}, &error)) << error;
    const std::string first = ReadFile(m_temp.Path() + "first.reg");
    EXPECT_EQ(first, StoreBytes()) << "the registry file is a whole export";
    const std::string text = ExportText(first);
    EXPECT_EQ(text.find("Gone"), std::string::npos);
    EXPECT_EQ(text.find("drop"), std::string::npos);
    EXPECT_NE(text.find("\"keep\"=\"y\""), std::string::npos);
    EXPECT_NE(text.find("\"NoNul\"=hex(1):61,00,62,00,63,00\r\n"), std::string::npos);
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        EXPECT_LE(Utf8ToUtf16(text.substr(start, end - start))->size(), 80u)
            << text.substr(start, end - start);

    Registry second(m_temp.Path() + "second/");
    ASSERT_TRUE(second.ImportFile(m_temp.Path() + "first.reg", &error)) << error;
    ASSERT_TRUE(second.ExportFile(m_temp.Path() + "second.reg", {}, &error)) << error;
    EXPECT_EQ(ReadFile(m_temp.Path() + "second.reg"), first);
}

// One content in the three input formats: UTF-16LE with a byte order mark, UTF-8 (with and without a
// mark) and REGEDIT4 in the code page (GBK here), whose texts become UTF-16 in the registry.
TEST_F(RegistryTest, ReadsTheThreeInputFormats)
{
    const std::string body = "[HKEY_CURRENT_USER\\Software\\中文]\r\n"
                             "; a comment\r\n"
                             "\"名\"=\"值\"\r\n"
                             "\"n\"=dword:0000002A\r\n"
                             "\"bin\"=hex:01,02,\\\r\n"
                             "    03\r\n";
    ScopedCodePage gbk("GBK");
    const std::string regedit4 = "REGEDIT4\r\n\r\n"
                                 "[HKEY_CURRENT_USER\\Software\\\xD6\xD0\xCE\xC4]\r\n"
                                 "; a comment\r\n"
                                 "\"\xC3\xFB\"=\"\xD6\xB5\"\r\n"
                                 "\"n\"=dword:0000002A\r\n"
                                 "\"bin\"=hex:01,02,\\\r\n"
                                 "    03\r\n"
                                 "\"path\"=hex(2):25,00\r\n";
    const std::vector<std::string> inputs = {
        Utf16File("Windows Registry Editor Version 5.00\r\n\r\n" + body + "\"path\"=hex(2):25,00,00,00\r\n"),
        "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n" + body + "\"path\"=hex(2):25,00,00,00\r\n",
        "Windows Registry Editor Version 5.00\n\n" + body + "\"path\"=hex(2):25,00,00,00\n",
        regedit4,
    };
    std::optional<std::string> reference;
    for (size_t i = 0; i < inputs.size(); ++i) {
        Registry registry(m_temp.Path() + "format" + std::to_string(i) + "/");
        std::string error;
        ASSERT_TRUE(registry.ImportText(inputs[i], &error)) << i << ": " << error;
        const std::u16string key = u"HKEY_CURRENT_USER\\Software\\中文";
        EXPECT_EQ(registry.QueryString(key, u"名"), u"值") << i;
        EXPECT_EQ(registry.QueryValue(key, u"n")->Data, (Bytes{42, 0, 0, 0})) << i;
        EXPECT_EQ(registry.QueryValue(key, u"bin")->Data, (Bytes{1, 2, 3})) << i;
        EXPECT_EQ(registry.QueryValue(key, u"path")->Data, (Bytes{0x25, 0, 0, 0})) << i;
        std::string stored = ReadFile(registry.FilePath());
        if (!reference)
            reference = stored;
        EXPECT_EQ(stored, *reference) << "format " << i << " stores the same registry";
    }
}

// A refused file changes nothing and names its line.
TEST_F(RegistryTest, BadFilesChangeNothingAndNameTheLine)
{
    ASSERT_TRUE(m_registry.SetString(u"HKEY_CURRENT_USER\\Software\\Before", u"v", u"old"));
    const std::string before = StoreBytes();
    const std::string header = "Windows Registry Editor Version 5.00\r\n\r\n";
    const std::string good = "[HKEY_CURRENT_USER\\Software\\Before]\r\n\"v\"=\"new\"\r\n";
    std::string deep = "[HKEY_CURRENT_USER";
    for (size_t i = 0; i <= kMaxKeyDepth; ++i)
        deep += "\\k";
    deep += "]";
    struct Case {
        std::string text;
        size_t line;
    };
    const std::vector<Case> cases = {
        {good, 1},
        {"REGEDIT5\r\n" + good, 1},
        {header + good + "[HKEY_CURRENT_USER\\Software\\x\r\n", 5},
        {header + good + "\"v\"=\"bad \\n escape\"\r\n", 5},
        {header + good + "\"v\"=\"unclosed\r\n", 5},
        {header + good + "\"v\" \"no equals\"\r\n", 5},
        {header + good + "\"v\"=dword:123456789\r\n", 5},
        {header + good + "\"v\"=dword:xyz\r\n", 5},
        {header + good + "\"v\"=hex:01,0g\r\n", 5},
        {header + good + "\"v\"=hex:01,,02\r\n", 5},
        {header + good + "\"v\"=hex(zz):01\r\n", 5},
        {header + good + "\"v\"=str:abc\r\n", 5},
        {header + good + "\"v\"=hex:01,\\", 5},
        {header + good + "[HKEY_NOWHERE\\x]\r\n", 5},
        {header + good + "[HKLM\\SOFTWARE]\r\n", 5},
        {header + good + "[-HKEY_LOCAL_MACHINE]\r\n", 5},
        {header + good + "[HKEY_CURRENT_USER\\\\x]\r\n", 5},
        {header + good + "[HKEY_CURRENT_USER\\" + std::string(256, 'k') + "]\r\n", 5},
        {header + good + deep + "\r\n", 5},
        {header + good + "\"" + std::string(kMaxValueNameLength + 1, 'n') + "\"=\"x\"\r\n", 5},
        {header + "\"v\"=\"before any key\"\r\n", 3},
        {header + good + "garbage\r\n", 5},
        {header + good + "\"v\"=\"\xFF\"\r\n", 5},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_FALSE(m_registry.ImportText(c.text, &error)) << c.text.substr(0, 120);
        EXPECT_EQ(error.rfind("line " + std::to_string(c.line) + ":", 0), 0u) << error;
        EXPECT_EQ(StoreBytes(), before) << c.text.substr(0, 120);
    }

    std::string error;
    std::string huge = header + good + std::string(kMaxRegFileBytes, ';');
    EXPECT_FALSE(m_registry.ImportText(huge, &error));
    EXPECT_NE(error.find("larger"), std::string::npos) << error;
    ASSERT_TRUE(WriteFile(m_temp.Path() + "odd.reg", "\xFF\xFE"
                                                     "W"));
    EXPECT_FALSE(m_registry.ImportFile(m_temp.Path() + "odd.reg", &error));
    EXPECT_FALSE(m_registry.ImportFile(m_temp.Path() + "missing.reg", &error));
    EXPECT_EQ(StoreBytes(), before);

    // A registry file that is not a registry export is never overwritten.
    ASSERT_TRUE(WriteFile(m_registry.FilePath(), "not a registry"));
    EXPECT_FALSE(m_registry.ImportText(header + good, &error));
    EXPECT_FALSE(m_registry.SetString(u"HKEY_CURRENT_USER\\x", u"v", u"1"));
    EXPECT_EQ(StoreBytes(), "not a registry");
}

// Two processes importing at once, each key its own transaction: none loses the other's keys.
TEST_F(RegistryTest, TwoProcessesImportingAtOnceKeepEveryKey)
{
    ChildProcess first({REGISTRY_PEER, Folder(), "keys", "first", "200"});
    ChildProcess second({REGISTRY_PEER, Folder(), "keys", "second", "200"});
    first.CloseInput();
    second.CloseInput();
    EXPECT_EQ(first.ReadLine(60000), "done");
    EXPECT_EQ(second.ReadLine(60000), "done");
    EXPECT_EQ(first.Wait(10000), 0);
    EXPECT_EQ(second.Wait(10000), 0);
    auto names = m_registry.SubkeyNames(u"HKEY_CURRENT_USER\\Software\\Peer");
    ASSERT_TRUE(names);
    EXPECT_EQ(names->size(), 400u);
}

// A writer killed at any moment leaves the old or the new registry, never a broken one; its temporary
// file is cleared by the next change.
TEST_F(RegistryTest, KillDuringWriteLeavesOldOrNew)
{
    ChildProcess churn({REGISTRY_PEER, Folder(), "churn", "300000"});
    churn.CloseInput();
    for (int round = 1; round <= 3; ++round)
        ASSERT_EQ(churn.ReadLine(30000), std::to_string(round));
    churn.Signal(SIGKILL);
    churn.Wait(10000);

    std::string error;
    auto tree = m_registry.Load(&error);
    ASSERT_TRUE(tree) << error;
    const RegValue* blob = tree->Find(u"HKEY_CURRENT_USER\\Software\\Churn")->FindValue(u"Blob");
    ASSERT_NE(blob, nullptr);
    ASSERT_EQ(blob->Data.size(), 300000u);
    EXPECT_NE(blob->Data[0], 0);
    EXPECT_EQ(std::count(blob->Data.begin(), blob->Data.end(), blob->Data[0]), 300000) << "one round's data";

    ASSERT_TRUE(m_registry.SetString(u"HKEY_CURRENT_USER\\Software\\After", u"v", u"1"));
    for (const auto& entry : std::filesystem::directory_iterator(Folder()))
        EXPECT_EQ(entry.path().filename().string().find(".tmp-"), std::string::npos) << entry.path();
}

// quokka-regedit: /s imports, /e exports a key or everything, on $SystemRoot when it is set; failures
// say why and exit non-zero.
TEST_F(RegistryTest, RegEditTool)
{
    const std::map<std::string, std::string> env = {{"SystemRoot", m_temp.Path() + "root"}};
    auto run = [&](std::vector<std::string> args, std::string* output = nullptr) {
        args.insert(args.begin(), QUOKKA_REGEDIT);
        ChildProcess tool(args, env, true);
        std::string text;
        while (auto line = tool.ReadLine(10000))
            text += *line + "\n";
        if (output)
            *output = text;
        return tool.Wait(10000).value_or(-1);
    };
    ASSERT_TRUE(
        WriteFile(m_temp.Path() + "in.reg",
                  Utf16File("Windows Registry Editor Version 5.00\r\n\r\n"
                            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
                            "Xbox]\r\n\"DisplayName\"=\"Microsoft Xbox 360 Accessories 1.2\"\r\n")));
    EXPECT_EQ(run({"/s", m_temp.Path() + "in.reg"}), 0);
    Registry rooted(m_temp.Path() + "root");
    EXPECT_EQ(rooted.QueryString(std::u16string(kUninstall) + u"\\Xbox", u"DisplayName"),
              u"Microsoft Xbox 360 Accessories 1.2");

    EXPECT_EQ(run({"/E", m_temp.Path() + "key.reg", "HKEY_LOCAL_MACHINE\\software\\microsoft\\windows"}), 0);
    std::string text = ExportText(ReadFile(m_temp.Path() + "key.reg"));
    EXPECT_EQ(text.rfind("Windows Registry Editor Version "
                         "5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows]\r\n",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("Xbox 360"), std::string::npos);
    EXPECT_EQ(run({"/e", m_temp.Path() + "all.reg"}), 0);
    EXPECT_EQ(ReadFile(m_temp.Path() + "all.reg"), ReadFile(rooted.FilePath()));

    std::string output;
    ASSERT_TRUE(
        WriteFile(m_temp.Path() + "bad.reg", "REGEDIT4\r\n[HKEY_CURRENT_USER\\x]\r\n\"v\"=wrong\r\n"));
    EXPECT_NE(run({"/s", m_temp.Path() + "bad.reg"}, &output), 0);
    EXPECT_NE(output.find("line 3"), std::string::npos) << output;
    EXPECT_NE(run({"/e", m_temp.Path() + "none.reg", "HKEY_CURRENT_USER\\Missing"}, &output), 0);
    EXPECT_NE(output.find("no key"), std::string::npos) << output;
    EXPECT_NE(run({"/x", "file"}), 0);
    EXPECT_NE(run({"/s"}), 0);
    EXPECT_FALSE(std::filesystem::exists(m_temp.Path() + "windows"))
        << "the user's own registry was not used";
}

// Many names under one key: each is found in any case, subkeys export in their order without case,
// and values keep their creation order through deletions and settings again; the tree counts them.
TEST(RegistryTreeTest, ManyNamesAreFoundWithoutCaseAndKeepTheirOrder)
{
    constexpr int kCount = 3000;
    RegistryTree tree;
    const std::u16string parent = u"HKEY_CURRENT_USER\\Software\\Many";
    RegistryKey* key = tree.Create(parent);
    ASSERT_NE(key, nullptr);
    auto name = [](const char* prefix, int i) {
        char text[32];
        std::snprintf(text, sizeof text, "%s%05d", prefix, i);
        return *Utf8ToUtf16(text);
    };
    for (int i = kCount; i-- > 0;)
        ASSERT_NE(tree.Create(parent + u"\\" + name(i % 2 ? "KEY" : "key", i)), nullptr);
    for (int i = 0; i < kCount; ++i)
        ASSERT_TRUE(key->SetValue(name("Value", i), kRegDword, {1, 0, 0, 0}));
    EXPECT_EQ(tree.Create(parent + u"\\KeY00007"), key->FindSubkey(u"key00007")) << "no second key";
    EXPECT_EQ(key->FindSubkey(u"Key00008")->Name(), u"key00008") << "the case it was made with";
    EXPECT_EQ(key->FindSubkey(u"key03000"), nullptr);
    EXPECT_EQ(tree.Counts().Keys, 2u + kCount) << "Software, Many and the subkeys";

    const std::vector<const RegistryKey*> sorted = key->SortedSubkeys();
    ASSERT_EQ(sorted.size(), static_cast<size_t>(kCount));
    for (int i = 0; i < kCount; ++i)
        ASSERT_EQ(sorted[i]->Name(), name(i % 2 ? "KEY" : "key", i));
    const std::string exported = ExportText(ExportRegKey(*key, parent));
    EXPECT_LT(exported.find("Many\\key00000]"), exported.find("Many\\KEY00001]"));
    EXPECT_LT(exported.find("Many\\KEY02999]"), std::string::npos);

    for (int i = 0; i < kCount; i += 2)
        ASSERT_TRUE(key->DeleteValue(name("VALUE", i)));
    EXPECT_FALSE(key->DeleteValue(u"Value00000")) << "already gone";
    EXPECT_EQ(key->FindValue(u"value00000"), nullptr);
    ASSERT_TRUE(key->SetValue(u"Value00001", kRegDword, {2, 0, 0, 0}));
    ASSERT_TRUE(key->SetValue(u"value00000", kRegSz, Utf16Data(u"again")));
    ASSERT_EQ(key->Values().size(), kCount / 2 + 1u);
    EXPECT_EQ(key->Values().front().Name, u"Value00001");
    EXPECT_EQ(key->Values().front().Data, (Bytes{2, 0, 0, 0})) << "set again in its place";
    EXPECT_EQ(key->Values().back().Name, u"value00000") << "a value set after its deletion comes last";
    EXPECT_EQ(key->FindValue(u"VALUE02999")->Name, u"Value02999");
    EXPECT_EQ(key->FindValue(u"VALUE00000")->Data, Utf16Data(u"again"));
    EXPECT_EQ(tree.Counts().Values, kCount / 2 + 1u);

    ASSERT_TRUE(tree.Delete(u"HKEY_CURRENT_USER\\SOFTWARE"));
    EXPECT_EQ(tree.Counts().Keys, 0u);
    EXPECT_EQ(tree.Counts().Values, 0u);
}

// A tree holds at most kMaxKeyCount keys and kMaxValueCount values: past them a change is refused and
// a file is refused at its line with nothing of it imported; room made by a deletion can be used.
TEST_F(RegistryTest, KeysAndValuesPastTheBoundsAreRefused)
{
    ASSERT_TRUE(m_registry.SetString(u"HKEY_CURRENT_USER\\Software\\Before", u"v", u"old"));
    const std::string before = StoreBytes();
    std::string file = "Windows Registry Editor Version 5.00\r\n\r\n";
    file.reserve(kMaxKeyCount * 40);
    for (size_t i = 0; i <= kMaxKeyCount; ++i)
        file += "[HKEY_USERS\\k" + std::to_string(i) + "]\r\n";
    std::string error;
    EXPECT_FALSE(m_registry.ImportText(file, &error));
    // Each key line from line 3 on makes one key: the last line is the one past the bound.
    EXPECT_EQ(error, "line " + std::to_string(kMaxKeyCount + 3) + ": the registry would hold more than " +
                         std::to_string(kMaxKeyCount) + " keys");
    EXPECT_EQ(StoreBytes(), before) << "nothing of a refused file is imported";

    RegistryTree tree;
    for (size_t i = 0; i < kMaxKeyCount; ++i)
        ASSERT_NE(tree.Create(u"HKEY_USERS\\k" + *Utf8ToUtf16(std::to_string(i))), nullptr);
    EXPECT_EQ(tree.Create(u"HKEY_USERS\\one more"), nullptr);
    EXPECT_NE(tree.Create(u"HKEY_USERS\\K17"), nullptr) << "an existing key is no new key";
    ASSERT_TRUE(tree.Delete(u"HKEY_USERS\\k17"));
    EXPECT_NE(tree.Create(u"HKEY_USERS\\one more"), nullptr);

    RegistryKey* key = tree.Find(u"HKEY_USERS\\k0");
    for (size_t i = 0; i < kMaxValueCount; ++i)
        ASSERT_TRUE(key->SetValue(Utf8ToUtf16(std::to_string(i)).value(), kRegNone, {}));
    EXPECT_FALSE(key->SetValue(u"one more", kRegNone, {}));
    EXPECT_TRUE(key->SetValue(u"17", kRegDword, {1, 0, 0, 0})) << "an existing value is no new value";
    ASSERT_TRUE(key->DeleteValue(u"17"));
    EXPECT_TRUE(key->SetValue(u"one more", kRegNone, {}));
}
