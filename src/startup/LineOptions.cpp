#include "startup/LineOptions.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<EchoMode, const char*>, 3> kEchoNames{
    {{EchoMode::Auto, "auto"}, {EchoMode::On, "on"}, {EchoMode::Off, "off"}}};
constexpr std::array<std::pair<Direction, const char*>, 3> kDirectionNames{
    {{Direction::Rts, "rts"}, {Direction::Adapter, "adapter"}, {Direction::Kernel, "kernel"}}};
constexpr std::array<std::pair<BlockReads, const char*>, 3> kBlockReadNames{
    {{BlockReads::Off, "off"}, {BlockReads::Auto, "auto"}, {BlockReads::On, "on"}}};

template <typename E, std::size_t N>
std::optional<E> named(const std::array<std::pair<E, const char*>, N>& names, const QString& s) {
    for (const auto& [value, name] : names)
        if (s == QLatin1String(name))
            return value;
    return std::nullopt;
}

template <typename E, std::size_t N>
QString nameOf(const std::array<std::pair<E, const char*>, N>& names, E value) {
    for (const auto& [v, name] : names)
        if (v == value)
            return QString::fromLatin1(name);
    return {};
}

} // namespace

std::optional<EchoMode> echoModeNamed(const QString& name) {
    return named(kEchoNames, name);
}

QString echoModeName(EchoMode mode) {
    return nameOf(kEchoNames, mode);
}

std::optional<Direction> directionNamed(const QString& name) {
    return named(kDirectionNames, name);
}

QString directionName(Direction direction) {
    return nameOf(kDirectionNames, direction);
}

std::optional<BlockReads> blockReadsNamed(const QString& name) {
    return named(kBlockReadNames, name);
}

QString blockReadsName(BlockReads mode) {
    return nameOf(kBlockReadNames, mode);
}
