// The stand-in emulator of the launch benchmark: its first act is to note CLOCK_MONOTONIC (in
// nanoseconds) in "first-instruction" in its folder, the folder it is started in.
#include <cstdio>
#include <ctime>

int main()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    if (FILE* out = std::fopen("first-instruction", "w")) {
        std::fprintf(out, "%lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
        std::fclose(out);
    }
    return 0;
}
