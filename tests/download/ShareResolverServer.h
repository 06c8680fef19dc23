#pragma once

#include "account/SecurityCodePrompt.h"
#include "server/StandInServer.h"
#include "tests/support/TempDir.h"

#include <json/json.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

// The stand-in server on a free loopback port with one file, the shares given as shares.json, a
// request log, and the program's share endpoints pointed at it. Stopped by the destructor.
class ShareResolverServer {
public:
    explicit ShareResolverServer(const std::string& sharesJson);
    ~ShareResolverServer();

    CStandInServer& Server() { return *m_server; }
    std::string Link(const std::string& key) const { return m_server->Origin() + "/share/link/" + key; }
    // The folder where the resolver keeps its picture (ending with '/').
    std::string PictureDir() const { return m_dir.Path() + "pictures/"; }
    bool Faults(const std::string& json);
    // Every logged line, in order (requests and picture codes).
    std::vector<Json::Value> Log() const;
    // The code of the newest picture drawn; empty when none was.
    std::string LastCode() const;

private:
    TempDir m_dir;
    std::unique_ptr<CStandInServer> m_server;
};

// A prompt that answers with a function of the picture path (tests that need no window), and
// keeps the notice of each question.
class FunctionPrompt : public ISecurityCodePrompt {
public:
    explicit FunctionPrompt(std::function<int(const std::string& path, std::string& code)> answer)
        : m_answer(std::move(answer))
    {
    }
    int AskSecurityCode(platform::HWND, const std::string& path, const std::string& notice,
                        std::string& code) override
    {
        ++asked;
        notices.push_back(notice);
        return m_answer(path, code);
    }
    int asked = 0;
    std::vector<std::string> notices;

private:
    std::function<int(const std::string&, std::string&)> m_answer;
};

} // namespace testsupport
