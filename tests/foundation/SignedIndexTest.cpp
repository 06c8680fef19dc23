#include "foundation/PublisherKeys.h"
#include "foundation/SignedIndexVerifier.h"
#include "foundation/SignedIndexWriter.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testsupport::ReadFile;
using testsupport::WriteFile;
using Clock = CSignedIndex::Clock;

namespace {

// A data folder as a server serves it (an update package with its manifest, a game archive, the
// emulator list naming a package), a publisher, and a verifier that trusts only that publisher.
class SignedIndexTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        fs::create_directories(Data() + "download/games");
        fs::create_directories(Data() + "download/emulators");
        fs::create_directories(Data() + "update");
        ASSERT_TRUE(WriteFile(Data() + "download/Update.zip", "PK update package"));
        ASSERT_TRUE(WriteFile(Data() + "download/games/20001.zip", std::string(70000, 'g')));
        ASSERT_TRUE(WriteFile(Data() + "download/emulators/fceux.zip", "PK emulator"));
        ASSERT_TRUE(WriteFile(Data() + "update/index.json",
                              R"({"version": "0.0.15", "downloadurl": "{{origin}}/download/Update.zip"})"));
        ASSERT_TRUE(WriteFile(Data() + "redirects.json",
                              R"({"/download/mirror/20001.zip": "/download/games/20001.zip",
                                                           "/download/gone.zip": "/download/missing.zip"})"));
        ASSERT_TRUE(WriteFile(
            Data() + "update/emulators.json",
            R"({"fc": [{"version": "2.6", "downloadurl": "{{origin}}/download/emulators/fceux.zip"}]})"));
    }

    std::string Data() const { return m_dir.Path() + "data/"; }
    std::string SerialFile() const { return m_dir.Path() + "index-serial"; }

    // Signs the data folder's files with `signer` and returns the index text and signature text.
    std::pair<std::string, std::string> Sign(const CPublisherSigner& signer, uint64_t serial,
                                             Clock::time_point expires = Clock::now() +
                                                                         std::chrono::hours(24),
                                             const std::vector<KeyEndorsement>& endorsements = {})
    {
        CSignedIndexWriter::Write(Data(), signer,
                                  CSignedIndexWriter::Document(CSignedIndexWriter::CollectFiles(Data()),
                                                               serial, expires, endorsements));
        return {ReadFile(Data() + CSignedIndexWriter::kIndexFile),
                ReadFile(Data() + CSignedIndexWriter::kSignatureFile)};
    }

    IndexVerdict Verify(const std::pair<std::string, std::string>& signedIndex, const CPublisherKeys& keys)
    {
        CSignedIndexVerifier verifier(keys, SerialFile());
        return verifier.Verify(signedIndex.first, signedIndex.second, Clock::now());
    }

    CPublisherKeys Trusting(const CPublisherSigner& signer)
    {
        CPublisherKeys keys;
        keys.Add(signer.PublicKey());
        return keys;
    }

    testsupport::TempDir m_dir;
    CPublisherSigner m_publisher = CPublisherSigner::Generate();
};

TEST_F(SignedIndexTest, ASignedIndexIsTakenAndVouchesForTheFilesAsServed)
{
    IndexVerdict verdict = Verify(Sign(m_publisher, 7), Trusting(m_publisher));
    ASSERT_EQ(verdict.refusal, IndexRefusal::None) << verdict.detail;
    ASSERT_TRUE(verdict.index);
    EXPECT_EQ(verdict.index->Serial(), 7u);
    EXPECT_TRUE(verdict.serialSaved);
    EXPECT_EQ(ReadFile(SerialFile()), "7\n");

    const CSignedIndex& index = *verdict.index;
    EXPECT_EQ(index.Files().size(), 5u) << "three packages, a mirror and the emulator list, not the index";
    EXPECT_EQ(index.CheckFile("download/mirror/20001.zip", Data() + "download/games/20001.zip"),
              FileCheck::Matches);
    EXPECT_EQ(index.Find("download/gone.zip"), nullptr);
    EXPECT_EQ(index.CheckFile("download/Update.zip", Data() + "download/Update.zip"), FileCheck::Matches);
    EXPECT_EQ(index.CheckFile("download/games/20001.zip", Data() + "download/games/20001.zip"),
              FileCheck::Matches);
    EXPECT_EQ(
        index.CheckBytes("download/pc/update/emulators.php", ReadFile(Data() + "update/emulators.json")),
        FileCheck::Matches);
    EXPECT_EQ(index.Find("download/Update.zip")->version, "0.0.15");
    EXPECT_EQ(index.Find("download/emulators/fceux.zip")->version, "2.6");
    EXPECT_EQ(index.Find("download/games/20001.zip")->version, "");
    EXPECT_EQ(index.Find("download/index.json"), nullptr);
}

TEST_F(SignedIndexTest, ChangedFilesAreToldApartFromListedOnes)
{
    IndexVerdict verdict = Verify(Sign(m_publisher, 1), Trusting(m_publisher));
    ASSERT_TRUE(verdict.index) << verdict.detail;
    const CSignedIndex& index = *verdict.index;

    std::string game = ReadFile(Data() + "download/games/20001.zip");
    game[65536] = 'x'; // past the first read of a streamed file
    ASSERT_TRUE(WriteFile(Data() + "download/games/20001.zip", game));
    EXPECT_EQ(index.CheckFile("download/games/20001.zip", Data() + "download/games/20001.zip"),
              FileCheck::HashDiffers);
    EXPECT_EQ(index.CheckBytes("download/games/20001.zip", game), FileCheck::HashDiffers);
    EXPECT_EQ(index.CheckBytes("download/Update.zip", "PK update package!"), FileCheck::SizeDiffers);
    ASSERT_TRUE(WriteFile(Data() + "download/Update.zip", "PK update packag"));
    EXPECT_EQ(index.CheckFile("download/Update.zip", Data() + "download/Update.zip"), FileCheck::SizeDiffers);
    EXPECT_EQ(index.CheckFile("download/Update.zip", Data() + "missing.zip"), FileCheck::Unreadable);
    EXPECT_EQ(index.CheckFile("download/Update.zip", Data() + "download"), FileCheck::Unreadable);
    EXPECT_EQ(index.CheckFile("download/other.zip", Data() + "download/Update.zip"), FileCheck::NotListed);
    EXPECT_EQ(index.CheckBytes("/download/Update.zip", "PK update package"), FileCheck::NotListed);
}

TEST_F(SignedIndexTest, EachTamperingIsRefusedWithItsReason)
{
    const CPublisherKeys keys = Trusting(m_publisher);
    const auto good = Sign(m_publisher, 5);

    auto changed = good;
    char& digit = changed.first[changed.first.find("\"sha256\" : \"") + 12];
    digit = digit == '0' ? '1' : '0';
    EXPECT_EQ(Verify(changed, keys).refusal, IndexRefusal::BadSignature);

    // Another key's signature: under its own id the key is unknown; under the trusted key's id the
    // signature does not match.
    CPublisherSigner stranger = CPublisherSigner::Generate();
    const std::string strangerSignature = stranger.Sign(good.first);
    EXPECT_EQ(Verify({good.first,
                      CSignedIndexVerifier::SignatureText(stranger.PublicKey().Id(), strangerSignature)},
                     keys)
                  .refusal,
              IndexRefusal::UnknownKey);
    EXPECT_EQ(Verify({good.first,
                      CSignedIndexVerifier::SignatureText(m_publisher.PublicKey().Id(), strangerSignature)},
                     keys)
                  .refusal,
              IndexRefusal::BadSignature);

    for (const std::string& signature : {good.second.substr(0, good.second.size() - 3), std::string(),
                                         "ed25519 " + good.second, std::string(1000, 'a')})
        EXPECT_EQ(Verify({good.first, signature}, keys).refusal, IndexRefusal::Malformed) << signature;

    EXPECT_EQ(Verify(Sign(m_publisher, 6, Clock::now() - std::chrono::seconds(1)), keys).refusal,
              IndexRefusal::Expired);
    EXPECT_FALSE(fs::exists(SerialFile())) << "no refused index moves the serial";

    // Serials only grow: the same index again is taken, an older one is a replay.
    ASSERT_EQ(Verify(good, keys).refusal, IndexRefusal::None);
    ASSERT_EQ(Verify(good, keys).refusal, IndexRefusal::None);
    const auto older = Sign(m_publisher, 4);
    IndexVerdict replayed = Verify(older, keys);
    EXPECT_EQ(replayed.refusal, IndexRefusal::Replayed) << replayed.detail;
    EXPECT_FALSE(replayed.index);
    EXPECT_EQ(ReadFile(SerialFile()), "5\n");
}

TEST_F(SignedIndexTest, ANewKeyIsTakenOnlyThroughAnEndorsementChainFromATrustedKey)
{
    const CPublisherKeys keys = Trusting(m_publisher);
    CPublisherSigner next = CPublisherSigner::Generate();
    CPublisherSigner third = CPublisherSigner::Generate();
    const KeyEndorsement nextByOld = CSignedIndexWriter::Endorse(m_publisher, next.PublicKey());
    const KeyEndorsement thirdByNext = CSignedIndexWriter::Endorse(next, third.PublicKey());
    const auto expires = Clock::now() + std::chrono::hours(1);

    IndexVerdict rotated = Verify(Sign(next, 1, expires, {nextByOld}), keys);
    EXPECT_EQ(rotated.refusal, IndexRefusal::None) << rotated.detail;
    IndexVerdict twice = Verify(Sign(third, 2, expires, {thirdByNext, nextByOld}), keys);
    EXPECT_EQ(twice.refusal, IndexRefusal::None) << twice.detail;

    EXPECT_EQ(Verify(Sign(next, 3, expires), keys).refusal, IndexRefusal::UnknownKey);
    EXPECT_EQ(Verify(Sign(third, 3, expires, {thirdByNext}), keys).refusal, IndexRefusal::UnknownKey);
    KeyEndorsement forged = nextByOld;
    forged.signature[0] ^= 1;
    EXPECT_EQ(Verify(Sign(next, 3, expires, {forged}), keys).refusal, IndexRefusal::UnknownKey);
    // A key endorsing itself proves nothing.
    EXPECT_EQ(
        Verify(Sign(next, 3, expires, {CSignedIndexWriter::Endorse(next, next.PublicKey())}), keys).refusal,
        IndexRefusal::UnknownKey);

    // Chains end after kMaxChain endorsements.
    std::vector<CPublisherSigner> chain;
    std::vector<KeyEndorsement> endorsements;
    for (size_t i = 0; i <= CSignedIndexVerifier::kMaxChain; ++i) {
        chain.push_back(CPublisherSigner::Generate());
        endorsements.push_back(
            CSignedIndexWriter::Endorse(i == 0 ? m_publisher : chain[i - 1], chain.back().PublicKey()));
    }
    EXPECT_EQ(
        Verify(Sign(chain[CSignedIndexVerifier::kMaxChain - 1], 4, expires, endorsements), keys).refusal,
        IndexRefusal::None);
    EXPECT_EQ(Verify(Sign(chain.back(), 5, expires, endorsements), keys).refusal, IndexRefusal::UnknownKey);
}

TEST_F(SignedIndexTest, TheSerialFileSurvivesDamageAndAFolderInItsPlace)
{
    const auto index = Sign(m_publisher, 3);
    for (const std::string damaged : {"", "garbage", "99999999999999999999999\n"}) {
        ASSERT_TRUE(WriteFile(SerialFile(), damaged));
        IndexVerdict verdict = Verify(index, Trusting(m_publisher));
        EXPECT_EQ(verdict.refusal, IndexRefusal::None) << "a serial file holding \"" << damaged << "\"";
        EXPECT_EQ(ReadFile(SerialFile()), "3\n");
    }
    fs::remove(SerialFile());
    fs::create_directories(SerialFile());
    IndexVerdict verdict = Verify(index, Trusting(m_publisher));
    EXPECT_EQ(verdict.refusal, IndexRefusal::None);
    EXPECT_FALSE(verdict.serialSaved);
    EXPECT_FALSE(fs::exists(SerialFile() + ".tmp"));
}

TEST(SignedIndexParseTest, DocumentsPastABoundOrMalformedAreRefused)
{
    const std::string sha(64, 'a');
    auto document = [&](const std::string& files, const std::string& head = R"("serial": 1)",
                        const std::string& expires = "2030-01-01T00:00:00Z") {
        return R"({"format": 1, )" + head + R"(, "expires": ")" + expires + R"(", "files": [)" + files + "]}";
    };
    auto file = [&](const std::string& path, const std::string& rest = "") {
        return R"({"path": ")" + path + R"(", "size": 1, "sha256": ")" + sha + "\"" + rest + "}";
    };
    std::string error;
    ASSERT_TRUE(CSignedIndex::Parse(document(file("download/a.zip") + "," + file("download/b.zip")), error))
        << error;

    const std::string endorsement = R"({"key": ")" + std::string(64, '1') + R"(", "endorsedBy": ")" +
                                    std::string(16, '2') + R"(", "signature": ")" + std::string(128, '3') +
                                    "\"}";
    std::string manyEndorsements = R"("serial": 1, "keys": [)";
    for (size_t i = 0; i <= CSignedIndex::kMaxEndorsements; ++i) {
        std::string key(64, '0');
        key[0] = static_cast<char>('a' + i);
        manyEndorsements += std::string(i ? "," : "") + R"({"key": ")" + key + endorsement.substr(74);
    }
    std::string manyFiles;
    for (size_t i = 0; i <= CSignedIndex::kMaxFiles; ++i)
        manyFiles += std::string(i ? "," : "") + file("f" + std::to_string(i));

    const std::vector<std::pair<const char*, std::string>> refused = {
        {"not JSON", "{\"format\": 1,"},
        {"another format", document(file("a")).replace(11, 1, "2")},
        {"trailing text", document(file("a")) + "x"},
        {"duplicate member", document(file("a"), R"("serial": 1, "serial": 2)")},
        {"serial 0", document(file("a"), R"("serial": 0)")},
        {"negative serial", document(file("a"), R"("serial": -3)")},
        {"fractional serial", document(file("a"), R"("serial": 1.5)")},
        {"no such day", document(file("a"), R"("serial": 1)", "2030-02-30T00:00:00Z")},
        {"local time", document(file("a"), R"("serial": 1)", "2030-01-01T00:00:00+08")},
        {"listed twice", document(file("a") + "," + file("a"))},
        {"absolute path", document(file("/etc/passwd"))},
        {"climbing path", document(file("download/../../x"))},
        {"backslash", document(file("download\\\\x"))},
        {"empty segment", document(file("download//x"))},
        {"control character", document(file("download/\\u0001"))},
        {"long path", document(file(std::string(CSignedIndex::kMaxPathLength + 1, 'p')))},
        {"short hash", document(R"({"path": "a", "size": 1, "sha256": "abc"})")},
        {"upper-case hash",
         document(R"({"path": "a", "size": 1, "sha256": ")" + std::string(64, 'A') + "\"}")},
        {"size as text", document(R"({"path": "a", "size": "1", "sha256": ")" + sha + "\"}")},
        {"long version", document(file("a", R"(, "version": ")" + std::string(65, '9') + "\""))},
        {"endorsed twice",
         document(file("a"), R"("serial": 1, "keys": [)" + endorsement + "," + endorsement + "]")},
        {"endorsement without signature",
         document(file("a"), R"("serial": 1, "keys": [{"key": ")" + std::string(64, '1') +
                                 R"(", "endorsedBy": ")" + std::string(16, '2') + "\"}]")},
        {"too many endorsements", document(file("a"), manyEndorsements + "]")},
        {"too many files", document(manyFiles)},
        {"deep nesting", document(file("a", R"(, "x": )" + std::string(100, '[') + std::string(100, ']')))},
        {"too large",
         document(file("a", R"(, "x": ")" + std::string(CSignedIndex::kMaxIndexSize, 'x') + "\""))},
    };
    for (const auto& [what, text] : refused) {
        error.clear();
        EXPECT_FALSE(CSignedIndex::Parse(text, error)) << what;
        EXPECT_FALSE(error.empty()) << what;
    }
}

TEST(PublisherVersionTest, VersionsCompareAsNumbersOfAnyLength)
{
    EXPECT_EQ(ComparePublisherVersions("1.2", "1.2.0"), 0);
    EXPECT_LT(ComparePublisherVersions("1.9.9", "2.0"), 0);
    EXPECT_GT(ComparePublisherVersions("1.10", "1.9"), 0);
    EXPECT_GT(ComparePublisherVersions("1.100000000000000000000000", "1.99999999999999999999999"), 0);
    EXPECT_EQ(ComparePublisherVersions("01.2", "1.02"), 0);
    EXPECT_TRUE(IsVersionRollback("0.0.13", "0.0.14"));
    EXPECT_FALSE(IsVersionRollback("0.0.14", "0.0.14"));
    EXPECT_FALSE(IsVersionRollback("0.0.15", "0.0.14"));
}

TEST(PublisherKeysTest, ATrustedKeysFileAddsItsKeysAndSkipsTheRest)
{
    CPublisherSigner hexKey = CPublisherSigner::Generate(), base64Key = CPublisherSigner::Generate();
    const std::string base64 = "L7Z6g2r3Qm9p0vY1qk5bq7C1hJ3nNfE4p6X1cXo9QmA=";
    const std::string text = "# self-hosted\n  " + hexKey.PublicKey().Hex() + "  # main\r\n\n" + base64 +
                             "\nnot a key\n" + hexKey.PublicKey().Hex().substr(2) + "\n" + base64.substr(1) +
                             "\n";
    CPublisherKeys keys;
    EXPECT_EQ(keys.AddFromText(text), 3u);
    ASSERT_EQ(keys.Keys().size(), 2u);
    EXPECT_TRUE(keys.Find(hexKey.PublicKey().Id()));
    EXPECT_EQ(keys.Keys()[1].Hex(),
              ToHex(*FromHex("2fb67a836af7426f69d2f635aa4e5babb0b5849de735f138a7a5f5717a3d4260")));

    testsupport::TempDir dir;
    EXPECT_FALSE(keys.AddFromFile(dir.Path() + "missing"));
    ASSERT_TRUE(WriteFile(dir.Path() + "trusted-keys", base64Key.PublicKey().Hex() + "\n" +
                                                           std::string(CPublisherKeys::kMaxFileSize, '#')));
    EXPECT_FALSE(keys.AddFromFile(dir.Path() + "trusted-keys"));
    EXPECT_FALSE(keys.Find(base64Key.PublicKey().Id())) << "nothing of a file past the size bound";
    ASSERT_TRUE(WriteFile(dir.Path() + "trusted-keys", base64Key.PublicKey().Hex() + "\n"));
    CPublisherKeys forProgram = CPublisherKeys::ForProgram(dir.Path());
    EXPECT_EQ(forProgram.Keys().size(), 2u);
    EXPECT_TRUE(forProgram.Find(base64Key.PublicKey().Id()));
    EXPECT_EQ(CPublisherKeys::ForProgram(dir.Path() + "none").Keys().size(), 1u) << "the built-in key alone";
}

TEST_F(SignedIndexTest, TheToolSignsAFolderWithARotatedKey)
{
    const std::string dir = m_dir.Path();
    auto run = [](std::vector<std::string> args) {
        args.insert(args.begin(), QUOKKA_SIGN_EXECUTABLE);
        testsupport::ChildProcess tool(args, {}, true);
        std::string output;
        while (std::optional<std::string> line = tool.ReadLine(60000))
            output += *line + "\n";
        std::optional<int> code = tool.Wait(60000);
        return std::make_pair(code.value_or(-1), output);
    };
    ASSERT_EQ(run({"keygen", dir + "old.key", dir + "old.pub"}).first, 0);
    ASSERT_EQ(run({"keygen", dir + "new.key", dir + "new.pub"}).first, 0);
    EXPECT_EQ(fs::status(dir + "old.key").permissions() & fs::perms::others_read, fs::perms::none);
    const std::string oldKey = ReadFile(dir + "old.key");
    EXPECT_NE(run({"keygen", dir + "old.key", dir + "other.pub"}).first, 0);
    EXPECT_EQ(ReadFile(dir + "old.key"), oldKey) << "a second keygen keeps the publisher's key";
    ASSERT_EQ(run({"endorse", dir + "old.key", dir + "new.pub", dir + "new.endorsement"}).first, 0);
    auto [code, output] = run({"index", Data(), "--key", dir + "new.key", "--serial", "12", "--expires-days",
                               "3", "--endorse", dir + "new.endorsement"});
    ASSERT_EQ(code, 0) << output;

    CPublisherKeys keys;
    ASSERT_EQ(keys.AddFromText(ReadFile(dir + "old.pub")), 0u);
    CSignedIndexVerifier verifier(keys, SerialFile());
    IndexVerdict verdict =
        verifier.Verify(ReadFile(Data() + CSignedIndexWriter::kIndexFile),
                        ReadFile(Data() + CSignedIndexWriter::kSignatureFile), Clock::now());
    ASSERT_EQ(verdict.refusal, IndexRefusal::None) << verdict.detail;
    EXPECT_EQ(verdict.index->Serial(), 12u);
    EXPECT_EQ(verdict.index->Files().size(), 5u);

    EXPECT_NE(run({"index", Data(), "--key", dir + "new.key", "--serial", "0", "--expires-days", "3"}).first,
              0);
    EXPECT_NE(run({"index", Data(), "--key", dir + "new.pub", "--serial", "1", "--expires-days", "3"}).first,
              0);
    EXPECT_EQ(ReadFile(Data() + CSignedIndexWriter::kSignatureFile).size(), 154u) << "the signed index stays";
}

} // namespace
