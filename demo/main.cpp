// quokka-demo: writes the stand-in server's demo data folder.
//
//   quokka-demo DIR [--update-package PROGRAM UPDATER VERSION]
//
// With --update-package the self-update serves PROGRAM as the new quokka and UPDATER as its
// updater, and the manifest names VERSION with the package's size and SHA-256.
// Then `quokka-server --port 28080 --data DIR` serves it.

#include "demo/DemoContent.h"

#include <exception>
#include <iostream>
#include <string>

int main(int argc, char** argv)
{
    const bool withUpdate = argc == 6 && std::string(argv[2]) == "--update-package";
    if (argc != 2 && !withUpdate) {
        std::cerr << "usage: quokka-demo DIR [--update-package PROGRAM UPDATER VERSION]\n";
        return 2;
    }
    try {
        CDemoContent content(argv[1]);
        if (withUpdate)
            content.SetUpdatePackage(DemoUpdatePackage{argv[3], argv[4], argv[5]});
        content.Write();
    } catch (const std::exception& e) {
        std::cerr << "quokka-demo: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
