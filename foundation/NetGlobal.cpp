#include "foundation/NetGlobal.h"

#include <curl/curl.h>

bool NetGlobalInit() { return curl_global_init(CURL_GLOBAL_ALL) == CURLE_OK; }

void NetGlobalCleanup() { curl_global_cleanup(); }
