#include "account/UserIdentity.h"

#include "account/UserInfo.h"
#include "foundation/AppPaths.h"
#include "foundation/AppSettings.h"
#include "foundation/ServerEndpoints.h"
#include "platform/Trace.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <random>

namespace {

// One registration at a time in the process: a second download that starts meanwhile finds the
// pair the first one saved instead of registering again.
std::mutex& IdentityMutex()
{
    static std::mutex mutex;
    return mutex;
}

bool IsUnreserved(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '~';
}

// The password number of a registration: a value of the C runtime's generator range (0 to 32767),
// drawn from a generator seeded with the time, modulo 99999999 plus 10000000.
int PasswordNumber()
{
    std::minstd_rand generator(static_cast<std::minstd_rand::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    int value = static_cast<int>(generator() % 32768u);
    return value % 99999999 + 10000000;
}

} // namespace

std::string UrlEncodeTicket(std::string_view ticket)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(ticket.size() * 3);
    for (unsigned char c : ticket) {
        if (IsUnreserved(c)) {
            encoded += static_cast<char>(c);
        } else if (c == ' ') {
            encoded += '+';
        } else {
            encoded += '%';
            encoded += kHex[c >> 4];
            encoded += kHex[c & 0x0F];
        }
    }
    return encoded;
}

bool RegisterUser(const std::string& configPath, const TransferCancel* cancel)
{
    const std::string form = "model=user&action=register&password=" + std::to_string(PasswordNumber());
    std::string answer;
    const bool transferred = NetPost(answer, ApiUrl(), "", form, 10, cancel);
    platform::Trace("register: " + answer.substr(0, 512));
    if (!transferred || answer.empty() || answer.size() > kMaxUserAnswerBytes)
        return false;

    CUserInfo info;
    if (!info.ParseText(answer))
        return false;
    // The uid goes into later request bodies as it is, so it may hold nothing that a form reads as
    // a separator; the ticket is encoded before it is used.
    const bool uidUsable =
        !info.uid.empty() && info.uid.size() <= CAppSettings::kMaxUserValueBytes &&
        std::all_of(info.uid.begin(), info.uid.end(), [](unsigned char c) { return IsUnreserved(c); });
    if (!uidUsable || info.ticket.empty())
        return false;
    UserIdentity user{info.uid, UrlEncodeTicket(info.ticket)};
    if (user.Ticket.size() > CAppSettings::kMaxUserValueBytes)
        return false;
    return CAppSettings(configPath).SaveUser(user);
}

bool EnsureUser(const std::string& configPath, const TransferCancel* cancel)
{
    std::lock_guard lock(IdentityMutex());
    UserIdentity user;
    CAppSettings(configPath).LoadUser(user);
    if (!user.Uid.empty() && !user.Ticket.empty())
        return true;
    return RegisterUser(configPath, cancel);
}

bool EnsureUser(const TransferCancel* cancel)
{
    return EnsureUser(ConfigFilePath(), cancel);
}
