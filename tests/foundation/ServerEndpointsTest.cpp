#include "foundation/ServerEndpoints.h"
#include "foundation/HttpClient.h"
#include "server/StandInServer.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

using testsupport::WriteFile;

TEST(ServerEndpointsTest, DefaultsPointAtTheLocalStandInServer)
{
    ServerEndpoints defaults = DefaultServerEndpoints();
    EXPECT_EQ(defaults.ApiBase, "http://127.0.0.1:28080/clientapi/");
    EXPECT_EQ(defaults.DownloadBase, "http://127.0.0.1:28080");
    EXPECT_EQ(defaults.ImageBase, "http://127.0.0.1:28080/image/");

    testsupport::TempDir dir;
    ServerEndpoints loaded = LoadServerEndpoints(dir.Path() + "servers.cfg");
    EXPECT_EQ(loaded.StatBase, defaults.StatBase);
    EXPECT_EQ(loaded.SiteBase, defaults.SiteBase);
}

TEST(ServerEndpointsTest, ServersCfgOverridesEachValueThatItGives)
{
    testsupport::TempDir dir;
    ASSERT_TRUE(WriteFile(dir.Path() + "servers.cfg", "[servers]\r\napibase = http://h:1/clientapi/\r\n"
                                                      "DownloadBase=http://d:2\r\nImageBase=\r\n"
                                                      "[Other]\r\nShareBase=http://wrong\r\n"));
    ServerEndpoints loaded = LoadServerEndpoints(dir.Path() + "servers.cfg");
    EXPECT_EQ(loaded.ApiBase, "http://h:1/clientapi/");
    EXPECT_EQ(loaded.DownloadBase, "http://d:2");
    EXPECT_EQ(loaded.ImageBase, DefaultServerEndpoints().ImageBase) << "an empty value keeps the default";
    EXPECT_EQ(loaded.ShareBase, DefaultServerEndpoints().ShareBase);
}

TEST(ServerEndpointsTest, AddressesAreBuiltFromTheEndpointsInForce)
{
    ServerEndpoints saved = GetServerEndpoints();
    ServerEndpoints endpoints = DefaultServerEndpoints();
    endpoints.DownloadBase = "http://d:2";
    endpoints.ImageBase = "http://i:3/img/";
    endpoints.ShareBase = "http://s:4";
    endpoints.PcsBase = "http://p:5";
    endpoints.SiteBase = "http://w:6/";
    SetServerEndpoints(endpoints);
    EXPECT_EQ(EmulatorListUrl(), "http://d:2/download/pc/update/emulators.php");
    EXPECT_EQ(UpdateInfoUrl(), "http://d:2/download/pc/update/index.php");
    EXPECT_EQ(DownloadFileUrl("Update.zip"), "http://d:2/download/Update.zip");
    EXPECT_EQ(ImageUrl("icon/125/1.png"), "http://i:3/img/icon/125/1.png");
    EXPECT_EQ(ShareDownloadUrl(), "http://s:4/share/download");
    EXPECT_EQ(PcsPlantCookieUrl(), "http://p:5/rest/2.0/pcs/file?method=plantcookie&type=ett");
    EXPECT_EQ(SiteUrl("game/7/"), "http://w:6/game/7/");
    SetServerEndpoints(saved);
}

TEST(ServerEndpointsTest, AServersCfgWrittenByTheStandInServerPointsEveryAddressAtIt)
{
    testsupport::TempDir dir;
    StandInServerOptions options;
    options.dataDir = dir.Path();
    CStandInServer server(options);
    std::string error;
    ASSERT_TRUE(server.Start(error)) << error;
    ASSERT_TRUE(server.WriteServersCfg(dir.Path() + "servers.cfg"));

    ServerEndpoints saved = GetServerEndpoints();
    SetServerEndpoints(LoadServerEndpoints(dir.Path() + "servers.cfg"));
    std::string answer;
    bool registered = NetPost(answer, ApiUrl(), "", "model=user&action=register&password=10000001", 10);
    double statLength = NetGetContentLength(StatUrl() + "&r=x&rnd=12345678");
    bool site = NetCheckUrl(SiteUrl("newuser/"));
    std::string missingUpdate;
    bool update = NetPost(missingUpdate, UpdateInfoUrl(), "", "", 5);
    SetServerEndpoints(saved);

    EXPECT_TRUE(registered);
    EXPECT_NE(answer.find("\"ticket\""), std::string::npos);
    EXPECT_GT(statLength, 0);
    EXPECT_TRUE(site);
    EXPECT_FALSE(update) << "this data folder has no update manifest, so the server answers 404";
}
