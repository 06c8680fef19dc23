// quokka-demo: writes the stand-in server's demo data folder.
//
//   quokka-demo DIR
//
// Then `quokka-server --port 28080 --data DIR` serves it.

#include "demo/DemoContent.h"

#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::cerr << "usage: quokka-demo DIR\n";
        return 2;
    }
    try {
        CDemoContent(argv[1]).Write();
    } catch (const std::exception& e) {
        std::cerr << "quokka-demo: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
