#include "engine/access/AccessStore.h"

std::string SubKeyPath(std::string_view keyPath, std::string_view name) {
    std::string path(keyPath);
    path += '\\';
    path += name;
    return path;
}

std::string NumberedSubKeyPath(std::string_view keyPath, std::string_view prefix, std::size_t index) {
    return SubKeyPath(keyPath, std::string(prefix) + std::to_string(index));
}
