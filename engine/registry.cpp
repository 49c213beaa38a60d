#include "engine/registry.h"

namespace uninst {

std::uint32_t dwordFromBytes(std::string_view bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4 && i < bytes.size(); ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return value;
}

std::string dwordBytes(std::uint32_t value) {
    std::string bytes(4, '\0');
    for (std::size_t i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
    return bytes;
}

std::vector<RegistryTypes::PathValue>
RegistryReader::readValueOfEach(Key root, const std::vector<std::string>& paths,
                                const std::string& name) {
    std::vector<PathValue> reads(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        Key key = 0;
        reads[i].status = openKey(root, paths[i], key);
        if (!reads[i].status.isSuccess())
            continue;
        reads[i].opened = true;
        reads[i].status = readValue(key, name, reads[i].value);
        closeKey(key);
    }
    return reads;
}

RegistryStatus RegistryReader::checkDeleteTree(Key key, const std::string& subkey) {
    Key opened = 0;
    const Status status = openKey(key, subkey, opened);
    if (status.isSuccess())
        closeKey(opened);
    return status;
}

std::vector<RegistryTypes::PathValues>
RegistryReader::readValuesOfEach(Key root, const std::vector<std::string>& paths,
                                 const std::string& last, const std::vector<std::string>& named) {
    std::vector<PathValues> walks(paths.size());
    for (std::size_t i = 0; i < paths.size(); ++i) {
        PathValues& walk = walks[i];
        Key key = 0;
        walk.status = openKey(root, paths[i], key);
        if (!walk.status.isSuccess())
            continue;
        walk.opened = true;
        for (const std::string& name : named) {
            PathValue& read = walk.named.emplace_back();
            read.opened = true;
            read.status = readValue(key, name, read.value);
        }
        for (std::uint32_t index = 0;; ++index) {
            NamedValue found;
            walk.status = enumValue(key, index, found.name, found.value);
            if (!walk.status.isSuccess())
                break;
            const bool stop = found.name == last;
            walk.values.push_back(std::move(found));
            if (stop)
                break;
        }
        closeKey(key);
    }
    return walks;
}

} // namespace uninst

namespace uninst::codepage {

namespace {

bool isText(std::uint32_t type) {
    // REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ
    return type == 1 || type == 2 || type == 7;
}

// What a call writes over the front of a buffer, and how many of the
// buffer's characters it covers.
struct Front {
    std::string bytes;
    std::size_t characters = 0;
};

// Data as the 8-bit calls write it into `room` characters: text that lacks a
// terminator gets one when there is room left, as the system adds it. False
// when the data does not fit.
bool dataFront(RegistryReader& registry, const Registry::Value& value, std::size_t room,
               Front& out) {
    const bool text = isText(value.type);
    const std::size_t length = text ? registry.codePageLength(value.data) : value.data.size();
    if (length > room)
        return false;
    out.bytes = value.data;
    out.characters = length;
    if (text && !value.data.empty() && value.data.back() != '\0' && length < room) {
        out.bytes.push_back('\0');
        ++out.characters;
    }
    return true;
}

// A name always comes with its terminator, and needs room for it.
bool nameFront(RegistryReader& registry, const std::string& name, std::size_t room, Front& out) {
    const std::size_t length = registry.codePageLength(name);
    if (length >= room)
        return false;
    out.bytes = name;
    out.bytes.push_back('\0');
    out.characters = length + 1;
    return true;
}

// The buffer keeps one byte per character past the front.
void layOver(std::string& buffer, const Front& front) {
    buffer.replace(0, front.characters, front.bytes);
}

std::uint32_t lengthOf(const std::string& bytes) {
    return static_cast<std::uint32_t>(bytes.size());
}

// What a read returns to an 8-bit caller: a failed read as it failed, else
// the front `makeFront` makes for the room in `buffer` laid over it, or
// moreData when it does not fit.
template <typename MakeFront>
Registry::Status laidOver(Registry::Status read, std::string& buffer, MakeFront makeFront) {
    if (!read.isSuccess())
        return read;
    Front front;
    if (!makeFront(buffer.size(), front))
        return Registry::Status::moreData();
    layOver(buffer, front);
    return read;
}

Registry::Status dataOver(RegistryReader& registry, Registry::Status read,
                          const Registry::Value& value, std::string& buffer) {
    return laidOver(read, buffer, [&](std::size_t room, Front& front) {
        return dataFront(registry, value, room, front);
    });
}

} // namespace

Registry::Status queryDefaultValue(RegistryReader& registry, Registry::Key key,
                                   const std::string& subkey, std::string& buffer) {
    Registry::Value value;
    return dataOver(registry, registry.readDefaultValue(key, subkey, value), value, buffer);
}

Registry::Status queryValue(RegistryReader& registry, Registry::Key key, const std::string& name,
                            std::uint32_t& type, std::string& buffer) {
    Registry::Value value;
    const Registry::Status status =
        dataOver(registry, registry.readValue(key, name, value), value, buffer);
    if (status.isSuccess())
        type = value.type;
    return status;
}

Registry::Status queryValueRead(RegistryReader& registry, const Registry::PathValue& read,
                                std::uint32_t& type, std::string& buffer) {
    const Registry::Status status = dataOver(registry, read.status, read.value, buffer);
    if (status.isSuccess())
        type = read.value.type;
    return status;
}

Registry::Status enumKey(RegistryReader& registry, Registry::Key key, std::uint32_t index,
                         std::string& name, std::uint32_t& nameLength) {
    std::string found;
    const Registry::Status status =
        laidOver(registry.enumKey(key, index, found), name, [&](std::size_t room, Front& front) {
            return nameFront(registry, found, room, front);
        });
    if (status.isSuccess())
        nameLength = lengthOf(found);
    return status;
}

Registry::Status enumValue(RegistryReader& registry, Registry::Key key, std::uint32_t index,
                           std::string& name, std::uint32_t& nameLength, std::uint32_t& type,
                           std::string& data, std::uint32_t& dataLength) {
    Registry::NamedValue found;
    const Registry::Status status = registry.enumValue(key, index, found.name, found.value);
    if (!status.isSuccess())
        return status;
    return enumValueRead(registry, found, name, nameLength, type, data, dataLength);
}

Registry::Status enumValueRead(RegistryReader& registry, const Registry::NamedValue& found,
                               std::string& name, std::uint32_t& nameLength, std::uint32_t& type,
                               std::string& data, std::uint32_t& dataLength) {
    const std::string& foundName = found.name;
    const Registry::Value& value = found.value;
    Front nameBytes;
    Front dataBytes;
    if (!nameFront(registry, foundName, name.size(), nameBytes) ||
        !dataFront(registry, value, data.size(), dataBytes))
        return Registry::Status::moreData();
    layOver(name, nameBytes);
    layOver(data, dataBytes);
    nameLength = lengthOf(foundName);
    type = value.type;
    dataLength = lengthOf(value.data);
    return Registry::Status::success();
}

} // namespace uninst::codepage
