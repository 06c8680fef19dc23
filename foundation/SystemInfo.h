#pragma once

#include <string>

// 64 on a 64-bit machine (x86_64, aarch64, ...), otherwise 32.
int GetOsBits();

// The kernel release's "major.minor", at most nine characters ("6.1" for 6.1.0-18-amd64).
std::string GetOsVersionText();
