#include "machine_info.h"

#include <exception>

namespace cpubench {

namespace {

using nlohmann::json;

std::string numberText(const std::optional<long long>& value)
{
    return value ? std::to_string(*value) : std::string();
}

// Calls visit(key, text in a, text in b) for every mitigation either
// description has; both maps are in name order: merged, each flaw once.
template <typename Visit>
void visitMitigations(const MachineInfo& a, const MachineInfo& b, Visit& visit)
{
    const std::string none;
    auto i = a.mitigations.begin(), j = b.mitigations.begin();
    while (i != a.mitigations.end() || j != b.mitigations.end()) {
        if (j == b.mitigations.end() || (i != a.mitigations.end() && i->first < j->first)) {
            visit("mitigations." + i->first, i->second, none);
            ++i;
        } else if (i == a.mitigations.end() || j->first < i->first) {
            visit("mitigations." + j->first, none, j->second);
            ++j;
        } else {
            visit("mitigations." + i->first, i->second, j->second);
            ++i;
            ++j;
        }
    }
}

// Calls visit(key, text in a, text in b) for every fact either description
// has, in kInfoFields' order; an absent fact's text is empty.
template <typename Visit>
void visitFacts(const MachineInfo& a, const MachineInfo& b, Visit visit)
{
    for (const InfoField& field : kInfoFields) {
        if (field.text != nullptr) {
            if (!(a.*field.text).empty() || !(b.*field.text).empty())
                visit(field.key, a.*field.text, b.*field.text);
        } else if (field.number != nullptr) {
            if (a.*field.number || b.*field.number)
                visit(field.key, numberText(a.*field.number), numberText(b.*field.number));
        } else
            visitMitigations(a, b, visit);
    }
}

// The library's message without its tag ("[json.exception.parse_error.101] ").
std::string withoutTag(const std::string& what)
{
    const std::size_t tag = what.find("] ");
    return tag == std::string::npos ? what : what.substr(tag + 2);
}

// The texts, then the numbers, then the mitigations: the first wrong field
// in that order is the one named.
std::optional<FormatError> readFields(const json& document, MachineInfo& read)
{
    using Kind = FormatError::Kind;
    for (const InfoField& field : kInfoFields) {
        const auto it = document.find(field.key);
        if (field.text == nullptr || it == document.end() || it->is_null())
            continue;
        if (!it->is_string())
            return FormatError{Kind::mustBeString, field.key, std::nullopt, ""};
        read.*field.text = it->get<std::string>();
    }
    for (const InfoField& field : kInfoFields) {
        const auto it = document.find(field.key);
        if (field.number == nullptr || it == document.end() || it->is_null())
            continue;
        if (!it->is_number_integer())
            return FormatError{Kind::mustBeWholeNumber, field.key, std::nullopt, ""};
        read.*field.number = it->get<long long>();
    }
    if (const auto it = document.find("mitigations"); it != document.end() && !it->is_null()) {
        if (!it->is_object())
            return FormatError{Kind::mustBeObject, "mitigations", std::nullopt, ""};
        for (const auto& [flaw, status] : it->items()) {
            if (!status.is_string())
                return FormatError{Kind::flawMustBeString, flaw, std::nullopt, ""};
            if (!status.get_ref<const std::string&>().empty())
                read.mitigations.emplace(flaw, status.get<std::string>());
        }
    }
    return std::nullopt;
}

} // namespace

bool MachineInfo::empty() const
{
    return machineFacts(*this).empty();
}

std::vector<std::pair<std::string, std::string>> machineFacts(const MachineInfo& info)
{
    std::vector<std::pair<std::string, std::string>> facts;
    facts.reserve(16 + info.mitigations.size());
    visitFacts(info, info, [&](std::string key, const std::string& value, const std::string&) {
        if (!value.empty())
            facts.emplace_back(std::move(key), value);
    });
    return facts;
}

std::vector<FactChange> factChanges(const MachineInfo& before, const MachineInfo& after)
{
    std::vector<FactChange> changes;
    visitFacts(before, after, [&](std::string key, const std::string& old, const std::string& now) {
        if (old != now)
            changes.push_back({std::move(key), old, now});
    });
    return changes;
}

std::optional<FormatError> parseMachineInfo(const std::string& text, MachineInfo& info)
{
    info = MachineInfo{};
    json document;
    try {
        document = json::parse(text);
    } catch (const json::exception& e) {
        return FormatError{FormatError::Kind::notJson, "", std::nullopt, withoutTag(e.what())};
    }
    if (!document.is_object())
        return FormatError{FormatError::Kind::notObject, "", std::nullopt, ""};
    MachineInfo read;
    if (std::optional<FormatError> error = readFields(document, read))
        return error;
    info = std::move(read);
    return std::nullopt;
}

json infoJson(const MachineInfo& info)
{
    json object = json::object();
    for (const InfoField& field : kInfoFields) {
        if (field.text != nullptr && !(info.*field.text).empty())
            object[field.key] = info.*field.text;
        else if (field.number != nullptr && info.*field.number)
            object[field.key] = *(info.*field.number);
    }
    if (!info.mitigations.empty())
        object["mitigations"] = info.mitigations;
    return object;
}

std::string writeMachineInfo(const MachineInfo& info)
{
    return infoJson(info).dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

} // namespace cpubench
