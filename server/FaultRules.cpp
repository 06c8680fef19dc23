#include "server/FaultRules.h"

#include <json/json.h>

#include <memory>

namespace {

bool ParseRule(const Json::Value& value, FaultRule& rule, std::string& error)
{
    if (!value.isObject() || !value["path"].isString()) {
        error = "every rule needs a \"path\" string";
        return false;
    }
    try {
        rule.path = value["path"].asString();
        rule.prefix = value.get("prefix", false).asBool();
        rule.method = value.get("method", "").asString();
        rule.times = value.get("times", 0).asInt();
        rule.delayMs = value.get("delayMs", 0).asInt();
        rule.status = value.get("status", 0).asInt();
        if (value.isMember("body")) {
            if (!value["body"].isString()) {
                error = "\"body\" must be a string";
                return false;
            }
            rule.body = value["body"].asString();
        }
        rule.location = value.get("location", "").asString();
        rule.redirectTo = value.get("redirectTo", "").asString();
        rule.redirectLoop = value.get("redirectLoop", false).asBool();
        rule.noLength = value.get("noLength", false).asBool();
        rule.cutAfter = value.get("cutAfter", -1).asInt64();
        rule.stallAfter = value.get("stallAfter", -1).asInt64();
        rule.stallMs = value.get("stallMs", 60000).asInt();
        rule.rateKiBps = value.get("rateKiBps", 0).asInt();
        rule.claimLength = value.get("claimLength", -1).asInt64();
        rule.extraBytes = value.get("extraBytes", -1).asInt64();
        rule.endlessBody = value.get("endlessBody", false).asBool();
        if (rule.rateKiBps < 0) {
            error = "\"rateKiBps\" must not be negative";
            return false;
        }
    } catch (const std::exception& e) {
        error = std::string("bad rule value: ") + e.what();
        return false;
    }
    return true;
}

} // namespace

bool CFaultRules::Replace(const std::string& json, std::string& error)
{
    std::vector<FaultRule> rules;
    if (json.find_first_not_of(" \t\r\n") != std::string::npos) {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value root;
        if (!reader->parse(json.data(), json.data() + json.size(), &root, &error))
            return false;
        Json::Value list = root;
        if (root.isObject() && root.isMember("rules")) {
            list = root["rules"];
        } else if (root.isObject()) {
            list = Json::Value(Json::arrayValue);
            list.append(root);
        }
        if (!list.isArray()) {
            error = "expected an array of rules";
            return false;
        }
        for (const Json::Value& item : list) {
            FaultRule rule;
            if (!ParseRule(item, rule, error))
                return false;
            rules.push_back(std::move(rule));
        }
    }
    std::lock_guard guard(m_lock);
    m_rules = std::move(rules);
    return true;
}

void CFaultRules::Clear()
{
    std::lock_guard guard(m_lock);
    m_rules.clear();
}

std::optional<FaultRule> CFaultRules::Take(const std::string& method, const std::string& path)
{
    std::lock_guard guard(m_lock);
    for (auto it = m_rules.begin(); it != m_rules.end(); ++it) {
        bool pathMatches = it->prefix ? path.compare(0, it->path.size(), it->path) == 0 : path == it->path;
        if (!pathMatches || (!it->method.empty() && it->method != method))
            continue;
        FaultRule rule = *it;
        if (it->times > 0 && --it->times == 0)
            m_rules.erase(it);
        return rule;
    }
    return std::nullopt;
}
