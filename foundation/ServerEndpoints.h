#pragma once

#include <string>

// Where the program finds its servers. Every address the program requests is built here.
//
// The defaults point at the stand-in server on this machine (quokka-server --port 28080). A file
// servers.cfg in the program folder overrides any of them, section [Servers]:
//   ApiBase       catalogue and user API, ends with "clientapi/"        http://127.0.0.1:28080/clientapi/
//   DownloadBase  download and update server (scheme, host and port)    http://127.0.0.1:28080
//   ImageBase     image server; an icon or screenshot path is appended  http://127.0.0.1:28080/image/
//   ShareBase     share service (scheme, host and port)                 http://127.0.0.1:28080
//   PcsBase       storage service of the share links                    http://127.0.0.1:28080
//   StatBase      statistics counter with the site identifier (a query)
//                 http://127.0.0.1:28080/stat/hm.gif?si=quokka
//   SiteBase      the program's web site root, ends with "/"    http://127.0.0.1:28080/site/
//   CaFile        a PEM file of certificates that https peers are verified against, for servers with
//                 a certificate of their own; a relative name is taken from the folder of
//                 servers.cfg. Empty (the default): the system's certificate store.
// Values are taken as they stand; an empty or missing value keeps the default.
struct ServerEndpoints {
    std::string ApiBase;
    std::string DownloadBase;
    std::string ImageBase;
    std::string ShareBase;
    std::string PcsBase;
    std::string StatBase;
    std::string SiteBase;
    std::string CaFile;
};

// The loopback port of the stand-in server that the defaults name.
constexpr int kDefaultServerPort = 28080;

ServerEndpoints DefaultServerEndpoints();

// The defaults overridden by the [Servers] section of the file at `cfgPath` (a native path); a
// missing file gives the defaults.
ServerEndpoints LoadServerEndpoints(const std::string& cfgPath);

// The endpoints in force: on first use they are loaded from ServersFilePath() (start-up sets the paths
// first). Safe from any thread; each call returns a copy.
ServerEndpoints GetServerEndpoints();
// Replaces the endpoints in force (tests; and a reload after servers.cfg changed).
void SetServerEndpoints(const ServerEndpoints& endpoints);

// The addresses the program requests, built from the endpoints in force.
std::string ApiUrl();                                 // form POSTs of the catalogue and user API
std::string EmulatorListUrl();                        // POST, the emulator list
std::string UpdateInfoUrl();                          // POST, the update manifest
std::string DownloadFileUrl(const std::string& name); // a runtime package or "Update.zip"
std::string ImageUrl(const std::string& imagePath);   // an "icon" or "screens" path of a game
std::string ShareDownloadUrl();                       // the share service's download endpoint
std::string PcsPlantCookieUrl();                      // the storage service's cookie planting
std::string StatUrl();                                // the statistics counter, with its site identifier
std::string SiteUrl(const std::string& page);         // a page of the site ("", "newuser/", "game/<id>/")
