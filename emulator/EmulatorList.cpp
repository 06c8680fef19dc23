#include "emulator/EmulatorList.h"

#include "foundation/StringConv.h"

#include <json/json.h>

#include <exception>
#include <memory>

void CKeyConfigBase::BindFields()
{
    Bind("source", source);
    Bind("target", target);
    Bind("defaultsource", defaultsource);
}

void CSetConfigBase::BindFields()
{
    Bind("source", source);
    Bind("target", target);
}

void CEmulatorBase::BindFields()
{
    Bind("emulatorid", emulatorid);
    Bind("name", name);
    Bind("version", version);
    Bind("downloadurl", downloadurl);
    Bind("update", update);
    Bind("description", description);
    Bind("emulatortype", emulatortype);
    Bind("system", system);
    Bind("execute", execute);
    Bind("executeparam", executeparam);
    Bind("configtype", configtype);
    Bind("keyconfig", keyconfig);
    Bind("setconfig", setconfig);
}

JsonObjectPtr CEmulatorBase::NewArrayElement(const std::string& key)
{
    if (key == "keyconfig")
        return std::make_unique<CKeyConfigBase>();
    if (key == "setconfig")
        return std::make_unique<CSetConfigBase>();
    return nullptr;
}

const std::array<const char*, CEmulatorList::kKeyCount>& CEmulatorList::Keys()
{
    static const std::array<const char*, kKeyCount> keys = {"fc",  "sfc", "n64",    "wii",  "gbc",     "gba",
                                                            "nds", "md",  "dc",     "ps",   "ps2",     "psp",
                                                            "pce", "wsc", "arcade", "mame", "mameplus"};
    return keys;
}

void CEmulatorList::BindFields()
{
    for (size_t i = 0; i < kKeyCount; ++i)
        Bind(Keys()[i], m_platforms[i]);
}

JsonObjectPtr CEmulatorList::NewArrayElement(const std::string& key)
{
    for (const char* known : Keys())
        if (key == known)
            return std::make_unique<CEmulatorBase>();
    return nullptr;
}

int CompareVersions(std::string_view a, std::string_view b)
{
    while (!a.empty() || !b.empty()) {
        auto take = [](std::string_view& version) {
            size_t dot = version.find('.');
            std::string_view part = version.substr(0, dot);
            version = dot == std::string_view::npos ? std::string_view{} : version.substr(dot + 1);
            return LeadingInt(part);
        };
        int32_t left = take(a);
        int32_t right = take(b);
        if (left != right)
            return left < right ? -1 : 1;
    }
    return 0;
}

bool IsSafeEmulatorName(std::string_view name)
{
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

namespace {

// Strings inside arrays stay UTF-8 in the model; the record holds the process code page, like the
// scalar texts. Text that cannot be converted becomes empty, as it does for the scalars.
std::string ArrayTextToAnsi(const std::string& utf8)
{
    try {
        return Utf8ToOem(utf8);
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace

EmulatorRecord ToEmulatorRecord(const CEmulatorBase& emulator)
{
    EmulatorRecord record;
    record.EmulatorId = emulator.emulatorid;
    record.Name = emulator.name;
    record.Version = emulator.version;
    record.Downloadurl = emulator.downloadurl;
    record.UpdateDate = emulator.update;
    record.Description = emulator.description;
    record.Emulatortype = LeadingInt(emulator.emulatortype);
    record.System = emulator.system;
    for (const std::string& execute : emulator.execute)
        record.Execute.push_back(ArrayTextToAnsi(execute));
    record.Executeparam = emulator.executeparam;
    record.Configtype = emulator.configtype;
    for (const JsonObjectPtr& element : emulator.keyconfig) {
        const auto* entry = JsonElementAs<CKeyConfigBase>(element);
        record.KeyConfig.push_back({entry->source, entry->target, entry->defaultsource});
    }
    for (const JsonObjectPtr& element : emulator.setconfig) {
        const auto* entry = JsonElementAs<CSetConfigBase>(element);
        record.SetConfig.push_back({entry->source, entry->target});
    }
    record.IsDefault = "0";
    return record;
}

std::optional<EmulatorMap> ParseEmulatorList(const std::string& text)
{
    // The same reader settings as the model base, which cannot tell an object from any other root.
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    try {
        if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors))
            return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!root.isObject())
        return std::nullopt;

    CEmulatorList list;
    list.ReadValue(root);
    EmulatorMap merged;
    for (size_t i = 0; i < CEmulatorList::kKeyCount; ++i) {
        for (const JsonObjectPtr& element : list.Platform(i)) {
            const auto* emulator = JsonElementAs<CEmulatorBase>(element);
            if (!IsSafeEmulatorName(emulator->name) || merged.count(emulator->emulatorid) != 0)
                continue;
            merged.emplace(emulator->emulatorid, ToEmulatorRecord(*emulator));
        }
    }
    return merged;
}
