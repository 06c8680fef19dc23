#pragma once

#include <string>

// Completes the download descriptors that the catalogue pass wrote into `dataDir`/descriptors/ with
// the share-link kinds, and writes the share service's table, shares.json. Every game keeps its own
// delivery (single archive with a mirror, list only, no zip, volumes); on top of that, by game:
// share links with the own server as fallback, share volume sets, a share with a captcha asked once
// or until it is typed right, an expired link before a good one, share-only games, and the last
// game with no source at all. Most descriptors carry `filemd5` (of the archive, or of the volumes
// joined). Share keys are "share-<game id>-<n>" ("-v<volume>" for volume links), and shares.json
// maps each to {"file": path under the data folder, "captcha": "none" | "once" | "untilright",
// "state": "ok" | "expired" | "removed", "hops": redirects of its download link}.
// Throws std::runtime_error when a file cannot be read or written.
void WriteDemoDescriptorKinds(const std::string& dataDir);
