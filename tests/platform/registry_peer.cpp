// A second process for the registry tests. Waits until its standard input closes, then:
//   registry_peer FOLDER keys PREFIX COUNT   imports COUNT .reg texts of one key each, then prints "done"
//   registry_peer FOLDER churn BYTES         rewrites one binary value of BYTES bytes for ever, all bytes
//                                            k % 250 + 1 on round k, printing k after each write
#include "platform/Registry.h"

#include <cstdio>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 5 && argc != 4)
        return 2;
    platform::Registry registry(argv[1]);
    const std::string mode = argv[2];
    for (std::string line; std::getline(std::cin, line);) {
    }
    if (mode == "keys" && argc == 5) {
        const std::string prefix = argv[3];
        const int count = std::stoi(argv[4]);
        for (int i = 0; i < count; ++i) {
            std::string text =
                "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Peer\\" + prefix +
                std::to_string(i) + "]\r\n\"Index\"=dword:" + std::to_string(i) + "\r\n";
            std::string error;
            if (!registry.ImportText(text, &error)) {
                std::printf("failed: %s\n", error.c_str());
                return 1;
            }
        }
        std::printf("done\n");
        return 0;
    }
    if (mode == "churn") {
        const size_t size = std::stoul(argv[3]);
        for (unsigned round = 1;; ++round) {
            std::vector<uint8_t> data(size, static_cast<uint8_t>(round % 250 + 1));
            if (!registry.SetValue(u"HKEY_CURRENT_USER\\Software\\Churn", u"Blob", platform::kRegBinary,
                                   std::move(data)))
                return 1;
            std::printf("%u\n", round);
            std::fflush(stdout);
        }
    }
    return 2;
}
