#include "server/CatalogueData.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

namespace {

// The keys of a game in the list answer, in the order the client binds them.
const char* const kGameKeys[] = {
    "gameid",
    "orgname",
    "icon",
    "tv_icon",
    "storeurl",
    "fee",
    "size",
    "package_name",
    "updatedtime",
    "version",
    "categoryid",
    "emulatorid",
    "start_sell_time",
    "playurl",
    "uid",
    "is_pk",
    "is_handle",
    "is_control",
    "min",
    "max",
    "video_thumbnail",
    "video_url",
    "gamename",
    "language",
    "downloads",
    "emulatorshortname",
    "categoryshortname",
    "good",
    "bad",
    "rating",
    "username",
    "needsize",
    "isrootdir",
    "pcver",
    "directx",
    "dotnet",
    "vcver",
};

int ToInt(const Json::Value& value)
{
    if (value.isIntegral())
        return value.asInt();
    if (value.isString())
        return std::atoi(value.asCString());
    return 0;
}

long long ToInt64(const Json::Value& value)
{
    if (value.isIntegral())
        return value.asInt64();
    if (value.isString())
        return std::atoll(value.asCString());
    return 0;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool Contains(const Json::Value& game, const char* key, const std::string& lowerKeyword)
{
    return Lower(game.get(key, "").asString()).find(lowerKeyword) != std::string::npos;
}

// The entries of a group in the order of `names` (id, display name), each with its count.
Json::Value Group(const std::map<std::string, int>& counts,
                  const std::vector<std::pair<std::string, std::string>>& names)
{
    Json::Value group(Json::arrayValue);
    for (const auto& [id, name] : names) {
        auto found = counts.find(id);
        Json::Value entry;
        entry["count"] = std::to_string(found == counts.end() ? 0 : found->second);
        entry["id"] = id;
        entry["name"] = name;
        group.append(entry);
    }
    return group;
}

std::vector<std::pair<std::string, std::string>> Names(const Json::Value& list)
{
    std::vector<std::pair<std::string, std::string>> names;
    for (const Json::Value& item : list)
        names.emplace_back(item.get("id", "").asString(), item.get("name", "").asString());
    return names;
}

} // namespace

bool CCatalogueData::Load(const std::string& path, std::string& error)
{
    m_games.clear();
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return true;
    std::stringstream text;
    text << in.rdbuf();
    std::string content = text.str();
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    if (!reader->parse(content.data(), content.data() + content.size(), &root, &error))
        return false;
    if (!root.isObject() || !root["games"].isArray()) {
        error = "catalogue.json needs an object with a \"games\" array";
        return false;
    }
    for (const Json::Value& game : root["games"]) {
        if (game.isObject())
            m_games.push_back(game);
    }
    m_categories = root.get("categories", Json::Value(Json::arrayValue));
    m_platforms = root.get("platforms", Json::Value(Json::arrayValue));
    return true;
}

Json::Value CCatalogueData::GameList(const GameQuery& query) const
{
    std::string keyword = Lower(query.keyword);
    auto keywordMatches = [&](const Json::Value& game) {
        return keyword.empty() || Contains(game, "gamename", keyword) || Contains(game, "orgname", keyword);
    };
    auto categoryMatches = [&](const Json::Value& game) {
        return query.categoryId == 0 || ToInt(game["categoryid"]) == query.categoryId;
    };
    auto platformMatches = [&](const Json::Value& game) {
        return query.emulatorId == 0 || ToInt(game["emulatorid"]) == query.emulatorId;
    };

    std::vector<const Json::Value*> matches;
    std::map<std::string, int> categoryCounts, platformCounts, languageCounts;
    std::vector<std::pair<std::string, std::string>> languages;
    for (const Json::Value& game : m_games) {
        if (!keywordMatches(game))
            continue;
        bool category = categoryMatches(game);
        bool platform = platformMatches(game);
        // Each group counts the games that the other filters let through.
        if (platform)
            ++categoryCounts[std::to_string(ToInt(game["categoryid"]))];
        if (category)
            ++platformCounts[std::to_string(ToInt(game["emulatorid"]))];
        if (category && platform) {
            std::string language = game.get("language", "").asString();
            if (languageCounts[language]++ == 0)
                languages.emplace_back(language, language);
            matches.push_back(&game);
        }
    }

    if (query.order == "new") {
        std::stable_sort(matches.begin(), matches.end(), [](const Json::Value* a, const Json::Value* b) {
            return a->get("updatedtime", "").asString() > b->get("updatedtime", "").asString();
        });
    } else if (query.order == "hot") {
        std::stable_sort(matches.begin(), matches.end(), [](const Json::Value* a, const Json::Value* b) {
            return ToInt64((*a)["downloads"]) > ToInt64((*b)["downloads"]);
        });
    }

    int pageSize = std::clamp(query.pageSize, 1, 200);
    long long page = std::max(query.page, 1);
    size_t first = static_cast<size_t>(std::min<long long>((page - 1) * pageSize, matches.size()));
    size_t last = std::min(matches.size(), first + static_cast<size_t>(pageSize));

    Json::Value answer;
    answer["status"] = 1;
    Json::Value list(Json::arrayValue);
    for (size_t i = first; i < last; ++i) {
        Json::Value game(Json::objectValue);
        for (const char* key : kGameKeys) {
            if (matches[i]->isMember(key))
                game[key] = (*matches[i])[key];
        }
        list.append(game);
    }
    answer["gamelist"] = list;
    answer["count"] = std::to_string(matches.size());
    answer["categorygroup"] = Group(categoryCounts, Names(m_categories));
    answer["emulatorgroup"] = Group(platformCounts, Names(m_platforms));
    answer["languagegroup"] = Group(languageCounts, languages);
    answer["msg"] = "ok";
    answer["_run_time"] = 0.001;
    return answer;
}

Json::Value CCatalogueData::GameInfo(const std::string& gameId) const
{
    Json::Value answer;
    for (const Json::Value& game : m_games) {
        if (game.get("gameid", "").asString() != gameId)
            continue;
        answer["status"] = 1;
        answer["gameinfo"] = game;
        answer["count"] = 1;
        answer["msg"] = "ok";
        answer["_run_time"] = 0.001;
        return answer;
    }
    answer["status"] = 0;
    answer["count"] = 0;
    answer["msg"] = "no such game";
    answer["_run_time"] = 0.001;
    return answer;
}
