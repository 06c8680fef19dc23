#include "platform/ShowItem.h"

#include "platform/Trace.h"

namespace platform {

namespace {

// $1 the file's URI, $2 the folder to open when the file manager cannot be asked. The reply
// time-out bounds a bus whose file manager never answers; the helper runs on its own, so nothing
// of the program waits for it.
constexpr char kShowScript[] =
    "if [ -n \"$DBUS_SESSION_BUS_ADDRESS\" ] && command -v dbus-send >/dev/null 2>&1 && "
    "dbus-send --session --print-reply --reply-timeout=5000 --dest=org.freedesktop.FileManager1 "
    "--type=method_call /org/freedesktop/FileManager1 org.freedesktop.FileManager1.ShowItems "
    "\"array:string:$1\" string: >/dev/null 2>&1; then exit 0; fi; exec xdg-open \"$2\"";

bool IsUnreserved(unsigned char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || c == '~';
}

} // namespace

std::string FileUri(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string uri = "file://";
    for (unsigned char c : path) {
        if (IsUnreserved(c) || c == '/') {
            uri.push_back(static_cast<char>(c));
        } else {
            uri.push_back('%');
            uri.push_back(kHex[c >> 4]);
            uri.push_back(kHex[c & 0x0F]);
        }
    }
    return uri;
}

std::string QuoteCommandLineArgument(const std::string& argument)
{
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(backslashes * 2, '\\');
    quoted.push_back('"');
    return quoted;
}

ProcessHandle ShowItem(const std::string& path)
{
    if (path.empty() || path.front() != '/' || path.find('\0') != std::string::npos)
        return {};
    std::string item = path;
    while (item.size() > 1 && item.back() == '/')
        item.pop_back();
    std::string folder = item.substr(0, item.rfind('/') + 1);
    if (path.back() == '/')
        folder = item; // a folder is shown itself
    const std::string params = "-c " + QuoteCommandLineArgument(kShowScript) + " quokka-show " +
                               QuoteCommandLineArgument(FileUri(item)) + " " +
                               QuoteCommandLineArgument(folder);
    ProcessHandle helper = StartProcess("/bin/sh", params, "", kShowNormal);
    if (!helper)
        TraceF("show item: no helper for %s", path.c_str());
    return helper;
}

} // namespace platform
