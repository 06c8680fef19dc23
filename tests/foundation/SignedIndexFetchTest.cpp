#include "foundation/SignedIndexFetch.h"
#include "foundation/NetGlobal.h"
#include "foundation/SignedIndexWriter.h"
#include "server/StandInServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using testsupport::WriteFile;

namespace {

// A signed data folder served by the in-process stand-in server; the verifier trusts its publisher.
class SignedIndexFetchTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_TRUE(NetGlobalInit()); }

    void SetUp() override
    {
        const std::string data = m_dir.Path() + "data/";
        fs::create_directories(data + "download");
        ASSERT_TRUE(WriteFile(data + "download/Update.zip", "PK update package"));
        CSignedIndexWriter::Write(
            data, m_publisher,
            CSignedIndexWriter::Document(CSignedIndexWriter::CollectFiles(data), 9,
                                         CSignedIndex::Clock::now() + std::chrono::hours(1), {}));
        StandInServerOptions options;
        options.dataDir = data;
        m_server = std::make_unique<CStandInServer>(options);
        std::string error;
        ASSERT_TRUE(m_server->Start(error)) << error;
        m_keys.Add(m_publisher.PublicKey());
    }

    IndexVerdict Fetch(const TransferCancel* cancel = nullptr)
    {
        CSignedIndexVerifier verifier(m_keys, m_dir.Path() + "index-serial");
        return FetchSignedIndex(m_server->Origin() + "/", verifier, CSignedIndex::Clock::now(), cancel);
    }

    void Faults(const std::string& json)
    {
        std::string error;
        ASSERT_TRUE(m_server->SetFaults(json, error)) << error;
    }

    testsupport::TempDir m_dir;
    CPublisherSigner m_publisher = CPublisherSigner::Generate();
    CPublisherKeys m_keys;
    std::unique_ptr<CStandInServer> m_server;
};

TEST_F(SignedIndexFetchTest, TheServedIndexIsFetchedAndVerified)
{
    IndexVerdict verdict = Fetch();
    ASSERT_EQ(verdict.refusal, IndexRefusal::None) << verdict.detail;
    EXPECT_EQ(verdict.index->Serial(), 9u);
    EXPECT_EQ(verdict.index->CheckBytes("download/Update.zip", "PK update package"), FileCheck::Matches);
}

TEST_F(SignedIndexFetchTest, AnIndexThatCannotBeFetchedWholeIsRefused)
{
    Faults(R"({"path": "/download/index.sig", "status": 404})");
    EXPECT_EQ(Fetch().refusal, IndexRefusal::Unavailable);
    Faults(R"({"path": "/download/index.json", "cutAfter": 20})");
    EXPECT_EQ(Fetch().refusal, IndexRefusal::Unavailable);
    Faults(R"({"path": "/download/index.json", "redirectTo": "/download/Update.zip"})");
    EXPECT_EQ(Fetch().refusal, IndexRefusal::Unavailable);

    // An answer without end stops at the index's bound.
    Faults(R"({"path": "/download/index.json", "endlessBody": true})");
    IndexVerdict endless = Fetch();
    EXPECT_EQ(endless.refusal, IndexRefusal::Malformed) << endless.detail;
    Faults(R"({"path": "/download/index.sig", "extraBytes": 1024})");
    EXPECT_EQ(Fetch().refusal, IndexRefusal::Malformed);

    Faults("[]");
    TransferCancel cancelled{true};
    EXPECT_EQ(Fetch(&cancelled).refusal, IndexRefusal::Unavailable);
    EXPECT_FALSE(fs::exists(m_dir.Path() + "index-serial")) << "no refused index moves the serial";
    EXPECT_EQ(Fetch().refusal, IndexRefusal::None);
}

} // namespace
