#pragma once
// Readers of the two start-up text files, filedata.fm and Defaults.txt, found
// in the application folder.

#include "startup/SharedState.h"

#include <QString>
#include <QStringList>
#include <optional>

constexpr auto kFileDataName = "filedata.fm";
constexpr auto kDefaultsName = "Defaults.txt";
constexpr auto kCrcTableName = "CRC-16.TBL";

// What is wrong with a configuration file, in words for the operator:
// "Defaults.txt: 17 of 20 messages".
struct ConfigError {
    QString file;
    QString problem;
    QString text() const { return file + QStringLiteral(": ") + problem; }
};

struct FileData {
    std::array<QString, 5> baudRates; // entries 1..3, each with ",N,8,1" appended
    TextTable terminalNames;
};

// Items after the last one read are ignored. A missing or short file gives an
// error and no partial result.
std::optional<ConfigError> readFileData(const QString& folder, FileData& out);
std::optional<ConfigError> readDefaults(const QString& folder, TextTable& out);

// The folder holding the executable, whatever the current folder is.
QString applicationFolder();
