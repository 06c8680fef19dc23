#include "server/RequestLog.h"

#include <httplib.h>
#include <json/json.h>

bool CRequestLog::Open(const std::string& path)
{
    if (path.empty())
        return true;
    m_file.reset(std::fopen(path.c_str(), "ab"));
    return m_file != nullptr;
}

void CRequestLog::Write(const httplib::Request& request)
{
    if (!m_file)
        return;
    Json::Value line(Json::objectValue);
    line["method"] = request.method;
    line["path"] = request.path;
    size_t question = request.target.find('?');
    line["query"] = question == std::string::npos ? std::string() : request.target.substr(question + 1);
    line["range"] = request.get_header_value("Range");
    line["referer"] = request.get_header_value("Referer");
    line["userAgent"] = request.get_header_value("User-Agent");
    line["cookie"] = request.get_header_value("Cookie");
    line["body"] = request.body;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    // Request bytes need not be UTF-8; \u escapes keep the line valid JSON whatever they are.
    builder["emitUTF8"] = false;
    std::string text = Json::writeString(builder, line) + "\n";
    std::lock_guard guard(m_lock);
    std::fwrite(text.data(), 1, text.size(), m_file.get());
    std::fflush(m_file.get());
}

void CRequestLog::WriteNote(const Json::Value& note)
{
    if (!m_file)
        return;
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    std::string text = Json::writeString(builder, note) + "\n";
    std::lock_guard guard(m_lock);
    std::fwrite(text.data(), 1, text.size(), m_file.get());
    std::fflush(m_file.get());
}
