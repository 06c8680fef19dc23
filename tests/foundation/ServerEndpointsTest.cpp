#include "foundation/ServerEndpoints.h"
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
