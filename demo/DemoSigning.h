#pragma once

#include <string>

// Signs the demo data folder `dataDir` with the demo publisher's key (demo/keys/publisher.key, built
// into quokka-demo): download/index.json and download/index.sig, as quokka-sign would write them.
// The serial is the current time in seconds, so each new run's index supersedes the last one a
// program has taken; the index expires after kDemoIndexDays. Throws std::runtime_error when a
// file cannot be read or written.
void SignDemoData(const std::string& dataDir);

constexpr int kDemoIndexDays = 365;
