#pragma once

#include "download/SharePageScrape.h"
#include "foundation/HttpClient.h"
#include "platform/WindowMessages.h"

#include <map>
#include <string>

// Turns one share link into a direct download link the way the share service's mobile page does:
// the page, its values scraped, the service's download request, a picture code typed by the user
// when the service asks for one, the storage service's cookie, and the direct link's redirects
// followed to the final file.
//
// One resolver per resolution, made and used on the calling worker thread; Resolve blocks that
// thread for the transfers (each ends on the owner's cancel flag, or after its time-out) and for the
// code dialog, which the installed security code prompt shows on the UI thread, owned by `owner`.
// Every answer is bounded (page 2 MiB, answers 1 MiB, picture 1 MiB, 64 cookies, 10 code
// pictures); beyond, the resolution fails. Each download request is built afresh from escaped
// values, with the one code typed for the newest picture; after a wrong code the dialog says
// "验证码错误" above the new picture.
class CShareLinkResolver {
public:
    // `pictureFolder` is where the code picture is kept while the dialog shows it (the image cache
    // folder, ending with '/'); `gameId` names the picture file, and must be one plain name segment.
    CShareLinkResolver(platform::HWND owner, std::string pictureFolder, std::string gameId,
                       const TransferCancel* cancel = nullptr);

    // Resolves `shareLink`. True with the final file URL in `directLink`; false when any step fails,
    // the service refuses or answers anything but success, refusal or a code demand, the user closes
    // the code dialog, or the owner cancels. The picture file never outlives the call.
    bool Resolve(const std::string& shareLink, std::string& directLink);

    // The cookies gathered so far, by name.
    const std::map<std::string, std::string>& Cookies() const { return m_cookies; }

    // The bounds on what the resolver accepts.
    static constexpr size_t kMaxPageBytes = 2u * 1024u * 1024u;
    static constexpr size_t kMaxAnswerBytes = 1024u * 1024u;
    static constexpr size_t kMaxPictureBytes = 1024u * 1024u;
    static constexpr size_t kMaxCookies = 64;
    // The most code pictures one resolution asks about: a service that keeps asking fails it.
    static constexpr int kMaxCodeRounds = 10;

    // "0." and 16 digits, each 0 to 8, from a generator seeded with the current time.
    static std::string RandomSuffix();

private:
    enum class Fetch { Get, Head };
    // One request with the share profile; the answer's body (up to `limit` bytes) goes to `body`,
    // the status to `status` and a redirect's target to `location`. False on a transfer failure, an
    // oversize answer or a cookie table that would grow past its bound.
    bool Request(Fetch fetch, const std::string& url, const std::string& referer, size_t limit,
                 std::string* body, long& status, std::string* location);
    std::string CookieHeader() const;
    bool Probe(std::string url, const std::string& referer, std::string& finalUrl);
    // Writes the picture at `url` to the file at the native path `nativePath`.
    bool FetchPicture(const std::string& url, const std::string& nativePath);
    // Shows the code dialog for the picture at `path` with `notice` (empty for the usual request);
    // true with `code` when the user entered one.
    bool AskCode(const std::string& path, const std::string& notice, std::string& code);
    // The service's download request for the page's values, with the code typed for the picture
    // `vcode` when there is one; every value escaped. False when one cannot be escaped.
    static bool DownloadRequestUrl(const SharePageValues& values, const std::string& input,
                                   const std::string& vcode, std::string& url);

    platform::HWND m_owner;
    std::string m_pictureFolder;
    std::string m_gameId;
    const TransferCancel* m_cancel;
    std::map<std::string, std::string> m_cookies;
};
