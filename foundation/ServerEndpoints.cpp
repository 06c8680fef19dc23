#include "foundation/ServerEndpoints.h"

#include "foundation/AppPaths.h"
#include "foundation/IniFile.h"

#include <mutex>
#include <optional>

namespace {

std::mutex g_lock;
std::optional<ServerEndpoints> g_endpoints;

void Override(const std::string& cfgPath, const char* key, std::string& value)
{
    std::string read = IniFile::GetString(cfgPath, "Servers", key, "");
    if (!read.empty())
        value = read;
}

} // namespace

ServerEndpoints DefaultServerEndpoints()
{
    const std::string origin = "http://127.0.0.1:" + std::to_string(kDefaultServerPort);
    ServerEndpoints endpoints;
    endpoints.ApiBase = origin + "/clientapi/";
    endpoints.DownloadBase = origin;
    endpoints.ImageBase = origin + "/image/";
    endpoints.ShareBase = origin;
    endpoints.PcsBase = origin;
    endpoints.StatBase = origin + "/stat/hm.gif?si=quokka";
    endpoints.SiteBase = origin + "/site/";
    return endpoints;
}

ServerEndpoints LoadServerEndpoints(const std::string& cfgPath)
{
    ServerEndpoints endpoints = DefaultServerEndpoints();
    Override(cfgPath, "ApiBase", endpoints.ApiBase);
    Override(cfgPath, "DownloadBase", endpoints.DownloadBase);
    Override(cfgPath, "ImageBase", endpoints.ImageBase);
    Override(cfgPath, "ShareBase", endpoints.ShareBase);
    Override(cfgPath, "PcsBase", endpoints.PcsBase);
    Override(cfgPath, "StatBase", endpoints.StatBase);
    Override(cfgPath, "SiteBase", endpoints.SiteBase);
    Override(cfgPath, "CaFile", endpoints.CaFile);
    if (!endpoints.CaFile.empty() && endpoints.CaFile.front() != '/') {
        size_t slash = cfgPath.rfind('/');
        if (slash != std::string::npos)
            endpoints.CaFile = cfgPath.substr(0, slash + 1) + endpoints.CaFile;
    }
    return endpoints;
}

ServerEndpoints GetServerEndpoints()
{
    std::lock_guard guard(g_lock);
    if (!g_endpoints)
        g_endpoints = LoadServerEndpoints(ServersFilePath());
    return *g_endpoints;
}

void SetServerEndpoints(const ServerEndpoints& endpoints)
{
    std::lock_guard guard(g_lock);
    g_endpoints = endpoints;
}

std::string ApiUrl()
{
    return GetServerEndpoints().ApiBase;
}

std::string EmulatorListUrl()
{
    return GetServerEndpoints().DownloadBase + "/download/pc/update/emulators.php";
}

std::string UpdateInfoUrl()
{
    return GetServerEndpoints().DownloadBase + "/download/pc/update/index.php";
}

std::string DownloadFileUrl(const std::string& name)
{
    return GetServerEndpoints().DownloadBase + "/download/" + name;
}

std::string ImageUrl(const std::string& imagePath)
{
    return GetServerEndpoints().ImageBase + imagePath;
}

std::string ShareDownloadUrl()
{
    return GetServerEndpoints().ShareBase + "/share/download";
}

std::string PcsPlantCookieUrl()
{
    return GetServerEndpoints().PcsBase + "/rest/2.0/pcs/file?method=plantcookie&type=ett";
}

std::string StatUrl()
{
    return GetServerEndpoints().StatBase;
}

std::string SiteUrl(const std::string& page)
{
    return GetServerEndpoints().SiteBase + page;
}
