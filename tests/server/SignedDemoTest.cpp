#include "foundation/PublisherKeys.h"
#include "foundation/SignedIndexVerifier.h"
#include "tests/server/ServerProcess.h"

#include <gtest/gtest.h>

#include <fstream>

namespace {

// The signed index of the demo data that the build generated, fetched from the real server as the
// program fetches it and checked against the key built into the program.
TEST(SignedDemoTest, TheServedDemoIndexVerifiesWithTheBuiltInKeyAndVouchesForWhatIsServed)
{
    ServerProcess server(QUOKKA_TEST_DEMO_DIR);
    ASSERT_GT(server.Port(), 0) << server.FirstLine();
    auto client = server.Client();
    auto index = client->Get("/download/index.json");
    auto signature = client->Get("/download/index.sig");
    ASSERT_TRUE(index && signature);
    ASSERT_EQ(index->status, 200);
    ASSERT_EQ(signature->status, 200);

    testsupport::TempDir dir;
    CSignedIndexVerifier verifier(CPublisherKeys::BuiltIn(), dir.Path() + "index-serial");
    IndexVerdict verdict = verifier.Verify(index->body, signature->body, CSignedIndex::Clock::now());
    ASSERT_EQ(verdict.refusal, IndexRefusal::None) << verdict.detail;
    const CSignedIndex& signedIndex = *verdict.index;

    // Every listed file is in the data folder as signed; the downloads the program runs or unpacks
    // are listed, with the versions their lists give.
    std::ifstream redirectsFile(std::string(QUOKKA_TEST_DEMO_DIR) + "/redirects.json");
    Json::Value redirects;
    redirectsFile >> redirects;
    size_t mirrors = 0;
    for (const SignedFile& file : signedIndex.Files()) {
        std::string stored = file.path;
        if (file.path == "download/pc/update/emulators.php") {
            stored = "update/emulators.json";
        } else if (redirects.isMember("/" + file.path)) {
            stored = redirects["/" + file.path].asString().substr(1);
            ++mirrors;
        }
        EXPECT_EQ(signedIndex.CheckFile(file.path, std::string(QUOKKA_TEST_DEMO_DIR) + "/" + stored),
                  FileCheck::Matches)
            << file.path;
    }
    EXPECT_GT(mirrors, 0u) << "the mirrors' addresses are listed as the files they lead to";
    ASSERT_TRUE(signedIndex.Find("download/Update.zip"));
    EXPECT_EQ(signedIndex.Find("download/Update.zip")->version, "0.0.14");
    ASSERT_TRUE(signedIndex.Find("download/emulators/fceux.zip"));
    EXPECT_FALSE(signedIndex.Find("download/emulators/fceux.zip")->version.empty());
    for (const char* path :
         {"/download/Update.zip", "/download/emulators/fceux.zip", "/download/games/20001.zip"}) {
        auto body = client->Get(path);
        ASSERT_TRUE(body) << path;
        EXPECT_EQ(signedIndex.CheckBytes(std::string(path).substr(1), body->body), FileCheck::Matches)
            << path;
    }

    // The server writes its own address into the emulator list; with it written back the list is
    // the one signed.
    auto list = client->Post("/download/pc/update/emulators.php", "", "application/x-www-form-urlencoded");
    ASSERT_TRUE(list);
    std::string text = list->body;
    const std::string origin = server.Origin();
    for (size_t at = text.find(origin); at != std::string::npos; at = text.find(origin, at))
        text.replace(at, origin.size(), "{{origin}}");
    EXPECT_EQ(signedIndex.CheckBytes("download/pc/update/emulators.php", text), FileCheck::Matches);
}

} // namespace
