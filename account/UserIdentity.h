#pragma once

#include "foundation/HttpClient.h"

#include <string>
#include <string_view>

// The installation's anonymous identity with the user API: a user id and a ticket, registered once
// and kept in section User of the settings file (CAppSettings::LoadUser/SaveUser), then sent with
// every request for a download descriptor.
//
// Both functions block on the network for up to the request's 10 s time-out (or until *cancel is
// set), so they run on a download worker, never on a window's thread. They show nothing and report
// by their result. Calls from several threads are serialised, so one registration serves them all.

// The ticket as it is stored and sent: ASCII letters, digits and "-_.~" stay, a space becomes "+",
// every other byte "%XX" with upper-case hexadecimal digits ("qk 100001/ab" gives "qk+100001%2Fab").
std::string UrlEncodeTicket(std::string_view ticket);

// Registers a new identity and saves it to the settings file at `configPath`. True only when the
// transfer succeeded and the answer is a JSON object of at most kMaxUserAnswerBytes whose uid (ASCII
// letters, digits and "-_.~") and ticket are both present and fit the settings file; otherwise false
// with nothing saved, so an identity already stored stays as it was.
bool RegisterUser(const std::string& configPath, const TransferCancel* cancel = nullptr);

// True when an identity is available after the call: the stored pair when both values are present,
// else the result of RegisterUser.
bool EnsureUser(const std::string& configPath, const TransferCancel* cancel = nullptr);
// The same on the program's settings file (ConfigFilePath()).
bool EnsureUser(const TransferCancel* cancel = nullptr);

// The largest registration answer taken; anything longer fails the registration.
constexpr size_t kMaxUserAnswerBytes = 1024 * 1024;
