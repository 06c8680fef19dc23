#pragma once

#include "foundation/HttpClient.h"
#include "foundation/SignedIndexVerifier.h"

#include <string>

// Fetches the publisher's signed index (download/index.json and download/index.sig below
// `downloadBase`, the servers.cfg DownloadBase) and checks it with `verifier` at time `now`. Blocks
// on the network (connect 5 s, each file 30 s in all), so it belongs on a worker thread; ends early
// once *cancel is true. An index that cannot be fetched whole (no answer, a status other than 200,
// a cancel) is refused as Unavailable; one whose answer runs past CSignedIndex::kMaxIndexSize is
// cut there and refused as Malformed, without reading the rest.
IndexVerdict FetchSignedIndex(const std::string& downloadBase, CSignedIndexVerifier& verifier,
                              CSignedIndex::Clock::time_point now, const TransferCancel* cancel = nullptr);
