#include "foundation/JsonObjectBase.h"

#include "foundation/StringConv.h"

#include <json/json.h>

#include <exception>
#include <optional>

namespace {

// Each conversion gives nullopt when the value cannot become the bound type; jsoncpp signals that
// by throwing, which must not end the read.
template <class T, class Fn> std::optional<T> Convert(const Json::Value& value, Fn convert)
{
    try {
        return convert(value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<bool> ToBool(const Json::Value& v)
{
    return Convert<bool>(v, [](const Json::Value& x) { return x.asBool(); });
}
std::optional<int32_t> ToInt(const Json::Value& v)
{
    return Convert<int32_t>(v, [](const Json::Value& x) { return static_cast<int32_t>(x.asInt()); });
}
std::optional<uint32_t> ToUInt(const Json::Value& v)
{
    return Convert<uint32_t>(v, [](const Json::Value& x) { return static_cast<uint32_t>(x.asUInt()); });
}
std::optional<int64_t> ToInt64(const Json::Value& v)
{
    return Convert<int64_t>(v, [](const Json::Value& x) { return static_cast<int64_t>(x.asInt64()); });
}
std::optional<uint64_t> ToUInt64(const Json::Value& v)
{
    return Convert<uint64_t>(v, [](const Json::Value& x) { return static_cast<uint64_t>(x.asUInt64()); });
}
std::optional<float> ToFloat(const Json::Value& v)
{
    return Convert<float>(v, [](const Json::Value& x) { return x.asFloat(); });
}
// The UTF-8 text of a value, as it stands in an array.
std::optional<std::string> ToUtf8(const Json::Value& v)
{
    return Convert<std::string>(v, [](const Json::Value& x) { return x.asString(); });
}
// A scalar string member: UTF-8 converted to the process code page.
std::optional<std::string> ToCodePage(const Json::Value& v)
{
    return Convert<std::string>(v, [](const Json::Value& x) { return Utf8ToOem(x.asString()); });
}

// The member `key` of `root`, or null when root is not an object or has no such member.
const Json::Value* Member(const Json::Value& root, const std::string& key)
{
    if (!root.isObject())
        return nullptr;
    return root.find(key.data(), key.data() + key.size());
}

template <class T> void StoreScalar(void* address, std::optional<T> value)
{
    *static_cast<T*>(address) = value.value_or(T{});
}

template <class Container, class T>
void AppendAll(const Json::Value& array, Container& target, std::optional<T> (*convert)(const Json::Value&))
{
    for (Json::ArrayIndex i = 0; i < array.size(); ++i) {
        if (auto value = convert(array[i]))
            target.push_back(*value);
    }
}

} // namespace

Json::Value CJsonObjectBase::ToJsonValue()
{
    return Json::Value("");
}

JsonObjectPtr CJsonObjectBase::NewArrayElement(const std::string&)
{
    return nullptr;
}

void CJsonObjectBase::Bind(const std::string& key, JsonFieldType type, void* address,
                           JsonFieldType elementType)
{
    m_listName.push_back(key);
    m_listPropertyAddr.push_back(address);
    m_listType.push_back(type);
    m_listElemType.push_back(elementType);
}

bool CJsonObjectBase::ParseText(const char* text)
{
    if (text == nullptr)
        return false;
    // The parser's defaults are lenient like the classic reader (comments allowed, any root);
    // its nesting limit turns a hostile depth into an error instead of a stack overflow.
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    size_t length = std::char_traits<char>::length(text);
    try {
        if (!reader->parse(text, text + length, &root, &errors))
            return false;
    } catch (const std::exception&) {
        return false;
    }
    return ReadValue(root);
}

template <template <class...> class Container>
void CJsonObjectBase::ReadElements(const std::string& key, const Json::Value& array,
                                   JsonFieldType elementType, void* address)
{
    switch (elementType) {
    case asBool:
        // A vector<bool> is not a container of bools; only lists hold them.
        if constexpr (!std::is_same_v<Container<bool>, std::vector<bool>>)
            AppendAll(array, *static_cast<Container<bool>*>(address), ToBool);
        return;
    case asInt:
        AppendAll(array, *static_cast<Container<int32_t>*>(address), ToInt);
        return;
    case asUInt:
        AppendAll(array, *static_cast<Container<uint32_t>*>(address), ToUInt);
        return;
    case asString:
        AppendAll(array, *static_cast<Container<std::string>*>(address), ToUtf8);
        return;
    case asInt64:
        AppendAll(array, *static_cast<Container<int64_t>*>(address), ToInt64);
        return;
    case asUInt64:
        AppendAll(array, *static_cast<Container<uint64_t>*>(address), ToUInt64);
        return;
    case asJsonObj: {
        auto& target = *static_cast<Container<JsonObjectPtr>*>(address);
        for (Json::ArrayIndex i = 0; i < array.size(); ++i) {
            JsonObjectPtr element = NewArrayElement(key);
            if (!element)
                continue;
            element->ReadValue(array[i]);
            target.push_back(std::move(element));
        }
        return;
    }
    default:
        return;
    }
}

bool CJsonObjectBase::ReadValue(const Json::Value& root)
{
    for (size_t i = 0; i < m_listName.size(); ++i) {
        const std::string& key = m_listName[i];
        void* address = m_listPropertyAddr[i];
        const Json::Value* member = Member(root, key);
        // A missing member reads like JSON null, which every scalar conversion turns into its default.
        const Json::Value& value = member ? *member : Json::Value::nullSingleton();
        switch (m_listType[i]) {
        case asBool:
            StoreScalar(address, ToBool(value));
            break;
        case asInt:
            StoreScalar(address, ToInt(value));
            break;
        case asUInt:
            StoreScalar(address, ToUInt(value));
            break;
        case asString:
            StoreScalar(address, ToCodePage(value));
            break;
        case asInt64:
            StoreScalar(address, ToInt64(value));
            break;
        case asUInt64:
            StoreScalar(address, ToUInt64(value));
            break;
        case asFloat:
            StoreScalar(address, ToFloat(value));
            break;
        case asJsonObj:
            if (member && !member->isNull())
                static_cast<CJsonObjectBase*>(address)->ReadValue(*member);
            break;
        case asArray:
            if (member && member->isArray() && m_listElemType[i] != asBool)
                ReadElements<std::vector>(key, *member, m_listElemType[i], address);
            break;
        case asList:
            if (member && member->isArray())
                ReadElements<std::list>(key, *member, m_listElemType[i], address);
            break;
        default:
            break;
        }
    }
    return true;
}
