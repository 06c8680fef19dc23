#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

namespace Json {
class Value;
}

// What a bound member is; the numbers are what the binding stores and are part of the contract.
enum JsonFieldType : int {
    asBool = 1,    // bool
    asInt = 2,     // int32_t
    asUInt = 3,    // uint32_t
    asString = 4,  // std::string: UTF-8 converted to the process code page (see below)
    asInt64 = 5,   // int64_t
    asUInt64 = 6,  // uint64_t
    asJsonObj = 7, // an embedded member object derived from CJsonObjectBase
    asArray = 9,   // std::vector of elements
    asList = 10,   // std::list of elements
    asFloat = 11,  // float
};

class CJsonObjectBase;

// Elements of type asJsonObj inside an array or a list: the containing model owns them.
using JsonObjectPtr = std::unique_ptr<CJsonObjectBase>;

// The base of every JSON model. A model derives from it, binds each member to a JSON key in
// BindFields() (called from the derived constructor), and is then filled from a JSON text with
// ParseText or from a parsed value with ReadValue, as often as the caller likes.
//
// Filling rules:
// - Scalars (bool, ints, strings, float) take the value under their key, or their default (false,
//   0, empty, 0.0) when the key is missing or the value cannot be converted to the member's type
//   (text where a number is bound, an object where a string is bound, a number out of range).
// - Scalar strings are converted from UTF-8 to the process code page with Utf8ToOem; a text that
//   is not valid UTF-8 gives the empty string. Strings inside arrays and lists stay UTF-8.
// - An embedded object is filled from the object under its key; a missing or null key leaves it.
// - Arrays and lists append: filling a model twice doubles them. A value that is not an array
//   fills nothing for that key. Elements that cannot be converted are skipped.
// - An array of objects asks NewArrayElement(key) for each element; a model that binds such a key
//   must override it. A null answer skips the element.
//
// Element types allowed: in a vector 2, 3, 4, 5, 6, 7; in a list 1 to 7. A binding with any other
// combination (or type codes 0 and 8) is skipped when filling.
//
// Copying: the binding tables hold addresses inside the object, so a copy of a model starts with
// empty tables (a derived copy constructor that wants a fillable copy calls BindFields() again),
// and assignment keeps the target's own tables. Models are not thread-safe; fill one per thread.
class CJsonObjectBase {
public:
    CJsonObjectBase() = default;
    CJsonObjectBase(const CJsonObjectBase&) {}
    CJsonObjectBase& operator=(const CJsonObjectBase&) { return *this; }
    virtual ~CJsonObjectBase() = default;

    // Binds every member of the model; each derived class calls it from its constructor.
    virtual void BindFields() = 0;

    // A JSON string value holding the empty text (the binding is one-way).
    virtual Json::Value ToJsonValue();

    // A new element for an array or list of objects bound under `key`, or null. The base has none.
    virtual JsonObjectPtr NewArrayElement(const std::string& key);

    // Parses a UTF-8 JSON text and fills the model from it. Returns false, leaving every member
    // unchanged, when the text is null, not valid JSON, nested deeper than the parser allows, or
    // anything else the parser rejects; true when it was filled.
    bool ParseText(const char* text);
    bool ParseText(const std::string& text) { return ParseText(text.c_str()); }

    // Fills the members from a parsed value (normally an object). Always returns true.
    bool ReadValue(const Json::Value& root);

protected:
    // Appends one entry to the binding tables. `address` must point at a member of the type that
    // `type` (and, for arrays and lists, `elementType`) names; binding a key twice fills it twice.
    void Bind(const std::string& key, JsonFieldType type, void* address, JsonFieldType elementType = asBool);

    // Typed shorthands that pick the type codes from the member's type.
    void Bind(const std::string& key, bool& member) { Bind(key, asBool, &member); }
    void Bind(const std::string& key, int32_t& member) { Bind(key, asInt, &member); }
    void Bind(const std::string& key, uint32_t& member) { Bind(key, asUInt, &member); }
    void Bind(const std::string& key, std::string& member) { Bind(key, asString, &member); }
    void Bind(const std::string& key, int64_t& member) { Bind(key, asInt64, &member); }
    void Bind(const std::string& key, uint64_t& member) { Bind(key, asUInt64, &member); }
    void Bind(const std::string& key, float& member) { Bind(key, asFloat, &member); }
    void Bind(const std::string& key, CJsonObjectBase& member) { Bind(key, asJsonObj, &member); }
    void Bind(const std::string& key, std::vector<int32_t>& member) { Bind(key, asArray, &member, asInt); }
    void Bind(const std::string& key, std::vector<uint32_t>& member) { Bind(key, asArray, &member, asUInt); }
    void Bind(const std::string& key, std::vector<std::string>& member)
    {
        Bind(key, asArray, &member, asString);
    }
    void Bind(const std::string& key, std::vector<int64_t>& member) { Bind(key, asArray, &member, asInt64); }
    void Bind(const std::string& key, std::vector<uint64_t>& member)
    {
        Bind(key, asArray, &member, asUInt64);
    }
    void Bind(const std::string& key, std::vector<JsonObjectPtr>& member)
    {
        Bind(key, asArray, &member, asJsonObj);
    }
    void Bind(const std::string& key, std::list<bool>& member) { Bind(key, asList, &member, asBool); }
    void Bind(const std::string& key, std::list<int32_t>& member) { Bind(key, asList, &member, asInt); }
    void Bind(const std::string& key, std::list<uint32_t>& member) { Bind(key, asList, &member, asUInt); }
    void Bind(const std::string& key, std::list<std::string>& member)
    {
        Bind(key, asList, &member, asString);
    }
    void Bind(const std::string& key, std::list<int64_t>& member) { Bind(key, asList, &member, asInt64); }
    void Bind(const std::string& key, std::list<uint64_t>& member) { Bind(key, asList, &member, asUInt64); }
    void Bind(const std::string& key, std::list<JsonObjectPtr>& member)
    {
        Bind(key, asList, &member, asJsonObj);
    }

private:
    template <template <class...> class Container>
    void ReadElements(const std::string& key, const Json::Value& array, JsonFieldType elementType,
                      void* address);

    // Four parallel tables, one entry per binding, in binding order.
    std::vector<std::string> m_listName;
    std::vector<void*> m_listPropertyAddr;
    std::vector<JsonFieldType> m_listType;
    std::vector<JsonFieldType> m_listElemType;
};

// An element of an array or list of objects, as the model class that NewArrayElement made for it.
template <class T> T* JsonElementAs(const JsonObjectPtr& element)
{
    return static_cast<T*>(element.get());
}
