#pragma once

// The network library's process-wide set-up: NetGlobalInit once at start-up before any worker
// exists (false means the program cannot run), NetGlobalCleanup once after the last worker ended.
bool NetGlobalInit();
void NetGlobalCleanup();
