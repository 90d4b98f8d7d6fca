#pragma once
// Readers of the two start-up text files, filedata.fm and Defaults.txt, found
// in the application folder.

#include "startup/MessageLayout.h"

#include <array>
#include <cstdint>

#include <QString>
#include <QStringList>
#include <optional>

constexpr auto kFileDataName = "filedata.fm";
constexpr auto kDefaultsName = "Defaults.txt";
constexpr auto kCrcTableName = "CRC-16.TBL";

// CRC-16.TBL: entry v + 1 holds the CRC table value of byte v; entry 0 is
// never used.
using CrcTableArray = std::array<std::int32_t, 257>;

constexpr int kSpeedCount = 3; // speeds listed in filedata.fm

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

// The line speeds the tool and the simulated unit run at. filedata.fm lists
// three of them; any other figure stops start-up, so that the port is never
// opened at a speed nobody chose.
constexpr std::array<int, 8> kLineSpeeds = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
constexpr bool isLineSpeed(int baud) {
    for (int s : kLineSpeeds)
        if (s == baud)
            return true;
    return false;
}
// "1200, 2400, ... or 115200", for messages.
QString lineSpeedList();

struct FileData {
    std::array<QString, 5> baudRates; // entries 1..3, each with ",N,8,1" appended
    TextTable terminalNames;
};

// The whole content of a start-up file, read by readTextFile (TextFile.h):
// a regular file of at most kMaxConfigFileBytes, in Windows-1252 or UTF-8,
// holding no control byte but TAB, CR and LF.
std::optional<ConfigError> readConfigFile(const QString& folder, const char* name,
                                          QByteArray& data);

// Items after the last one read are ignored. A missing, short, oversized or
// binary file gives an error and no partial result, and so does a quote left
// open on its line, a speed not in kLineSpeeds or a default message longer
// than the unit holds.
std::optional<ConfigError> readFileData(const QString& folder, FileData& out);
std::optional<ConfigError> readDefaults(const QString& folder, TextTable& out);

// The folder holding the executable, whatever the current folder is.
QString applicationFolder();
