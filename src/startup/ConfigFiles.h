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

// The three start-up files are a few KiB at most (CRC-16.TBL, the largest, is
// about 3 KiB). A bigger file is not one of them, and refusing it by size
// keeps a wrong file from being read whole into memory.
constexpr qint64 kMaxConfigFileBytes = 64 * 1024;

struct FileData {
    std::array<QString, 5> baudRates; // entries 1..3, each with ",N,8,1" appended
    TextTable terminalNames;
};

// The whole content of a start-up file: a readable file, not a folder, of at
// most kMaxConfigFileBytes, holding no control byte but TAB, CR and LF.
std::optional<ConfigError> readConfigFile(const QString& folder, const char* name,
                                          QByteArray& data);

// Items after the last one read are ignored. A missing, short, oversized or
// binary file gives an error and no partial result, and so does a default
// message longer than the unit holds.
std::optional<ConfigError> readFileData(const QString& folder, FileData& out);
std::optional<ConfigError> readDefaults(const QString& folder, TextTable& out);

// The folder holding the executable, whatever the current folder is.
QString applicationFolder();
