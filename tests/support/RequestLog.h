#pragma once

// The stand-in server's request log read back by tests: one JSON object a line, as the server
// writes one for each request before it answers.

#include "tests/support/TempDir.h"

#include <json/json.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace testsupport {

// The requests logged in `logPath`, oldest first. A line that is no whole JSON object (the one the
// server is writing while the test reads) is left out; an absent log is an empty list.
inline std::vector<Json::Value> ReadRequestLog(const std::string& logPath)
{
    std::vector<Json::Value> requests;
    std::istringstream in(ReadFile(logPath));
    std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
    std::string line;
    while (std::getline(in, line)) {
        Json::Value request;
        std::string errors;
        if (reader->parse(line.data(), line.data() + line.size(), &request, &errors) && request.isObject())
            requests.push_back(std::move(request));
    }
    return requests;
}

// The logged requests whose path starts with `pathPrefix`, oldest first.
inline std::vector<Json::Value> ReadRequestLog(const std::string& logPath, const std::string& pathPrefix)
{
    std::vector<Json::Value> matching;
    for (Json::Value& request : ReadRequestLog(logPath)) {
        if (request["path"].asString().rfind(pathPrefix, 0) == 0)
            matching.push_back(std::move(request));
    }
    return matching;
}

} // namespace testsupport
